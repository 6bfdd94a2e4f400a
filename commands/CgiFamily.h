#pragma once
// The script family "CGI".
#include "host/KeywordLookup.h"

#include <string>
#include <string_view>

class Library;

class CgiFamily {
public:
  static constexpr std::string_view Commands = "|WRITE|PARSE|AUTOPARSE|";
  static constexpr int CmdWRITE = KeywordPosition(Commands, "WRITE");
  static constexpr int CmdPARSE = KeywordPosition(Commands, "PARSE");
  static constexpr int CmdAUTOPARSE = KeywordPosition(Commands, "AUTOPARSE");
  static constexpr std::string_view Functions = "|READL|READ|CONVERT|PARSE|REPLACE|";
  static constexpr int FnREADL = KeywordPosition(Functions, "READL");
  static constexpr int FnREAD = KeywordPosition(Functions, "READ");
  static constexpr int FnCONVERT = KeywordPosition(Functions, "CONVERT");
  static constexpr int FnPARSE = KeywordPosition(Functions, "PARSE");
  static constexpr int FnREPLACE = KeywordPosition(Functions, "REPLACE");

  explicit CgiFamily(Library &library) : lib_(library) {}
  void Command();
  void Function(std::string &result);

private:
  Library &lib_;
};

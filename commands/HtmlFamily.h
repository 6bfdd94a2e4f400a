#pragma once
// The script family "HTML".
#include "host/KeywordLookup.h"

#include <string>
#include <string_view>

class Library;

class HtmlFamily {
public:
  static constexpr std::string_view Commands = "|FIX|";
  static constexpr int CmdFIX = KeywordPosition(Commands, "FIX");

  explicit HtmlFamily(Library &library) : lib_(library) {}
  void Command();
  void Function(std::string &result);

private:
  Library &lib_;
};

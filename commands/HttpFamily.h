#pragma once
// The script family "HTTP".
#include "host/KeywordLookup.h"

#include <cstddef>
#include <string>
#include <string_view>

class Library;

class HttpFamily {
public:
  static constexpr std::string_view Commands = "|GET|DOWNLOAD|UPLOAD|PROXY|TIMEOUT|";
  static constexpr int CmdGET = KeywordPosition(Commands, "GET");
  static constexpr int CmdDOWNLOAD = KeywordPosition(Commands, "DOWNLOAD");
  static constexpr int CmdUPLOAD = KeywordPosition(Commands, "UPLOAD");
  static constexpr int CmdPROXY = KeywordPosition(Commands, "PROXY");
  static constexpr int CmdTIMEOUT = KeywordPosition(Commands, "TIMEOUT");

  explicit HttpFamily(Library &library) : lib_(library) {}
  void Command();
  void Function(std::string &result);

  // The next line of the last fetched page that the HTTP function returns.
  std::size_t PageIndex = 0;

private:
  Library &lib_;
};

#pragma once
// The script family "HTTP".
#include "host/KeywordLookup.h"

#include <cstddef>
#include <string>
#include <string_view>

class Library;

class HttpFamily {
public:
  static constexpr std::string_view Commands = "|GET|DOWNLOAD|UPLOAD|PROXY|TIMEOUT|LOWSPEED|";
  static constexpr int CmdGET = KeywordPosition(Commands, "GET");
  static constexpr int CmdDOWNLOAD = KeywordPosition(Commands, "DOWNLOAD");
  static constexpr int CmdUPLOAD = KeywordPosition(Commands, "UPLOAD");
  static constexpr int CmdPROXY = KeywordPosition(Commands, "PROXY");
  static constexpr int CmdTIMEOUT = KeywordPosition(Commands, "TIMEOUT");
  static constexpr int CmdLOWSPEED = KeywordPosition(Commands, "LOWSPEED");

  explicit HttpFamily(Library &library) : lib_(library) {}
  void Command();
  void Function(std::string &result);

private:
  Library &lib_;
};

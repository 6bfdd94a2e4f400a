#pragma once
// The script family "TLS": what every secured connection trusts.
#include "host/KeywordLookup.h"

#include <string_view>

class Library;

class TlsFamily {
public:
  static constexpr std::string_view Commands = "|CAFILE|VERIFY|";
  static constexpr int CmdCAFILE = KeywordPosition(Commands, "CAFILE");
  static constexpr int CmdVERIFY = KeywordPosition(Commands, "VERIFY");

  explicit TlsFamily(Library &library) : lib_(library) {}
  void Command();

private:
  Library &lib_;
};

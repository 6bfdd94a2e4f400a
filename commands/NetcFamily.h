#pragma once
// The script family "NETC".
#include "host/KeywordLookup.h"

#include <string>
#include <string_view>

class Library;

class NetcFamily {
public:
  static constexpr std::string_view Commands = "|LOCALNAME|REMOTENAME|RECONNECT|USERNAME|PASSWORD|PROVIDER|CONNECT|DISCONNECT|";
  static constexpr int CmdLOCALNAME = KeywordPosition(Commands, "LOCALNAME");
  static constexpr int CmdREMOTENAME = KeywordPosition(Commands, "REMOTENAME");
  static constexpr int CmdRECONNECT = KeywordPosition(Commands, "RECONNECT");
  static constexpr int CmdUSERNAME = KeywordPosition(Commands, "USERNAME");
  static constexpr int CmdPASSWORD = KeywordPosition(Commands, "PASSWORD");
  static constexpr int CmdPROVIDER = KeywordPosition(Commands, "PROVIDER");
  static constexpr int CmdCONNECT = KeywordPosition(Commands, "CONNECT");
  static constexpr int CmdDISCONNECT = KeywordPosition(Commands, "DISCONNECT");

  explicit NetcFamily(Library &library) : lib_(library) {}
  void Command();

private:
  Library &lib_;
};

#pragma once
// The script family "NETC": network drives. The parameters are set one
// subcommand at a time and kept; CONNECT and DISCONNECT use them.
#include "host/KeywordLookup.h"

#include <cstdint>
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

  explicit NetcFamily(Library &library);
  void Command();

  // The internal error number (41..61) for a Windows networking error.
  static std::int32_t Translate(int netError);

private:
  void Connect();
  void Disconnect();

  Library &lib_;
  std::string localName_, remoteName_, userName_, password_, provider_;
  bool reconnect_ = false;
};

#pragma once
// The script family "SOCKET".
#include "host/KeywordLookup.h"

#include <string>
#include <string_view>

class Library;

class SocketFamily {
public:
  static constexpr std::string_view Commands = "|AUTO|ADDR|PORT|SERVER|CLIENT|CLOSE|SENDALL|SENDSERVER|SENDID|SENDADDR|CLOSECID|CLOSECADDR|TOQEVENTS|";
  static constexpr int CmdAUTO = KeywordPosition(Commands, "AUTO");
  static constexpr int CmdADDR = KeywordPosition(Commands, "ADDR");
  static constexpr int CmdPORT = KeywordPosition(Commands, "PORT");
  static constexpr int CmdSERVER = KeywordPosition(Commands, "SERVER");
  static constexpr int CmdCLIENT = KeywordPosition(Commands, "CLIENT");
  static constexpr int CmdCLOSE = KeywordPosition(Commands, "CLOSE");
  static constexpr int CmdSENDALL = KeywordPosition(Commands, "SENDALL");
  static constexpr int CmdSENDSERVER = KeywordPosition(Commands, "SENDSERVER");
  static constexpr int CmdSENDID = KeywordPosition(Commands, "SENDID");
  static constexpr int CmdSENDADDR = KeywordPosition(Commands, "SENDADDR");
  static constexpr int CmdCLOSECID = KeywordPosition(Commands, "CLOSECID");
  static constexpr int CmdCLOSECADDR = KeywordPosition(Commands, "CLOSECADDR");
  static constexpr int CmdTOQEVENTS = KeywordPosition(Commands, "TOQEVENTS");
  static constexpr std::string_view Functions = "|ERROR|STATUS|CLIENTS|ADDR|PORT|SENDERADDR|SENDERPORT|SENDERID|DATA|EVENT|";
  static constexpr int FnERROR = KeywordPosition(Functions, "ERROR");
  static constexpr int FnSTATUS = KeywordPosition(Functions, "STATUS");
  static constexpr int FnCLIENTS = KeywordPosition(Functions, "CLIENTS");
  static constexpr int FnADDR = KeywordPosition(Functions, "ADDR");
  static constexpr int FnPORT = KeywordPosition(Functions, "PORT");
  static constexpr int FnSENDERADDR = KeywordPosition(Functions, "SENDERADDR");
  static constexpr int FnSENDERPORT = KeywordPosition(Functions, "SENDERPORT");
  static constexpr int FnSENDERID = KeywordPosition(Functions, "SENDERID");
  static constexpr int FnDATA = KeywordPosition(Functions, "DATA");
  static constexpr int FnEVENT = KeywordPosition(Functions, "EVENT");

  explicit SocketFamily(Library &library) : lib_(library) {}
  void Command();
  void Function(std::string &result);

private:
  Library &lib_;
};

#pragma once
// The script family "IMAP": mail read, searched, flagged, moved and filed
// where it lives, and a wait for news of the selected folder.
#include "host/KeywordLookup.h"

#include <memory>
#include <string>
#include <string_view>

class Library;
class TJobWork;

class ImapFamily {
public:
  static constexpr std::string_view Commands =
      "|USERNAME|PASSWORD|AUTH|SECURE|TIMEOUT|LOGON|LOGOFF|SELECT|SEARCH|GETHEADERS|GETMAIL|"
      "SAVEATTACHMENT|FLAG|MOVE|DELMAIL|APPEND|MAKEFOLDER|DELFOLDER|IDLE|LOWSPEED|";
  static constexpr int CmdUSERNAME = KeywordPosition(Commands, "USERNAME");
  static constexpr int CmdPASSWORD = KeywordPosition(Commands, "PASSWORD");
  static constexpr int CmdAUTH = KeywordPosition(Commands, "AUTH");
  static constexpr int CmdSECURE = KeywordPosition(Commands, "SECURE");
  static constexpr int CmdTIMEOUT = KeywordPosition(Commands, "TIMEOUT");
  static constexpr int CmdLOGON = KeywordPosition(Commands, "LOGON");
  static constexpr int CmdLOGOFF = KeywordPosition(Commands, "LOGOFF");
  static constexpr int CmdSELECT = KeywordPosition(Commands, "SELECT");
  static constexpr int CmdSEARCH = KeywordPosition(Commands, "SEARCH");
  static constexpr int CmdGETHEADERS = KeywordPosition(Commands, "GETHEADERS");
  static constexpr int CmdGETMAIL = KeywordPosition(Commands, "GETMAIL");
  static constexpr int CmdSAVEATTACHMENT = KeywordPosition(Commands, "SAVEATTACHMENT");
  static constexpr int CmdFLAG = KeywordPosition(Commands, "FLAG");
  static constexpr int CmdMOVE = KeywordPosition(Commands, "MOVE");
  static constexpr int CmdDELMAIL = KeywordPosition(Commands, "DELMAIL");
  static constexpr int CmdAPPEND = KeywordPosition(Commands, "APPEND");
  static constexpr int CmdMAKEFOLDER = KeywordPosition(Commands, "MAKEFOLDER");
  static constexpr int CmdDELFOLDER = KeywordPosition(Commands, "DELFOLDER");
  static constexpr int CmdIDLE = KeywordPosition(Commands, "IDLE");
  static constexpr int CmdLOWSPEED = KeywordPosition(Commands, "LOWSPEED");
  static constexpr std::string_view Functions =
      "|FOLDER|SPECIALUSE|STATUS|RESULT|UID|FROM|SUBJECT|DATE|FLAGS|SIZE|MAIL|ATTACHMENT|"
      "CHANGED|CAPABILITY|";
  static constexpr int FnFOLDER = KeywordPosition(Functions, "FOLDER");
  static constexpr int FnSPECIALUSE = KeywordPosition(Functions, "SPECIALUSE");
  static constexpr int FnSTATUS = KeywordPosition(Functions, "STATUS");
  static constexpr int FnRESULT = KeywordPosition(Functions, "RESULT");
  static constexpr int FnUID = KeywordPosition(Functions, "UID");
  static constexpr int FnFROM = KeywordPosition(Functions, "FROM");
  static constexpr int FnSUBJECT = KeywordPosition(Functions, "SUBJECT");
  static constexpr int FnDATE = KeywordPosition(Functions, "DATE");
  static constexpr int FnFLAGS = KeywordPosition(Functions, "FLAGS");
  static constexpr int FnSIZE = KeywordPosition(Functions, "SIZE");
  static constexpr int FnMAIL = KeywordPosition(Functions, "MAIL");
  static constexpr int FnATTACHMENT = KeywordPosition(Functions, "ATTACHMENT");
  static constexpr int FnCHANGED = KeywordPosition(Functions, "CHANGED");
  static constexpr int FnCAPABILITY = KeywordPosition(Functions, "CAPABILITY");

  explicit ImapFamily(Library &library) : lib_(library) {}
  void Command();
  void Function(std::string &result);
  // The subcommand that follows as a background job (JOB START): GETMAIL,
  // GETHEADERS or IDLE, refused as the blocking command refuses it before
  // the network; null, with the error set, for another.
  std::unique_ptr<TJobWork> Job();

private:
  Library &lib_;
};

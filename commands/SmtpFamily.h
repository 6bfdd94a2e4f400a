#pragma once
// The script family "SMTP".
#include "host/KeywordLookup.h"
#include "ip_misc/TStringList.h"

#include <memory>
#include <string>
#include <string_view>

class Library;
class TJobWork;

class SmtpFamily {
public:
  static constexpr std::string_view Commands = "|RECIPIENTS|CC|BCC|MESSAGE|HEADER|ATTACHMENT|FROM|REPLY|SUBJECT|DISCLOSE|SEND|TIMEOUT|SECURE|USERNAME|PASSWORD|AUTH|LOWSPEED|";
  static constexpr int CmdRECIPIENTS = KeywordPosition(Commands, "RECIPIENTS");
  static constexpr int CmdCC = KeywordPosition(Commands, "CC");
  static constexpr int CmdBCC = KeywordPosition(Commands, "BCC");
  static constexpr int CmdMESSAGE = KeywordPosition(Commands, "MESSAGE");
  static constexpr int CmdHEADER = KeywordPosition(Commands, "HEADER");
  static constexpr int CmdATTACHMENT = KeywordPosition(Commands, "ATTACHMENT");
  static constexpr int CmdFROM = KeywordPosition(Commands, "FROM");
  static constexpr int CmdREPLY = KeywordPosition(Commands, "REPLY");
  static constexpr int CmdSUBJECT = KeywordPosition(Commands, "SUBJECT");
  static constexpr int CmdDISCLOSE = KeywordPosition(Commands, "DISCLOSE");
  static constexpr int CmdSEND = KeywordPosition(Commands, "SEND");
  static constexpr int CmdTIMEOUT = KeywordPosition(Commands, "TIMEOUT");
  static constexpr int CmdLOWSPEED = KeywordPosition(Commands, "LOWSPEED");
  static constexpr int CmdSECURE = KeywordPosition(Commands, "SECURE");
  static constexpr int CmdUSERNAME = KeywordPosition(Commands, "USERNAME");
  static constexpr int CmdPASSWORD = KeywordPosition(Commands, "PASSWORD");
  static constexpr int CmdAUTH = KeywordPosition(Commands, "AUTH");
  static constexpr std::string_view ListOps = "|CLEAR|ADD|";
  static constexpr int OpCLEAR = KeywordPosition(ListOps, "CLEAR");
  static constexpr int OpADD = KeywordPosition(ListOps, "ADD");

  explicit SmtpFamily(Library &library) : lib_(library) {}
  void Command();
  // The subcommand that follows as a background job (JOB START): SEND.
  std::unique_ptr<TJobWork> Job();

private:
  // CLEAR or ADD and a line, on one of the message's lists.
  void ListCommand(TStringList &list);

  Library &lib_;
};

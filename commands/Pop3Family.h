#pragma once
// The script family "POP3".
#include "host/KeywordLookup.h"
#include "ip_misc/TStringList.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class Library;
class TJobWork;
struct t_reply;

class Pop3Family {
public:
  static constexpr std::string_view Commands = "|USERNAME|PASSWORD|LOGON|LOGOFF|GETHEADERS|GETMAIL|DELMAIL|SAVEATTACHMENT|TIMEOUT|SECURE|AUTH|LOWSPEED|";
  static constexpr int CmdUSERNAME = KeywordPosition(Commands, "USERNAME");
  static constexpr int CmdPASSWORD = KeywordPosition(Commands, "PASSWORD");
  static constexpr int CmdLOGON = KeywordPosition(Commands, "LOGON");
  static constexpr int CmdLOGOFF = KeywordPosition(Commands, "LOGOFF");
  static constexpr int CmdGETHEADERS = KeywordPosition(Commands, "GETHEADERS");
  static constexpr int CmdGETMAIL = KeywordPosition(Commands, "GETMAIL");
  static constexpr int CmdDELMAIL = KeywordPosition(Commands, "DELMAIL");
  static constexpr int CmdSAVEATTACHMENT = KeywordPosition(Commands, "SAVEATTACHMENT");
  static constexpr int CmdTIMEOUT = KeywordPosition(Commands, "TIMEOUT");
  static constexpr int CmdLOWSPEED = KeywordPosition(Commands, "LOWSPEED");
  static constexpr int CmdSECURE = KeywordPosition(Commands, "SECURE");
  static constexpr int CmdAUTH = KeywordPosition(Commands, "AUTH");
  static constexpr std::string_view Functions = "|HEADER|MAIL|ATTACHMENT|FROM|SUBJECT|UIDL|";
  static constexpr int FnHEADER = KeywordPosition(Functions, "HEADER");
  static constexpr int FnMAIL = KeywordPosition(Functions, "MAIL");
  static constexpr int FnATTACHMENT = KeywordPosition(Functions, "ATTACHMENT");
  static constexpr int FnFROM = KeywordPosition(Functions, "FROM");
  static constexpr int FnSUBJECT = KeywordPosition(Functions, "SUBJECT");
  static constexpr int FnUIDL = KeywordPosition(Functions, "UIDL");

  explicit Pop3Family(Library &library) : lib_(library) {}
  void Command();
  void Function(std::string &result);
  // The subcommand that follows as a background job (JOB START), its
  // operands read and checked as the blocking command reads them; null,
  // with the error set, for one that cannot be a job.
  std::unique_ptr<TJobWork> Job();
  // What GETHEADERS leaves for HEADER, FROM and SUBJECT: the summary lines
  // and the listing they were made from.
  void KeepHeaders(const TStringList &lines, const std::vector<t_reply> &listing);

private:
  Library &lib_;
  // From and Subject of every message summarised by the last GETHEADERS,
  // as the server sent them.
  std::vector<std::pair<std::string, std::string>> senders_;
};

#pragma once
// The script family "FTP".
#include "host/KeywordLookup.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class Library;
class TJobWork;

class FtpFamily {
public:
  static constexpr std::string_view Commands = "|LOGON|LOGOFF|USERNAME|PASSWORD|DOWNLOAD|UPLOAD|GETDIR|CHANGEDIR|MAKEDIR|DELDIR|RENFILE|DELFILE|TIMEOUT|SECURE|ACTIVE|LOWSPEED|";
  static constexpr int CmdLOGON = KeywordPosition(Commands, "LOGON");
  static constexpr int CmdLOGOFF = KeywordPosition(Commands, "LOGOFF");
  static constexpr int CmdUSERNAME = KeywordPosition(Commands, "USERNAME");
  static constexpr int CmdPASSWORD = KeywordPosition(Commands, "PASSWORD");
  static constexpr int CmdDOWNLOAD = KeywordPosition(Commands, "DOWNLOAD");
  static constexpr int CmdUPLOAD = KeywordPosition(Commands, "UPLOAD");
  static constexpr int CmdGETDIR = KeywordPosition(Commands, "GETDIR");
  static constexpr int CmdCHANGEDIR = KeywordPosition(Commands, "CHANGEDIR");
  static constexpr int CmdMAKEDIR = KeywordPosition(Commands, "MAKEDIR");
  static constexpr int CmdDELDIR = KeywordPosition(Commands, "DELDIR");
  static constexpr int CmdRENFILE = KeywordPosition(Commands, "RENFILE");
  static constexpr int CmdDELFILE = KeywordPosition(Commands, "DELFILE");
  static constexpr int CmdTIMEOUT = KeywordPosition(Commands, "TIMEOUT");
  static constexpr int CmdLOWSPEED = KeywordPosition(Commands, "LOWSPEED");
  static constexpr int CmdSECURE = KeywordPosition(Commands, "SECURE");
  static constexpr int CmdACTIVE = KeywordPosition(Commands, "ACTIVE");
  static constexpr std::string_view Functions = "|DIRENTRY|";
  static constexpr int FnDIRENTRY = KeywordPosition(Functions, "DIRENTRY");

  explicit FtpFamily(Library &library) : lib_(library) {}
  void Command();
  void Function(std::string &result);
  // The subcommand that follows as a background job (JOB START), its
  // operands read and checked as the blocking command reads them; null,
  // with the error set, for one that cannot be a job.
  std::unique_ptr<TJobWork> Job();

private:
  Library &lib_;
};

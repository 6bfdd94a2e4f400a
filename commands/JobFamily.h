#pragma once
// The script family "JOB": long transfers of the HTTP, FTP, POP3 and SMTP
// families run in the background, watched, cancelled and taken.
#include "host/KeywordLookup.h"

#include <cstdint>
#include <string>
#include <string_view>

class Library;
class TJobTable;

class JobFamily {
public:
  static constexpr std::string_view Commands = "|TAKE|CANCEL|CLOSE|MAX|PROGRESS|";
  static constexpr int CmdTAKE = KeywordPosition(Commands, "TAKE");
  static constexpr int CmdCANCEL = KeywordPosition(Commands, "CANCEL");
  static constexpr int CmdCLOSE = KeywordPosition(Commands, "CLOSE");
  static constexpr int CmdMAX = KeywordPosition(Commands, "MAX");
  static constexpr int CmdPROGRESS = KeywordPosition(Commands, "PROGRESS");
  static constexpr std::string_view Functions = "|START|STATUS|WAIT|ERROR|EVENT|";
  static constexpr int FnSTART = KeywordPosition(Functions, "START");
  static constexpr int FnSTATUS = KeywordPosition(Functions, "STATUS");
  static constexpr int FnWAIT = KeywordPosition(Functions, "WAIT");
  static constexpr int FnERROR = KeywordPosition(Functions, "ERROR");
  static constexpr int FnEVENT = KeywordPosition(Functions, "EVENT");

  JobFamily(Library &library, TJobTable &jobs) : lib_(library), jobs_(jobs) {}
  void Command();
  void Function(std::string &result);

private:
  // The id operand; raises EListIndexError when it names no job.
  std::uint64_t NextId();

  Library &lib_;
  TJobTable &jobs_;
};

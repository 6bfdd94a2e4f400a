#pragma once
// The script family "HTTP".
#include "host/KeywordLookup.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class Library;
class TJobWork;

class HttpFamily {
public:
  static constexpr std::string_view Commands =
      "|GET|DOWNLOAD|UPLOAD|PROXY|TIMEOUT|LOWSPEED|HEADER|BODY|FORM|REQUEST|COMPRESS|COOKIES|";
  static constexpr int CmdGET = KeywordPosition(Commands, "GET");
  static constexpr int CmdDOWNLOAD = KeywordPosition(Commands, "DOWNLOAD");
  static constexpr int CmdUPLOAD = KeywordPosition(Commands, "UPLOAD");
  static constexpr int CmdPROXY = KeywordPosition(Commands, "PROXY");
  static constexpr int CmdTIMEOUT = KeywordPosition(Commands, "TIMEOUT");
  static constexpr int CmdLOWSPEED = KeywordPosition(Commands, "LOWSPEED");
  static constexpr int CmdHEADER = KeywordPosition(Commands, "HEADER");
  static constexpr int CmdBODY = KeywordPosition(Commands, "BODY");
  static constexpr int CmdFORM = KeywordPosition(Commands, "FORM");
  static constexpr int CmdREQUEST = KeywordPosition(Commands, "REQUEST");
  static constexpr int CmdCOMPRESS = KeywordPosition(Commands, "COMPRESS");
  static constexpr int CmdCOOKIES = KeywordPosition(Commands, "COOKIES");

  // The operations of HEADER, BODY and FORM.
  static constexpr std::string_view HeaderOps = "|ADD|CLEAR|";
  static constexpr int HdrADD = KeywordPosition(HeaderOps, "ADD");
  static constexpr int HdrCLEAR = KeywordPosition(HeaderOps, "CLEAR");
  static constexpr std::string_view BodyOps = "|TEXT|ADD|FILE|CLEAR|";
  static constexpr int BodyTEXT = KeywordPosition(BodyOps, "TEXT");
  static constexpr int BodyADD = KeywordPosition(BodyOps, "ADD");
  static constexpr int BodyFILE = KeywordPosition(BodyOps, "FILE");
  static constexpr int BodyCLEAR = KeywordPosition(BodyOps, "CLEAR");
  static constexpr std::string_view FormOps = "|FIELD|FILE|CLEAR|";
  static constexpr int FormFIELD = KeywordPosition(FormOps, "FIELD");
  static constexpr int FormFILE = KeywordPosition(FormOps, "FILE");
  static constexpr int FormCLEAR = KeywordPosition(FormOps, "CLEAR");

  // Sub-functions of the HTTP function; without one it gives the next page line.
  static constexpr std::string_view Functions = "|STATUS|REASON|HEADER|HEADERS|HEADERLINE|";
  static constexpr int FnSTATUS = KeywordPosition(Functions, "STATUS");
  static constexpr int FnREASON = KeywordPosition(Functions, "REASON");
  static constexpr int FnHEADER = KeywordPosition(Functions, "HEADER");
  static constexpr int FnHEADERS = KeywordPosition(Functions, "HEADERS");
  static constexpr int FnHEADERLINE = KeywordPosition(Functions, "HEADERLINE");

  explicit HttpFamily(Library &library) : lib_(library) {}
  void Command();
  void Function(std::string &result);
  // The subcommand that follows as a background job (JOB START), its
  // operands read and checked as the blocking command reads them; null,
  // with the error set, for one that cannot be a job.
  std::unique_ptr<TJobWork> Job();

private:
  void Header();
  void Body();
  void Form();
  Library &lib_;
};

#pragma once
// The script family "CGI": the request of a script started by a web server
// (method, query text, body) and its response on standard output.
#include "host/ArgumentBlock.h"
#include "host/KeywordLookup.h"
#include "ip_misc/TStringList.h"

#include <cstdint>
#include <string>
#include <string_view>

class Library;

// Splits name=value&name=value form data into the two parallel lists
// (appending), decoding both parts with UrlDecode when decode is set. A pair
// without "=" has the empty name; the empty text gives one empty pair.
// Raises EConvertError for a bad escape; the pairs before it stay.
void SplitFormPairs(std::string_view text, bool decode, TStringList &names, TStringList &values);

class CgiFamily {
public:
  static constexpr std::string_view Commands = "|WRITE|PARSE|AUTOPARSE|";
  static constexpr int CmdWRITE = KeywordPosition(Commands, "WRITE");
  static constexpr int CmdPARSE = KeywordPosition(Commands, "PARSE");
  static constexpr int CmdAUTOPARSE = KeywordPosition(Commands, "AUTOPARSE");
  static constexpr std::string_view Functions = "|READL|READ|CONVERT|PARSE|REPLACE|";
  static constexpr int FnREADL = KeywordPosition(Functions, "READL");
  static constexpr int FnREAD = KeywordPosition(Functions, "READ");
  static constexpr int FnCONVERT = KeywordPosition(Functions, "CONVERT");
  static constexpr int FnPARSE = KeywordPosition(Functions, "PARSE");
  static constexpr int FnREPLACE = KeywordPosition(Functions, "REPLACE");
  // The most READ gives in one call: what a result holds before its NUL.
  static constexpr std::int64_t ReadPiece = ArgumentBlock::BlockSize - 1;

  explicit CgiFamily(Library &library) : lib_(library) {}
  // WRITE text | PARSE text | AUTOPARSE. A standard stream that fails sets
  // 209; standard input that ends before the body does sets 208; a request
  // method other than GET or POST sets 207.
  void Command();
  // READL | READ | CONVERT text | PARSE name | REPLACE text old new.
  void Function(std::string &result);

private:
  void Write(const std::string &text);
  void Parse(const std::string &text);
  void AutoParse();
  void ReadLine(std::string &result);
  void ReadBody(std::string &result);
  std::string Field(const std::string &name);
  // CONTENT_LENGTH as a number; raises EConvertError when it is absent or
  // not a whole number.
  static std::int64_t ContentLength();
  // Appends count bytes of standard input to body; false (with the error
  // number set) when the input ends early or fails.
  bool ReadInput(std::int64_t count, std::string &body);

  Library &lib_;
  // Bytes of the body READ is handing out that are still to come.
  std::int64_t bodyLeft_ = 0;
};

#include "commands/CgiFamily.h"

#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "ip_misc/ip_misc.h"
#include "platform/Environment.h"

#include <algorithm>

void SplitFormPairs(std::string_view text, bool decode, TStringList &names, TStringList &values) {
  std::string_view rest = text;
  do {
    std::string_view pair;
    const std::size_t amp = rest.find('&');
    if (amp == std::string_view::npos) {
      pair = rest;
      rest = {};
    } else {
      pair = rest.substr(0, amp);
      rest = rest.substr(amp + 1);
    }
    const std::size_t eq = pair.find('=');
    const std::string_view name = eq == std::string_view::npos ? std::string_view{} : pair.substr(0, eq);
    const std::string_view value = eq == std::string_view::npos ? pair : pair.substr(eq + 1);
    // Both parts are decoded before either is added, so the lists stay parallel.
    std::string n = decode ? UrlDecode(name) : std::string(name);
    std::string v = decode ? UrlDecode(value) : std::string(value);
    names.push_back(std::move(n));
    values.push_back(std::move(v));
  } while (!rest.empty());
}

void CgiFamily::Command() {
  switch (lib_.LookupNext(Commands)) {
  case CmdWRITE: return Write(lib_.NextArgument());
  case CmdPARSE: return Parse(lib_.NextArgument());
  case CmdAUTOPARSE: return AutoParse();
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void CgiFamily::Function(std::string &result) {
  switch (lib_.LookupNext(Functions)) {
  case FnREADL: return ReadLine(result);
  case FnREAD: return ReadBody(result);
  case FnCONVERT: result = UrlDecode(lib_.NextArgument()); return;
  case FnPARSE: result = Field(lib_.NextArgument()); return;
  case FnREPLACE: {
    const std::string text = lib_.NextArgument();
    const std::string from = lib_.NextArgument();
    const std::string to = lib_.NextArgument();
    result = ReplaceAll(text, from, to);
    return;
  }
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}

void CgiFamily::Write(const std::string &text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text).append("\r\n");
  if (platform::WriteStandardOutput(line) != platform::StreamResult::Ok)
    lib_.SetError(ErrStreamFailed);
}

void CgiFamily::Parse(const std::string &text) {
  const std::string input = Trim(text);
  lib_.CgiNames().clear();
  lib_.CgiValues().clear();
  SplitFormPairs(input, true, lib_.CgiNames(), lib_.CgiValues());
}

void CgiFamily::AutoParse() {
  // Variables are read whole, whatever their length.
  const std::string method = UpperCase(platform::GetEnvironmentVariable("REQUEST_METHOD").value_or(""));
  std::string input;
  bool decode = false;
  if (method == "GET") {
    input = platform::GetEnvironmentVariable("QUERY_STRING").value_or("");
  } else if (method == "POST") {
    if (!ReadInput(ContentLength(), input))
      return;
    decode = true;
  } else {
    lib_.SetError(ErrBadRequestMethod);
    return;
  }
  lib_.CgiNames().clear();
  lib_.CgiValues().clear();
  SplitFormPairs(input, decode, lib_.CgiNames(), lib_.CgiValues());
}

std::int64_t CgiFamily::ContentLength() {
  const std::optional<std::string> length = platform::GetEnvironmentVariable("CONTENT_LENGTH");
  if (!length)
    throw EConvertError("CONTENT_LENGTH is not set");
  return StrToInt64(*length);
}

bool CgiFamily::ReadInput(std::int64_t count, std::string &body) {
  // Read in pieces: a huge length from the environment costs memory only
  // as far as the input really goes.
  constexpr std::int64_t Piece = 1 << 20;
  std::string chunk;
  for (std::int64_t left = count; left > 0;) {
    const auto want = static_cast<std::size_t>(std::min(left, Piece));
    const platform::StreamResult r = platform::ReadStandardInput(want, chunk);
    body.append(chunk);
    left -= static_cast<std::int64_t>(chunk.size());
    if (r == platform::StreamResult::Failed) {
      lib_.SetError(ErrStreamFailed);
      return false;
    }
    if (r == platform::StreamResult::EndOfInput) {
      lib_.SetError(ErrEndOfInput);
      return false;
    }
  }
  return true;
}

void CgiFamily::ReadLine(std::string &result) {
  switch (platform::ReadStandardInputLine(result)) {
  case platform::StreamResult::Ok: return;
  case platform::StreamResult::EndOfInput: lib_.SetError(ErrEndOfInput); return;
  case platform::StreamResult::Failed: lib_.SetError(ErrStreamFailed); return;
  }
}

void CgiFamily::ReadBody(std::string &result) {
  // A body longer than one result is handed out over several calls, each
  // going on where the last stopped; the rest waits unread in standard
  // input meanwhile. Once all of it is given, a call starts a new body.
  if (bodyLeft_ <= 0)
    bodyLeft_ = ContentLength();
  const std::int64_t piece = std::min<std::int64_t>(bodyLeft_, ReadPiece);
  // What arrived before an early end stays in the result; the body is over.
  const bool whole = piece <= 0 || ReadInput(piece, result);
  bodyLeft_ = whole ? bodyLeft_ - piece : 0;
}

std::string CgiFamily::Field(const std::string &name) {
  const std::string wanted = UpperCase(name);
  const TStringList &names = lib_.CgiNames();
  const TStringList &values = lib_.CgiValues();
  for (std::size_t i = 0; i < names.size(); ++i)
    if (UpperCase(names[i]) == wanted)
      return i < values.size() ? values[i] : std::string();
  return {};
}

// The keyword lookup, the argument block and both dispatchers, fed a host
// block from memory. Only families that do no network, file or standard
// stream work are let through: HTML, CGI PARSE/CONVERT/REPLACE, VERSION,
// IPERROR and names that are in no list.
#include "commands/CgiFamily.h"
#include "commands/HtmlFamily.h"
#include "host/ArgumentBlock.h"
#include "host/KeywordLookup.h"
#include "host/Library.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::string_view CommandKeywords = "|HTTP|FTP|POP3|SMTP|NETC|SOCKET|HTML|CGI|";
constexpr std::string_view FunctionKeywords = "|VERSION|IPERROR|HTTP|FTP|POP3|TIME|HTML|SOCKET|CGI|";

bool SafeCommand(ArgumentBlock &args) {
  switch (KeywordLookup(CommandKeywords, args.Next())) {
  case 0: return true;
  case KeywordPosition(CommandKeywords, "HTML"): return true;
  case KeywordPosition(CommandKeywords, "CGI"): {
    const int sub = KeywordLookup(CgiFamily::Commands, args.Next());
    return sub != CgiFamily::CmdWRITE && sub != CgiFamily::CmdAUTOPARSE;
  }
  default: return false;
  }
}

bool SafeFunction(ArgumentBlock &args) {
  switch (KeywordLookup(FunctionKeywords, args.Next())) {
  case 0:
  case KeywordPosition(FunctionKeywords, "VERSION"):
  case KeywordPosition(FunctionKeywords, "IPERROR"):
  case KeywordPosition(FunctionKeywords, "HTML"): return true;
  case KeywordPosition(FunctionKeywords, "CGI"): {
    const int sub = KeywordLookup(CgiFamily::Functions, args.Next());
    return sub != CgiFamily::FnREADL && sub != CgiFamily::FnREAD;
  }
  default: return false;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static Library *lib = new Library(0, nullptr);
  if (size < 1)
    return 0;
  const bool function = data[0] & 1;
  // The rest is the host's block, NUL-padded to its full size; a block
  // without any NUL at all is tried too, from the longest inputs.
  std::vector<char> block(ArgumentBlock::BlockSize, '\0');
  const std::size_t n = std::min(size - 1, block.size());
  std::memcpy(block.data(), data + 1, n);
  if (data[0] & 2)
    std::memset(block.data() + n, 'x', block.size() - n);

  // The lookup agrees with a plain search for the framed, upper-cased name.
  ArgumentBlock args;
  args.Load(block.data());
  const std::string name = args.Next();
  std::string framed = "|";
  for (char c : name)
    framed.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
  framed.push_back('|');
  const std::size_t at = CommandKeywords.find(framed);
  if (KeywordLookup(CommandKeywords, name) != (at == std::string_view::npos ? 0 : static_cast<int>(at + 1)))
    std::abort();

  args.Load(block.data());
  if (function) {
    if (!SafeFunction(args))
      return 0;
    const char *result = lib->FuncProc(block.data());
    if (std::strlen(result) > 65535)
      std::abort();
  } else {
    if (!SafeCommand(args))
      return 0;
    const std::int32_t code = lib->CommandProc(block.data());
    if (code != lib->StatProc())
      std::abort();
  }
  return 0;
}

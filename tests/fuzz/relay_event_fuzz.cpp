// Event records: any text queued as a record and read back with EVENT must
// give the name and fields by their first separators, never fail, and leave
// the queue one shorter.
#include "host/Library.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Call(Library &lib, std::initializer_list<std::string> texts) {
  std::vector<char> block(65536, '\0');
  std::size_t at = 0;
  for (const std::string &t : texts) {
    t.copy(block.data() + at, t.size());
    at += t.size() + 1;
  }
  return lib.FuncProc(block.data());
}

std::string Field(const std::string &text, std::size_t &from) {
  const std::size_t bar = text.find('|', from);
  const std::string f = text.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
  from = bar == std::string::npos ? text.size() : bar + 1;
  return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static Library lib(0, nullptr);
  // Results reach the host up to their first NUL; records hold no NUL here.
  std::string record(reinterpret_cast<const char *>(data), size);
  for (char &c : record)
    if (c == '\0')
      c = ' ';
  lib.EventQueue().clear();
  lib.EventQueue().push_front(record);
  const std::string name = Call(lib, {"SOCKET", "EVENT"});
  if (!lib.EventQueue().empty() || lib.StatProc() != 0)
    std::abort();
  std::size_t at = 0;
  if (name != Field(record, at))
    std::abort();
  if (name == "ERROR") {
    if (Call(lib, {"SOCKET", "ERROR"}) != record.substr(at).substr(0, 65535))
      std::abort();
    return 0;
  }
  const std::string addr = Field(record, at), port = Field(record, at);
  if (Call(lib, {"SOCKET", "SENDERADDR"}) != addr || Call(lib, {"SOCKET", "SENDERPORT"}) != port)
    std::abort();
  if (name == "NETWORK") {
    const std::string id = Field(record, at);
    if (Call(lib, {"SOCKET", "SENDERID"}) != id)
      std::abort();
    // DATA hands out the rest in pieces of at most 1020 characters.
    std::string all, piece;
    while (!(piece = Call(lib, {"SOCKET", "DATA"})).empty()) {
      if (piece.size() > 1020)
        std::abort();
      all += piece;
    }
    if (all != record.substr(at))
      std::abort();
  } else if (Call(lib, {"SOCKET", "SENDERID"}) != record.substr(at)) {
    std::abort();
  }
  return 0;
}

// Header texts beyond ASCII: decoding anything gives UTF-8, a saved name
// never leaves its folder, and what the library encodes decodes back.
#include "ip_misc/MailText.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  if (!IsUtf8(DecodeWords(text)) || !IsUtf8(ParamText(text, "filename")))
    __builtin_trap();
  const std::string name = SafeFileName(ParamText(text, "name"));
  if (name.find_first_of("/\\") != std::string::npos || name == "." || name == ".." ||
      name.size() > 255)
    __builtin_trap();
  if (IsAscii(text))
    return 0;
  // Every line of an encoded header holds at most 76 characters, and the
  // header unfolded and decoded is the text in UTF-8.
  const std::string header = TextHeader("Subject", text);
  std::string unfolded;
  std::size_t at = 0;
  for (;;) {
    const std::size_t end = header.find("\r\n", at);
    const std::string line = header.substr(at, end == std::string::npos ? end : end - at);
    if (line.size() > 76)
      __builtin_trap();
    unfolded += line;
    if (end == std::string::npos)
      break;
    at = end + 2;
  }
  if (DecodeWords(unfolded.substr(9)) != ToUtf8(text, ""))
    __builtin_trap();
  std::string type, disposition;
  FilePartHeaders(text, type, disposition);
  if (ParamText(disposition, "filename") != ToUtf8(text, ""))
    __builtin_trap();
  return 0;
}

// Quoted-printable decoding of arbitrary lines, and the encoder's promises:
// lines of at most 76 characters that decode back to the input.
#include "ip_misc/ip_misc.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);

  if (QPDecode(text).size() > size)
    std::abort();
  const TStringList decoded = QPDecodeLines(SplitLines(text));
  (void)decoded;

  // Encoding treats the input as one line; line ends in it are escaped.
  const TStringList encoded = QPEncode(text);
  for (const std::string &line : encoded) {
    if (line.size() > 76)
      std::abort();
    for (char c : line)
      if (c == '\r' || c == '\n' || static_cast<unsigned char>(c) > 126)
        std::abort();
  }
  const TStringList back = QPDecodeLines(encoded);
  if (back.size() != 1 || back[0] != text)
    std::abort();

  // The whole-text encoder keeps every line within 76 characters too.
  const std::string body = QPEncodeText(text);
  std::size_t column = 0;
  for (char c : body) {
    if (c == '\n') {
      column = 0;
      continue;
    }
    if (c != '\r' && ++column > 76)
      std::abort();
  }
  return 0;
}

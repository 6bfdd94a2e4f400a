// Base64 decoding of arbitrary text, and the coders' round trip.
#include "ip_misc/ip_misc.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);

  // The whole-buffer decoder and the list decoder agree.
  const std::string whole = Base64DecodeText(text);
  TMemoryStream stream;
  DecodeBase64Lines(SplitLines(text), stream);
  if (stream.Bytes() != whole || whole.size() > size)
    std::abort();
  if (DecodeLine(text).size() > size)
    std::abort();

  // Anything encoded decodes back, whole or in lines.
  if (Base64DecodeText(Base64Encode(text)) != text)
    std::abort();
  TMemoryStream in;
  in.WriteString(text);
  const TStringList lines = EncodeBase64Lines(in);
  for (const std::string &line : lines)
    if (line.size() > 60)
      std::abort();
  TMemoryStream back;
  DecodeBase64Lines(lines, back);
  if (back.Bytes() != text)
    std::abort();
  if (Base64DecodePart(std::vector<std::string_view>(lines.begin(), lines.end())) != text ||
      Base64DecodeText(Base64EncodeLines(text)) != text)
    std::abort();
  // A part of arbitrary lines never decodes to more than it holds.
  const TStringList split = SplitLines(text);
  if (Base64DecodePart(std::vector<std::string_view>(split.begin(), split.end())).size() > size)
    std::abort();
  return 0;
}

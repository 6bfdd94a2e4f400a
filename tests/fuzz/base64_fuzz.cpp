// Base64 decoding of arbitrary text, and the coders' round trip.
#include "ip_misc/TLineText.h"
#include "ip_misc/ip_misc.h"

#include <cstdint>
#include <cstdlib>
#include <string>

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
  if (Base64DecodePart(lines) != text || Base64DecodeText(Base64EncodeLines(text)) != text)
    std::abort();
  // A part of arbitrary lines decodes as the lines do, also when the same
  // lines are kept as one text.
  const TStringList split = SplitLines(text);
  TLineText joined;
  for (const std::string &line : split)
    joined.Append(line);
  const std::string part = Base64DecodePart(split);
  if (part != whole || part != Base64DecodePart(joined, 0, joined.Count()))
    std::abort();
  return 0;
}

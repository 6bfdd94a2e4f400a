// The MIME parser on arbitrary message lines: it must take any input
// without crashing, and every part it finds must be one it can save. A
// base64 part left encoded and decoded later a few lines at a time (as a
// received message's part is saved) gives the bytes decoded at once.
#include "ip_misc/TLineText.h"
#include "ip_misc/TStringList.h"
#include "ip_misc/ip_misc.h"
#include "tcpip/T_Mime.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  const TStringList lines = SplitLines(text);
  T_Mime mime;
  mime.Parse(lines);
  for (int i = 0; i < mime.Count(); ++i) {
    const T_Attachment *a = mime.GetAttachment(i);
    if (!a || (a->Encoding == T_Attachment::EncodingBase64 && !a->Lines.empty()))
      __builtin_trap();
  }
  // The same lines kept as one text split alike.
  TLineText joined;
  for (const std::string &line : lines)
    joined.Append(line);
  T_Mime fromText;
  fromText.ParseText(joined);
  if (fromText.Count() != mime.Count())
    __builtin_trap();
  // And alike when parsed as the text arrives, a few characters at a time.
  const std::size_t every = size > 0 ? data[0] % 61 + 1 : 1;
  TLineText arriving;
  T_Mime pieces;
  {
    T_Mime::Parser parser(pieces, T_Mime::Base64Parts::LeftEncoded);
    std::size_t since = 0;
    for (const std::string &line : lines) {
      for (std::size_t k = 0; k <= line.size(); ++k) {
        if (k == line.size())
          arriving.Close();
        else
          arriving.Text() += line[k];
        if (++since % every == 0)
          parser.More(arriving);
      }
    }
    parser.End(arriving);
  }
  if (pieces.Count() != mime.Count() || pieces.Boundary != mime.Boundary)
    __builtin_trap();
  for (int i = 0; i < mime.Count(); ++i) {
    const T_Attachment &a = *mime.GetAttachment(i), &b = *pieces.GetAttachment(i);
    if (a.ContentType != b.ContentType || a.Disposition != b.Disposition ||
        a.Encoding != b.Encoding || a.Lines != b.Lines ||
        b.Encoded.has_value() != (a.Encoding == T_Attachment::EncodingBase64))
      __builtin_trap();
    std::string decoded;
    if (b.Encoded) {
      TBase64LineDecoder decoder;
      for (std::size_t first = b.Encoded->First; first < b.Encoded->Last; first += every)
        decoder.Decode(arriving, first, std::min(first + every, b.Encoded->Last), decoded);
    }
    if (decoded != a.Data.Bytes())
      __builtin_trap();
  }
  std::string name, value;
  T_Mime::SplitHeader(text, name, value);
  (void)T_Mime::BoundaryOf(text);
  return 0;
}

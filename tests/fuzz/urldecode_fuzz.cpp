// Form data decoding and pair splitting of arbitrary text.
#include "commands/CgiFamily.h"
#include "ip_misc/Errors.h"
#include "ip_misc/ip_misc.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  bool valid = true;
  try {
    const std::string decoded = UrlDecode(text);
    if (decoded.size() > size)
      std::abort();
  } catch (const EConvertError &) {
    valid = false;
  }

  TStringList names, values;
  SplitFormPairs(text, false, names, values);
  if (names.size() != values.size() || names.empty())
    std::abort();
  try {
    TStringList dn, dv;
    SplitFormPairs(text, true, dn, dv);
    if (dn.size() != names.size() || dv.size() != values.size())
      std::abort();
  } catch (const EConvertError &) {
    // A bad escape in a pair; the whole text then has one as well, unless
    // the "&" or "=" split an escape apart.
    (void)valid;
  }

  // Every byte escaped decodes back to itself.
  std::string escaped;
  static const char hex[] = "0123456789abcdef";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    escaped.push_back('%');
    escaped.push_back(hex[c >> 4]);
    escaped.push_back(hex[c & 15]);
  }
  if (UrlDecode(escaped) != text)
    std::abort();
  return 0;
}

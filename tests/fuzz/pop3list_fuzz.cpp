// The reading of a POP3 LIST reply: lines up to the end mark, each a
// message number and a size. Malformed lines may only fail as conversion
// errors.
#include "ip_misc/Errors.h"
#include "ip_misc/TStringList.h"
#include "tcpip/T_Pop3.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  for (const std::string &line : SplitLines(text)) {
    if (line == ".")
      break;
    try {
      const t_reply r = T_Pop3::ParseListLine(line);
      if (!r.From.empty() || !r.Subject.empty())
        __builtin_trap();
    } catch (const EConvertError &) {
    }
  }
  return 0;
}

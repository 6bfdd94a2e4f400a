// Address extraction on arbitrary text: every address it returns is a
// piece of the text without separators around it, and a count past the
// addresses gives nothing.
#include "ip_misc/ip_misc.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  for (int n = 1; n <= 8; ++n) {
    const std::string address = ExtractAddress(text, n);
    if (address.empty())
      continue;
    if (text.find(address) == std::string_view::npos)
      __builtin_trap();
    if (address.find_first_of(" ,;") != std::string::npos)
      __builtin_trap();
  }
  (void)ExtractAddress(text, 1000);
  return 0;
}

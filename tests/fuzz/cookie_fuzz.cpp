// The cookie jar on anything a server or a jar file could hold: the input's
// first line is a Set-Cookie value, the rest a jar file. Nothing may crash;
// what the jar writes must read back to the same text, and every cookie it
// sends for the origin must be one it holds.
#include "tcpip/TCookieJar.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  const std::size_t lf = std::min(input.find('\n'), input.size());
  constexpr std::int64_t now = 1750000000;
  TCookieJar jar;
  jar.Parse(input.substr(std::min(lf + 1, input.size())), now);
  const TCookieJar::TOrigin origin{false, "www.example.co.uk", "/a/b"};
  jar.Store(input.substr(0, lf), origin, now);
  const std::string text = jar.Format(now);
  TCookieJar again;
  again.Parse(text, now);
  if (again.Format(now) != text)
    std::abort();
  const std::string header = jar.Header(origin, now);
  if (header.find_first_of("\r\n") != std::string::npos)
    std::abort();
  std::int64_t seconds = 0;
  TCookieJar::ParseDate(input.substr(0, lf), seconds);
  return 0;
}

// URL splitting on any bytes: it must neither crash nor read out of bounds;
// the URL printed from its parts reads back as the same parts, so what a
// trace prints is what was connected to; and a masked password is all that
// a masked print shows of it.
#include "tcpip/T_TcpIp.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool SameParts(const TURL &a, const TURL &b) {
  return a.Protocol == b.Protocol && a.User == b.User && a.Password == b.Password &&
         a.Host == b.Host && a.Port == b.Port && a.Path == b.Path &&
         a.HasUserInfo == b.HasUserInfo && a.HasPassword == b.HasPassword;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string url(reinterpret_cast<const char *>(data), size);
  const TURL parts = TURL::Split(url);
  if (parts.Host.size() + parts.Port.size() + parts.Path.size() > url.size())
    std::abort();
  if (!parts.Path.empty() &&
      (parts.Path.find_first_of("/?#") != 0 || url.find(parts.Path) == std::string::npos))
    std::abort();
  // "mailto:" is read without "://", and printed with it; a port other than
  // digits and a host with brackets inside are refused before anything is
  // sent.
  const bool usable = parts.Protocol != "mailto" &&
                      parts.Port.find_first_not_of("0123456789") == std::string::npos &&
                      parts.Host.find_first_of("[]") == std::string::npos;
  if (usable && !SameParts(TURL::Split(parts.Text()), parts))
    std::abort();
  const TURL masked = TURL::Split(parts.Text("*****"));
  if (usable && parts.HasPassword && (masked.Password != "*****" || masked.Host != parts.Host ||
                            masked.Path != parts.Path))
    std::abort();
  return 0;
}

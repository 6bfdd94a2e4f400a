// ParseURL on any bytes: it must neither crash nor read out of bounds, and
// what it gives back is made of pieces of its input.
#include "tcpip/T_TcpIp.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string url(reinterpret_cast<const char *>(data), size);
  std::string protocol, user, path, port, host, password;
  ParseURL(url, protocol, user, path, port, host, password);
  if (host.size() + port.size() + path.size() > url.size())
    std::abort();
  if (!path.empty() && (path[0] != '/' || url.find(path) == std::string::npos))
    std::abort();
  return 0;
}

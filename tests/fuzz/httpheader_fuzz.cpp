// The response-header reader on any bytes a server could send: a loopback
// connection carries the input, the reader must end (header, error or
// conversion failure) without crashing, and the rest can still be read.
#include "ip_misc/Errors.h"
#include "platform/Socket.h"
#include "tcpip/T_HTTP.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

struct Reader : T_HTTP {
  void Take(socket_t s) {
    Connection = TConnection(s);
    Connected = true;
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static platform::socket_t listener = platform::InvalidSocket;
  static std::uint16_t port = 0;
  if (listener == platform::InvalidSocket) {
    listener = platform::CreateTcpSocket();
    std::uint32_t address = 0;
    if (platform::Bind(listener, 0x0100007Fu, 0) != 0 || platform::Listen(listener, 4) != 0 ||
        !platform::LocalName(listener, address, port))
      std::abort();
  }
  const platform::socket_t client = platform::CreateTcpSocket();
  if (platform::Connect(client, 0x0100007Fu, port) != 0)
    std::abort();
  const platform::socket_t server = platform::Accept(listener);
  // The input fits the socket buffers of a loopback connection when cut to 64 KiB.
  const std::size_t n = size > 65536 ? 65536 : size;
  std::size_t sent = 0;
  while (sent < n) {
    const long k = platform::Send(server, data + sent, n - sent);
    if (k <= 0)
      break;
    sent += static_cast<std::size_t>(k);
  }
  platform::CloseSocket(server);

  Reader reader;
  reader.Take(client);
  try {
    reader.ReadResponseHeader();
    char buf[4096];
    while (reader.Connection.Receive(buf, sizeof buf) > 0) {
    }
  } catch (const ETcpIpError &) {
  } catch (const EConvertError &) {
  }
  reader.Logout();
  return 0;
}

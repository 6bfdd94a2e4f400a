#pragma once
// The server operand of the mail commands: "host" or "host:port".
#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "tcpip/T_TcpIp.h"

#include <cstdint>
#include <string>

// Sets the client's Hostname and RemotePort from the operand; a host alone
// (or a host with an empty port) keeps the default port. Raises
// EConvertError when the port is not a number from 1 to 65535.
inline void SetHostAndPort(T_TcpIp &client, const std::string &operand, std::uint16_t defaultPort) {
  const std::size_t colon = operand.rfind(':');
  if (colon == std::string::npos || colon + 1 == operand.size()) {
    client.Hostname = operand.substr(0, colon);
    client.RemotePort = defaultPort;
    return;
  }
  const std::string port = operand.substr(colon + 1);
  bool digits = port.size() <= 5;
  for (const char c : port)
    digits = digits && c >= '0' && c <= '9';
  const std::int32_t value = digits ? StrToInt(port) : 0;
  if (value < 1 || value > 65535)
    throw EConvertError("'" + port + "' is not a valid port number");
  client.Hostname = operand.substr(0, colon);
  client.RemotePort = static_cast<std::uint16_t>(value);
}

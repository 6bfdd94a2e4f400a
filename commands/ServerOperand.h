#pragma once
// The server operand of SMTP SEND, POP3 LOGON and TIME, read by the one rule
// of SplitHostPort.
#include "ip_misc/HostPort.h"
#include "tcpip/T_TcpIp.h"

#include <cstdint>
#include <string>
#include <utility>

// Sets the client's Hostname and RemotePort from the operand; raises
// EConvertError (and changes nothing) when the operand does not read.
inline void SetHostAndPort(T_TcpIp &client, const std::string &operand, std::uint16_t defaultPort) {
  THostPort server = SplitHostPort(operand, defaultPort);
  client.Hostname = std::move(server.Host);
  client.RemotePort = server.Port;
}

#pragma once
// The operand of the SECURE subcommands of FTP, POP3 and SMTP.
#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "tcpip/T_TcpIp.h"

#include <string>

// "TLS": TLS from the first byte; "STARTTLS": an upgrade before logging on;
// blank or missing: clear text. Raises EConvertError for anything else.
inline T_TcpIp::TSecurity SecurityMode(const std::string &operand) {
  const std::string mode = UpperCase(Trim(operand));
  if (mode.empty())
    return T_TcpIp::TSecurity::None;
  if (mode == "TLS")
    return T_TcpIp::TSecurity::Implicit;
  if (mode == "STARTTLS")
    return T_TcpIp::TSecurity::StartTls;
  throw EConvertError("'" + operand + "' is no security mode (TLS, STARTTLS or blank)");
}

// The port a server operand without one means: the secured port when TLS
// starts with the first byte.
inline std::uint16_t DefaultPort(const T_TcpIp &client, std::uint16_t clear, std::uint16_t secured) {
  return client.Security == T_TcpIp::TSecurity::Implicit ? secured : clear;
}

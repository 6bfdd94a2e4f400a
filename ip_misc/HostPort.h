#pragma once
// The server operand every family takes the same way (FTP LOGON, TIME, SMTP
// SEND, POP3 LOGON and the HTTP proxy): "host", "host:port", "[v6]" or
// "[v6]:port".
#include <cstdint>
#include <string>
#include <string_view>

struct THostPort {
  std::string Host;
  std::uint16_t Port = 0;
};

// A port left out, or empty after the colon, is defaultPort. An IPv6
// literal stands in brackets when a port follows; its host comes without
// them. A text with several colons and no brackets is an IPv6 host alone.
// Raises EConvertError when the port is not a decimal number from 1 to 65535
// or a bracket is not closed, or something other than ":port" follows it.
THostPort SplitHostPort(std::string_view operand, std::uint16_t defaultPort);
// The port of an operand or URL: defaultPort for an empty text. Raises
// EConvertError unless it is a decimal number from 1 to 65535.
std::uint16_t PortNumber(std::string_view text, std::uint16_t defaultPort);

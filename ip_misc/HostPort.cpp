#include "ip_misc/HostPort.h"

#include "ip_misc/Errors.h"

std::uint16_t PortNumber(std::string_view text, std::uint16_t defaultPort) {
  if (text.empty())
    return defaultPort;
  const auto invalid = [&] {
    return EConvertError("'" + std::string(text) + "' is not a valid port number");
  };
  // Digits only: signs, blanks and hexadecimal forms would give one port
  // several spellings.
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      throw invalid();
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 65535)
      throw invalid();
  }
  if (value == 0)
    throw invalid();
  return static_cast<std::uint16_t>(value);
}

THostPort SplitHostPort(std::string_view operand, std::uint16_t defaultPort) {
  THostPort result;
  if (!operand.empty() && operand.front() == '[') {
    const std::size_t close = operand.find(']');
    const std::string_view after =
        close == std::string_view::npos ? std::string_view() : operand.substr(close + 1);
    if (close == std::string_view::npos || (!after.empty() && after.front() != ':'))
      throw EConvertError("'" + std::string(operand) + "' is not a valid host");
    result.Host = operand.substr(1, close - 1);
    result.Port = PortNumber(after.empty() ? after : after.substr(1), defaultPort);
    return result;
  }
  const std::size_t colon = operand.find(':');
  if (colon == std::string_view::npos || operand.find(':', colon + 1) != std::string_view::npos) {
    result.Host = operand;
    result.Port = defaultPort;
    return result;
  }
  result.Host = operand.substr(0, colon);
  result.Port = PortNumber(operand.substr(colon + 1), defaultPort);
  return result;
}

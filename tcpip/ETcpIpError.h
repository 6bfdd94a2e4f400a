#pragma once
// The failures of the protocol clients. Every client raises these and only
// these for network and protocol trouble; the script dispatchers turn them
// into host code 206 and keep the message for IPERROR.
#include <cstdint>
#include <stdexcept>
#include <string>

class ETcpIpError : public std::runtime_error {
public:
  explicit ETcpIpError(const std::string &msg) : std::runtime_error(msg) {}
};

// A socket could not be created or connected; Code is the WinSock number.
class ESocketError : public ETcpIpError {
public:
  explicit ESocketError(std::uint16_t code) : ETcpIpError("Error creating socket"), Code(code) {}
  std::uint16_t Code;
};

// The server refused or answered nonsense; the message is its reply text.
class EProtocolError : public ETcpIpError {
public:
  EProtocolError(std::string protocolName, const std::string &replyText, std::uint16_t code)
      : ETcpIpError(replyText), Code(code), ProtocolName(std::move(protocolName)) {}
  std::uint16_t Code;
  std::string ProtocolName;
};

// An operation was started while a transfer was still running.
class EProtocolBusy : public ETcpIpError {
public:
  EProtocolBusy() : ETcpIpError("Protocol busy") {}
};

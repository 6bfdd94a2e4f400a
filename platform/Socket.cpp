// What the socket layer does the same on every system: the address value,
// its text forms and the IPv4 shorthands.
#include "platform/Socket.h"

#include <cstring>

namespace platform {

SocketAddress SocketAddress::FromV4(std::uint32_t networkOrder, std::uint16_t port) {
  SocketAddress a;
  a.Family = V4;
  std::memcpy(a.Bytes.data(), &networkOrder, 4);
  a.Port = port;
  return a;
}

SocketAddress SocketAddress::Any(TFamily family, std::uint16_t port) {
  SocketAddress a;
  a.Family = family;
  a.Port = port;
  return a;
}

bool SocketAddress::IsV4Mapped() const {
  static constexpr std::uint8_t prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return Family == V6 && std::memcmp(Bytes.data(), prefix, sizeof prefix) == 0;
}

std::uint32_t SocketAddress::V4Address() const {
  std::uint32_t a = 0;
  if (Family == V4)
    std::memcpy(&a, Bytes.data(), 4);
  else if (IsV4Mapped())
    std::memcpy(&a, Bytes.data() + 12, 4);
  return a;
}

bool SocketAddress::SameHost(const SocketAddress &other) const {
  const bool v4 = Family == V4 || IsV4Mapped();
  const bool otherV4 = other.Family == V4 || other.IsV4Mapped();
  if (v4 || otherV4)
    return v4 && otherV4 && V4Address() == other.V4Address();
  return Family == other.Family && Bytes == other.Bytes && ScopeId == other.ScopeId;
}

std::string FormatAddress(const SocketAddress &address) {
  if (address.Family == SocketAddress::None)
    return {};
  if (address.Family == SocketAddress::V4 || address.IsV4Mapped()) {
    const std::uint8_t *b = address.Bytes.data() + (address.Family == SocketAddress::V4 ? 0 : 12);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
  }
  // RFC 5952: lower-case groups without leading zeros; the longest run of
  // two or more zero groups (the first of equals) written as "::".
  unsigned groups[8];
  for (std::size_t i = 0; i < 8; ++i)
    groups[i] = static_cast<unsigned>(address.Bytes[2 * i] << 8 | address.Bytes[2 * i + 1]);
  int best = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && groups[j] == 0)
      ++j;
    if (j - i > bestLength) {
      best = i;
      bestLength = j - i;
    }
    i = j;
  }
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 8; ++i) {
    if (i == best) {
      out += "::";
      i += bestLength - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':')
      out += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned d = groups[i] >> shift & 15;
      if (d != 0 || started || shift == 0) {
        out += digits[d];
        started = true;
      }
    }
  }
  if (address.ScopeId != 0)
    out += "%" + std::to_string(address.ScopeId);
  return out;
}

std::string FormatAddressPort(const SocketAddress &address) {
  const std::string host = FormatAddress(address);
  const std::string port = std::to_string(address.Port);
  return host.find(':') == std::string::npos ? host + ":" + port : "[" + host + "]:" + port;
}

void HostEntry::Add(const SocketAddress &address) {
  for (const SocketAddress &known : All)
    if (known.Family == address.Family && known.Bytes == address.Bytes &&
        known.ScopeId == address.ScopeId)
      return;
  All.push_back(address);
  All.back().Port = 0;
  if (address.Family == SocketAddress::V4)
    Addresses.push_back(address.V4Address());
}

socket_t CreateTcpSocket() { return CreateTcpSocket(SocketAddress::V4); }

int Connect(socket_t s, std::uint32_t address, std::uint16_t port) {
  return Connect(s, SocketAddress::FromV4(address, port));
}

int Bind(socket_t s, std::uint32_t address, std::uint16_t port) {
  return Bind(s, SocketAddress::FromV4(address, port));
}

bool LocalName(socket_t s, std::uint32_t &address, std::uint16_t &port) {
  SocketAddress a;
  if (!LocalName(s, a))
    return false;
  address = a.V4Address();
  port = a.Port;
  return true;
}

bool PeerName(socket_t s, std::uint32_t &address, std::uint16_t &port) {
  SocketAddress a;
  if (!PeerName(s, a))
    return false;
  address = a.V4Address();
  port = a.Port;
  return true;
}

} // namespace platform

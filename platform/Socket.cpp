// What the socket layer does the same on every system: the address value,
// its text forms, the IPv4 shorthands, and every call that the systems'
// socket interfaces make alike. Socket_posix.cpp and Socket_win.cpp hold
// only what differs.
#include "platform/Socket.h"

#include "platform/SocketNative.h"

#include <cstring>

namespace platform {

using native::Failed;
using native::FailedWith;
using native::FromNative;
using native::ToHandle;
using native::ToNative;

namespace {

thread_local int lastError = 0;

bool SocketName(socket_t s, SocketAddress &address, bool peer) {
  if (s == InvalidSocket) {
    FailedWith(WSAENOTSOCK);
    return false;
  }
  sockaddr_storage sa{};
  socklen_t len = sizeof sa;
  auto *name = reinterpret_cast<sockaddr *>(&sa);
  if ((peer ? ::getpeername(ToHandle(s), name, &len) : ::getsockname(ToHandle(s), name, &len)) !=
      0) {
    Failed();
    return false;
  }
  address = FromNative(name);
  return true;
}

} // namespace

int LastSocketError() { return lastError; }

void SetLastSocketError(int winSockError) { lastError = winSockError; }

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

bool LocalName(socket_t s, SocketAddress &address) { return SocketName(s, address, false); }
bool PeerName(socket_t s, SocketAddress &address) { return SocketName(s, address, true); }

namespace {

// An end's IPv4 address and port, from its whole address.
bool V4Name(bool (*name)(socket_t, SocketAddress &), socket_t s, std::uint32_t &address,
            std::uint16_t &port) {
  SocketAddress a;
  if (!name(s, a))
    return false;
  address = a.V4Address();
  port = a.Port;
  return true;
}

} // namespace

bool LocalName(socket_t s, std::uint32_t &address, std::uint16_t &port) {
  return V4Name(LocalName, s, address, port);
}

bool PeerName(socket_t s, std::uint32_t &address, std::uint16_t &port) {
  return V4Name(PeerName, s, address, port);
}

int native::SetBoolOption(socket_t s, int level, int option, bool on) {
  const int v = on ? 1 : 0;
  return ::setsockopt(ToHandle(s), level, option, reinterpret_cast<const char *>(&v), sizeof v) == 0
             ? 0
             : Failed();
}

int SetOobInline(socket_t s, bool on) {
  return native::SetBoolOption(s, SOL_SOCKET, SO_OOBINLINE, on);
}

int SetV6Only(socket_t s, bool on) {
  return native::SetBoolOption(s, IPPROTO_IPV6, IPV6_V6ONLY, on);
}

int AbortSocket(socket_t s) {
  const linger l{1, 0};
  ::setsockopt(ToHandle(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&l), sizeof l);
  return CloseSocket(s);
}

int Shutdown(socket_t s, TShutdown how) {
  const int mode = how == TShutdown::Receive ? native::ShutReceive
                   : how == TShutdown::Send  ? native::ShutSend
                                             : native::ShutBoth;
  return ::shutdown(ToHandle(s), mode) == 0 ? 0 : Failed();
}

int Bind(socket_t s, const SocketAddress &address) {
  sockaddr_storage sa;
  const socklen_t length = ToNative(address, sa);
  return ::bind(ToHandle(s), reinterpret_cast<const sockaddr *>(&sa), length) == 0 ? 0 : Failed();
}

int Listen(socket_t s, int backlog) { return ::listen(ToHandle(s), backlog) == 0 ? 0 : Failed(); }

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0)
    return {};
  return name;
}

bool LookupHost(const std::string &name, HostEntry &entry, int &error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo *list = nullptr;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) {
    error = native::ResolverError(rc);
    lastError = error;
    return false;
  }
  entry = {};
  for (const addrinfo *a = list; a; a = a->ai_next) {
    if (a->ai_canonname && entry.OfficialName.empty())
      entry.OfficialName = a->ai_canonname;
    if (a->ai_family == AF_INET || a->ai_family == AF_INET6)
      entry.Add(FromNative(a->ai_addr));
  }
  ::freeaddrinfo(list);
  if (entry.OfficialName.empty())
    entry.OfficialName = name;
  error = entry.All.empty() ? WSANO_DATA : 0;
  lastError = error;
  return error == 0;
}

bool ParseAddress(const std::string &text, SocketAddress &address) {
  if (text.find(':') == std::string::npos) {
    std::uint32_t v4 = 0;
    if (!ParseDotted(text, v4))
      return false;
    address = SocketAddress::FromV4(v4);
    return true;
  }
  // WinSock's resolver takes "[::1]" too; brackets are the caller's to remove.
  if (text.find_first_of("[]") != std::string::npos)
    return false;
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo *list = nullptr;
  if (::getaddrinfo(text.c_str(), nullptr, &hints, &list) != 0 || !list)
    return false;
  address = FromNative(list->ai_addr);
  address.Port = 0;
  ::freeaddrinfo(list);
  return address.Family == SocketAddress::V6;
}

} // namespace platform

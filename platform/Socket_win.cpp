// Sockets on Windows: WinSock 2, whose error numbers are the ones every
// system reports.
#include "platform/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstring>

#include "platform/SocketNative.h"

namespace platform {

using native::FromNative;
using native::ToNative;

namespace {

thread_local int lastError = 0;

SOCKET Native(socket_t s) {
  return s == InvalidSocket ? INVALID_SOCKET : static_cast<SOCKET>(static_cast<unsigned>(s));
}

int Fail(int err = ::WSAGetLastError()) {
  lastError = err;
  return -1;
}

bool SocketName(socket_t s, SocketAddress &address, bool peer) {
  sockaddr_storage sa{};
  int len = sizeof sa;
  auto *native = reinterpret_cast<sockaddr *>(&sa);
  if (s == InvalidSocket) {
    Fail(WSAENOTSOCK);
    return false;
  }
  if ((peer ? ::getpeername(Native(s), native, &len) : ::getsockname(Native(s), native, &len)) !=
      0) {
    Fail();
    return false;
  }
  address = FromNative(native);
  return true;
}

int Length(std::size_t size) { return size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size); }

int SetBoolOption(socket_t s, int level, int option, bool on) {
  const BOOL v = on ? TRUE : FALSE;
  return ::setsockopt(Native(s), level, option, reinterpret_cast<const char *>(&v), sizeof v) == 0
             ? 0
             : Fail();
}

bool WaitFor(socket_t s, bool write, int timeoutMs) {
  WSAPOLLFD p{Native(s), static_cast<SHORT>(write ? POLLWRNORM : POLLRDNORM), 0};
  const int r = ::WSAPoll(&p, 1, timeoutMs);
  // On failure the following call reports why.
  return r != 0;
}

} // namespace

SocketSession::SocketSession() {
  WSADATA data{};
  started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

SocketSession::~SocketSession() {
  if (started_)
    ::WSACleanup();
}

int LastSocketError() { return lastError; }

void SetLastSocketError(int winSockError) { lastError = winSockError; }

int PendingSocketError(socket_t s) {
  int err = 0;
  int len = sizeof err;
  if (::getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&err), &len) != 0)
    err = ::WSAGetLastError();
  return err;
}

// The C library's errno values, for the few callers that meet them here.
int WinSockError(int e) {
  switch (e) {
  case 0: return 0;
  case EINTR: return WSAEINTR;
  case EBADF: return WSAENOTSOCK;
  case EACCES: return WSAEACCES;
  case EINVAL: return WSAEINVAL;
  case EMFILE: return WSAEMFILE;
  case ENOMEM: return WSAENOBUFS;
  default: return e >= 10000 ? e : 10000 + e;
  }
}

socket_t CreateTcpSocket(SocketAddress::TFamily family) {
  // Not inherited by programs the host starts, as close-on-exec elsewhere.
  const SOCKET s = ::WSASocketW(family == SocketAddress::V6 ? AF_INET6 : AF_INET, SOCK_STREAM,
                                IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET)
    return Fail();
  lastError = 0;
  return static_cast<socket_t>(s);
}

int CloseSocket(socket_t s) { return ::closesocket(Native(s)) == 0 ? 0 : Fail(); }

int AbortSocket(socket_t s) {
  const linger l{1, 0};
  ::setsockopt(Native(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&l), sizeof l);
  return CloseSocket(s);
}

int Shutdown(socket_t s, TShutdown how) {
  const int mode = how == TShutdown::Receive ? SD_RECEIVE
                   : how == TShutdown::Send  ? SD_SEND
                                             : SD_BOTH;
  return ::shutdown(Native(s), mode) == 0 ? 0 : Fail();
}

int SetNonBlocking(socket_t s, bool on) {
  u_long v = on ? 1 : 0;
  return ::ioctlsocket(Native(s), static_cast<long>(FIONBIO), &v) == 0 ? 0 : Fail();
}

int SetOobInline(socket_t s, bool on) { return SetBoolOption(s, SOL_SOCKET, SO_OOBINLINE, on); }

// Windows' SO_REUSEADDR would let a second socket take a port in use; what
// the other systems mean by it, binding while old connections linger in
// TIME_WAIT, Windows does without being asked.
int SetReuseAddress(socket_t, bool) { return 0; }

int SetV6Only(socket_t s, bool on) { return SetBoolOption(s, IPPROTO_IPV6, IPV6_V6ONLY, on); }

int Connect(socket_t s, const SocketAddress &address) {
  sockaddr_storage sa;
  const int length = ToNative(address, sa);
  if (::connect(Native(s), reinterpret_cast<const sockaddr *>(&sa), length) == 0)
    return 0;
  return Fail();
}

int Bind(socket_t s, const SocketAddress &address) {
  sockaddr_storage sa;
  const int length = ToNative(address, sa);
  return ::bind(Native(s), reinterpret_cast<const sockaddr *>(&sa), length) == 0 ? 0 : Fail();
}

int Listen(socket_t s, int backlog) { return ::listen(Native(s), backlog) == 0 ? 0 : Fail(); }

socket_t Accept(socket_t s, SocketAddress *peer) {
  sockaddr_storage sa{};
  int len = sizeof sa;
  const SOCKET c = ::accept(Native(s), reinterpret_cast<sockaddr *>(&sa), &len);
  if (c == INVALID_SOCKET)
    return Fail();
  ::SetHandleInformation(reinterpret_cast<HANDLE>(c), HANDLE_FLAG_INHERIT, 0);
  // An accepted socket inherits the listener's asynchronous selection;
  // its owner selects what it wants itself.
  ::WSAAsyncSelect(c, nullptr, 0, 0);
  if (peer)
    *peer = FromNative(reinterpret_cast<const sockaddr *>(&sa));
  return static_cast<socket_t>(c);
}

long Send(socket_t s, const void *data, std::size_t length) {
  const int n = ::send(Native(s), static_cast<const char *>(data), Length(length), 0);
  return n == SOCKET_ERROR ? Fail() : n;
}

long Receive(socket_t s, void *buffer, std::size_t size) {
  const int n = ::recv(Native(s), static_cast<char *>(buffer), Length(size), 0);
  return n == SOCKET_ERROR ? Fail() : n;
}

int PeekData(socket_t s) {
  // Without waiting, whether or not the socket is in blocking mode.
  if (!WaitFor(s, false, 0))
    return Fail(WSAEWOULDBLOCK);
  char probe;
  const int n = ::recv(Native(s), &probe, 1, MSG_PEEK);
  return n == SOCKET_ERROR ? Fail() : n > 0 ? 1 : 0;
}

bool WaitReadable(socket_t s, int timeoutMs) { return WaitFor(s, false, timeoutMs); }
bool WaitWritable(socket_t s, int timeoutMs) { return WaitFor(s, true, timeoutMs); }

int AbortiveClose(socket_t s) { return AbortSocket(s); }

bool LocalName(socket_t s, SocketAddress &address) { return SocketName(s, address, false); }
bool PeerName(socket_t s, SocketAddress &address) { return SocketName(s, address, true); }

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
  // getaddrinfo answers with WinSock numbers already (11001 not found, ...).
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) {
    switch (rc) {
    case WSATRY_AGAIN: error = WSATRY_AGAIN; break;
    case WSANO_RECOVERY: error = WSANO_RECOVERY; break;
    case WSANO_DATA: error = WSANO_DATA; break;
    default: error = WSAHOST_NOT_FOUND; break;
    }
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

bool ParseDotted(const std::string &text, std::uint32_t &address) {
  if (text.empty())
    return false;
  const unsigned long a = ::inet_addr(text.c_str());
  if (a == INADDR_NONE)
    return false;
  address = static_cast<std::uint32_t>(a);
  return true;
}

std::string FormatDotted(std::uint32_t address) {
  in_addr a{};
  a.s_addr = address;
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

int LookupService(const std::string &name) {
  const servent *found = ::getservbyname(name.c_str(), "tcp");
  return found ? ntohs(static_cast<std::uint16_t>(found->s_port)) : -1;
}

} // namespace platform

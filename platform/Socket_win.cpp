// Sockets on Windows: what differs from the other systems in WinSock 2,
// whose error numbers are the ones every system reports. The rest is in
// Socket.cpp.
#include "platform/Socket.h"

#include "platform/SocketNative.h"

#include <cerrno>

namespace platform {

using native::FromNative;
using native::ToHandle;
using native::ToNative;

namespace {

int Fail(int err = ::WSAGetLastError()) { return native::FailedWith(err); }

int Length(std::size_t size) { return size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size); }

bool WaitFor(socket_t s, bool write, int timeoutMs) {
  WSAPOLLFD p{ToHandle(s), static_cast<SHORT>(write ? POLLWRNORM : POLLRDNORM), 0};
  const int r = ::WSAPoll(&p, 1, timeoutMs);
  // On failure the following call reports why.
  return r != 0;
}

} // namespace

int native::Failed() { return Fail(); }

// getaddrinfo answers with WinSock numbers already (11001 not found, ...).
int native::ResolverError(int result) {
  switch (result) {
  case WSATRY_AGAIN:
  case WSANO_RECOVERY:
  case WSANO_DATA: return result;
  default: return WSAHOST_NOT_FOUND;
  }
}

SocketSession::SocketSession() {
  WSADATA data{};
  started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

SocketSession::~SocketSession() {
  if (started_)
    ::WSACleanup();
}

int PendingSocketError(socket_t s) {
  int err = 0;
  int len = sizeof err;
  if (::getsockopt(ToHandle(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&err), &len) != 0)
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
  SetLastSocketError(0);
  return static_cast<socket_t>(s);
}

int CloseSocket(socket_t s) { return ::closesocket(ToHandle(s)) == 0 ? 0 : Fail(); }

int SetNonBlocking(socket_t s, bool on) {
  u_long v = on ? 1 : 0;
  return ::ioctlsocket(ToHandle(s), static_cast<long>(FIONBIO), &v) == 0 ? 0 : Fail();
}

// Windows' SO_REUSEADDR would let a second socket take a port in use; what
// the other systems mean by it, binding while old connections linger in
// TIME_WAIT, Windows does without being asked.
int SetReuseAddress(socket_t, bool) { return 0; }

int Connect(socket_t s, const SocketAddress &address) {
  sockaddr_storage sa;
  const socklen_t length = ToNative(address, sa);
  if (::connect(ToHandle(s), reinterpret_cast<const sockaddr *>(&sa), length) == 0)
    return 0;
  return Fail();
}

socket_t Accept(socket_t s, SocketAddress *peer) {
  sockaddr_storage sa{};
  int len = sizeof sa;
  const SOCKET c = ::accept(ToHandle(s), reinterpret_cast<sockaddr *>(&sa), &len);
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
  const int n = ::send(ToHandle(s), static_cast<const char *>(data), Length(length), 0);
  return n == SOCKET_ERROR ? Fail() : n;
}

long Receive(socket_t s, void *buffer, std::size_t size) {
  const int n = ::recv(ToHandle(s), static_cast<char *>(buffer), Length(size), 0);
  return n == SOCKET_ERROR ? Fail() : n;
}

int PeekData(socket_t s) {
  // Without waiting, whether or not the socket is in blocking mode.
  if (!WaitFor(s, false, 0))
    return Fail(WSAEWOULDBLOCK);
  char probe;
  const int n = ::recv(ToHandle(s), &probe, 1, MSG_PEEK);
  return n == SOCKET_ERROR ? Fail() : n > 0 ? 1 : 0;
}

bool WaitReadable(socket_t s, int timeoutMs) { return WaitFor(s, false, timeoutMs); }
bool WaitWritable(socket_t s, int timeoutMs) { return WaitFor(s, true, timeoutMs); }

bool ParseDotted(const std::string &text, std::uint32_t &address) {
  if (text.empty())
    return false;
  const unsigned long a = ::inet_addr(text.c_str());
  if (a == INADDR_NONE)
    return false;
  address = static_cast<std::uint32_t>(a);
  return true;
}

int LookupService(const std::string &name) {
  const servent *found = ::getservbyname(name.c_str(), "tcp");
  return found ? ntohs(static_cast<std::uint16_t>(found->s_port)) : -1;
}

} // namespace platform

// Sockets on POSIX systems: what differs from WinSock. The rest is in
// Socket.cpp.
#include "platform/Socket.h"

#include "platform/SocketNative.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>

namespace platform {

using native::FromNative;
using native::ToNative;

namespace {

int Fail(int err = errno) { return native::FailedWith(WinSockError(err)); }

} // namespace

int native::Failed() { return Fail(); }

int native::ResolverError(int result) {
  switch (result) {
  case EAI_AGAIN: return WSATRY_AGAIN;
  case EAI_FAIL: return WSANO_RECOVERY;
#ifdef EAI_NODATA
  case EAI_NODATA: return WSANO_DATA;
#endif
  default: return WSAHOST_NOT_FOUND;
  }
}

SocketSession::SocketSession() = default;
SocketSession::~SocketSession() = default;

int PendingSocketError(socket_t s) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
    err = errno;
  return WinSockError(err);
}

int WinSockError(int e) {
  switch (e) {
  case 0: return 0;
  case EINTR: return WSAEINTR;
  case EBADF: return WSAENOTSOCK;
  case EACCES: case EPERM: return WSAEACCES;
  case EFAULT: return WSAEFAULT;
  case EINVAL: return WSAEINVAL;
  case EMFILE: case ENFILE: return WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
  case EAGAIN:
#endif
  case EWOULDBLOCK: case EINPROGRESS: return WSAEWOULDBLOCK;
  case EALREADY: return WSAEALREADY;
  case ENOTSOCK: return WSAENOTSOCK;
  case EDESTADDRREQ: return WSAEDESTADDRREQ;
  case EMSGSIZE: return WSAEMSGSIZE;
  case EPROTOTYPE: return WSAEPROTOTYPE;
  case ENOPROTOOPT: return WSAENOPROTOOPT;
  case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
  case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
  case EOPNOTSUPP: return WSAEOPNOTSUPP;
  case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
  case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
  case EADDRINUSE: return WSAEADDRINUSE;
  case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
  case ENETDOWN: return WSAENETDOWN;
  case ENETUNREACH: return WSAENETUNREACH;
  case ENETRESET: return WSAENETRESET;
  case ECONNABORTED: return WSAECONNABORTED;
  case ECONNRESET: case EPIPE: return WSAECONNRESET;
  case ENOBUFS: case ENOMEM: return WSAENOBUFS;
  case EISCONN: return WSAEISCONN;
  case ENOTCONN: return WSAENOTCONN;
  case ESHUTDOWN: return WSAESHUTDOWN;
  case ETIMEDOUT: return WSAETIMEDOUT;
  case ECONNREFUSED: return WSAECONNREFUSED;
  case ELOOP: return WSAELOOP;
  case ENAMETOOLONG: return WSAENAMETOOLONG;
  case EHOSTDOWN: return WSAEHOSTDOWN;
  case EHOSTUNREACH: return WSAEHOSTUNREACH;
  default: return 10000 + e;
  }
}

socket_t CreateTcpSocket(SocketAddress::TFamily family) {
  const int s =
      ::socket(family == SocketAddress::V6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0)
    return Fail();
  SetLastSocketError(0);
  return s;
}

int CloseSocket(socket_t s) {
  // A close interrupted by a signal has released the descriptor on Linux;
  // retrying could close a descriptor that another part just received.
  if (::close(s) != 0 && errno != EINTR)
    return Fail();
  return 0;
}

int SetNonBlocking(socket_t s, bool on) {
  const int flags = ::fcntl(s, F_GETFL, 0);
  if (flags < 0)
    return Fail();
  const int wanted = on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  return ::fcntl(s, F_SETFL, wanted) == 0 ? 0 : Fail();
}

int SetReuseAddress(socket_t s, bool on) {
  return native::SetBoolOption(s, SOL_SOCKET, SO_REUSEADDR, on);
}

int Connect(socket_t s, const SocketAddress &address) {
  sockaddr_storage sa;
  const socklen_t length = ToNative(address, sa);
  if (::connect(s, reinterpret_cast<const sockaddr *>(&sa), length) == 0)
    return 0;
  if (errno != EINTR)
    return Fail();
  // An interrupted connect goes on in the background: wait for its outcome.
  pollfd p{s, POLLOUT, 0};
  while (::poll(&p, 1, -1) < 0)
    if (errno != EINTR)
      return Fail();
  int err = 0;
  socklen_t len = sizeof err;
  ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
  return err == 0 ? 0 : Fail(err);
}

socket_t Accept(socket_t s, SocketAddress *peer) {
  sockaddr_storage sa{};
  socklen_t len = sizeof sa;
  int c;
  do
    c = ::accept4(s, reinterpret_cast<sockaddr *>(&sa), &len, SOCK_CLOEXEC);
  while (c < 0 && errno == EINTR);
  if (c < 0)
    return Fail();
  if (peer)
    *peer = FromNative(reinterpret_cast<const sockaddr *>(&sa));
  return c;
}

long Send(socket_t s, const void *data, std::size_t length) {
  ssize_t n;
  do
    n = ::send(s, data, length, MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  return n < 0 ? Fail() : static_cast<long>(n);
}

long Receive(socket_t s, void *buffer, std::size_t size) {
  ssize_t n;
  do
    n = ::recv(s, buffer, size, 0);
  while (n < 0 && errno == EINTR);
  return n < 0 ? Fail() : static_cast<long>(n);
}

int PeekData(socket_t s) {
  char probe;
  ssize_t n;
  do
    n = ::recv(s, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  while (n < 0 && errno == EINTR);
  return n < 0 ? Fail() : n > 0 ? 1 : 0;
}

static bool WaitFor(socket_t s, short events, int timeoutMs) {
  pollfd p{s, events, 0};
  for (;;) {
    const int r = ::poll(&p, 1, timeoutMs);
    if (r >= 0)
      return r > 0;
    if (errno != EINTR)
      return true; // let the following receive report the failure
  }
}

bool WaitReadable(socket_t s, int timeoutMs) { return WaitFor(s, POLLIN, timeoutMs); }
bool WaitWritable(socket_t s, int timeoutMs) { return WaitFor(s, POLLOUT, timeoutMs); }

bool ParseDotted(const std::string &text, std::uint32_t &address) {
  in_addr a{};
  if (text.empty() || ::inet_aton(text.c_str(), &a) == 0 || a.s_addr == INADDR_NONE)
    return false;
  address = a.s_addr;
  return true;
}

int LookupService(const std::string &name) {
  servent result{};
  servent *found = nullptr;
  char buf[1024];
  if (::getservbyname_r(name.c_str(), "tcp", &result, buf, sizeof buf, &found) != 0 || !found)
    return -1;
  return ntohs(static_cast<std::uint16_t>(found->s_port));
}

} // namespace platform

#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/SocketNative.h"

namespace platform {

using native::FromNative;
using native::ToNative;

namespace {

thread_local int lastError = 0;

int Fail(int err = errno) {
  lastError = WinSockError(err);
  return -1;
}

bool SocketName(socket_t s, SocketAddress &address, bool peer) {
  sockaddr_storage sa{};
  socklen_t len = sizeof sa;
  auto *native = reinterpret_cast<sockaddr *>(&sa);
  if (s == InvalidSocket ||
      (peer ? ::getpeername(s, native, &len) : ::getsockname(s, native, &len)) != 0) {
    Fail();
    return false;
  }
  address = FromNative(native);
  return true;
}

} // namespace

SocketSession::SocketSession() = default;
SocketSession::~SocketSession() = default;

int LastSocketError() { return lastError; }

void SetLastSocketError(int winSockError) { lastError = winSockError; }

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
  lastError = 0;
  return s;
}

int CloseSocket(socket_t s) {
  // A close interrupted by a signal has released the descriptor on Linux;
  // retrying could close a descriptor that another part just received.
  if (::close(s) != 0 && errno != EINTR)
    return Fail();
  return 0;
}

int AbortSocket(socket_t s) {
  const linger l{1, 0};
  ::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  return CloseSocket(s);
}

int Shutdown(socket_t s, TShutdown how) {
  const int mode = how == TShutdown::Receive ? SHUT_RD
                   : how == TShutdown::Send  ? SHUT_WR
                                             : SHUT_RDWR;
  return ::shutdown(s, mode) == 0 ? 0 : Fail();
}

int SetNonBlocking(socket_t s, bool on) {
  const int flags = ::fcntl(s, F_GETFL, 0);
  if (flags < 0)
    return Fail();
  const int wanted = on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  return ::fcntl(s, F_SETFL, wanted) == 0 ? 0 : Fail();
}

static int SetBoolOption(socket_t s, int level, int option, bool on) {
  const int v = on ? 1 : 0;
  return ::setsockopt(s, level, option, &v, sizeof v) == 0 ? 0 : Fail();
}

int SetOobInline(socket_t s, bool on) { return SetBoolOption(s, SOL_SOCKET, SO_OOBINLINE, on); }
int SetReuseAddress(socket_t s, bool on) { return SetBoolOption(s, SOL_SOCKET, SO_REUSEADDR, on); }
int SetV6Only(socket_t s, bool on) { return SetBoolOption(s, IPPROTO_IPV6, IPV6_V6ONLY, on); }

int Connect(socket_t s, const SocketAddress &address) {
  sockaddr_storage sa;
  const auto length = static_cast<socklen_t>(ToNative(address, sa));
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

int Bind(socket_t s, const SocketAddress &address) {
  sockaddr_storage sa;
  const auto length = static_cast<socklen_t>(ToNative(address, sa));
  return ::bind(s, reinterpret_cast<const sockaddr *>(&sa), length) == 0 ? 0 : Fail();
}

int Listen(socket_t s, int backlog) { return ::listen(s, backlog) == 0 ? 0 : Fail(); }

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

int AbortiveClose(socket_t s) {
  const linger l{1, 0};
  ::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  return CloseSocket(s);
}

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
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) {
    switch (rc) {
    case EAI_AGAIN: error = WSATRY_AGAIN; break;
    case EAI_FAIL: error = WSANO_RECOVERY; break;
#ifdef EAI_NODATA
    case EAI_NODATA: error = WSANO_DATA; break;
#endif
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
  in_addr a{};
  if (text.empty() || ::inet_aton(text.c_str(), &a) == 0 || a.s_addr == INADDR_NONE)
    return false;
  address = a.s_addr;
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
  servent result{};
  servent *found = nullptr;
  char buf[1024];
  if (::getservbyname_r(name.c_str(), "tcp", &result, buf, sizeof buf, &found) != 0 || !found)
    return -1;
  return ntohs(static_cast<std::uint16_t>(found->s_port));
}

} // namespace platform

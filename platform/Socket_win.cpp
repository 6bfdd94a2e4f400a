// Sockets on Windows: WinSock 2, whose error numbers are the ones every
// system reports.
#include "platform/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>

namespace platform {

namespace {

thread_local int lastError = 0;

SOCKET Native(socket_t s) {
  return s == InvalidSocket ? INVALID_SOCKET : static_cast<SOCKET>(static_cast<unsigned>(s));
}

int Fail(int err = ::WSAGetLastError()) {
  lastError = err;
  return -1;
}

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = address;
  return sa;
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

socket_t CreateTcpSocket() {
  // Not inherited by programs the host starts, as close-on-exec elsewhere.
  const SOCKET s =
      ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
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

int Shutdown(socket_t s, int how) {
  const int mode = how == 0 ? SD_RECEIVE : how == 1 ? SD_SEND : SD_BOTH;
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

int Connect(socket_t s, std::uint32_t address, std::uint16_t port) {
  const sockaddr_in sa = MakeAddress(address, port);
  if (::connect(Native(s), reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0)
    return 0;
  return Fail();
}

int Bind(socket_t s, std::uint32_t address, std::uint16_t port) {
  const sockaddr_in sa = MakeAddress(address, port);
  return ::bind(Native(s), reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0 ? 0 : Fail();
}

int Listen(socket_t s, int backlog) { return ::listen(Native(s), backlog) == 0 ? 0 : Fail(); }

socket_t Accept(socket_t s, std::uint32_t *address, std::uint16_t *port) {
  sockaddr_in sa{};
  int len = sizeof sa;
  const SOCKET c = ::accept(Native(s), reinterpret_cast<sockaddr *>(&sa), &len);
  if (c == INVALID_SOCKET)
    return Fail();
  ::SetHandleInformation(reinterpret_cast<HANDLE>(c), HANDLE_FLAG_INHERIT, 0);
  // An accepted socket inherits the listener's asynchronous selection;
  // its owner selects what it wants itself.
  ::WSAAsyncSelect(c, nullptr, 0, 0);
  if (address)
    *address = sa.sin_addr.s_addr;
  if (port)
    *port = ntohs(sa.sin_port);
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

bool LocalName(socket_t s, std::uint32_t &address, std::uint16_t &port) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (s == InvalidSocket ||
      ::getsockname(Native(s), reinterpret_cast<sockaddr *>(&sa), &len) != 0) {
    Fail(s == InvalidSocket ? WSAENOTSOCK : ::WSAGetLastError());
    return false;
  }
  address = sa.sin_addr.s_addr;
  port = ntohs(sa.sin_port);
  return true;
}

bool PeerName(socket_t s, std::uint32_t &address, std::uint16_t &port) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (s == InvalidSocket ||
      ::getpeername(Native(s), reinterpret_cast<sockaddr *>(&sa), &len) != 0) {
    Fail(s == InvalidSocket ? WSAENOTSOCK : ::WSAGetLastError());
    return false;
  }
  address = sa.sin_addr.s_addr;
  port = ntohs(sa.sin_port);
  return true;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0)
    return {};
  return name;
}

bool LookupHost(const std::string &name, HostEntry &entry, int &error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
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
    if (a->ai_family == AF_INET) {
      const auto *sa = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
      bool seen = false;
      for (std::uint32_t x : entry.Addresses)
        seen = seen || x == sa->sin_addr.s_addr;
      if (!seen)
        entry.Addresses.push_back(sa->sin_addr.s_addr);
    }
  }
  ::freeaddrinfo(list);
  if (entry.OfficialName.empty())
    entry.OfficialName = name;
  error = entry.Addresses.empty() ? WSANO_DATA : 0;
  lastError = error;
  return error == 0;
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

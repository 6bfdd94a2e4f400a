#pragma once
// The operating system's sockets behind one thin interface. Every call
// retries on EINTR, never raises SIGPIPE, and reports failures with the
// WinSock error numbers (10035 would block, 10061 refused, ...) so that error
// texts and codes are the same on every system. Addresses are IPv4 or IPv6
// (SocketAddress); the calls that take an IPv4 address as a number keep it
// in network byte order. Ports are in host order.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A socket handle. On Windows a SOCKET travels as an int too: Windows keeps
// handle values within 32 bits, and INVALID_SOCKET becomes -1.
using socket_t = int;
constexpr socket_t InvalidSocket = -1;

// Holds the system's socket layer open while it lives (WinSock's
// WSAStartup and WSACleanup; nothing elsewhere). The library holds one from
// Init until it is unloaded, outlasting every socket; WinSock must not be
// started or ended while Windows loads or unloads a DLL.
class SocketSession {
public:
  SocketSession();
  ~SocketSession();
  SocketSession(const SocketSession &) = delete;
  SocketSession &operator=(const SocketSession &) = delete;

private:
  // Only WinSock is started and ended.
  [[maybe_unused]] bool started_ = false;
};

// WinSock error numbers used by the callers.
enum : int {
  WSAEINTR = 10004,
  WSAEBADF = 10009,
  WSAEACCES = 10013,
  WSAEFAULT = 10014,
  WSAEINVAL = 10022,
  WSAEMFILE = 10024,
  WSAEWOULDBLOCK = 10035,
  WSAEINPROGRESS = 10036,
  WSAEALREADY = 10037,
  WSAENOTSOCK = 10038,
  WSAEDESTADDRREQ = 10039,
  WSAEMSGSIZE = 10040,
  WSAEPROTOTYPE = 10041,
  WSAENOPROTOOPT = 10042,
  WSAEPROTONOSUPPORT = 10043,
  WSAESOCKTNOSUPPORT = 10044,
  WSAEOPNOTSUPP = 10045,
  WSAEPFNOSUPPORT = 10046,
  WSAEAFNOSUPPORT = 10047,
  WSAEADDRINUSE = 10048,
  WSAEADDRNOTAVAIL = 10049,
  WSAENETDOWN = 10050,
  WSAENETUNREACH = 10051,
  WSAENETRESET = 10052,
  WSAECONNABORTED = 10053,
  WSAECONNRESET = 10054,
  WSAENOBUFS = 10055,
  WSAEISCONN = 10056,
  WSAENOTCONN = 10057,
  WSAESHUTDOWN = 10058,
  WSAETIMEDOUT = 10060,
  WSAECONNREFUSED = 10061,
  WSAELOOP = 10062,
  WSAENAMETOOLONG = 10063,
  WSAEHOSTDOWN = 10064,
  WSAEHOSTUNREACH = 10065,
  WSAHOST_NOT_FOUND = 11001,
  WSATRY_AGAIN = 11002,
  WSANO_RECOVERY = 11003,
  WSANO_DATA = 11004,
};

// The WinSock number of the last failed call on this thread (0 after success
// of the calls below that set it).
int LastSocketError();
// An errno value as a WinSock number.
int WinSockError(int errnoValue);
// Sets what LastSocketError reports, for layers that detect a failure of
// their own.
void SetLastSocketError(int winSockError);
// The pending error of a socket (a non-blocking connect's outcome), as a
// WinSock number; 0 when there is none. Reading it clears it.
int PendingSocketError(socket_t s);

// An IPv4 or IPv6 address with its port.
struct SocketAddress {
  enum TFamily : std::uint8_t { None = 0, V4 = 4, V6 = 6 };
  TFamily Family = None;
  // V4: the first four bytes; V6: all sixteen. Network order.
  std::array<std::uint8_t, 16> Bytes{};
  std::uint16_t Port = 0;
  // The interface of a link-local IPv6 address (0: none).
  std::uint32_t ScopeId = 0;

  static SocketAddress FromV4(std::uint32_t networkOrder, std::uint16_t port = 0);
  // The unspecified address of a family (every interface).
  static SocketAddress Any(TFamily family, std::uint16_t port = 0);
  // An IPv6 address that carries an IPv4 one (::ffff:a.b.c.d).
  bool IsV4Mapped() const;
  // The IPv4 address (network order) of a V4 or an IPv4-mapped V6 one.
  std::uint32_t V4Address() const;
  // The same host, an IPv4-mapped address counting as its IPv4 one; ports
  // are not compared.
  bool SameHost(const SocketAddress &other) const;
};

// A numeric address: IPv4 as ParseDotted takes it, or IPv6 ("::1",
// "fe80::1%2"), without brackets. The port is left 0.
bool ParseAddress(const std::string &text, SocketAddress &address);
// The address alone: dotted IPv4, IPv6 as RFC 5952 writes it (an
// IPv4-mapped one as the dotted IPv4 address it carries).
std::string FormatAddress(const SocketAddress &address);
// "a.b.c.d:port" or "[v6]:port".
std::string FormatAddressPort(const SocketAddress &address);

// A new stream socket (close-on-exec) of the family, or InvalidSocket.
socket_t CreateTcpSocket(SocketAddress::TFamily family);
// A new IPv4 stream socket.
socket_t CreateTcpSocket();
int CloseSocket(socket_t s);
// Closes with a reset (linger time 0) instead of an orderly close: the peer
// sees a reset.
int AbortSocket(socket_t s);
// The direction a shutdown ends.
enum class TShutdown { Receive, Send, Both };
int Shutdown(socket_t s, TShutdown how);
int SetNonBlocking(socket_t s, bool on);
int SetOobInline(socket_t s, bool on);
int SetReuseAddress(socket_t s, bool on);
// An IPv6 socket that takes IPv4 peers too (off) or IPv6 ones alone (on).
int SetV6Only(socket_t s, bool on);

// 0 on success, -1 on failure (LastSocketError tells why; a non-blocking
// connect in progress fails with WSAEWOULDBLOCK).
int Connect(socket_t s, const SocketAddress &address);
int Bind(socket_t s, const SocketAddress &address);
int Connect(socket_t s, std::uint32_t address, std::uint16_t port);
int Bind(socket_t s, std::uint32_t address, std::uint16_t port);
int Listen(socket_t s, int backlog);
// The accepted socket (close-on-exec), or InvalidSocket.
socket_t Accept(socket_t s, SocketAddress *peer = nullptr);

// Bytes sent or received, or -1. Receive returns 0 at the peer's orderly close.
long Send(socket_t s, const void *data, std::size_t length);
long Receive(socket_t s, void *buffer, std::size_t size);
// Looks without taking or waiting: 1 when data waits, 0 at the peer's
// orderly close, -1 otherwise (WSAEWOULDBLOCK: nothing has come yet).
int PeekData(socket_t s);
// Wait until s is readable (or closed) or writable; false on time-out. -1
// waits for ever.
bool WaitReadable(socket_t s, int timeoutMs);
bool WaitWritable(socket_t s, int timeoutMs);

bool LocalName(socket_t s, SocketAddress &address);
bool PeerName(socket_t s, SocketAddress &address);
// The IPv4 forms; an IPv6 end gives its IPv4-mapped address, else 0.
bool LocalName(socket_t s, std::uint32_t &address, std::uint16_t &port);
bool PeerName(socket_t s, std::uint32_t &address, std::uint16_t &port);

// The local host name; empty when the system has none.
std::string HostName();
struct HostEntry {
  std::string OfficialName;
  // Every address of the name, IPv6 and IPv4, in the order the system
  // prefers them (ports 0).
  std::vector<SocketAddress> All;
  // The IPv4 ones among them.
  std::vector<std::uint32_t> Addresses;
  // Adds an address not yet listed.
  void Add(const SocketAddress &address);
};
// Name-service look-up; false with a WinSock number in error (11001 host
// not found, ...) when the name has no address.
bool LookupHost(const std::string &name, HostEntry &entry, int &error);
// Dotted decimal text to an address; false for anything else. Like
// inet_addr, 255.255.255.255 is refused.
bool ParseDotted(const std::string &text, std::uint32_t &address);
// A service name (for TCP) to its port; -1 when unknown.
int LookupService(const std::string &name);

} // namespace platform

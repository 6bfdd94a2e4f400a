#pragma once
// What the socket files of every system share below the interface: the
// system's socket headers, its handle and length types, SocketAddress to
// and from the sockaddr structures (which POSIX and WinSock lay out alike),
// and the few primitives each system's file supplies. Included by the
// socket files of platform/ alone.
#include "platform/Socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstring>

namespace platform::native {

#ifdef _WIN32
using Handle = SOCKET;
inline Handle ToHandle(socket_t s) {
  return s == InvalidSocket ? INVALID_SOCKET : static_cast<SOCKET>(static_cast<unsigned>(s));
}
constexpr int ShutReceive = SD_RECEIVE, ShutSend = SD_SEND, ShutBoth = SD_BOTH;
#else
using Handle = int;
inline Handle ToHandle(socket_t s) { return s; }
constexpr int ShutReceive = SHUT_RD, ShutSend = SHUT_WR, ShutBoth = SHUT_RDWR;
#endif

// Each system's file: the failure of the socket call just made, kept for
// LastSocketError as its WinSock number; returns -1.
int Failed();
// Each system's file: a failed getaddrinfo's result as a WinSock number
// (11001 not found, ...).
int ResolverError(int result);
// A failure found without a system call; returns -1.
inline int FailedWith(int winSockError) {
  SetLastSocketError(winSockError);
  return -1;
}
int SetBoolOption(socket_t s, int level, int option, bool on);

// Fills storage with a; returns the length of the structure filled.
inline socklen_t ToNative(const SocketAddress &a, sockaddr_storage &storage) {
  storage = {};
  if (a.Family == SocketAddress::V6) {
    auto &sa = reinterpret_cast<sockaddr_in6 &>(storage);
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(a.Port);
    std::memcpy(&sa.sin6_addr, a.Bytes.data(), 16);
    sa.sin6_scope_id = a.ScopeId;
    return sizeof sa;
  }
  auto &sa = reinterpret_cast<sockaddr_in &>(storage);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(a.Port);
  std::memcpy(&sa.sin_addr, a.Bytes.data(), 4);
  return sizeof sa;
}

// An address of another family gives the empty SocketAddress.
inline SocketAddress FromNative(const sockaddr *native) {
  SocketAddress a;
  if (native->sa_family == AF_INET6) {
    const auto *sa = reinterpret_cast<const sockaddr_in6 *>(native);
    a.Family = SocketAddress::V6;
    std::memcpy(a.Bytes.data(), &sa->sin6_addr, 16);
    a.Port = ntohs(sa->sin6_port);
    a.ScopeId = sa->sin6_scope_id;
  } else if (native->sa_family == AF_INET) {
    const auto *sa = reinterpret_cast<const sockaddr_in *>(native);
    a.Family = SocketAddress::V4;
    std::memcpy(a.Bytes.data(), &sa->sin_addr, 4);
    a.Port = ntohs(sa->sin_port);
  }
  return a;
}

} // namespace platform::native

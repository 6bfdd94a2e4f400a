#pragma once
// SocketAddress to and from the system's sockaddr structures, which POSIX
// and WinSock lay out alike. Included by the platform's socket file after
// its system headers (sockaddr_in6, htons); nothing else includes it.
#include "platform/Socket.h"

#include <cstring>

namespace platform::native {

// Fills storage with a; returns the length of the structure filled.
inline int ToNative(const SocketAddress &a, sockaddr_storage &storage) {
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

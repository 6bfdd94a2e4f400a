#pragma once
// The one owner of a socket handle: it closes the socket when it goes, and
// moving it hands the socket on, so a handle can be neither closed twice nor
// left open by an early return.
#include "platform/Socket.h"

#include <utility>

namespace platform {

class SocketHolder {
public:
  SocketHolder() = default;
  explicit SocketHolder(socket_t s) noexcept : s_(s) {}
  ~SocketHolder() { Reset(); }
  SocketHolder(SocketHolder &&other) noexcept : s_(other.Release()) {}
  SocketHolder &operator=(SocketHolder &&other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  SocketHolder(const SocketHolder &) = delete;
  SocketHolder &operator=(const SocketHolder &) = delete;

  socket_t Get() const { return s_; }
  bool IsOpen() const { return s_ != InvalidSocket; }
  // Closes the socket held (a failure is not reported: the handle is
  // given up either way) and holds s instead.
  void Reset(socket_t s = InvalidSocket) noexcept {
    if (s_ != InvalidSocket)
      (void)CloseSocket(s_);
    s_ = s;
  }
  // Gives up the socket without closing it.
  socket_t Release() noexcept { return std::exchange(s_, InvalidSocket); }

private:
  socket_t s_ = InvalidSocket;
};

} // namespace platform

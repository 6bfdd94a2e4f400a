#pragma once
// Real loopback peers for the asynchronous socket tests: plain blocking
// sockets driven from the test's own thread, and a pump that runs the
// notification loop until a condition holds.
#include "platform/NotificationLoop.h"
#include "platform/Socket.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace testpeer {

// The error of a send on an end shut for sending: EPIPE, which reads as a
// reset, here; WSAESHUTDOWN on Windows.
#ifdef _WIN32
constexpr int SendAfterShutdown = 10058;
#else
constexpr int SendAfterShutdown = 10054;
#endif

inline std::uint32_t Loopback() {
  std::uint32_t a = 0;
  platform::ParseDotted("127.0.0.1", a);
  return a;
}

// A loopback port that refuses connections for as long as this lives: a
// socket bound to it that never listens. A port found free and let go again
// could be taken meanwhile by a test running beside this one.
class RefusingPort {
public:
  RefusingPort() : s_(platform::CreateTcpSocket()) {
    std::uint32_t a = 0;
    if (platform::Bind(s_, Loopback(), 0) != 0 || !platform::LocalName(s_, a, port_))
      ADD_FAILURE() << "no port to refuse: " << platform::LastSocketError();
  }
  ~RefusingPort() { platform::CloseSocket(s_); }
  RefusingPort(const RefusingPort &) = delete;
  RefusingPort &operator=(const RefusingPort &) = delete;
  std::uint16_t Port() const { return port_; }
  std::string Text() const { return std::to_string(port_); }

private:
  platform::socket_t s_;
  std::uint16_t port_ = 0;
};

// Runs the loop until done() or the time is up; true when done.
inline bool Pump(const std::function<int(int)> &process, const std::function<bool()> &done,
                 int timeoutMs = 3000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end)
      return false;
    process(10);
  }
  return true;
}

class Peer {
public:
  Peer() = default;
  explicit Peer(std::uint16_t port) { Connect(port); }
  ~Peer() { Close(); }
  Peer(const Peer &) = delete;
  Peer &operator=(const Peer &) = delete;
  Peer(Peer &&o) noexcept : s_(o.s_) { o.s_ = platform::InvalidSocket; }

  bool Connect(std::uint16_t port) {
    s_ = platform::CreateTcpSocket();
    return platform::Connect(s_, Loopback(), port) == 0;
  }
  // The same over IPv6, to ::1.
  bool ConnectV6(std::uint16_t port) {
    platform::SocketAddress a;
    platform::ParseAddress("::1", a);
    a.Port = port;
    s_ = platform::CreateTcpSocket(platform::SocketAddress::V6);
    return platform::Connect(s_, a) == 0;
  }
  void Send(const std::string &text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
      const long n = platform::Send(s_, text.data() + sent, text.size() - sent);
      ASSERT_GT(n, 0) << "send failed: " << platform::LastSocketError();
      sent += static_cast<std::size_t>(n);
    }
  }
  // What has arrived, waiting up to timeoutMs for the first byte while the
  // loop runs (the library may still have to send it).
  std::string Receive(const std::function<int(int)> &process, int timeoutMs = 2000) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      process(0);
      if (platform::WaitReadable(s_, 5)) {
        char buf[65536];
        const long n = platform::Receive(s_, buf, sizeof buf);
        if (n <= 0)
          return got;
        got.append(buf, static_cast<std::size_t>(n));
        if (!platform::WaitReadable(s_, 20))
          return got;
      }
    }
    return got;
  }
  // Reads until `length` bytes arrived or the time is up.
  std::string ReceiveExactly(const std::function<int(int)> &process, std::size_t length,
                             int timeoutMs = 5000) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < length && std::chrono::steady_clock::now() < end) {
      process(0);
      if (platform::WaitReadable(s_, 5)) {
        char buf[65536];
        const long n = platform::Receive(s_, buf, sizeof buf);
        if (n <= 0)
          break;
        got.append(buf, static_cast<std::size_t>(n));
      }
    }
    return got;
  }
  // True when the peer's side has been closed (end of stream).
  bool SeesClose(const std::function<int(int)> &process, int timeoutMs = 2000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      process(0);
      if (platform::WaitReadable(s_, 5)) {
        char buf[4096];
        const long n = platform::Receive(s_, buf, sizeof buf);
        if (n <= 0)
          return true;
      }
    }
    return false;
  }
  void ShutdownSend() { platform::Shutdown(s_, platform::TShutdown::Send); }
  // Closes with a reset instead of an orderly close.
  void Reset() {
    platform::AbortSocket(s_);
    s_ = platform::InvalidSocket;
  }
  void Close() {
    if (s_ != platform::InvalidSocket)
      platform::CloseSocket(s_);
    s_ = platform::InvalidSocket;
  }
  std::uint16_t LocalPort() const {
    std::uint32_t a;
    std::uint16_t p = 0;
    platform::LocalName(s_, a, p);
    return p;
  }
  platform::socket_t Handle() const { return s_; }

private:
  platform::socket_t s_ = platform::InvalidSocket;
};

} // namespace testpeer

#pragma once
// A scripted server on a loopback port for fault tests: the test queues the
// steps of a dialogue (send this, read a line, close, reset, trickle, ...),
// runs the client against Port(), then checks what the client sent. Each step
// waits at most a few seconds, so a client that misbehaves fails the test
// instead of hanging it.
#include "platform/Socket.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeServer {
public:
  // On 127.0.0.1, or on ::1 for V6.
  explicit FakeServer(platform::SocketAddress::TFamily family = platform::SocketAddress::V4);
  ~FakeServer();
  FakeServer(const FakeServer &) = delete;
  FakeServer &operator=(const FakeServer &) = delete;

  std::uint16_t Port() const { return port_; }
  std::string Address() const {
    return (v6_ ? "[::1]:" : "127.0.0.1:") + std::to_string(port_);
  }

  // Steps, run in order on a thread once Start is called. The first Accept
  // is implicit.
  FakeServer &Accept();
  FakeServer &Send(std::string bytes);
  // One byte per send, with a short pause between them.
  FakeServer &Trickle(std::string bytes);
  // One byte per send, pause between them: a peer that keeps every wait
  // short and moves next to nothing. Ends early once the client has gone.
  FakeServer &Drip(std::string bytes, std::chrono::milliseconds pause);
  // Reads one line (up to LF, CR LF dropped) and records it.
  FakeServer &ReadLine();
  // Reads lines until one equals the given text (recorded too).
  FakeServer &ReadLinesUntil(std::string last);
  FakeServer &ReadBytes(std::size_t count);
  // Records everything up to the client's close.
  FakeServer &ReadUntilClose();
  // Sends the given number of bytes without any line end.
  FakeServer &SendEndless(std::size_t count, char fill = 'x');
  FakeServer &Close();
  FakeServer &Reset();
  // A step of the test's own on the current connection.
  FakeServer &Do(std::function<void(platform::socket_t)> step);

  void Start();
  // Shuts the current connection down from the test's thread: a client that
  // outlasted its limits sees the end and returns.
  void Shutdown();
  // Waits for the script to end; true when every step ran.
  bool Join();

  // What the client sent: the lines read by ReadLine steps, and all bytes.
  std::vector<std::string> Lines() const;
  std::string Bytes() const;

private:
  using Step = std::function<bool()>;
  FakeServer &Add(Step step);
  bool ReadByte(char &c);
  void DropUnread();

  platform::socket_t listener_ = platform::InvalidSocket;
  std::atomic<platform::socket_t> conn_ = platform::InvalidSocket;
  std::uint16_t port_ = 0;
  bool v6_ = false;
  std::vector<Step> steps_;
  std::thread thread_;
  bool ok_ = false;
  bool joined_ = false;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::string bytes_;
  // Received and not yet taken by a step. Reading a byte at a time with a
  // wait before each costs two system calls a byte, which under Wine is
  // slower than a client sends a large message.
  std::string unread_;
  std::size_t unreadAt_ = 0;
};

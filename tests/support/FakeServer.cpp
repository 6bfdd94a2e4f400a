#include "support/FakeServer.h"

#include <chrono>

namespace {
constexpr int StepTimeoutMs = 5000;
} // namespace

FakeServer::FakeServer(platform::SocketAddress::TFamily family)
    : v6_(family == platform::SocketAddress::V6) {
  listener_ = platform::CreateTcpSocket(family);
  platform::SetReuseAddress(listener_, true);
  platform::SocketAddress address;
  platform::ParseAddress(v6_ ? "::1" : "127.0.0.1", address);
  platform::Bind(listener_, address);
  platform::Listen(listener_, 8);
  platform::LocalName(listener_, address);
  port_ = address.Port;
}

FakeServer::~FakeServer() {
  Join();
  if (conn_ != platform::InvalidSocket)
    platform::CloseSocket(conn_);
  if (listener_ != platform::InvalidSocket)
    platform::CloseSocket(listener_);
}

FakeServer &FakeServer::Add(Step step) {
  steps_.push_back(std::move(step));
  return *this;
}

FakeServer &FakeServer::Accept() {
  return Add([this] {
    if (!platform::WaitReadable(listener_, StepTimeoutMs))
      return false;
    if (conn_ != platform::InvalidSocket)
      platform::CloseSocket(conn_);
    DropUnread();
    conn_ = platform::Accept(listener_);
    return conn_ != platform::InvalidSocket;
  });
}

FakeServer &FakeServer::Send(std::string bytes) {
  return Add([this, bytes = std::move(bytes)] {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const long n = platform::Send(conn_, bytes.data() + done, bytes.size() - done);
      if (n <= 0)
        return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  });
}

FakeServer &FakeServer::Trickle(std::string bytes) {
  return Add([this, bytes = std::move(bytes)] {
    for (char c : bytes) {
      if (platform::Send(conn_, &c, 1) != 1)
        return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  });
}

FakeServer &FakeServer::Drip(std::string bytes, std::chrono::milliseconds pause) {
  return Add([this, bytes = std::move(bytes), pause] {
    for (char c : bytes) {
      if (platform::Send(conn_, &c, 1) != 1)
        return true;
      std::this_thread::sleep_for(pause);
    }
    return true;
  });
}

void FakeServer::Shutdown() { platform::Shutdown(conn_, platform::TShutdown::Both); }

bool FakeServer::ReadByte(char &c) {
  if (unreadAt_ == unread_.size()) {
    char buf[4096];
    if (!platform::WaitReadable(conn_, StepTimeoutMs))
      return false;
    const long n = platform::Receive(conn_, buf, sizeof buf);
    if (n <= 0)
      return false;
    unread_.assign(buf, static_cast<std::size_t>(n));
    unreadAt_ = 0;
  }
  c = unread_[unreadAt_++];
  std::lock_guard lock(mutex_);
  bytes_.push_back(c);
  return true;
}

FakeServer &FakeServer::ReadLine() {
  return Add([this] {
    std::string line;
    char c;
    while (ReadByte(c)) {
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r')
          line.pop_back();
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
        return true;
      }
      line.push_back(c);
    }
    return false;
  });
}

FakeServer &FakeServer::ReadLinesUntil(std::string last) {
  return Add([this, last = std::move(last)] {
    for (;;) {
      std::string line;
      char c;
      bool gotLine = false;
      while (ReadByte(c)) {
        if (c == '\n') {
          gotLine = true;
          break;
        }
        line.push_back(c);
      }
      if (!gotLine)
        return false;
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
      }
      if (line == last)
        return true;
    }
  });
}

FakeServer &FakeServer::ReadBytes(std::size_t count) {
  return Add([this, count] {
    char c;
    for (std::size_t i = 0; i < count; ++i)
      if (!ReadByte(c))
        return false;
    return true;
  });
}

FakeServer &FakeServer::ReadUntilClose() {
  return Add([this] {
    {
      std::lock_guard lock(mutex_);
      bytes_.append(unread_, unreadAt_);
    }
    DropUnread();
    char buf[4096];
    for (;;) {
      if (!platform::WaitReadable(conn_, StepTimeoutMs))
        return false;
      const long n = platform::Receive(conn_, buf, sizeof buf);
      if (n <= 0)
        return n == 0;
      std::lock_guard lock(mutex_);
      bytes_.append(buf, static_cast<std::size_t>(n));
    }
  });
}

FakeServer &FakeServer::SendEndless(std::size_t count, char fill) {
  return Add([this, count, fill] {
    const std::string chunk(65536, fill);
    std::size_t sent = 0;
    while (sent < count) {
      const long n = platform::Send(conn_, chunk.data(), std::min(chunk.size(), count - sent));
      if (n <= 0)
        return true; // the client gave up reading, as it should
      sent += static_cast<std::size_t>(n);
    }
    return true;
  });
}

FakeServer &FakeServer::Close() {
  return Add([this] {
    DropUnread();
    platform::CloseSocket(conn_);
    conn_ = platform::InvalidSocket;
    return true;
  });
}

FakeServer &FakeServer::Reset() {
  return Add([this] {
    DropUnread();
    platform::AbortSocket(conn_);
    conn_ = platform::InvalidSocket;
    return true;
  });
}

FakeServer &FakeServer::Do(std::function<void(platform::socket_t)> step) {
  return Add([this, step = std::move(step)] {
    step(conn_);
    return true;
  });
}

void FakeServer::DropUnread() {
  unread_.clear();
  unreadAt_ = 0;
}

void FakeServer::Start() {
  steps_.insert(steps_.begin(), [this] {
    if (!platform::WaitReadable(listener_, StepTimeoutMs))
      return false;
    conn_ = platform::Accept(listener_);
    return conn_ != platform::InvalidSocket;
  });
  thread_ = std::thread([this] {
    bool ok = true;
    for (auto &step : steps_)
      if (!(ok = step()))
        break;
    ok_ = ok;
  });
}

bool FakeServer::Join() {
  if (thread_.joinable())
    thread_.join();
  return ok_;
}

std::vector<std::string> FakeServer::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::string FakeServer::Bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

#include "support/HttpPeer.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr auto Patience = std::chrono::seconds(10);

} // namespace

HttpPeer::HttpPeer(std::string body) : body_(std::move(body)) {
  listener_ = platform::CreateTcpSocket(platform::SocketAddress::V4);
  platform::SetReuseAddress(listener_, true);
  platform::SocketAddress address;
  platform::ParseAddress("127.0.0.1", address);
  platform::Bind(listener_, address);
  platform::Listen(listener_, 64);
  platform::LocalName(listener_, address);
  port_ = address.Port;
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

HttpPeer::~HttpPeer() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    // Ends the reads and the stalls of every connection still open.
    for (const platform::socket_t s : sockets_)
      platform::Shutdown(s, platform::TShutdown::Both);
  }
  changed_.notify_all();
  acceptor_.join();
  for (std::thread &t : servers_)
    t.join();
  platform::CloseSocket(listener_);
}

void HttpPeer::Stall(bool on) {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stall_ = on;
  }
  changed_.notify_all();
}

void HttpPeer::HoldUntilOpen(int count) {
  const std::lock_guard<std::mutex> hold(lock_);
  holdUntil_ = count;
}

bool HttpPeer::WaitForRequests(int count) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, Patience, [&] { return requests_ >= count; });
}

int HttpPeer::MostOpenAtOnce() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return mostOpen_;
}

int HttpPeer::Requests() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return requests_;
}

void HttpPeer::AcceptLoop() {
  for (;;) {
    // A short wait, so that the destructor is seen soon.
    if (!platform::WaitReadable(listener_, 20)) {
      const std::lock_guard<std::mutex> hold(lock_);
      if (stopping_)
        return;
      continue;
    }
    const platform::socket_t s = platform::Accept(listener_);
    if (s == platform::InvalidSocket)
      continue;
    const std::lock_guard<std::mutex> hold(lock_);
    if (stopping_) {
      platform::CloseSocket(s);
      return;
    }
    sockets_.push_back(s);
    // A connection the client has closed shows its end by now: the close
    // went out before the connect that brought this one.
    std::erase_if(open_, [](platform::socket_t c) {
      const int peek = platform::PeekData(c);
      return peek == 0 || (peek < 0 && platform::LastSocketError() != platform::WSAEWOULDBLOCK);
    });
    open_.push_back(s);
    mostOpen_ = std::max(mostOpen_, static_cast<int>(open_.size()));
    changed_.notify_all();
    servers_.emplace_back([this, s] { Serve(s); });
  }
}

void HttpPeer::Serve(platform::socket_t s) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const long n = platform::Receive(s, buffer, sizeof buffer);
    if (n <= 0)
      break;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  std::unique_lock<std::mutex> hold(lock_);
  ++requests_;
  changed_.notify_all();
  if (stall_)
    changed_.wait(hold, [this] { return stopping_ || !stall_; });
  else
    changed_.wait_for(hold, Patience, [this] { return stopping_ || mostOpen_ >= holdUntil_; });
  const bool answer = !stopping_ && !stall_;
  hold.unlock();
  if (answer) {
    const bool head = request.rfind("HEAD ", 0) == 0;
    std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body_.size()) +
                        "\r\n\r\n" + (head ? std::string() : body_);
    // In pieces, waiting when the socket is full: Wine's send of megabytes
    // at once may take part and refuse the rest as if it would block.
    for (std::size_t at = 0; at < reply.size();) {
      const long n = platform::Send(s, reply.data() + at, std::min<std::size_t>(reply.size() - at, 65536));
      if (n > 0) {
        at += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && platform::LastSocketError() == platform::WSAEWOULDBLOCK &&
          platform::WaitWritable(s, 5000))
        continue;
      break;
    }
    // The end of the answer, then the client's close: a close with data
    // still on its way may reset the connection (under Wine it does).
    platform::Shutdown(s, platform::TShutdown::Send);
    while (platform::Receive(s, buffer, sizeof buffer) > 0) {
    }
  }
  hold.lock();
  std::erase(sockets_, s);
  std::erase(open_, s);
  changed_.notify_all();
  hold.unlock();
  platform::CloseSocket(s);
}

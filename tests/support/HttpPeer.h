#pragma once
// A loopback HTTP/1.0 server for the background job tests, which need many
// connections at once: every connection gets a thread that reads one request
// and answers it with a fixed body (no body for HEAD) and closes, or, while
// stalling, holds the connection open and answers nothing (what came after
// the request's header, a body, stays unread). It counts the
// connections the client holds open at once: one counts from its accept
// until the client has closed it (seen at the next accept) or the server
// closes it, whichever comes first.
#include "platform/Socket.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class HttpPeer {
public:
  explicit HttpPeer(std::string body);
  // Closes what is open and joins every thread.
  ~HttpPeer();
  HttpPeer(const HttpPeer &) = delete;
  HttpPeer &operator=(const HttpPeer &) = delete;

  std::string Url(const std::string &path = "/file") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  // On: requests from now on get no answer; off again: those held are
  // answered.
  void Stall(bool on);
  // Answers wait until this many connections have been open at once (or a
  // few seconds pass), so that jobs meant to overlap do.
  void HoldUntilOpen(int count);
  // Waits up to a few seconds until this many requests have come in.
  bool WaitForRequests(int count);
  int MostOpenAtOnce() const;
  int Requests() const;

private:
  void AcceptLoop();
  void Serve(platform::socket_t s);

  std::string body_;
  platform::socket_t listener_ = platform::InvalidSocket;
  std::uint16_t port_ = 0;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool stopping_ = false;
  bool stall_ = false;
  int holdUntil_ = 0;
  int mostOpen_ = 0;
  // Accepted and not known to be closed by the client.
  std::vector<platform::socket_t> open_;
  int requests_ = 0;
  std::vector<platform::socket_t> sockets_;
  std::thread acceptor_;
  std::vector<std::thread> servers_;
};

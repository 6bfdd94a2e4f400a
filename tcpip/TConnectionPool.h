#pragma once
// Connections kept open between requests, each under the key of what it
// reaches (scheme, host, port, proxy, trust settings), so that the next
// request there saves the connect and the TLS handshake. A connection idle
// for longer than IdleMs is closed when the pool is next used; the oldest
// goes when more than MaxKept would be kept.
#include "tcpip/TConnection.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

class TConnectionPool {
public:
  static constexpr int IdleMs = 60000;
  static constexpr std::size_t MaxKept = 4;

  TConnectionPool() = default;
  // A copy of a client (a background job's) opens connections of its own:
  // a kept connection serves one client, on one thread, at a time.
  TConnectionPool(const TConnectionPool &) {}
  TConnectionPool &operator=(const TConnectionPool &) = delete;

  // Moves the connection kept under key into conn, when there is one that
  // is still idle (see TConnection::Idle); false otherwise.
  bool Take(const std::string &key, TConnection &conn);
  void Put(std::string key, TConnection conn);
  // Closes every kept connection.
  void Clear() { kept_.clear(); }
  std::size_t Size() const { return kept_.size(); }

private:
  using TClock = std::chrono::steady_clock;
  struct TKept {
    std::string Key;
    TConnection Conn;
    TClock::time_point Since;
  };
  void CloseExpired();
  std::vector<TKept> kept_;
};

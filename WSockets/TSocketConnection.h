#pragma once
// One connection of the asynchronous sockets: one a server accepted, or the
// client's. It owns its socket and everything kept for it: the output the
// peer has not taken yet, the received text its owner has not framed yet,
// whether its output failed, and the peer's address and port as they were
// when it began, so that a close after a reset still names the peer.
#include "platform/SocketHolder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

class TSocketConnection {
public:
  // Takes socket only once nothing else can fail: a constructor that
  // throws leaves it with the caller.
  TSocketConnection(platform::SocketHolder &&socket, std::uint64_t serial)
      : Peer{{}, {}, std::to_string(socket.Get())}, socket_(std::move(socket)), serial_(serial) {}
  TSocketConnection(const TSocketConnection &) = delete;
  TSocketConnection &operator=(const TSocketConnection &) = delete;

  platform::socket_t Handle() const { return socket_.Get(); }
  // Unlike the handle, which the system gives out again once it is closed,
  // never the same for two connections of one socket object.
  std::uint64_t Serial() const { return serial_; }

  // How reports name the connection: the peer's address and port as texts
  // (empty until known), and the connection's id, its handle in decimal.
  struct TPeer {
    std::string Address, Port, Id;
  };
  TPeer Peer;
  // Received text its owner keeps until it is complete (the relay's
  // unterminated message).
  std::string Input;

  // Bytes accepted for sending and not yet handed to the system.
  std::size_t Queued() const { return output_.size() - sent_; }
  // Its output failed (a send, or a cap): it takes no more, and closes.
  bool Failed() const { return failed_; }

private:
  friend class TCustomWSocket;

  platform::SocketHolder socket_;
  const std::uint64_t serial_;
  std::string output_;
  std::size_t sent_ = 0;
  // What output_ counts for in the owner's total.
  std::size_t counted_ = 0;
  bool waitingForWrite_ = false;
  // Its queue waits for the owner's ReleaseOutput.
  bool outputHeld_ = false;
  // A read notification came while reading was held.
  bool readWaiting_ = false;
  bool failed_ = false;
};

#pragma once
// Stops a client's work from another thread (a background job's). Cancel
// sets the flag and shuts down every socket the client's connections hold,
// so that a wait on a stalled peer returns at once; the connections look at
// the flag before every connect and during every wait, and raise
// ECancelled. One lock guards the sockets: a connection lets go of its
// socket under it before closing it, so a cancel never reaches a number the
// system has given out again.
#include "platform/Socket.h"
#include "platform/SocketHolder.h"
#include "tcpip/ETcpIpError.h"

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

class ECancelled : public ETcpIpError {
public:
  ECancelled() : ETcpIpError("Cancelled") {}
};

class TCancel {
public:
  // From any thread.
  void Cancel();
  bool Cancelled() const { return cancelled_.load(); }
  // Raises ECancelled once Cancel was called.
  void Check() const {
    if (Cancelled())
      throw ECancelled();
  }

  // For the connections: a socket opened (shut down at once when the work
  // is cancelled already), a socket about to be closed or given up.
  void Opened(platform::socket_t s);
  void Forget(platform::socket_t s);

private:
  std::mutex lock_;
  std::vector<platform::socket_t> sockets_;
  std::atomic<bool> cancelled_{false};
};

// A connection's socket, known to its owner's canceller while it is open
// (the owner's, through a pointer the owner may set later). Used as
// platform::SocketHolder is.
class TCancellableSocket {
public:
  TCancellableSocket() = default;
  explicit TCancellableSocket(platform::socket_t s) noexcept : held_(s) {}
  ~TCancellableSocket() { Reset(); }
  TCancellableSocket(TCancellableSocket &&other) noexcept
      : held_(std::move(other.held_)), source_(other.source_),
        registered_(std::exchange(other.registered_, nullptr)) {}
  TCancellableSocket &operator=(TCancellableSocket &&other) noexcept {
    if (this != &other) {
      Reset();
      held_ = std::move(other.held_);
      source_ = other.source_;
      registered_ = std::exchange(other.registered_, nullptr);
    }
    return *this;
  }

  platform::socket_t Get() const { return held_.Get(); }
  bool IsOpen() const { return held_.IsOpen(); }
  void Reset(platform::socket_t s = platform::InvalidSocket) noexcept {
    Unregister();
    held_.Reset(s);
    Register();
  }
  platform::socket_t Release() noexcept {
    Unregister();
    return held_.Release();
  }

  // Where the canceller is to be found; an open socket is made known to it.
  void SetCancel(TCancel *const *source) {
    source_ = source;
    Register();
  }
  TCancel *const *CancelSource() const { return source_; }
  TCancel *Canceller() const { return source_ ? *source_ : nullptr; }

private:
  void Register() noexcept {
    TCancel *cancel = Canceller();
    if (!held_.IsOpen() || !cancel || registered_ == cancel)
      return;
    Unregister();
    cancel->Opened(held_.Get());
    registered_ = cancel;
  }
  void Unregister() noexcept {
    if (registered_)
      std::exchange(registered_, nullptr)->Forget(held_.Get());
  }

  platform::SocketHolder held_;
  TCancel *const *source_ = nullptr;
  // The canceller that knows the socket now.
  TCancel *registered_ = nullptr;
};

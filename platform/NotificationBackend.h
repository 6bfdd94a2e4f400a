#pragma once
// The system's half of the notification loop: a few calls that watch sockets
// for readiness and report what they find. NotificationLoop.cpp turns the
// reports into notifications under WinSock's rules; each system supplies one
// back end beside it (epoll on Linux), so the rules are written once.
#include "platform/Socket.h"

#include <cstdint>

namespace platform::notify {

// What a socket is watched for.
enum : std::uint32_t {
  WatchRead = 1,  // data, a waiting connection, or the peer's close
  WatchWrite = 2, // room to send, or a connect's outcome
};

// What a report says; several may come together.
enum : std::uint32_t {
  Readable = 1,
  Writable = 2,
  PeerClosed = 4, // the peer will send nothing more
  Failed = 8,     // reset, in error or hung up: nothing more either way
};

// Where a back end hands what it found. A back end whose system delivers on
// its own (a window procedure run by the host's message loop) calls these
// from there; others from Wait.
class ReadinessSink {
public:
  // Wake was called: queued notifications wait for delivery.
  virtual void DeliverPosted() = 0;
  // The socket added under key is ready as ready says.
  virtual void DeliverReady(std::uint64_t key, std::uint32_t ready) = 0;

protected:
  ~ReadinessSink() = default;
};

struct Backend;

// A back end reporting to sink, or nullptr with LastSocketError set when the
// system refuses one.
Backend *Create(ReadinessSink &sink);
void Free(Backend *b);
// Starts or changes watching s; reports then carry key. 0, or -1 with
// LastSocketError set.
int Add(Backend &b, socket_t s, std::uint64_t key, std::uint32_t watch);
int Modify(Backend &b, socket_t s, std::uint64_t key, std::uint32_t watch);
// Nothing more is reported for s (failures ignored: s may be closed already).
void Delete(Backend &b, socket_t s);
// Waits up to timeoutMs (-1: for ever, 0: not at all) for readiness or a
// Wake, then reports: posted notifications first, then each ready socket.
void Wait(Backend &b, int timeoutMs);
// Makes the current or next Wait report DeliverPosted.
void Wake(Backend &b);
// Makes a Wait report DeliverPosted once ms milliseconds (at least 1) have
// passed, waking it if it waits then; replaces an earlier such call.
void WakeAfter(Backend &b, int ms);
// Readable while reports are pending; -1 when the system has no such thing.
int Fd(const Backend &b);

} // namespace platform::notify

#pragma once
// The single-threaded loop that stands in for window messages: sockets are
// registered with an event mask and a handler, and Process delivers their
// notifications (socket, event, error) one at a time on the calling thread.
//
// Delivery follows WinSock's asynchronous-select rules, so the socket classes
// above behave the same on every system:
//  - FD_READ is delivered once and again only after the owner received from
//    the socket (Reenable) while data remains;
//  - FD_ACCEPT likewise, again after every accept while connections wait;
//  - FD_CONNECT once, with the connect's outcome;
//  - FD_CLOSE once, after the data before it has been read, carrying the
//    reset error if the peer aborted;
//  - FD_WRITE once after Reenable(FD_WRITE), when the socket can take data;
//  - nothing at all for a socket once its mask is 0 or it was cancelled,
//    including notifications already gathered in the same round.
// Nothing runs while no socket is ready: an idle loop uses no CPU.
//
// These rules are written once; the system's calls that watch the sockets
// are a small back end (NotificationBackend.h), one per system: epoll on
// Linux, where Process delivers; WSAAsyncSelect on Windows, where the
// thread's message loop delivers (the host's own, or Process pumping it).
#include "platform/NotificationBackend.h"
#include "platform/Socket.h"
#include "platform/SocketEvents.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace platform {

// Called with the socket, one FD_ event and its WinSock error number (0 for
// success).
using NotificationHandler = std::function<void(socket_t, int, int)>;

class NotificationLoop final : private notify::ReadinessSink {
public:
  NotificationLoop();
  ~NotificationLoop();
  NotificationLoop(const NotificationLoop &) = delete;
  NotificationLoop &operator=(const NotificationLoop &) = delete;

  // Registers s for the events of mask, replacing any earlier registration
  // of s; a mask of 0 cancels it (see Cancel). Returns 0, or -1 with
  // LastSocketError set when the system refuses the socket.
  int Select(socket_t s, int mask, NotificationHandler handler);
  // Nothing more is delivered for s, not even what was already gathered.
  void Cancel(socket_t s);
  // The owner received (FD_READ), accepted (FD_ACCEPT) or hit would-block
  // on a send (FD_WRITE): deliver that event again when its condition holds.
  void Reenable(socket_t s, int event);
  // Queues a notification for s, delivered by the next Process if s is then
  // still registered for that event (an outcome known at once, such as a
  // connect refused before it could start).
  void Post(socket_t s, int event, int error);

  // Runs task once from the loop (as a notification would run) when ms
  // milliseconds have passed, even if no socket is ready then; a host that
  // only polls Fd() sees it readable at that time. Returns an id for
  // CancelTimer, never 0.
  std::uint64_t RunAfter(int ms, std::function<void()> task);
  // The task of that id does not run; nothing happens if it ran already.
  void CancelTimer(std::uint64_t id);

  // What other threads hand to the loop's thread (the records of background
  // jobs): after a WakeInbox, which any thread may call, the loop runs
  // handler once on its own thread, from Process or, on Windows, from the
  // host's message loop. The handler returns how many notifications it
  // dispatched. Set it before any thread may wake it.
  void SetInbox(std::function<int()> handler) { inbox_ = std::move(handler); }
  void WakeInbox();

  // Waits up to timeoutMs (-1: for ever, 0: not at all) for notifications and
  // dispatches every pending one; returns how many it dispatched.
  int Process(int timeoutMs);
  // Readable while notifications are pending, for hosts with a poll loop of
  // their own; -1 when there is none.
  int Fd() const { return backend_ ? notify::Fd(*backend_) : -1; }
  // Sockets currently registered (for tests).
  std::size_t Registered() const { return sockets_.size(); }

private:
  struct Registration;
  struct Posted {
    socket_t Socket;
    std::uint32_t Generation;
    int Event;
    int Error;
  };

  struct FreeBackend {
    void operator()(notify::Backend *b) const { notify::Free(b); }
  };

  struct Timer {
    std::chrono::steady_clock::time_point Due;
    std::uint64_t Id;
    std::function<void()> Task;
  };

  void DeliverPosted() override;
  void RunTimers();
  void ArmTimers(std::chrono::steady_clock::time_point now);
  void DeliverReady(std::uint64_t key, std::uint32_t ready) override;
  Registration *Find(socket_t s, std::uint32_t generation) const;
  bool UpdateInterest(Registration &r);
  void Deliver(socket_t s, std::uint32_t generation, int event, int error);
  int Gather(Registration &r, std::uint32_t ready, int (&events)[3], int (&errors)[3]);

  std::unique_ptr<notify::Backend, FreeBackend> backend_;
  // Notifications handed to handlers so far, for Process to count.
  int dispatched_ = 0;
  std::uint32_t nextGeneration_ = 1;
  std::unordered_map<socket_t, std::unique_ptr<Registration>> sockets_;
  std::deque<Posted> posted_;
  std::vector<Timer> timers_;
  // The timers of the round running now.
  std::vector<Timer> due_;
  std::uint64_t nextTimer_ = 1;
  std::function<int()> inbox_;
  // Set by WakeInbox on any thread, taken by the loop's.
  std::atomic<bool> inboxWoken_{false};
};

} // namespace platform

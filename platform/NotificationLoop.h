#pragma once
// The single-threaded loop that stands in for window messages: sockets are
// registered with an event mask and a handler, and Process delivers their
// notifications one at a time on the calling thread.
namespace platform {

class NotificationLoop {
public:
  NotificationLoop();
  ~NotificationLoop();
  NotificationLoop(const NotificationLoop &) = delete;
  NotificationLoop &operator=(const NotificationLoop &) = delete;

  // Waits up to timeoutMs (-1: for ever, 0: not at all) for notifications and
  // dispatches every pending one; returns how many it dispatched.
  int Process(int timeoutMs);
  // Readable while notifications are pending, for hosts with a poll loop of
  // their own; -1 when there is none.
  int Fd() const { return pollFd_; }

private:
  int pollFd_ = -1;
};

} // namespace platform

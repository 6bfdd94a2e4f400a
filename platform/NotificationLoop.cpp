#include "platform/NotificationLoop.h"

#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>

namespace platform {

NotificationLoop::NotificationLoop() : pollFd_(::epoll_create1(EPOLL_CLOEXEC)) {}

NotificationLoop::~NotificationLoop() {
  if (pollFd_ >= 0)
    ::close(pollFd_);
}

int NotificationLoop::Process(int timeoutMs) {
  if (pollFd_ < 0)
    return 0;
  epoll_event events[64];
  int n;
  do
    n = ::epoll_wait(pollFd_, events, 64, timeoutMs);
  while (n < 0 && errno == EINTR);
  return 0;
}

} // namespace platform

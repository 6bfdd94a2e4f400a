// The notification back end on Linux: epoll for the sockets, an eventfd in
// the same set so that a Wake ends a wait and MessageFd shows pending work,
// and a timerfd there too for WakeAfter.
#include "platform/NotificationBackend.h"

#include <cerrno>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace platform::notify {

struct Backend {
  ReadinessSink *Sink = nullptr;
  int PollFd = -1;
  int WakeFd = -1;
  int TimerFd = -1;
};

namespace {

constexpr std::uint64_t WakeKey = ~std::uint64_t{0};
constexpr std::uint64_t TimerKey = WakeKey - 1;

std::uint32_t EpollEvents(std::uint32_t watch) {
  std::uint32_t events = 0;
  if (watch & WatchRead)
    events |= EPOLLIN | EPOLLRDHUP;
  if (watch & WatchWrite)
    events |= EPOLLOUT;
  return events;
}

std::uint32_t Readiness(std::uint32_t events) {
  std::uint32_t ready = 0;
  if (events & EPOLLIN)
    ready |= Readable;
  if (events & EPOLLOUT)
    ready |= Writable;
  if (events & EPOLLRDHUP)
    ready |= PeerClosed;
  if (events & (EPOLLHUP | EPOLLERR))
    ready |= Failed;
  return ready;
}

int Control(Backend &b, int op, socket_t s, std::uint64_t key, std::uint32_t watch) {
  epoll_event ev{};
  ev.events = EpollEvents(watch);
  ev.data.u64 = key;
  if (::epoll_ctl(b.PollFd, op, s, &ev) == 0)
    return 0;
  SetLastSocketError(WinSockError(errno));
  return -1;
}

} // namespace

Backend *Create(ReadinessSink &sink) {
  auto *b =
      new Backend{&sink, ::epoll_create1(EPOLL_CLOEXEC), ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK),
                  ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)};
  epoll_event wake{}, timer{};
  wake.events = timer.events = EPOLLIN;
  wake.data.u64 = WakeKey;
  timer.data.u64 = TimerKey;
  if (b->PollFd >= 0 && b->WakeFd >= 0 && b->TimerFd >= 0 &&
      ::epoll_ctl(b->PollFd, EPOLL_CTL_ADD, b->WakeFd, &wake) == 0 &&
      ::epoll_ctl(b->PollFd, EPOLL_CTL_ADD, b->TimerFd, &timer) == 0)
    return b;
  SetLastSocketError(WinSockError(errno));
  Free(b);
  return nullptr;
}

void Free(Backend *b) {
  if (!b)
    return;
  if (b->TimerFd >= 0)
    ::close(b->TimerFd);
  if (b->WakeFd >= 0)
    ::close(b->WakeFd);
  if (b->PollFd >= 0)
    ::close(b->PollFd);
  delete b;
}

int Add(Backend &b, socket_t s, std::uint64_t key, std::uint32_t watch) {
  return Control(b, EPOLL_CTL_ADD, s, key, watch);
}

int Modify(Backend &b, socket_t s, std::uint64_t key, std::uint32_t watch) {
  return Control(b, EPOLL_CTL_MOD, s, key, watch);
}

void Delete(Backend &b, socket_t s) {
  epoll_event ev{};
  ::epoll_ctl(b.PollFd, EPOLL_CTL_DEL, s, &ev);
}

void Wait(Backend &b, int timeoutMs) {
  epoll_event ready[128];
  int n;
  do
    n = ::epoll_wait(b.PollFd, ready, 128, timeoutMs);
  while (n < 0 && errno == EINTR);
  // Posted notifications go first whether or not the wake was seen in this
  // round: they were queued before anything gathered here.
  std::uint64_t count;
  (void)!::read(b.WakeFd, &count, sizeof count);
  (void)!::read(b.TimerFd, &count, sizeof count);
  b.Sink->DeliverPosted();
  for (int i = 0; i < n; ++i)
    if (ready[i].data.u64 != WakeKey && ready[i].data.u64 != TimerKey)
      b.Sink->DeliverReady(ready[i].data.u64, Readiness(ready[i].events));
}

void Wake(Backend &b) {
  const std::uint64_t one = 1;
  (void)!::write(b.WakeFd, &one, sizeof one);
}

void WakeAfter(Backend &b, int ms) {
  itimerspec when{};
  ms = ms < 1 ? 1 : ms;
  when.it_value.tv_sec = ms / 1000;
  when.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000;
  ::timerfd_settime(b.TimerFd, 0, &when, nullptr);
}

int Fd(const Backend &b) { return b.PollFd; }

} // namespace platform::notify

#include "platform/NotificationLoop.h"

#include <cerrno>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

struct NotificationLoop::Registration {
  socket_t Socket = InvalidSocket;
  std::uint32_t Generation = 0;
  int Mask = 0;
  // Events that may be delivered now; a delivered FD_READ, FD_ACCEPT or
  // FD_WRITE waits for Reenable.
  bool ReadArmed = true;
  bool AcceptArmed = true;
  bool WriteArmed = false;
  bool ConnectDone = false;
  // After FD_CLOSE or a failed connect the socket has nothing more to say.
  bool Finished = false;
  std::uint32_t Interest = 0;
  bool InPoll = false;
  std::shared_ptr<NotificationHandler> Handler;
};

namespace {

constexpr std::uint64_t WakeKey = ~std::uint64_t{0};

std::uint64_t Key(socket_t s, std::uint32_t generation) {
  return (std::uint64_t{generation} << 32) | static_cast<std::uint32_t>(s);
}

} // namespace

NotificationLoop::NotificationLoop()
    : pollFd_(::epoll_create1(EPOLL_CLOEXEC)), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (pollFd_ >= 0 && wakeFd_ >= 0) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = WakeKey;
    ::epoll_ctl(pollFd_, EPOLL_CTL_ADD, wakeFd_, &ev);
  }
}

NotificationLoop::~NotificationLoop() {
  if (wakeFd_ >= 0)
    ::close(wakeFd_);
  if (pollFd_ >= 0)
    ::close(pollFd_);
}

NotificationLoop::Registration *NotificationLoop::Find(socket_t s, std::uint32_t generation) const {
  const auto it = sockets_.find(s);
  if (it == sockets_.end() || it->second->Generation != generation)
    return nullptr;
  return it->second.get();
}

int NotificationLoop::Select(socket_t s, int mask, NotificationHandler handler) {
  // A new selection replaces the old one; what the old one had gathered is
  // not delivered under the new.
  Cancel(s);
  if (mask == 0)
    return 0;
  if (pollFd_ < 0) {
    SetLastSocketError(WSAENOBUFS);
    return -1;
  }
  auto r = std::make_unique<Registration>();
  r->Socket = s;
  r->Generation = nextGeneration_++;
  if (nextGeneration_ == 0)
    nextGeneration_ = 1;
  r->Mask = mask;
  r->Handler = std::make_shared<NotificationHandler>(std::move(handler));
  Registration &reg = *r;
  sockets_[s] = std::move(r);
  if (!UpdateInterest(reg)) {
    const int err = LastSocketError();
    sockets_.erase(s);
    SetLastSocketError(err);
    return -1;
  }
  return 0;
}

void NotificationLoop::Cancel(socket_t s) {
  const auto it = sockets_.find(s);
  if (it == sockets_.end())
    return;
  if (it->second->InPoll) {
    epoll_event ev{};
    ::epoll_ctl(pollFd_, EPOLL_CTL_DEL, s, &ev);
  }
  sockets_.erase(it);
}

void NotificationLoop::Reenable(socket_t s, int event) {
  const auto it = sockets_.find(s);
  if (it == sockets_.end())
    return;
  Registration &r = *it->second;
  switch (event) {
  case FD_READ: r.ReadArmed = true; break;
  case FD_ACCEPT: r.AcceptArmed = true; break;
  case FD_WRITE: r.WriteArmed = true; break;
  default: return;
  }
  UpdateInterest(r);
}

void NotificationLoop::Post(socket_t s, int event, int error) {
  const auto it = sockets_.find(s);
  if (it == sockets_.end())
    return;
  posted_.push_back({s, it->second->Generation, event, error});
  const std::uint64_t one = 1;
  if (wakeFd_ >= 0)
    (void)!::write(wakeFd_, &one, sizeof one);
}

// What the socket should be watched for, given its mask and what has been
// delivered and not yet re-enabled.
bool NotificationLoop::UpdateInterest(Registration &r) {
  std::uint32_t want = 0;
  if (!r.Finished) {
    const bool connecting = (r.Mask & FD_CONNECT) && !r.ConnectDone;
    if (connecting)
      want |= EPOLLOUT;
    if ((r.Mask & (FD_READ | FD_CLOSE)) && r.ReadArmed)
      want |= EPOLLIN | EPOLLRDHUP;
    if ((r.Mask & FD_ACCEPT) && r.AcceptArmed)
      want |= EPOLLIN;
    if ((r.Mask & FD_WRITE) && r.WriteArmed && !connecting)
      want |= EPOLLOUT;
  }
  if (want == r.Interest && (r.InPoll || want == 0))
    return true;
  epoll_event ev{};
  ev.events = want;
  ev.data.u64 = Key(r.Socket, r.Generation);
  int rc;
  if (want == 0) {
    // Hang-ups are reported whatever the interest: leave the set instead.
    rc = r.InPoll ? ::epoll_ctl(pollFd_, EPOLL_CTL_DEL, r.Socket, &ev) : 0;
    r.InPoll = false;
  } else if (r.InPoll) {
    rc = ::epoll_ctl(pollFd_, EPOLL_CTL_MOD, r.Socket, &ev);
  } else {
    rc = ::epoll_ctl(pollFd_, EPOLL_CTL_ADD, r.Socket, &ev);
    r.InPoll = rc == 0;
  }
  if (rc != 0) {
    SetLastSocketError(WinSockError(errno));
    return false;
  }
  r.Interest = want;
  return true;
}

// Turns one readiness report into the notifications it stands for, in the
// order WinSock would post them.
int NotificationLoop::Gather(Registration &r, std::uint32_t ready, int (&events)[3],
                             int (&errors)[3]) {
  int n = 0;
  if (r.Finished)
    return 0;
  if ((r.Mask & FD_CONNECT) && !r.ConnectDone) {
    if (!(ready & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
      return 0;
    r.ConnectDone = true;
    const int err = PendingSocketError(r.Socket);
    events[n] = FD_CONNECT;
    errors[n++] = err;
    if (err != 0) {
      r.Finished = true;
      return n;
    }
  }
  if (r.Mask & FD_ACCEPT) {
    if ((ready & EPOLLIN) && r.AcceptArmed) {
      r.AcceptArmed = false;
      events[n] = FD_ACCEPT;
      errors[n++] = 0;
    }
    return n;
  }
  if ((r.Mask & FD_WRITE) && r.WriteArmed && (ready & EPOLLOUT)) {
    r.WriteArmed = false;
    events[n] = FD_WRITE;
    errors[n++] = 0;
  }
  if (!(r.Mask & (FD_READ | FD_CLOSE)) || !r.ReadArmed)
    return n;
  if (!(ready & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)))
    return n;
  bool dataWaiting = (ready & EPOLLIN) && !(ready & (EPOLLRDHUP | EPOLLHUP | EPOLLERR));
  int closeError = 0;
  bool closed = false;
  if (!dataWaiting) {
    // The peer is gone: its data is still delivered first, the close after.
    char probe;
    const long got = ::recv(r.Socket, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got > 0) {
      dataWaiting = true;
    } else if (got == 0) {
      closed = true;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      closed = true;
      closeError = WinSockError(errno);
    } else if (ready & (EPOLLHUP | EPOLLERR)) {
      closed = true;
      closeError = PendingSocketError(r.Socket);
    }
  }
  if (dataWaiting && (r.Mask & FD_READ)) {
    r.ReadArmed = false;
    events[n] = FD_READ;
    errors[n++] = 0;
  } else if (dataWaiting) {
    // Data nobody asked to hear about: wait for the owner to read it.
    r.ReadArmed = false;
  } else if (closed) {
    r.Finished = true;
    if (r.Mask & FD_CLOSE) {
      events[n] = FD_CLOSE;
      errors[n++] = closeError;
    }
  }
  return n;
}

int NotificationLoop::Deliver(socket_t s, std::uint32_t generation, int event, int error) {
  Registration *r = Find(s, generation);
  if (!r || !(r->Mask & event))
    return 0;
  // The handler may cancel, replace or close anything, this socket included.
  const std::shared_ptr<NotificationHandler> handler = r->Handler;
  // The loop runs under the host's call, outside every failure frame:
  // nothing a handler raises may escape it.
  try {
    (*handler)(s, event, error);
  } catch (...) {
  }
  return 1;
}

int NotificationLoop::Process(int timeoutMs) {
  if (pollFd_ < 0)
    return 0;
  epoll_event ready[128];
  int n;
  do
    n = ::epoll_wait(pollFd_, ready, 128, posted_.empty() ? timeoutMs : 0);
  while (n < 0 && errno == EINTR);
  int dispatched = 0;

  // Notifications posted before this round go first, as they were queued.
  std::deque<Posted> posted;
  posted.swap(posted_);
  if (wakeFd_ >= 0) {
    std::uint64_t count;
    (void)!::read(wakeFd_, &count, sizeof count);
  }
  for (const Posted &p : posted) {
    Registration *r = Find(p.Socket, p.Generation);
    if (!r)
      continue;
    if (p.Event == FD_CONNECT) {
      r->ConnectDone = true;
      if (p.Error != 0)
        r->Finished = true;
      UpdateInterest(*r);
    }
    dispatched += Deliver(p.Socket, p.Generation, p.Event, p.Error);
  }

  for (int i = 0; i < n; ++i) {
    if (ready[i].data.u64 == WakeKey)
      continue;
    const auto s = static_cast<socket_t>(ready[i].data.u64 & 0xffffffffu);
    const auto generation = static_cast<std::uint32_t>(ready[i].data.u64 >> 32);
    Registration *r = Find(s, generation);
    if (!r)
      continue;
    int events[3], errors[3];
    const int count = Gather(*r, ready[i].events, events, errors);
    for (int k = 0; k < count; ++k)
      dispatched += Deliver(s, generation, events[k], errors[k]);
    if ((r = Find(s, generation)) != nullptr)
      UpdateInterest(*r);
  }
  return dispatched;
}

} // namespace platform

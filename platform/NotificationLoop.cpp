#include "platform/NotificationLoop.h"

#include <algorithm>
#include <iterator>

// The delivery rules, written once for every system; the system's own calls
// are in the notification back end.
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
  std::uint32_t Watch = 0;
  bool Watched = false;
  std::shared_ptr<NotificationHandler> Handler;
};

namespace {

std::uint64_t Key(socket_t s, std::uint32_t generation) {
  return (std::uint64_t{generation} << 32) | static_cast<std::uint32_t>(s);
}

} // namespace

NotificationLoop::NotificationLoop() : backend_(notify::Create(*this)) {}

NotificationLoop::~NotificationLoop() = default;

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
  if (!backend_) {
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
  if (it->second->Watched)
    notify::Delete(*backend_, s);
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
  if (backend_)
    notify::Wake(*backend_);
}

// What the socket should be watched for, given its mask and what has been
// delivered and not yet re-enabled.
bool NotificationLoop::UpdateInterest(Registration &r) {
  using namespace notify;
  std::uint32_t want = 0;
  if (!r.Finished) {
    const bool connecting = (r.Mask & FD_CONNECT) && !r.ConnectDone;
    if (connecting)
      want |= WatchWrite;
    if ((r.Mask & (FD_READ | FD_CLOSE)) && r.ReadArmed)
      want |= WatchRead;
    if ((r.Mask & FD_ACCEPT) && r.AcceptArmed)
      want |= WatchRead;
    if ((r.Mask & FD_WRITE) && r.WriteArmed && !connecting)
      want |= WatchWrite;
  }
  if (want == r.Watch && (r.Watched || want == 0))
    return true;
  const std::uint64_t key = Key(r.Socket, r.Generation);
  if (want == 0) {
    // Hang-ups may be reported whatever is watched: stop watching instead.
    if (r.Watched)
      Delete(*backend_, r.Socket);
    r.Watched = false;
  } else if (r.Watched) {
    if (Modify(*backend_, r.Socket, key, want) != 0)
      return false;
  } else {
    if (Add(*backend_, r.Socket, key, want) != 0)
      return false;
    r.Watched = true;
  }
  r.Watch = want;
  return true;
}

// Turns one readiness report into the notifications it stands for, in the
// order WinSock would post them.
int NotificationLoop::Gather(Registration &r, std::uint32_t ready, int (&events)[3],
                             int (&errors)[3]) {
  using namespace notify;
  int n = 0;
  if (r.Finished)
    return 0;
  if ((r.Mask & FD_CONNECT) && !r.ConnectDone) {
    if (!(ready & (Writable | Failed)))
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
    if ((ready & Readable) && r.AcceptArmed) {
      r.AcceptArmed = false;
      events[n] = FD_ACCEPT;
      errors[n++] = 0;
    }
    return n;
  }
  if ((r.Mask & FD_WRITE) && r.WriteArmed && (ready & Writable)) {
    r.WriteArmed = false;
    events[n] = FD_WRITE;
    errors[n++] = 0;
  }
  if (!(r.Mask & (FD_READ | FD_CLOSE)) || !r.ReadArmed)
    return n;
  if (!(ready & (Readable | PeerClosed | Failed)))
    return n;
  bool dataWaiting = (ready & Readable) && !(ready & (PeerClosed | Failed));
  int closeError = 0;
  bool closed = false;
  if (!dataWaiting) {
    // The peer is gone: its data is still delivered first, the close after.
    const int got = PeekData(r.Socket);
    const int err = got < 0 ? LastSocketError() : 0;
    if (got > 0) {
      dataWaiting = true;
    } else if (got == 0) {
      closed = true;
    } else if (err != WSAEWOULDBLOCK && err != WSAEINTR) {
      closed = true;
      closeError = err;
    } else if (ready & Failed) {
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

void NotificationLoop::Deliver(socket_t s, std::uint32_t generation, int event, int error) {
  Registration *r = Find(s, generation);
  if (!r || !(r->Mask & event))
    return;
  ++dispatched_;
  // The handler may cancel, replace or close anything, this socket included.
  const std::shared_ptr<NotificationHandler> handler = r->Handler;
  // The loop runs under the host's call, outside every failure frame:
  // nothing a handler raises may escape it.
  try {
    (*handler)(s, event, error);
  } catch (...) {
  }
}

int NotificationLoop::Process(int timeoutMs) {
  if (!backend_)
    return 0;
  const int before = dispatched_;
  notify::Wait(*backend_, posted_.empty() ? timeoutMs : 0);
  return dispatched_ - before;
}

// Notifications posted before this round go first, as they were queued.
std::uint64_t NotificationLoop::RunAfter(int ms, std::function<void()> task) {
  const std::uint64_t id = nextTimer_++;
  const auto now = std::chrono::steady_clock::now();
  timers_.push_back({now + std::chrono::milliseconds(ms), id, std::move(task)});
  ArmTimers(now);
  return id;
}

// The back end wakes the loop when the first timer is due; one alarm serves
// them all.
void NotificationLoop::ArmTimers(std::chrono::steady_clock::time_point now) {
  if (timers_.empty() || !backend_)
    return;
  auto next = timers_.front().Due;
  for (const Timer &t : timers_)
    next = std::min(next, t.Due);
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
  notify::WakeAfter(*backend_, static_cast<int>(left));
}

void NotificationLoop::CancelTimer(std::uint64_t id) {
  std::erase_if(timers_, [id](const Timer &t) { return t.Id == id; });
  // One that is due already, in the round running now, is skipped.
  for (Timer &t : due_)
    if (t.Id == id)
      t.Task = nullptr;
}

void NotificationLoop::RunTimers() {
  if (timers_.empty())
    return;
  const auto now = std::chrono::steady_clock::now();
  const auto firstDue = std::stable_partition(timers_.begin(), timers_.end(),
                                              [&](const Timer &t) { return t.Due > now; });
  due_.assign(std::make_move_iterator(firstDue), std::make_move_iterator(timers_.end()));
  timers_.erase(firstDue, timers_.end());
  // A round that comes late (a busy machine, a long handler) finds several
  // due: they run in the order they fell due, not in the order they were set.
  std::stable_sort(due_.begin(), due_.end(),
                   [](const Timer &a, const Timer &b) { return a.Due < b.Due; });
  // A task may set or cancel timers, or close anything.
  for (std::size_t i = 0; i < due_.size(); ++i) {
    const std::function<void()> task = std::move(due_[i].Task);
    if (!task)
      continue;
    try {
      task();
    } catch (...) {
    }
    ++dispatched_;
  }
  due_.clear();
  ArmTimers(std::chrono::steady_clock::now());
}

void NotificationLoop::WakeInbox() {
  // One wake-up serves every hand-over until the loop takes them.
  if (!inboxWoken_.exchange(true) && backend_)
    notify::Wake(*backend_);
}

void NotificationLoop::DeliverPosted() {
  if (inboxWoken_.exchange(false) && inbox_)
    dispatched_ += inbox_();
  std::deque<Posted> posted;
  posted.swap(posted_);
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
    Deliver(p.Socket, p.Generation, p.Event, p.Error);
  }
  RunTimers();
}

void NotificationLoop::DeliverReady(std::uint64_t key, std::uint32_t ready) {
  const auto s = static_cast<socket_t>(key & 0xffffffffu);
  const auto generation = static_cast<std::uint32_t>(key >> 32);
  Registration *r = Find(s, generation);
  if (!r)
    return;
  int events[3], errors[3];
  const int count = Gather(*r, ready, events, errors);
  for (int k = 0; k < count; ++k)
    Deliver(s, generation, events[k], errors[k]);
  if ((r = Find(s, generation)) != nullptr)
    UpdateInterest(*r);
}

} // namespace platform

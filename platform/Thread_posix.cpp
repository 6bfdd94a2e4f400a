#include "platform/Thread.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include <pthread.h>
#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace platform {

#if defined(__linux__)
namespace {
constexpr int WorkerNiceness = 5;
}
#endif

struct Thread::State {
  std::function<void()> Task;
  std::atomic<bool> Ended{false};
  std::thread Runner;
};

Thread::Thread(std::function<void()> task) : state_(std::make_unique<State>()) {
  state_->Task = std::move(task);
  State *state = state_.get();
  state_->Runner = std::thread([state] {
    // A write to a connection that a cancel or the peer has shut down fails
    // with an error on this thread; it never ends the process (OpenSSL
    // writes without MSG_NOSIGNAL).
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
#if defined(__linux__)
    // Below the host's thread: when the processors are busy, the script's
    // dialog and its relay answer first and the transfers take what is left.
    // On Linux the nice value is a thread's own.
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    if (errno == 0)
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), std::min(current + WorkerNiceness, 19));
#endif
    try {
      state->Task();
    } catch (...) {
    }
    // What the task captured goes on this thread, before anyone is told.
    state->Task = nullptr;
    state->Ended = true;
  });
}

Thread::~Thread() { Join(); }

void Thread::Join() {
  if (state_->Runner.joinable())
    state_->Runner.join();
}

bool Thread::Ended() const { return state_->Ended; }

} // namespace platform

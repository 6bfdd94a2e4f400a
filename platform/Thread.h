#pragma once
// A thread of the library's own: a background job's worker. The task runs
// once on a new thread, below the priority of the thread that started it;
// Join waits until it has returned.
//
// On Windows the thread holds a reference on the module whose code it runs
// and leaves through FreeLibraryAndExitThread: a host that frees the library
// while a worker runs never unmaps code the worker is still in, the library
// stays loaded until the last worker has left it. Join waits for the task's
// end, not for the system's end of the thread, which needs the loader lock
// and so could not come while the library is being unloaded.
#include <functional>
#include <memory>

namespace platform {

class Thread {
public:
  // Raises std::system_error when the system gives no thread.
  explicit Thread(std::function<void()> task);
  // Joins.
  ~Thread();
  Thread(const Thread &) = delete;
  Thread &operator=(const Thread &) = delete;

  void Join();
  // The task has returned: Join does not wait.
  bool Ended() const;

  struct State;

private:
  std::unique_ptr<State> state_;
};

} // namespace platform

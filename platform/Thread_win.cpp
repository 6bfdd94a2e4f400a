#include "platform/Thread.h"

#include <windows.h>

#include <system_error>

namespace platform {

struct Thread::State {
  std::function<void()> Task;
  HMODULE Module = nullptr;
  // Set once the task has returned; the thread runs none of the library's
  // code after it but the call that lets go of the module.
  HANDLE Ended = nullptr;
  HANDLE Handle = nullptr;
};

namespace {

DWORD WINAPI Run(void *parameter) {
  auto *state = static_cast<Thread::State *>(parameter);
  try {
    state->Task();
  } catch (...) {
  }
  state->Task = nullptr;
  const HMODULE module = state->Module;
  // state may be gone the moment the event is set.
  ::SetEvent(state->Ended);
  ::FreeLibraryAndExitThread(module, 0);
}

} // namespace

Thread::Thread(std::function<void()> task) : state_(std::make_unique<State>()) {
  state_->Task = std::move(task);
  state_->Ended = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  // The reference the thread gives back as it leaves.
  if (!state_->Ended ||
      !::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&Run), &state_->Module)) {
    const DWORD error = ::GetLastError();
    if (state_->Ended)
      ::CloseHandle(state_->Ended);
    throw std::system_error(static_cast<int>(error), std::system_category(), "no thread");
  }
  state_->Handle = ::CreateThread(nullptr, 0, Run, state_.get(), 0, nullptr);
  if (!state_->Handle) {
    const DWORD error = ::GetLastError();
    ::FreeLibrary(state_->Module);
    ::CloseHandle(state_->Ended);
    throw std::system_error(static_cast<int>(error), std::system_category(), "no thread");
  }
  // Below the host's thread: when the processors are busy, the script's
  // dialog and its relay answer first and the transfers take what is left.
  ::SetThreadPriority(state_->Handle, THREAD_PRIORITY_BELOW_NORMAL);
}

Thread::~Thread() {
  Join();
  ::CloseHandle(state_->Handle);
  ::CloseHandle(state_->Ended);
}

void Thread::Join() {
  // A thread that the end of the process stopped never sets the event.
  const HANDLE either[2] = {state_->Ended, state_->Handle};
  ::WaitForMultipleObjects(2, either, FALSE, INFINITE);
}

bool Thread::Ended() const { return ::WaitForSingleObject(state_->Ended, 0) == WAIT_OBJECT_0; }

} // namespace platform

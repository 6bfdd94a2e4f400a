// The notification back end on Windows: WSAAsyncSelect to a hidden
// message-only window, so notifications arrive through the message loop of
// the thread that made the loop, the host's own; Wait pumps that queue for
// hosts without a loop. No thread of ours.
//
// A WinSock message only says that something may have changed for a socket:
// the readiness reported is looked up afresh when the message is handled, as
// epoll reports it, so a message that was overtaken (the data already read)
// reports nothing. Every change of what is watched calls WSAAsyncSelect
// again, which posts at once for a condition that already holds.
#include "platform/NotificationBackend.h"

#include <windows.h>
#include <winsock2.h>

#include <unordered_map>

namespace platform::notify {

namespace {

// WM_USER + 1, the message the script socket service's windows receive.
constexpr UINT SocketMessage = WM_USER + 1;
constexpr UINT WakeMessage = WM_USER + 2;
constexpr char ClassName[] = "ScriptnetNotifications";
constexpr UINT_PTR WakeTimer = 1;

} // namespace

struct Backend {
  ReadinessSink *Sink = nullptr;
  HWND Window = nullptr;
  struct Watched {
    std::uint64_t Key;
    std::uint32_t Watch;
  };
  std::unordered_map<socket_t, Watched> Sockets;
  // Messages handled for this window, for Wait to know when to return.
  unsigned long Handled = 0;
};

namespace {

// Windows that use the class: it is unregistered with the last, so that a
// later load of the DLL, perhaps at another address, registers its own.
int windows = 0;

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

long SelectEvents(std::uint32_t watch) {
  long events = 0;
  if (watch & WatchRead)
    events |= FD_READ | FD_ACCEPT | FD_CLOSE;
  if (watch & WatchWrite)
    events |= FD_WRITE | FD_CONNECT;
  return events;
}

std::uint32_t Readiness(SOCKET s, std::uint32_t watch, int event, int error) {
  std::uint32_t ready = 0;
  WSAPOLLFD p{s, POLLRDNORM | POLLWRNORM, 0};
  if (::WSAPoll(&p, 1, 0) > 0) {
    if (p.revents & POLLRDNORM)
      ready |= Readable;
    if (p.revents & POLLWRNORM)
      ready |= Writable;
    if (p.revents & POLLHUP)
      ready |= PeerClosed;
    if (p.revents & (POLLERR | POLLNVAL))
      ready |= Failed;
  }
  // What the message itself tells and the poll may not show yet.
  if (event == FD_CLOSE)
    ready |= error != 0 ? PeerClosed | Failed : PeerClosed;
  if (event == FD_CONNECT && error != 0)
    ready |= Failed;
  if (!(watch & WatchRead))
    ready &= ~(Readable | PeerClosed);
  if (!(watch & WatchWrite))
    ready &= ~Writable;
  return ready;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto *b = reinterpret_cast<Backend *>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!b || (message != SocketMessage && message != WakeMessage && message != WM_TIMER))
    return ::DefWindowProcA(window, message, wParam, lParam);
  ++b->Handled;
  // Called from the host's message loop: nothing may escape.
  try {
    if (message == WM_TIMER)
      ::KillTimer(window, WakeTimer);
    if (message == WakeMessage || message == WM_TIMER) {
      b->Sink->DeliverPosted();
      return 0;
    }
    const auto s = static_cast<socket_t>(static_cast<unsigned>(wParam));
    const auto it = b->Sockets.find(s);
    if (it == b->Sockets.end())
      return 0;
    const std::uint32_t ready = Readiness(static_cast<SOCKET>(wParam), it->second.Watch,
                                          WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
    if (ready == 0)
      return 0;
    b->Sink->DeliverReady(it->second.Key, ready);
    // WinSock posts FD_WRITE again only after a send that would have
    // blocked. A handler that sent without blocking and still watches for
    // room would wait for ever: look again, as epoll reports a socket that
    // stays writable. (The handler may have freed the loop and its window.)
    b = reinterpret_cast<Backend *>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!b || !(ready & Writable))
      return 0;
    const auto again = b->Sockets.find(s);
    if (again != b->Sockets.end() && (again->second.Watch & WatchWrite))
      ::PostMessageA(window, SocketMessage, wParam, WSAMAKESELECTREPLY(FD_WRITE, 0));
  } catch (...) {
  }
  return 0;
}

int Select(Backend &b, socket_t s, std::uint64_t key, std::uint32_t watch) {
  b.Sockets[s] = {key, watch};
  if (::WSAAsyncSelect(static_cast<SOCKET>(static_cast<unsigned>(s)), b.Window, SocketMessage,
                       SelectEvents(watch)) == 0)
    return 0;
  SetLastSocketError(::WSAGetLastError());
  b.Sockets.erase(s);
  return -1;
}

} // namespace

Backend *Create(ReadinessSink &sink) {
  const HINSTANCE module = ThisModule();
  if (windows == 0) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = module;
    wc.lpszClassName = ClassName;
    if (!::RegisterClassExA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      SetLastSocketError(WSAENOBUFS);
      return nullptr;
    }
  }
  const HWND window =
      ::CreateWindowExA(0, ClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
  if (!window) {
    if (windows == 0)
      ::UnregisterClassA(ClassName, module);
    SetLastSocketError(WSAENOBUFS);
    return nullptr;
  }
  ++windows;
  auto *b = new Backend;
  b->Sink = &sink;
  b->Window = window;
  ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(b));
  return b;
}

void Free(Backend *b) {
  if (!b)
    return;
  for (const auto &entry : b->Sockets)
    ::WSAAsyncSelect(static_cast<SOCKET>(static_cast<unsigned>(entry.first)), b->Window, 0, 0);
  ::SetWindowLongPtrA(b->Window, GWLP_USERDATA, 0);
  ::DestroyWindow(b->Window);
  if (--windows == 0)
    ::UnregisterClassA(ClassName, ThisModule());
  delete b;
}

int Add(Backend &b, socket_t s, std::uint64_t key, std::uint32_t watch) {
  return Select(b, s, key, watch);
}

int Modify(Backend &b, socket_t s, std::uint64_t key, std::uint32_t watch) {
  return Select(b, s, key, watch);
}

void Delete(Backend &b, socket_t s) {
  if (b.Sockets.erase(s))
    ::WSAAsyncSelect(static_cast<SOCKET>(static_cast<unsigned>(s)), b.Window, 0, 0);
}

// Pumps the thread's whole queue, as a host's loop would, until one of ours
// has been handled or the time is up.
void Wait(Backend &b, int timeoutMs) {
  b.Sink->DeliverPosted();
  const unsigned long before = b.Handled;
  const ULONGLONG deadline =
      ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The host's own loop must see it too.
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    if (b.Handled != before)
      return;
    DWORD wait = INFINITE;
    if (timeoutMs >= 0) {
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline)
        return;
      wait = static_cast<DWORD>(deadline - now);
    }
    ::MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void Wake(Backend &b) { ::PostMessageA(b.Window, WakeMessage, 0, 0); }

void WakeAfter(Backend &b, int ms) {
  ::SetTimer(b.Window, WakeTimer, static_cast<UINT>(ms < 1 ? 1 : ms), nullptr);
}

int Fd(const Backend &) { return -1; }

} // namespace platform::notify

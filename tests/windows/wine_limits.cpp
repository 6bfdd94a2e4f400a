// What Wine itself does where the unit suites left out under Wine
// (scripts/test.sh) expect Windows: run it under Wine and under Windows and
// compare. Plain WinSock and code-page calls, nothing of the library.
//
//   wine_limits
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// A connected pair on loopback: client c, accepted s.
void Pair(SOCKET &c, SOCKET &s) {
  const SOCKET l = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  ::bind(l, reinterpret_cast<sockaddr *>(&a), sizeof a);
  ::listen(l, 1);
  ::getsockname(l, reinterpret_cast<sockaddr *>(&a), &len);
  c = ::socket(AF_INET, SOCK_STREAM, 0);
  ::connect(c, reinterpret_cast<sockaddr *>(&a), sizeof a);
  s = ::accept(l, nullptr, nullptr);
  ::closesocket(l);
}

constexpr UINT Message = WM_USER + 1;

HWND Window() {
  return ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

} // namespace

int main() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);

  // ISO-2022-JP: Windows converts code page 50220.
  const char jis[] = "\x1b$B$K$[$s\x1b(B";
  wchar_t wide[8] = {};
  const int n = ::MultiByteToWideChar(50220, 0, jis, sizeof jis - 1, wide, 8);
  std::printf("code page 50220: valid %d, %d characters (Windows: 1, 3)\n",
              ::IsValidCodePage(50220), n);

  // A reset by the peer: Windows reports WSAECONNRESET (10054) with FD_CLOSE
  // and from recv.
  SOCKET c, s;
  Pair(c, s);
  const HWND window = Window();
  ::WSAAsyncSelect(s, window, Message, FD_READ | FD_CLOSE);
  const linger abortive{1, 0};
  ::setsockopt(c, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abortive), sizeof abortive);
  ::closesocket(c);
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) && msg.message != Message) {
  }
  char byte;
  const int got = ::recv(s, &byte, 1, MSG_PEEK);
  std::printf("reset: FD_CLOSE %d, error %d; recv %d, error %d (Windows: 32, 10054; -1, 10054)\n",
              WSAGETSELECTEVENT(msg.lParam), WSAGETSELECTERROR(msg.lParam), got,
              got < 0 ? ::WSAGetLastError() : 0);
  ::closesocket(s);

  // The cost of one FD_READ message and a 1 KiB recv, as the socket server
  // reads; 16 MiB of queued records take 16384 of them.
  Pair(c, s);
  u_long on = 1;
  ::ioctlsocket(c, FIONBIO, &on);
  ::WSAAsyncSelect(s, window, Message, FD_READ);
  const std::string chunk(1 << 20, 'x');
  char buf[1024];
  long total = 0, messages = 0;
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    // Kept ahead of the reader as far as the socket takes it.
    ::send(c, chunk.data(), static_cast<int>(chunk.size()), 0);
    if (total >= (8 << 20) || !::GetMessageA(&msg, nullptr, 0, 0))
      break;
    if (msg.message != Message)
      continue;
    ++messages;
    const int r = ::recv(s, buf, sizeof buf, 0);
    total += r > 0 ? r : 0;
  }
  std::printf("FD_READ with a 1 KiB recv: %.0f us each\n",
              static_cast<double>(::GetTickCount64() - start) * 1000.0 / static_cast<double>(messages));
  return 0;
}

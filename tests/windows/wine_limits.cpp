// What Wine itself does where the unit suites left out under Wine
// (scripts/test.sh) expect Windows: run it under Wine and under Windows and
// compare. Plain WinSock, code-page and Schannel calls, nothing of the
// library. With the port of a TLS server on loopback that resumes sessions
// (nginx), it also shows whether Schannel resumes one, as the FTPS data
// connections of a server that requires it need.
//
//   wine_limits [TLS-PORT]
#include <winsock2.h>
#include <windows.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>

#include <cstdio>
#include <cstdlib>
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

// One Schannel handshake with the server on the port; the bytes the server
// sent for it (a resumed session skips the certificate), -1 on failure.
// Blocking sends may still take part of the bytes: the rest goes after them.
bool SendAll(SOCKET s, const char *data, int size) {
  while (size > 0) {
    const int n = ::send(s, data, size, 0);
    if (n <= 0)
      return false;
    data += n;
    size -= n;
  }
  return true;
}

long Handshake(CredHandle &cred, unsigned short port) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
    return -1;
  const unsigned long flags = ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_CONFIDENTIALITY |
                              ISC_REQ_MANUAL_CRED_VALIDATION;
  char target[] = "localhost";
  CtxtHandle context{};
  std::string in;
  long received = 0;
  unsigned long got = 0;
  SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
  for (bool first = true; status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE;
       first = false) {
    if (!first && (in.empty() || status == SEC_E_INCOMPLETE_MESSAGE)) {
      char buf[16384];
      const int n = ::recv(s, buf, sizeof buf, 0);
      if (n <= 0)
        break;
      in.append(buf, static_cast<std::size_t>(n));
      received += n;
    }
    SecBuffer inBuffers[2] = {{static_cast<unsigned long>(in.size()), SECBUFFER_TOKEN, in.data()},
                              {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    status = ::InitializeSecurityContextA(&cred, first ? nullptr : &context, target, flags, 0, 0,
                                          first ? nullptr : &inDesc, 0, &context, &outDesc, &got,
                                          nullptr);
    if (out.pvBuffer) {
      const bool sent =
          SendAll(s, static_cast<const char *>(out.pvBuffer), static_cast<int>(out.cbBuffer));
      ::FreeContextBuffer(out.pvBuffer);
      if (!sent)
        break;
    }
    if (status != SEC_E_INCOMPLETE_MESSAGE && !first)
      in = inBuffers[1].BufferType == SECBUFFER_EXTRA ? in.substr(in.size() - inBuffers[1].cbBuffer)
                                                      : std::string();
  }
  ::DeleteSecurityContext(&context);
  ::closesocket(s);
  return status == SEC_E_OK ? received : -1;
}

HWND Window() {
  return ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

} // namespace

int main(int argc, char **argv) {
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

  // Two handshakes under one credentials handle and one target name: on
  // Windows the second resumes the first's session and takes far fewer bytes.
  if (argc > 1) {
    SCHANNEL_CRED settings{};
    settings.dwVersion = SCHANNEL_CRED_VERSION;
    settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    settings.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    CredHandle cred{};
    char package[] = UNISP_NAME_A;
    ::AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &settings,
                                nullptr, nullptr, &cred, nullptr);
    const auto port = static_cast<unsigned short>(std::atoi(argv[1]));
    const long full = Handshake(cred, port);
    const long again = Handshake(cred, port);
    std::printf("TLS handshakes: %ld bytes from the server, then %ld (Windows: the second far "
                "fewer, resumed)\n", full, again);
    ::FreeCredentialsHandle(&cred);
  }
  return 0;
}

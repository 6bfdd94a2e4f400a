#include "tcpip/T_TcpIp.h"

#include "ip_misc/ip_misc.h"

#include <algorithm>
#include <cstring>

// Received bytes not yet handed out, for one socket. Lines are cut from it
// and bulk reads drain it first, so a client sees exactly the byte stream
// that one-byte reads would have given, at the cost of one receive per
// buffer instead of one per byte.
struct T_TcpIp::ReadBuffer {
  socket_t Socket = platform::InvalidSocket;
  std::vector<char> Bytes = std::vector<char>(16384);
  std::size_t Begin = 0;
  std::size_t End = 0;
  std::size_t Available() const { return End - Begin; }
};

namespace {

// Bulk reads at least this large bypass the line buffer when it is empty.
constexpr std::size_t DirectReadThreshold = 4096;

std::string SocketText(socket_t s) { return std::to_string(s); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

T_TcpIp::T_TcpIp() : Buffer(BufferSize) {}

T_TcpIp::~T_TcpIp() {
  // Derived parts are gone by now, so their logout dialogues ran in their own
  // destructors; here only the socket is left to close, quietly.
  OnTrace = nullptr;
  CloseSocketHandle(Socket);
}

void T_TcpIp::Login() {
  if (Connected)
    Logout();
  RemoteAddress = ResolveHost(Hostname);
  if (RemoteAddress == INADDR_NONE_VALUE)
    throw ETcpIpError("Couldn't resolve hostname " + Hostname);
  OpenOutputSocket(Socket, RemotePort, RemoteAddress);
  if (Socket == platform::InvalidSocket)
    throw ESocketError(static_cast<std::uint16_t>(lastConnectError_));
  PeerClosed = false;
  Connected = true;
}

void T_TcpIp::Logout() {
  CloseSocketHandle(Socket);
  Connected = false;
}

void T_TcpIp::Action() {
  Login();
  Stream.Clear();
  while (!IsClosed(Socket)) {
    const long n = ReceiveBuf(Socket, Buffer.data(), Buffer.size());
    if (n > 0)
      Stream.Write(Buffer.data(), static_cast<std::size_t>(n));
  }
  Stream.SetPosition(0);
}

void T_TcpIp::SendCommand(const std::string &text) {
  SendString(Socket, text + "\r\n");
  Trace(text, tlCommand);
}

bool T_TcpIp::IsClosed(socket_t s) { return PeerClosed || SocketStatus(s) != 2; }

void T_TcpIp::WndProc(int message, socket_t, int event, int) {
  if (message == WM_CONTROL_NOTIFY && event == FD_READ)
    DataReady = true;
}

void T_TcpIp::WaitForNotification(socket_t s) {
  platform::WaitReadable(s, -1);
  DataReady = true;
}

void T_TcpIp::OpenOutputSocket(socket_t &s, std::uint16_t port, std::uint32_t address) {
  CloseSocketHandle(s);
  s = CreateSocket();
  if (s == platform::InvalidSocket) {
    lastConnectError_ = platform::LastSocketError();
    return;
  }
  ConnectSocket(s, port, address);
}

void T_TcpIp::ConnectSocket(socket_t &s, std::uint16_t port, std::uint32_t address) {
  if (platform::Connect(s, address, port) == 0) {
    if (Tracing())
      Trace("Opened output socket " + std::to_string(port) + " to host " + DottedAddress(address) +
                " successfully; ID " + SocketText(s),
            tlSocket);
    return;
  }
  lastConnectError_ = platform::LastSocketError();
  if (lastConnectError_ == platform::WSAEWOULDBLOCK)
    return; // a socket in notification mode completes its connect later
  CloseSocketHandle(s);
  if (Tracing())
    Trace("Failed to open output socket " + std::to_string(port) + " to host " +
              DottedAddress(address),
          tlSocket);
}

void T_TcpIp::OpenInputSocket(socket_t &s, std::uint16_t port, std::uint32_t address) {
  CloseSocketHandle(s);
  s = CreateSocket();
  if (s == platform::InvalidSocket)
    return;
  if (platform::Bind(s, address, port) != 0) {
    if (Tracing())
      Trace("Failed to bind socket " + std::to_string(port) + " for local ip " +
                DottedAddress(address),
            tlSocket);
    CloseSocketHandle(s);
    return;
  }
  if (Tracing())
    Trace("Bound to socket " + std::to_string(port) + " for local ip " + DottedAddress(address),
          tlSocket);
  if (platform::Listen(s, 2) != 0) {
    CloseSocketHandle(s);
    if (Tracing())
      Trace("Failed to set input socket " + std::to_string(port) + " to listening mode", tlSocket);
    return;
  }
  if (Tracing())
    Trace("Set input socket " + std::to_string(port) + " to listening mode sucessfully; ID " +
              SocketText(s),
          tlSocket);
}

socket_t T_TcpIp::AcceptInputSocket(socket_t s, std::uint32_t *peerAddress) {
  // A server that never connects must not hold the client for ever.
  constexpr int AcceptTimeoutMs = 60000;
  socket_t c = platform::InvalidSocket;
  if (s != platform::InvalidSocket && platform::WaitReadable(s, AcceptTimeoutMs))
    c = platform::Accept(s, peerAddress);
  if (Tracing()) {
    if (c == platform::InvalidSocket)
      Trace("No incoming connection found on socket ID " + SocketText(s), tlSocket);
    else
      Trace("Incoming connection found on socket ID " + SocketText(s) + "; generated socket ID " +
                SocketText(c),
            tlSocket);
  }
  return c;
}

int T_TcpIp::SocketStatus(socket_t s) {
  if (s == platform::InvalidSocket)
    return 0;
  std::uint32_t address;
  std::uint16_t port;
  if (platform::PeerName(s, address, port))
    return 2;
  return platform::LastSocketError() == platform::WSAENOTCONN ? 1 : 3;
}

socket_t T_TcpIp::CreateSocket() { return platform::CreateTcpSocket(); }

void T_TcpIp::CloseSocketHandle(socket_t &s) {
  if (s == platform::InvalidSocket)
    return;
  DropBuffer(s);
  platform::CloseSocket(s);
  if (Tracing())
    Trace("Closed socket ID " + SocketText(s), tlSocket);
  s = platform::InvalidSocket;
}

T_TcpIp::ReadBuffer &T_TcpIp::BufferFor(socket_t s) {
  for (auto &rb : readBuffers_)
    if (rb->Socket == s)
      return *rb;
  readBuffers_.push_back(std::make_unique<ReadBuffer>());
  readBuffers_.back()->Socket = s;
  return *readBuffers_.back();
}

void T_TcpIp::DropBuffer(socket_t s) {
  std::erase_if(readBuffers_, [s](const auto &rb) { return rb->Socket == s; });
}

long T_TcpIp::RawReceive(socket_t s, char *buffer, std::size_t size) {
  for (;;) {
    const long n = platform::Receive(s, buffer, size);
    if (n > 0) {
      if (Tracing())
        Trace("Received " + std::to_string(n) + " bytes on socket ID " + SocketText(s), tlSocket);
      return n;
    }
    const int err = n == 0 ? 0 : platform::LastSocketError();
    if (err != platform::WSAEWOULDBLOCK) {
      PeerClosed = true;
      return n;
    }
    if (PumpMessages) {
      DataReady = false;
      while (!DataReady)
        WaitForNotification(s);
    } else {
      platform::WaitReadable(s, -1);
    }
  }
}

long T_TcpIp::ReceiveBuf(socket_t s, char *buffer, std::size_t size) {
  if (size == 0)
    return 0;
  ReadBuffer *rb = nullptr;
  for (auto &candidate : readBuffers_)
    if (candidate->Socket == s)
      rb = candidate.get();
  if (rb && rb->Available() > 0) {
    const std::size_t n = std::min(size, rb->Available());
    std::memcpy(buffer, rb->Bytes.data() + rb->Begin, n);
    rb->Begin += n;
    return static_cast<long>(n);
  }
  if (size >= DirectReadThreshold || !rb)
    return RawReceive(s, buffer, size);
  const long n = RawReceive(s, rb->Bytes.data(), rb->Bytes.size());
  if (n <= 0)
    return n;
  rb->Begin = 0;
  rb->End = static_cast<std::size_t>(n);
  return ReceiveBuf(s, buffer, size);
}

bool T_TcpIp::ReadLineAppend(socket_t s, std::string &text) {
  ReadBuffer &rb = BufferFor(s);
  const std::size_t before = text.size();
  for (;;) {
    if (rb.Available() == 0) {
      const long n = RawReceive(s, rb.Bytes.data(), rb.Bytes.size());
      if (n <= 0) {
        text.resize(before);
        return false;
      }
      rb.Begin = 0;
      rb.End = static_cast<std::size_t>(n);
    }
    const char *start = rb.Bytes.data() + rb.Begin;
    const auto *lf = static_cast<const char *>(std::memchr(start, '\n', rb.Available()));
    const std::size_t take = lf ? static_cast<std::size_t>(lf - start) : rb.Available();
    if (text.size() - before + take > MaxLineLength)
      throw ETcpIpError("Line longer than " + std::to_string(MaxLineLength) +
                        " bytes received on socket ID " + SocketText(s));
    // Carriage returns are dropped wherever they stand, as reading byte by
    // byte did; in practice there is one, at the end.
    for (std::size_t at = 0; at < take;) {
      const auto *cr = static_cast<const char *>(std::memchr(start + at, '\r', take - at));
      const std::size_t stop = cr ? static_cast<std::size_t>(cr - start) : take;
      text.append(start + at, stop - at);
      at = stop + 1;
    }
    rb.Begin += take;
    if (lf) {
      ++rb.Begin;
      return true;
    }
  }
}

bool T_TcpIp::ReadLine(socket_t s, std::string &line) {
  std::string collected;
  if (!ReadLineAppend(s, collected))
    return false;
  line = std::move(collected);
  return true;
}

namespace {

EProtocolError ClosedByServer(std::string_view protocol) {
  return EProtocolError(std::string(protocol), "Connection closed by server", 999);
}

} // namespace

std::string T_TcpIp::ReadLineOrFail(socket_t s, std::string_view protocol) {
  std::string line;
  if (!ReadLine(s, line))
    throw ClosedByServer(protocol);
  return line;
}

void T_TcpIp::SendBuf(socket_t s, const void *data, std::size_t length) {
  const char *p = static_cast<const char *>(data);
  std::size_t left = length;
  while (left > 0) {
    const long n = platform::Send(s, p, left);
    if (n < 0) {
      // A socket in notification mode may be full for a moment.
      if (platform::LastSocketError() == platform::WSAEWOULDBLOCK &&
          platform::WaitWritable(s, -1))
        continue;
      return;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (Tracing())
    Trace("Sent " + std::to_string(length) + " bytes on socket ID " + SocketText(s), tlSocket);
}

T_TcpIp::Reply T_TcpIp::ReadNumberedReply(socket_t s, std::string_view protocol,
                                          bool continueOnSpace) {
  std::string line = ReadLineOrFail(s, protocol);
  Trace(line, tlReply);
  Reply reply;
  const bool numbered = line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
  reply.Code = numbered ? (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') : 999;
  reply.Text = line.size() > 4 ? line.substr(4) : std::string();
  if (line.size() < 4 || line[3] != '-')
    return reply;
  // A multi-line reply ends at the line that starts with its code and a
  // blank (or holds the code alone); every line in between, whatever it looks
  // like, belongs to it, so text lines without a code don't cut it short.
  (void)continueOnSpace;
  const std::string code = line.substr(0, 3);
  for (;;) {
    line = ReadLineOrFail(s, protocol);
    Trace(line, tlReply);
    if (line.compare(0, 3, code) == 0 && (line.size() == 3 || line[3] == ' '))
      break;
  }
  return reply;
}

void T_TcpIp::ReadDotTerminated(socket_t s, std::string_view protocol, bool unstuff,
                                const std::function<void(std::string &)> &sink) {
  // One buffer serves every line; a sink that keeps a line moves it out.
  std::string line;
  for (;;) {
    line.clear();
    if (!ReadLineAppend(s, line))
      throw ClosedByServer(protocol);
    if (line == ".")
      return;
    if (unstuff && line.starts_with(".."))
      line.erase(0, 1);
    sink(line);
  }
}

void ParseURL(std::string_view url, std::string &protocol, std::string &user, std::string &path,
              std::string &port, std::string &host, std::string &password) {
  protocol.clear();
  user.clear();
  path.clear();
  port.clear();
  host.clear();
  password.clear();
  std::string_view rest = url;
  if (const std::size_t sep = url.find("://"); sep != std::string_view::npos) {
    protocol = url.substr(0, sep);
    rest = url.substr(sep + 3);
  } else if (url.size() >= 7) {
    std::string head(url.substr(0, 7));
    for (char &c : head)
      c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (head == "mailto:") {
      protocol = "mailto";
      rest = url.substr(url.find(':') + 1);
    }
  }
  std::string_view authority = rest;
  if (const std::size_t slash = rest.find('/'); slash != std::string_view::npos) {
    path = rest.substr(slash);
    authority = rest.substr(0, slash);
  }
  const std::size_t colon = authority.rfind(':');
  const std::size_t at = authority.rfind('@');
  const bool hasColon = colon != std::string_view::npos;
  const bool hasAt = at != std::string_view::npos;
  if (!hasColon && !hasAt) {
    host = authority;
    return;
  }
  if (!hasColon || (hasAt && colon < at)) {
    host = authority.substr(at + 1);
  } else {
    port = authority.substr(colon + 1);
    const std::size_t hostStart = hasAt ? at + 1 : 0;
    host = authority.substr(hostStart, colon - hostStart);
    if (!hasAt)
      return;
  }
  const std::string_view userInfo = authority.substr(0, at);
  if (const std::size_t c = userInfo.find(':'); c != std::string_view::npos) {
    user = userInfo.substr(0, c);
    password = userInfo.substr(c + 1);
  } else {
    user = userInfo;
  }
}

void StreamWriteString(TMemoryStream &stream, std::string_view text) { stream.WriteString(text); }

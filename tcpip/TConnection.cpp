#include "tcpip/TConnection.h"

#include "ip_misc/ip_misc.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <utility>

namespace {

constexpr std::size_t LineBufferSize = 16384;
// Bulk reads at least this large bypass the line buffer when it is empty.
constexpr std::size_t DirectReadThreshold = 4096;
// How often a cancellable wait looks at its flag, beside the shutdown of
// its socket that ends it at once where the system wakes a wait for that.
constexpr int CancelCheckMs = 50;
// How much of a block read line by line comes between the times its reader
// hears of it.
constexpr std::size_t ArrivedBytes = 65536;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

EProtocolError ClosedByServer(std::string_view protocol) {
  return EProtocolError(std::string(protocol), "Connection closed by server", 999);
}


// " from host:port" for a connected socket; nothing for a listening one.
std::string FromPeer(platform::socket_t s) {
  platform::SocketAddress address;
  if (!platform::PeerName(s, address))
    return {};
  return " from " + platform::FormatAddressPort(address);
}

// " with host:port" while the socket still knows its peer.
std::string WithPeer(platform::socket_t s) {
  platform::SocketAddress address;
  if (!platform::PeerName(s, address))
    return {};
  return " with " + platform::FormatAddressPort(address);
}

} // namespace

namespace {

std::string Seconds(std::int64_t ms) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(ms) / 1000.0);
  return seconds;
}

} // namespace

ETimeoutError TimedOut(int timeoutMs, std::string_view awaited) {
  return ETimeoutError("Timed out after " + Seconds(timeoutMs) + " s waiting for " +
                       std::string(awaited));
}

int TSpeedFloor::Stretch(const TLowSpeed &floor, int timeoutMs) {
  if (floor.BytesPerSecond <= 0 || floor.TimeMs <= 0 || timeoutMs == NoTimeout)
    return NoTimeout;
  return std::max(floor.TimeMs, timeoutMs);
}

int TSpeedFloor::Left(const TLowSpeed &floor, int timeoutMs) const {
  const int stretch = Stretch(floor, timeoutMs);
  if (stretch == NoTimeout)
    return NoTimeout;
  return static_cast<int>(std::max<std::int64_t>(stretch - waitedMs_, 0));
}

void TSpeedFloor::Waited(std::int64_t ms, const TLowSpeed &floor, int timeoutMs,
                         const std::function<std::string()> &awaited) {
  const int stretch = Stretch(floor, timeoutMs);
  if (stretch == NoTimeout)
    return;
  waitedMs_ += ms;
  if (waitedMs_ < stretch)
    return;
  const std::int64_t least = floor.BytesPerSecond * stretch / 1000;
  const std::int64_t moved = std::exchange(bytes_, 0);
  waitedMs_ = 0;
  if (moved < least)
    throw ETimeoutError("Slower than " + std::to_string(floor.BytesPerSecond) + " bytes/s (" +
                        std::to_string(moved) + " bytes in " + Seconds(stretch) +
                        " s) waiting for " + awaited());
}

TConnection::TConnection(platform::socket_t s) : socket_(s) {
  if (IsOpen())
    platform::SetNonBlocking(socket_.Get(), true);
}

TConnection::TReceived &TConnection::Received() {
  if (!received_) {
    received_ = std::make_unique<TReceived>();
    received_->Data.resize(LineBufferSize);
  }
  return *received_;
}

bool TConnection::IsClosed() const {
  if (ended_ || !IsOpen())
    return true;
  platform::SocketAddress address;
  return !platform::PeerName(socket_.Get(), address);
}

bool TConnection::Idle() const {
  return IsOpen() && !ended_ && !sendFailed_ && (!received_ || received_->Begin == received_->End) &&
         held_.empty() && !platform::WaitReadable(socket_.Get(), 0);
}

void TConnection::Trace(const std::string &text, TTraceLevel level) const {
  if (Tracing())
    (*trace_)(text, level);
}

platform::socket_t TConnection::OpenSocket(platform::SocketAddress::TFamily family) {
  Close();
  const platform::socket_t s = platform::CreateTcpSocket(family);
  if (s == platform::InvalidSocket)
    throw ESocketError(static_cast<std::uint16_t>(platform::LastSocketError()));
  if (Cancelled()) {
    platform::CloseSocket(s);
    throw ECancelled();
  }
  socket_.Reset(s);
  ended_ = sendFailed_ = false;
  floor_ = {};
  platform::SetNonBlocking(s, true);
  return s;
}

void TConnection::Connect(const std::vector<platform::SocketAddress> &addresses) {
  // A name with several addresses is reachable when one of them is: a
  // refused or unreachable one (often IPv6 on a host without a route) passes
  // the turn to the next, and only the last one's failure is raised.
  int error = platform::WSAHOST_NOT_FOUND;
  std::exception_ptr timedOut;
  for (const platform::SocketAddress &address : addresses) {
    timedOut = nullptr;
    try {
      error = ConnectTo(address);
    } catch (const ETimeoutError &) {
      timedOut = std::current_exception();
    }
    if (error == 0 && !timedOut)
      return;
  }
  if (timedOut)
    std::rethrow_exception(timedOut);
  throw ESocketError(static_cast<std::uint16_t>(error));
}

int TConnection::ConnectTo(const platform::SocketAddress &address) {
  platform::socket_t s;
  try {
    s = OpenSocket(address.Family);
  } catch (const ESocketError &e) {
    return e.Code;
  }
  const std::string host = platform::FormatAddress(address);
  int error = 0;
  if (platform::Connect(s, address) != 0) {
    error = platform::LastSocketError();
    if (error == platform::WSAEWOULDBLOCK) {
      // The outcome of a connect in progress is the socket's pending error.
      const std::string awaited =
          "the connection to " + platform::FormatAddressPort(address) + " to be accepted";
      try {
        Wait(TWait::Writable, awaited);
      } catch (...) {
        socket_.Reset();
        throw;
      }
      error = platform::PendingSocketError(s);
      // A peer that accepted and reset at once was connected all the same:
      // the reset shows at the first read, as with a blocking connect.
      if (error == platform::WSAECONNRESET || error == platform::WSAECONNABORTED)
        error = 0;
    }
  }
  if (error != 0) {
    socket_.Reset();
    if (Tracing())
      Trace("Failed to open output socket " + std::to_string(address.Port) + " to host " + host,
            tlSocket);
    return error;
  }
  if (Tracing())
    Trace("Opened output socket " + std::to_string(address.Port) + " to host " + host +
              " successfully; ID " + std::to_string(s),
          tlSocket);
  return 0;
}

void TConnection::Listen(const platform::SocketAddress &address) {
  const platform::socket_t s = OpenSocket(address.Family);
  const std::string port = std::to_string(address.Port);
  const std::string host = platform::FormatAddress(address);
  if (platform::Bind(s, address) != 0) {
    const int error = platform::LastSocketError();
    if (Tracing())
      Trace("Failed to bind socket " + port + " for local ip " + host, tlSocket);
    Close();
    throw ESocketError(static_cast<std::uint16_t>(error));
  }
  if (Tracing())
    Trace("Bound to socket " + port + " for local ip " + host, tlSocket);
  if (platform::Listen(s, 2) != 0) {
    const int error = platform::LastSocketError();
    Close();
    if (Tracing())
      Trace("Failed to set input socket " + port + " to listening mode", tlSocket);
    throw ESocketError(static_cast<std::uint16_t>(error));
  }
  if (Tracing())
    Trace("Set input socket " + port + " to listening mode sucessfully; ID " + std::to_string(s),
          tlSocket);
}

TConnection TConnection::Accept(platform::SocketAddress *peer) {
  for (;;) {
    const platform::socket_t c = platform::Accept(socket_.Get(), peer);
    if (c != platform::InvalidSocket) {
      if (Tracing())
        Trace("Incoming connection found on socket ID " + std::to_string(socket_.Get()) +
                  "; generated socket ID " + std::to_string(c),
              tlSocket);
      TConnection accepted(c);
      accepted.SetTrace(trace_);
      accepted.SetCounts(counts_);
      accepted.SetCancel(socket_.CancelSource());
      accepted.TimeoutMs = TimeoutMs;
      accepted.LowSpeed = LowSpeed;
      return accepted;
    }
    const int error = platform::LastSocketError();
    if (error != platform::WSAEWOULDBLOCK) {
      if (Tracing())
        Trace("No incoming connection found on socket ID " + std::to_string(socket_.Get()),
              tlSocket);
      throw ESocketError(static_cast<std::uint16_t>(error));
    }
    Wait(TWait::Readable, "the server to open the data connection");
  }
}

void TConnection::Close() {
  received_.reset();
  corked_ = false;
  held_.clear();
  if (tls_) {
    // A cancelled connection is shut down already: nothing more goes out.
    if (!Cancelled())
      tls_->Shutdown();
    tls_.reset();
  }
  if (!IsOpen())
    return;
  const platform::socket_t s = socket_.Get();
  socket_.Reset();
  if (Tracing())
    Trace("Closed socket ID " + std::to_string(s), tlSocket);
}

void TConnection::ShutdownSend() {
  // The TLS goodbye goes before the end of the byte stream. What the peer
  // sent meanwhile (TLS 1.3 session tickets) is taken first: a socket
  // closed on unread data ends in a reset, which a server takes for a
  // failed transfer.
  if (tls_ && !Cancelled()) {
    char discard[4096];
    std::size_t got = 0;
    while (tls_->Read(discard, sizeof discard, got) == platform::TlsStatus::Done) {
    }
    tls_->Shutdown();
  }
  if (IsOpen())
    platform::Shutdown(socket_.Get(), platform::TShutdown::Send);
}

void TConnection::LocalName(platform::SocketAddress &address) const {
  if (!platform::LocalName(socket_.Get(), address))
    throw ESocketError(static_cast<std::uint16_t>(platform::LastSocketError()));
}

void TConnection::PeerName(platform::SocketAddress &address) const {
  if (!platform::PeerName(socket_.Get(), address))
    throw ESocketError(static_cast<std::uint16_t>(platform::LastSocketError()));
}

platform::socket_t TConnection::Release() {
  tls_.reset();
  received_.reset();
  return socket_.Release();
}

TConnection::TClock::time_point TConnection::Deadline() const {
  return TimeoutMs == NoTimeout ? TClock::time_point::max()
                                : TClock::now() + std::chrono::milliseconds(TimeoutMs);
}

void TConnection::StopIfCancelled() {
  if (!Cancelled())
    return;
  Close();
  ended_ = true;
  throw ECancelled();
}

void TConnection::Wait(TWait wait, std::string_view awaited, TClock::time_point deadline) {
  const bool cancellable = Canceller() != nullptr;
  for (;;) {
    StopIfCancelled();
    const auto start = TClock::now();
    // The wait is cut where the floor's stretch ends, to judge it there.
    int sliceMs = NoTimeout;
    if (deadline != TClock::time_point::max())
      sliceMs = static_cast<int>(std::clamp<std::int64_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - start).count(), 0,
          std::numeric_limits<int>::max()));
    const int floorMs = floor_.Left(LowSpeed, TimeoutMs);
    if (floorMs != NoTimeout && (sliceMs == NoTimeout || floorMs < sliceMs))
      sliceMs = floorMs;
    if (cancellable && (sliceMs == NoTimeout || sliceMs > CancelCheckMs))
      sliceMs = CancelCheckMs;
    const bool ready =
        WaitHook ? WaitHook(socket_.Get(), wait, sliceMs)
                 : wait == TWait::Readable ? platform::WaitReadable(socket_.Get(), sliceMs)
                                           : platform::WaitWritable(socket_.Get(), sliceMs);
    StopIfCancelled();
    const auto now = TClock::now();
    // Named only for a failure: a transfer waits thousands of times.
    const auto what = [&] {
      return std::string(awaited) + (wait == TWait::Readable ? FromPeer(socket_.Get()) : "");
    };
    try {
      floor_.Waited(std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count(),
                    LowSpeed, TimeoutMs, what);
      if (!ready && now >= deadline)
        throw TimedOut(TimeoutMs, what());
    } catch (const ETimeoutError &) {
      // Whatever the peer sends later would be out of step with the dialogue.
      Close();
      ended_ = true;
      throw;
    }
    if (ready)
      return;
  }
}

bool TConnection::AwaitData(int timeoutMs) {
  if ((received_ && received_->Begin < received_->End) || ended_ || !IsOpen())
    return true;
  const TTimeLeft time(timeoutMs);
  const bool cancellable = Canceller() != nullptr;
  for (;;) {
    StopIfCancelled();
    TWait wait = TWait::Readable;
    if (tls_) {
      // Bytes on the socket may be no more than part of a record; only a
      // whole one is data. What is decrypted waits in the buffer.
      TReceived &r = Received();
      std::size_t got = 0;
      const platform::TlsStatus status = tls_->Read(r.Data.data(), r.Data.size(), got);
      if (status == platform::TlsStatus::Done && got > 0) {
        floor_.Moved(got);
        r.Begin = 0;
        r.End = got;
        return true;
      }
      if (status == platform::TlsStatus::WantWrite)
        wait = TWait::Writable;
      // An end or a failure shows at the next read.
      else if (status != platform::TlsStatus::WantRead && status != platform::TlsStatus::Done)
        return true;
    }
    const int left = time.Ms();
    if (left == 0)
      return false;
    const int slice =
        cancellable && (left == NoTimeout || left > CancelCheckMs) ? CancelCheckMs : left;
    const bool ready = WaitHook ? WaitHook(socket_.Get(), wait, slice)
                       : wait == TWait::Readable ? platform::WaitReadable(socket_.Get(), slice)
                                                 : platform::WaitWritable(socket_.Get(), slice);
    if (!ready && slice != left)
      continue;
    if (!ready)
      return false;
    if (!tls_)
      return true;
  }
}

std::size_t TConnection::RawReceive(char *buffer, std::size_t size) {
  if (tls_)
    return TlsReceive(buffer, size);
  while (!ended_) {
    const long n = platform::Receive(socket_.Get(), buffer, size);
    if (n > 0) {
      floor_.Moved(static_cast<std::size_t>(n));
      if (Tracing())
        Trace("Received " + std::to_string(n) + " bytes on socket ID " +
                  std::to_string(socket_.Get()),
              tlSocket);
      return static_cast<std::size_t>(n);
    }
    if (n < 0 && platform::LastSocketError() == platform::WSAEWOULDBLOCK) {
      Wait(TWait::Readable, "data");
      continue;
    }
    // A cancel shuts the socket down: the end it brings is no end of the
    // peer's, and a body read to its close is then not whole.
    StopIfCancelled();
    ended_ = true;
  }
  return 0;
}

std::size_t TConnection::Receive(char *buffer, std::size_t size) {
  const std::size_t n = ReceiveData(buffer, size);
  if (counts_ && n > 0)
    counts_->Add(TDirection::Received, n);
  return n;
}

std::size_t TConnection::ReceiveData(char *buffer, std::size_t size) {
  if (size == 0)
    return 0;
  if (received_ && received_->Begin < received_->End) {
    TReceived &r = *received_;
    const std::size_t n = std::min(size, r.End - r.Begin);
    std::memcpy(buffer, r.Data.data() + r.Begin, n);
    r.Begin += n;
    return n;
  }
  if (size >= DirectReadThreshold)
    return RawReceive(buffer, size);
  TReceived &r = Received();
  r.End = RawReceive(r.Data.data(), r.Data.size());
  r.Begin = 0;
  if (r.End == 0)
    return 0;
  return ReceiveData(buffer, size);
}

bool TConnection::ReadLineAppend(std::string &text) {
  TReceived &r = Received();
  const std::size_t before = text.size();
  for (;;) {
    if (r.Begin == r.End) {
      r.Begin = 0;
      r.End = RawReceive(r.Data.data(), r.Data.size());
      if (r.End == 0) {
        text.resize(before);
        return false;
      }
    }
    const char *start = r.Data.data() + r.Begin;
    const std::size_t available = r.End - r.Begin;
    const auto *lf = static_cast<const char *>(std::memchr(start, '\n', available));
    const std::size_t take = lf ? static_cast<std::size_t>(lf - start) : available;
    if (text.size() - before + take > MaxLineLength)
      throw ETcpIpError("Line longer than " + std::to_string(MaxLineLength) +
                        " bytes received on socket ID " + std::to_string(socket_.Get()));
    // Carriage returns are dropped wherever they stand, as reading byte by
    // byte did; in practice there is one, at the end.
    for (std::size_t at = 0; at < take;) {
      const auto *cr = static_cast<const char *>(std::memchr(start + at, '\r', take - at));
      const std::size_t stop = cr ? static_cast<std::size_t>(cr - start) : take;
      text.append(start + at, stop - at);
      at = stop + 1;
    }
    r.Begin += take;
    if (lf) {
      ++r.Begin;
      return true;
    }
  }
}

bool TConnection::ReadLine(std::string &line) {
  std::string collected;
  if (!ReadLineAppend(collected))
    return false;
  line = std::move(collected);
  return true;
}

std::string TConnection::ReadReplyLine(std::string_view protocol) {
  std::string line;
  if (!ReadLine(line))
    throw ClosedByServer(protocol);
  Trace(line, tlReply);
  return line;
}

TReply TConnection::ReadNumberedReply(std::string_view protocol, std::vector<std::string> *more) {
  std::string line = ReadReplyLine(protocol);
  TReply reply;
  const bool numbered = line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
  reply.Code = numbered ? (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') : 999;
  reply.Text = line.size() > 4 ? line.substr(4) : std::string();
  if (line.size() < 4 || line[3] != '-')
    return reply;
  // A multi-line reply ends at the line that starts with its code and a
  // blank (or holds the code alone); every line in between, whatever it looks
  // like, belongs to it, so text lines without a code don't cut it short.
  const std::string code = line.substr(0, 3);
  std::size_t kept = 0;
  for (;;) {
    line = ReadReplyLine(protocol);
    if (more) {
      kept += line.size() + PerLineCost;
      if (kept > MaxCapabilityBytes) {
        Close();
        throw ETcpIpError("The " + std::string(protocol) + " server's " + code +
                          " reply is longer than " + std::to_string(MaxCapabilityBytes) +
                          " bytes");
      }
      more->push_back(line.size() > 4 ? line.substr(4) : std::string());
    }
    if (line.compare(0, 3, code) == 0 && (line.size() == 3 || line[3] == ' '))
      return reply;
  }
}

void TConnection::ReadDotTerminated(std::string_view protocol, bool unstuff,
                                    const std::function<void(std::string &)> &sink) {
  // One buffer serves every line; a sink that keeps a line moves it out.
  std::string line;
  for (;;) {
    line.clear();
    if (!ReadLineAppend(line))
      throw ClosedByServer(protocol);
    if (line == ".")
      return;
    if (counts_)
      counts_->Add(TDirection::Received, line.size() + 2);
    if (unstuff && line.starts_with(".."))
      line.erase(0, 1);
    sink(line);
  }
}

void TConnection::ReadDotTerminated(std::string_view protocol, TLineText &lines,
                                    const TLinesArrived &arrived) {
  std::string &text = lines.Text();
  std::size_t told = text.size();
  for (;;) {
    const std::size_t start = text.size();
    if (!ReadLineAppend(text))
      throw ClosedByServer(protocol);
    const std::string_view line = std::string_view(text).substr(start);
    if (line == ".")
      break;
    if (line.starts_with(".."))
      text.erase(start, 1);
    lines.Close();
    if (arrived && text.size() - told >= ArrivedBytes) {
      told = text.size();
      arrived(lines);
    }
  }
  text.resize(text.size() - 1);
  if (arrived)
    arrived(lines);
}

void TConnection::Send(const void *data, std::size_t length) {
  Put(static_cast<const char *>(data), length, true);
}

void TConnection::Put(const char *data, std::size_t length, bool counted) {
  if (Cancelled())
    sendFailed_ = true;
  if (corked_) {
    held_.append(data, length);
    return;
  }
  if (tls_)
    return TlsSend(data, length, counted);
  const char *p = data;
  std::size_t left = length;
  while (left > 0 && !sendFailed_) {
    const long n = platform::Send(socket_.Get(), p, left);
    if (n >= 0) {
      floor_.Moved(static_cast<std::size_t>(n));
      if (counted && counts_)
        counts_->Add(TDirection::Sent, static_cast<std::size_t>(n));
      p += n;
      left -= static_cast<std::size_t>(n);
      continue;
    }
    if (platform::LastSocketError() != platform::WSAEWOULDBLOCK) {
      // What the peer sent before it went away is still read; only sending
      // is over.
      sendFailed_ = true;
      return;
    }
    Wait(TWait::Writable, "the peer to take more data");
  }
  if (left == 0 && Tracing())
    Trace("Sent " + std::to_string(length) + " bytes on socket ID " + std::to_string(socket_.Get()),
          tlSocket);
}

void TConnection::Uncork() {
  corked_ = false;
  const std::string held = std::exchange(held_, {});
  if (!held.empty())
    Put(held.data(), held.size(), false);
}

void TConnection::RefuseLineBreak(std::string_view text) const {
  const std::size_t at = text.find_first_of("\r\n");
  if (at != std::string_view::npos)
    throw ETcpIpError("Line break in a command: " + std::string(text.substr(0, at)));
}

void TConnection::SendCommand(std::string_view text) { SendCommand(text, text); }

void TConnection::SendCommand(std::string_view text, std::string_view traced) {
  RefuseLineBreak(text);
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text).append("\r\n");
  Put(line.data(), line.size(), false);
  if (Tracing())
    Trace(std::string(traced), tlCommand);
}

void TConnection::SendSecret(std::string_view prefix, std::string_view secret,
                             std::string_view mask) {
  RefuseLineBreak(prefix);
  if (secret.find_first_of("\r\n") != std::string_view::npos)
    throw ETcpIpError("Line break in a command: " + std::string(prefix) + std::string(mask));
  std::string line;
  line.reserve(prefix.size() + secret.size() + 2);
  line.append(prefix).append(secret).append("\r\n");
  Put(line.data(), line.size(), false);
  if (Tracing())
    Trace(std::string(prefix) + std::string(mask), tlCommand);
}

void TConnection::StartTls(const std::string &host, const platform::TlsSettings &settings,
                           const TConnection *resumeFrom) {
  // Anything the peer sent ahead of the handshake was not protected.
  received_.reset();
  std::string error;
  tls_ = platform::TlsSession::Create(socket_.Get(), host, settings,
                                      resumeFrom ? resumeFrom->tls_.get() : nullptr, error);
  if (!tls_)
    throw ETcpIpError("TLS with " + host + " cannot start: " + error);
  // The handshake as a whole gets the time-out: a server that sends it a
  // byte at a time would otherwise restart the wait with each one.
  const TClock::time_point deadline = Deadline();
  for (;;) {
    const platform::TlsStatus status = tls_->Handshake();
    if (status == platform::TlsStatus::Done)
      break;
    if (!WaitForTls(status, "the TLS handshake", deadline)) {
      const std::string why = status == platform::TlsStatus::Closed
                                  ? "the server closed the connection"
                                  : tls_->Error();
      tls_.reset();
      // Nothing more may pass in clear on a connection meant to be private.
      Close();
      ended_ = true;
      throw ETcpIpError("TLS handshake with " + host + " failed: " + why);
    }
  }
  if (Tracing())
    Trace("TLS with " + host + " on socket ID " + std::to_string(socket_.Get()) + ": " +
              tls_->Description(),
          tlSocket);
}

bool TConnection::WaitForTls(platform::TlsStatus status, std::string_view awaited,
                             TClock::time_point deadline) {
  switch (status) {
  case platform::TlsStatus::WantRead: Wait(TWait::Readable, awaited, deadline); return true;
  case platform::TlsStatus::WantWrite: Wait(TWait::Writable, awaited, deadline); return true;
  case platform::TlsStatus::Done: return true;
  case platform::TlsStatus::Closed:
  case platform::TlsStatus::Truncated:
  case platform::TlsStatus::Failed: return false;
  }
  return false;
}

std::size_t TConnection::TlsReceive(char *buffer, std::size_t size) {
  // A record holds at most 16 KiB: a large read gathers every record that
  // is already there, so a download costs one write per buffer, not per
  // record.
  std::size_t total = 0;
  while (!ended_ && total < size) {
    std::size_t got = 0;
    const platform::TlsStatus status = tls_->Read(buffer + total, size - total, got);
    if (status == platform::TlsStatus::Done && got > 0) {
      floor_.Moved(got);
      total += got;
      continue;
    }
    if (total > 0)
      break;
    if (status == platform::TlsStatus::Failed)
      throw ETcpIpError("TLS failure on the connection" + WithPeer(socket_.Get()) + ": " +
                        tls_->Error());
    if (status == platform::TlsStatus::Truncated) {
      ended_ = true;
      // The peer's address may be gone with the connection.
      throw ECutShortError("The TLS connection ended without the server's TLS close (" +
                           tls_->Error() + "): what came may be cut short");
    }
    if (!WaitForTls(status, "data", Deadline()))
      ended_ = true;
  }
  if (total > 0 && Tracing())
    Trace("Received " + std::to_string(total) + " bytes on socket ID " +
              std::to_string(socket_.Get()),
          tlSocket);
  return total;
}

void TConnection::TlsSend(const char *data, std::size_t length, bool counted) {
  std::size_t left = length;
  while (left > 0 && !sendFailed_) {
    std::size_t put = 0;
    const platform::TlsStatus status = tls_->Write(data, left, put);
    if (status == platform::TlsStatus::Done) {
      floor_.Moved(put);
      if (counted && counts_)
        counts_->Add(TDirection::Sent, put);
      data += put;
      left -= put;
    } else if (!WaitForTls(status, "the peer to take more data", Deadline())) {
      sendFailed_ = true;
    }
  }
  if (left == 0 && Tracing())
    Trace("Sent " + std::to_string(length) + " bytes on socket ID " + std::to_string(socket_.Get()),
          tlSocket);
}

#pragma once
// One connection to a peer. It owns the socket (closed when the connection
// goes), the bytes received and not yet handed out, and every wait on the
// peer. Protocol clients read lines, numbered replies, dot-terminated blocks
// and raw data through it and send commands through it, so framing, the
// refusal of line breaks inside a command, the masking of secrets in traces
// and the time-out of each wait are written once, here. A failure is raised
// where it happens, as the ETcpIpError family.
//
// The socket is non-blocking from the start: a receive or send that would
// block waits here, for at most TimeoutMs, through the wait hook when one is
// set (a client that serves a notification loop meanwhile) or by polling the
// socket. A peer that keeps each wait short but moves next to nothing (a byte
// now and then) is held to the floor of LowSpeed as well, and a TLS handshake
// as a whole to TimeoutMs. A connection whose wait ran out is closed: anything
// the peer sends later would be out of step with the dialogue. A connection
// given a canceller (a background job's) registers its sockets with it and
// raises ECancelled from a connect or a wait once the work is cancelled.
#include "ip_misc/TLineText.h"
#include "platform/Socket.h"
#include "platform/SocketHolder.h"
#include "platform/Tls.h"
#include "tcpip/ETcpIpError.h"
#include "tcpip/TByteCounts.h"
#include "tcpip/TCancel.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum TTraceLevel { tlCommand = 0, tlReply = 1, tlSocket = 2 };
using TTraceProc = std::function<void(const std::string &text, TTraceLevel level)>;

// The longest reply or header line accepted: a server that sends more
// without a line end is broken or hostile.
constexpr std::size_t MaxLineLength = 1 << 20;

// The most a list of capabilities (an EHLO reply's keyword lines, a CAPA
// answer) may hold, each line counted with PerLineCost bytes more for the
// room a kept line takes beside its text: real ones hold a few hundred
// bytes.
constexpr std::size_t MaxCapabilityBytes = 64 << 10;
constexpr std::size_t PerLineCost = 32;

// No wait is limited.
constexpr int NoTimeout = -1;

// A time-out of some milliseconds (or NoTimeout) that runs from its making,
// spent over several waits.
class TTimeLeft {
public:
  explicit TTimeLeft(int timeoutMs)
      : timeoutMs_(timeoutMs), deadline_(Clock::now() + std::chrono::milliseconds(timeoutMs)) {}
  // What the next wait may take: NoTimeout for none, 0 once it is over.
  int Ms() const {
    if (timeoutMs_ == NoTimeout)
      return NoTimeout;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }

private:
  using Clock = std::chrono::steady_clock;
  int timeoutMs_;
  Clock::time_point deadline_;
};

// A wait on the peer ran out of time; the message says what was awaited.
class ETimeoutError : public ETcpIpError {
public:
  explicit ETimeoutError(const std::string &msg) : ETcpIpError(msg) {}
};

// A secured connection ended without the peer's TLS close (closed or reset
// by the peer, or by whoever sits between): what was received may not be
// all that was sent, so an answer that only the connection's end completes
// is not complete.
class ECutShortError : public ETcpIpError {
public:
  explicit ECutShortError(const std::string &msg) : ETcpIpError(msg) {}
};

// The time-out of a wait for awaited ("a reply from 127.0.0.1:21").
ETimeoutError TimedOut(int timeoutMs, std::string_view awaited);

// The least a peer must move while it is waited for: at least BytesPerSecond
// on average over every stretch of TimeMs spent waiting on it (sent and
// received bytes together; the time the client spends on its own work does
// not count). A stretch is never shorter than the idle time-out, so a
// silence the time-out allows is not cut short; with no time-out, or a rate
// of 0, there is no floor.
struct TLowSpeed {
  std::int64_t BytesPerSecond = 0;
  int TimeMs = 60000;
};

// Measures a connection against its floor: bytes are counted as they move,
// time only while waiting.
class TSpeedFloor {
public:
  // How long the next wait may last before the current stretch is judged;
  // NoTimeout when there is no floor.
  int Left(const TLowSpeed &floor, int timeoutMs) const;
  void Moved(std::size_t bytes) { bytes_ += static_cast<std::int64_t>(bytes); }
  // Counts a wait of ms; raises ETimeoutError, saying what was awaited, when
  // it ends a stretch that moved less than the floor asks for (awaited is
  // asked for its text only then).
  void Waited(std::int64_t ms, const TLowSpeed &floor, int timeoutMs,
              const std::function<std::string()> &awaited);

private:
  static int Stretch(const TLowSpeed &floor, int timeoutMs);
  std::int64_t waitedMs_ = 0;
  std::int64_t bytes_ = 0;
};

// A numbered reply (FTP, SMTP): the first line's code (999 when its first
// three characters are no number) and its text from the fifth character.
struct TReply {
  int Code = 0;
  std::string Text;
};

class TConnection {
public:
  enum class TWait { Readable, Writable };
  // Runs while the connection waits for its socket; returns false when the
  // time ran out first (timeoutMs: NoTimeout or the milliseconds allowed).
  using TWaitHook = std::function<bool(platform::socket_t s, TWait wait, int timeoutMs)>;

  TConnection() = default;
  // Takes over an open socket (an accepted data connection).
  explicit TConnection(platform::socket_t s);
  // A connection moved from is closed, with nothing buffered.
  TConnection(TConnection &&other) noexcept = default;
  TConnection &operator=(TConnection &&other) noexcept = default;

  platform::socket_t Handle() const { return socket_.Get(); }
  bool IsOpen() const { return socket_.IsOpen(); }
  // The peer has closed, or a receive or send failed: nothing more can be
  // read beyond what is buffered.
  bool Ended() const { return ended_; }
  // True when the connection has ended or its socket is not connected.
  bool IsClosed() const;
  // Open, nothing received and unread, and the peer silent: a connection
  // kept between requests that can take the next one. A peer that closed
  // meanwhile, or sent anything unasked, has made it unusable.
  bool Idle() const;

  // The owner's trace hook; it must outlive the connection's use of it.
  void SetTrace(const TTraceProc *trace) { trace_ = trace; }
  // Where the data received and sent is counted (the owner's); null:
  // nowhere. Data is what bulk reads hand out, the lines of dot-terminated
  // blocks, and what is sent with Send; commands and replies are not.
  void SetCounts(TByteCounts *counts) { counts_ = counts; }
  // The owner's canceller, which may be set or changed later; it must
  // outlive the connection.
  void SetCancel(TCancel *const *cancel) { socket_.SetCancel(cancel); }
  // Every wait below gives up after this long without progress.
  int TimeoutMs = NoTimeout;
  TLowSpeed LowSpeed;
  TWaitHook WaitHook;

  // A new socket connected to the first of addresses (each with its port)
  // that accepts, tried in turn, each given TimeoutMs. When none does, the
  // last one's failure is raised: ESocketError with the WinSock number, or
  // ETimeoutError; the connection is then closed.
  void Connect(const std::vector<platform::SocketAddress> &addresses);
  void Connect(const platform::SocketAddress &address) { Connect(std::vector{address}); }
  // A new socket bound to address (port 0: any free one) and listening.
  // Raises ESocketError and leaves the connection closed.
  void Listen(const platform::SocketAddress &address);
  // Waits for one incoming connection on a listening connection and returns
  // it; peer receives its address. Raises ETimeoutError or ESocketError.
  TConnection Accept(platform::SocketAddress *peer);
  // Closes the socket (tracing it) and drops what was buffered; never
  // raises. Close on a closed connection does nothing.
  void Close();
  // Tells the peer that nothing more will be sent (the end of an upload).
  void ShutdownSend();
  // The address and port of this end or of the peer. Raise ESocketError
  // when the socket has none.
  void LocalName(platform::SocketAddress &address) const;
  void PeerName(platform::SocketAddress &address) const;
  // Secures the connection: the TLS handshake and the check of the peer
  // (see platform::TlsSession) for host. Whatever was received before and not
  // yet read is dropped: it came in clear, unprotected. resumeFrom: a secured
  // connection to the same server whose session this one takes up. Raises
  // ETcpIpError saying why the handshake failed, or ETimeoutError when the
  // whole handshake takes longer than TimeoutMs.
  void StartTls(const std::string &host, const platform::TlsSettings &settings,
                const TConnection *resumeFrom = nullptr);
  bool Secure() const { return tls_ != nullptr; }
  // Gives up the socket without closing it.
  platform::socket_t Release();

  // Waits up to timeoutMs (NoTimeout: for ever) for something to read,
  // and, unlike the waits of the reads, keeps the connection when nothing
  // comes: a client that waits for news (IMAP IDLE) goes on afterwards.
  // True when data, or the end of the connection, is there to be read.
  bool AwaitData(int timeoutMs);
  // What is buffered first, else one receive of up to size bytes (waiting
  // for data). Returns the count, or 0 once the connection has ended in
  // order. Raises ECutShortError when a secured connection ends without the
  // peer's TLS close.
  std::size_t Receive(char *buffer, std::size_t size);
  // One line (CR dropped wherever it stands, LF ends it). Returns false,
  // leaving line as it was, when the connection ends first. Raises
  // ETcpIpError past MaxLineLength.
  bool ReadLine(std::string &line);
  // As ReadLine, but appends to text; when the connection ends first, text
  // is left as it was.
  bool ReadLineAppend(std::string &text);
  // As ReadLine, but a connection that ends first raises
  // EProtocolError(protocol, "Connection closed by server", 999). The line
  // is traced as a reply.
  std::string ReadReplyLine(std::string_view protocol);
  // A numbered reply: when the fourth character of its first line is "-",
  // every line up to the one that starts with the same code and a blank
  // belongs to it. Raises like ReadReplyLine. When more is given, it
  // receives the text of every line after the first (from the fifth
  // character): the keywords of an EHLO reply, for example; past
  // MaxCapabilityBytes of them the connection is closed (the rest of the
  // reply is still coming) and ETcpIpError raised.
  TReply ReadNumberedReply(std::string_view protocol, std::vector<std::string> *more = nullptr);
  // The lines of a dot-terminated block up to the line ".", undoing the
  // sender's dot-stuffing when unstuff is set; each goes to sink, which may
  // move it away. Raises like ReadReplyLine.
  void ReadDotTerminated(std::string_view protocol, bool unstuff,
                         const std::function<void(std::string &)> &sink);
  // As ReadDotTerminated with unstuff, but each line is received straight
  // into lines, and arrived (when set) hears of them every few tens of
  // kilobytes and at the end; a failure it raises ends the reading.
  void ReadDotTerminated(std::string_view protocol, TLineText &lines, const TLinesArrived &arrived);

  // Sends all bytes. A failed send is not raised: later sends are dropped,
  // and the next read finds the end of the connection. Raises ETimeoutError when the peer
  // takes nothing for TimeoutMs.
  void Send(const void *data, std::size_t length);
  void Send(std::string_view text) { Send(text.data(), text.size()); }
  // text + CR LF, traced as a command. Raises ETcpIpError, sending nothing,
  // when text holds a line break: it would smuggle in a command of its own.
  void SendCommand(std::string_view text);
  // As SendCommand, traced as traced instead (a text with a secret masked).
  void SendCommand(std::string_view text, std::string_view traced);
  // As SendCommand for prefix + secret, traced as prefix + mask.
  void SendSecret(std::string_view prefix, std::string_view secret, std::string_view mask);
  // Holds what is sent until Uncork sends it in one piece. A request of
  // several lines then leaves as one segment (and one TLS record): sent
  // line by line, each line after the first waits for the peer's delayed
  // acknowledgement, 40 ms on Linux once a TLS handshake has gone back and
  // forth. Close drops what is held.
  void Cork() { corked_ = true; }
  void Uncork();

private:
  bool Tracing() const { return trace_ && *trace_; }
  void Trace(const std::string &text, TTraceLevel level) const;
  // A new non-blocking socket of the family in place of the old one.
  platform::socket_t OpenSocket(platform::SocketAddress::TFamily family);
  // One attempt of Connect; the WinSock number of its failure, or 0.
  int ConnectTo(const platform::SocketAddress &address);
  // One receive into buffer, waiting for data; 0 at the end.
  std::size_t RawReceive(char *buffer, std::size_t size);
  // The same through the TLS session.
  std::size_t TlsReceive(char *buffer, std::size_t size);
  // Receive without counting.
  std::size_t ReceiveData(char *buffer, std::size_t size);
  // Sends, counting the bytes as data when counted is set.
  void Put(const char *data, std::size_t length, bool counted);
  void TlsSend(const char *data, std::size_t length, bool counted);
  // Waits as the TLS session asks; false when it has failed or ended.
  using TClock = std::chrono::steady_clock;
  // The end of a wait of TimeoutMs from now (the clock's end for none).
  TClock::time_point Deadline() const;
  bool WaitForTls(platform::TlsStatus status, std::string_view awaited,
                  TClock::time_point deadline);
  // Waits until the socket is ready, until deadline at the latest and as
  // long as the floor allows; raises ETimeoutError (closing the connection)
  // otherwise.
  void Wait(TWait wait, std::string_view awaited, TClock::time_point deadline);
  void Wait(TWait wait, std::string_view awaited) { Wait(wait, awaited, Deadline()); }
  // Raises ECancelled, closing the connection, once the work is cancelled.
  void StopIfCancelled();
  TCancel *Canceller() const { return socket_.Canceller(); }
  bool Cancelled() const {
    const TCancel *cancel = Canceller();
    return cancel && cancel->Cancelled();
  }
  void RefuseLineBreak(std::string_view text) const;

  TCancellableSocket socket_;
  bool ended_ = false;
  bool sendFailed_ = false;
  const TTraceProc *trace_ = nullptr;
  TByteCounts *counts_ = nullptr;
  std::unique_ptr<platform::TlsSession> tls_;
  // Received bytes not yet handed out: lines are cut from them and bulk
  // reads drain them first, so a client sees exactly the byte stream that
  // one-byte reads would have given. Made at the first read; a move hands
  // it on whole.
  struct TReceived {
    std::vector<char> Data;
    std::size_t Begin = 0;
    std::size_t End = 0;
  };
  TReceived &Received();
  std::unique_ptr<TReceived> received_;
  bool corked_ = false;
  std::string held_;
  TSpeedFloor floor_;
};

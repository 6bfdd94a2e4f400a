#pragma once
// The base of the asynchronous TCP sockets: their connections, state, the
// receive buffer, queued output, and the error path. Nothing here waits for
// the network except name resolution; completions arrive later as
// notifications of the loop the object was given, and no operation throws on
// a network failure: failures are stored in LastError and raised through
// OnError, and the failing operation returns normally.
#include "WSockets/TClientList.h"
#include "platform/NotificationLoop.h"
#include "platform/Socket.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum TSocketState : std::uint8_t { ssNotStarted, ssClosed, ssConnected, ssListening, ssOpen };

class TCustomWSocket;
using TOnError = std::function<void(TCustomWSocket &Sender, int Error, const std::string &Msg)>;
using TOnData = std::function<void(TCustomWSocket &Sender, platform::socket_t Socket)>;
using TOnAccept = std::function<void(TCustomWSocket &Sender, platform::socket_t Socket)>;
using TOnConnect = std::function<void(TCustomWSocket &Sender, platform::socket_t Socket)>;
using TOnClose = std::function<void(TCustomWSocket &Sender, platform::socket_t Socket)>;

// A socket address, IPv4 or IPv6, with its port (host order).
using TSockAddr = platform::SocketAddress;

class TCustomWSocket {
public:
  static constexpr std::size_t ReadBufferSize = 1024;
  // Output a peer does not take is kept up to this much per connection;
  // past it the connection's output fails with 10055 (SendFailed) instead
  // of eating memory.
  static constexpr std::size_t MaxQueuedOutput = 16u << 20;
  // And up to this much for all of the object's connections together: past
  // it the longest queue fails the same way, since it belongs to a peer
  // that does not read rather than to one that keeps up.
  static constexpr std::size_t MaxQueuedTotal = 64u << 20;

  virtual ~TCustomWSocket();
  TCustomWSocket(const TCustomWSocket &) = delete;
  TCustomWSocket &operator=(const TCustomWSocket &) = delete;

  std::int32_t Protocol = 0;
  std::int32_t SocketType = 3;
  TSocketState Status = ssClosed;
  std::int32_t LastError = 0;
  TOnError OnError;

  // Addresses for a connect, every one of the host's in the order to try
  // them (a numeric IPv4 or IPv6 address, brackets allowed, is the only
  // one). A port that is neither a service name nor a number 0..65535 raises
  // EConvertError; a host that does not resolve is reported (11001 ...) and
  // gives false.
  bool GetSockAddrs(const std::string &host, const std::string &port, std::vector<TSockAddr> &addrs);
  // The first of them.
  bool GetSockAddr(const std::string &host, const std::string &port, TSockAddr &addr);
  // Address for a listen on every interface of the family; the port as
  // above.
  bool GetAnySockAddr(const std::string &port, TSockAddr &addr,
                      TSockAddr::TFamily family = TSockAddr::V4);
  // Queries of an end of a connection; result unchanged when they fail.
  std::string GetLocalAddress(platform::socket_t s);
  std::string GetLocalPort(platform::socket_t s);
  std::string GetRemoteAddress(platform::socket_t s);
  std::string GetRemotePort(platform::socket_t s);
  // The local host name's first IPv4 address, else its first IPv6 one.
  std::string GetLocalHostAddress();

  void SocketError(int error);
  static std::string ErrorText(int error);

  // Bytes the output queues of all connections take together, room
  // reserved ahead included.
  std::size_t QueuedTotal() const { return queuedTotal_; }
  // Between Hold and Release writes are only queued and go out together, in
  // order, at the final Release: many small messages cost one send.
  void HoldOutput() { ++held_; }
  void ReleaseOutput();
  // While reading is held, data is left where it is and no data event
  // raised: TCP holds the peers back. Release raises the events of what
  // came meanwhile.
  void HoldReading() { readingHeld_ = true; }
  void ReleaseReading();

protected:
  // protocol and socketType: the IP protocol and socket type the subclass
  // works with.
  TCustomWSocket(platform::NotificationLoop &loop, std::int32_t protocol, std::int32_t socketType);
  // Graceful close of a connection that has left connections_:
  // notifications cancelled, what is queued handed to the system once,
  // sending shut, what the peer still sent drained, socket closed. A
  // failure is reported; the socket goes with the connection all the same.
  void SocketClose(TSocketConnection &c);
  // The same for a socket of the object's own (a listening one); a failure
  // is reported and leaves the socket open.
  void SocketClose(platform::SocketHolder &socket);
  // Sends the whole text in order; what the socket cannot take now is kept
  // and sent when it can (FD_WRITE). A failed send, or a queue past a cap,
  // goes to SendFailed; the text is then not queued.
  void SocketWrite(TSocketConnection &c, std::string_view text);
  // One receive of at most ReadBufferSize bytes; empty at the peer's close,
  // on would-block and on failure (reported).
  std::string SocketRead(TSocketConnection &c);
  // A new connection of socket, set up for notifications (mask); null,
  // the socket closed and the failure reported, when that fails.
  TSocketConnection *AddConnection(platform::SocketHolder &socket, int mask);
  // The peer's address and port, as the connection keeps them.
  void Describe(TSocketConnection &c);
  // Drops what is queued for c, and the memory it took.
  void ForgetOutput(TSocketConnection &c);
  static void MarkFailed(TSocketConnection &c) { c.failed_ = true; }
  // Output for c cannot go (error: the send's, or 10055 for a cap). Here
  // the error is reported; a server also drops the connection.
  virtual void SendFailed(TSocketConnection &c, int error);
  // The notification handler of one of this object's sockets.
  platform::NotificationHandler Handler();
  virtual void WndProc(platform::socket_t s, int event, int error) = 0;

  platform::NotificationLoop &loop_;
  char ReadBuffer[ReadBufferSize];
  TClientList connections_;

private:
  // Sends what is queued for c; re-arms FD_WRITE when the socket is full.
  void FlushOutput(TSocketConnection &c);
  // The same, leaving a failure to the caller: its error, else 0.
  int Flush(TSocketConnection &c);
  // Whether the socket could be shut and closed; the drain in between.
  bool CloseGracefully(platform::socket_t s);
  TSocketConnection *LongestQueue() const;

  std::uint64_t serials_ = 0;
  std::size_t queuedTotal_ = 0;
  int held_ = 0;
  bool readingHeld_ = false;
};

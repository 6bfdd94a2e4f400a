#pragma once
// The connection object every protocol client derives from: it resolves a
// host, connects, sends command lines, reads reply lines and raw data through
// one buffered reader per socket, traces what it does, and raises the
// ETcpIpError family. All work is synchronous on the caller's thread.
#include "ip_misc/TMemoryStream.h"
#include "platform/Socket.h"
#include "tcpip/ETcpIpError.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum TTraceLevel { tlCommand = 0, tlReply = 1, tlSocket = 2 };
using TTraceProc = std::function<void(const std::string &text, TTraceLevel level)>;

using platform::socket_t;

// Notification message numbers of the protocol objects (control and data
// connections of an asynchronous transfer).
constexpr int WM_CONTROL_NOTIFY = 0x500;
constexpr int WM_DATA_NOTIFY = 0x501;
// Socket events as notifications carry them.
constexpr int FD_READ = 1, FD_WRITE = 2, FD_OOB = 4, FD_ACCEPT = 8, FD_CONNECT = 16, FD_CLOSE = 32;

// The longest reply or header line accepted: a server that sends more
// without a line end is broken or hostile.
constexpr std::size_t MaxLineLength = 1 << 20;

class T_TcpIp {
public:
  static constexpr std::size_t BufferSize = 32512;

  T_TcpIp();
  virtual ~T_TcpIp();
  T_TcpIp(const T_TcpIp &) = delete;
  T_TcpIp &operator=(const T_TcpIp &) = delete;

  std::string Hostname;
  TTraceProc OnTrace;
  std::uint16_t RemotePort = 0;
  std::uint32_t RemoteAddress = 0xFFFFFFFFu;
  bool PeerClosed = false;
  bool DataReady = false;
  // Received data of the last Action; for uploads the data to send.
  TMemoryStream Stream;
  // When set, a receive that would block waits by running WaitForNotification.
  bool PumpMessages = false;
  bool Connected = false;
  socket_t Socket = platform::InvalidSocket;

  // Resolves Hostname and connects Socket to RemotePort; reconnects when
  // already connected. Raises ETcpIpError "Couldn't resolve hostname NAME"
  // or ESocketError (Code = the WinSock error) and leaves nothing connected.
  virtual void Login();
  // Closes Socket; never raises.
  virtual void Logout();
  // The client's main job; here: Login, then receive everything into Stream.
  virtual void Action();
  // Sends text + CR LF on the command socket and traces it at tlCommand.
  virtual void SendCommand(const std::string &text);
  // True when PeerClosed is set or s is not connected.
  bool IsClosed(socket_t s);
  // A notification for this object (message WM_CONTROL_NOTIFY or
  // WM_DATA_NOTIFY, the socket, the FD_ event and its WinSock error).
  virtual void WndProc(int message, socket_t s, int event, int error);

protected:
  void OpenOutputSocket(socket_t &s, std::uint16_t port, std::uint32_t address);
  void ConnectSocket(socket_t &s, std::uint16_t port, std::uint32_t address);
  void OpenInputSocket(socket_t &s, std::uint16_t port, std::uint32_t address);
  // Takes one incoming connection, waiting for it; InvalidSocket on failure.
  socket_t AcceptInputSocket(socket_t s, std::uint32_t *peerAddress = nullptr);
  // 0 no socket, 1 not connected, 2 connected, 3 other failure.
  int SocketStatus(socket_t s);
  socket_t CreateSocket();
  void CloseSocketHandle(socket_t &s);

  // One line (CR dropped, LF ends it). Returns false, leaving line as it
  // was, when the connection ends first. Raises ETcpIpError when the line
  // passes MaxLineLength.
  bool ReadLine(socket_t s, std::string &line);
  // As ReadLine, but the line is appended to text; when the connection ends
  // first, text is left as it was.
  bool ReadLineAppend(socket_t s, std::string &text);
  // As ReadLine, but a connection that ends first raises
  // EProtocolError(protocol, "Connection closed by server", 999).
  std::string ReadLineOrFail(socket_t s, std::string_view protocol);
  // Data already buffered for s first, else one receive of up to size
  // bytes. Returns the count; 0 or less when the connection has ended, with
  // PeerClosed set.
  long ReceiveBuf(socket_t s, char *buffer, std::size_t size);
  // Sends all bytes (a failure is not reported, as a closed connection
  // shows at the next read).
  void SendBuf(socket_t s, const void *data, std::size_t length);
  void SendString(socket_t s, std::string_view text) { SendBuf(s, text.data(), text.size()); }

  // A numbered reply (FTP, SMTP): the first line's code and text (from its
  // fifth character). When the fourth character of the first line is "-",
  // the lines that follow belong to the reply up to the one that starts with
  // the same code and a blank; lines led by a blank (continueOnSpace, FTP)
  // are among them. Code 999 when the first three characters are not a
  // number. Raises EProtocolError(protocol, ..., 999) when the connection
  // ends first.
  struct Reply {
    int Code = 0;
    std::string Text;
  };
  Reply ReadNumberedReply(socket_t s, std::string_view protocol, bool continueOnSpace);
  // Reads the lines of a dot-terminated block (POP3 LIST, TOP, RETR) up to
  // the line ".", undoing the sender's dot-stuffing (".." to ".") when
  // unstuff is set, and hands each to sink, which may move it away. Raises
  // like ReadLineOrFail.
  void ReadDotTerminated(socket_t s, std::string_view protocol, bool unstuff,
                         const std::function<void(std::string &)> &sink);

  // Runs while a pumped receive waits; the asynchronous FTP transfer
  // overrides it to run the notification loop until DataReady.
  virtual void WaitForNotification(socket_t s);

  // Traces are built only when OnTrace is set.
  bool Tracing() const { return static_cast<bool>(OnTrace); }
  void Trace(const std::string &text, TTraceLevel level) const {
    if (OnTrace)
      OnTrace(text, level);
  }

  std::vector<char> Buffer;

private:
  struct ReadBuffer;
  ReadBuffer &BufferFor(socket_t s);
  void DropBuffer(socket_t s);
  // One receive into buffer, waiting out would-block; sets PeerClosed at
  // the end of the connection.
  long RawReceive(socket_t s, char *buffer, std::size_t size);
  std::vector<std::unique_ptr<ReadBuffer>> readBuffers_;
  int lastConnectError_ = 0;
};

// Splits a URL into its parts (every output is emptied first).
void ParseURL(std::string_view url, std::string &protocol, std::string &user, std::string &path,
              std::string &port, std::string &host, std::string &password);

void StreamWriteString(TMemoryStream &stream, std::string_view text);

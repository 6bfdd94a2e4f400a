#pragma once
// The connection object every protocol client derives from: it resolves a
// host and connects to it, and its connection (see TConnection) carries the
// commands, replies and data. All work is synchronous on the caller's
// thread; failures leave as the ETcpIpError family.
#include "ip_misc/TMemoryStream.h"
#include "platform/Socket.h"
#include "platform/SocketEvents.h"
#include "tcpip/ETcpIpError.h"
#include "tcpip/TConnection.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using platform::socket_t;

// Notification message numbers of the protocol objects (control and data
// connections of an asynchronous transfer).
constexpr int WM_CONTROL_NOTIFY = 0x500;
constexpr int WM_DATA_NOTIFY = 0x501;
// Socket events as notifications carry them.
using platform::FD_ACCEPT, platform::FD_CLOSE, platform::FD_CONNECT, platform::FD_OOB,
    platform::FD_READ, platform::FD_WRITE;

// What every client is told before it works: the part of a client that a
// copy of it takes along (see T_TcpIp's copy constructor). A setting added
// here comes along with every copy, a background job's among them.
struct TTcpIpSettings {
  std::string Hostname;
  std::uint16_t RemotePort = 0;
  // How long each wait on the server may last without progress
  // (milliseconds; NoTimeout: for ever). A stalled server must not hold the
  // script for ever.
  static constexpr int DefaultTimeoutMs = 60000;
  int TimeoutMs = DefaultTimeoutMs;
  // The least the server must move while it is waited for (see TLowSpeed):
  // a server that sends a byte now and then keeps every wait short, and
  // would hold the script for ever. The default stops no real link, however
  // slow: under 1 byte/s over a minute of waiting.
  static constexpr TLowSpeed DefaultLowSpeed{1, 60000};
  TLowSpeed LowSpeed = DefaultLowSpeed;
  // How FTP, POP3 and SMTP secure their connection: not at all, with TLS
  // from the first byte, or by upgrading before logging on (a server that
  // cannot upgrade is a failure, never a fall-back to clear text).
  enum class TSecurity { None, Implicit, StartTls };
  TSecurity Security = TSecurity::None;
  // What a secured connection trusts; null: the defaults (verification on,
  // the system's trust store).
  const platform::TlsSettings *Tls = nullptr;
};

class T_TcpIp : public TTcpIpSettings {
public:
  static constexpr std::size_t BufferSize = 32512;

  T_TcpIp();
  virtual ~T_TcpIp();
  T_TcpIp &operator=(const T_TcpIp &) = delete;

  TTraceProc OnTrace;
  // Set by whoever may stop the client's work from another thread (a
  // background job); its connections then register their sockets with it.
  TCancel *Cancel = nullptr;
  // The address Login reached (Family None before).
  platform::SocketAddress RemoteAddress;
  // Received data of the last Action; for uploads the data to send.
  TMemoryStream Stream;
  bool Connected = false;
  // The connection to the server (FTP: the control connection).
  TConnection Connection;
  // What every connection of the client has moved, and the size of the
  // transfer under way as far as the client knows it.
  TByteCounts Counts;

  // Resolves Hostname and connects to RemotePort at the first of its
  // addresses that accepts (see TConnection::Connect); reconnects when
  // already connected. Raises ETcpIpError "Couldn't resolve hostname NAME", or
  // ESocketError (Code = the WinSock error), and leaves nothing connected.
  virtual void Login();
  // Closes the connection; never raises.
  virtual void Logout();
  // The client's main job; here: Login, then receive everything into Stream.
  virtual void Action();
  // Sends text + CR LF and traces it at tlCommand; raises ETcpIpError for a
  // text with a line break.
  virtual void SendCommand(const std::string &text);
  // True when the connection has ended or is not connected.
  bool IsClosed() const { return Connection.IsClosed(); }
  // A notification for this object (message WM_CONTROL_NOTIFY or
  // WM_DATA_NOTIFY, the socket, the FD_ event and its WinSock error).
  virtual void WndProc(int message, socket_t s, int event, int error);

protected:
  // Logout of a session that may have ended under it (a server that dropped
  // the connection cannot answer any more); what it raises is of no use to
  // anyone, and the connection is closed all the same.
  void LogoutQuietly() noexcept;

  // A new client with the settings of other and nothing of its work: not
  // connected, no trace, no canceller, nothing received or counted. Derived
  // clients copy their own settings with it.
  T_TcpIp(const T_TcpIp &other);

  // Secures conn for host with the library's trust settings.
  void StartTls(TConnection &conn, const std::string &host,
                const TConnection *resumeFrom = nullptr);

  // Traces are built only when OnTrace is set.
  bool Tracing() const { return static_cast<bool>(OnTrace); }
  void Trace(const std::string &text, TTraceLevel level) const {
    if (OnTrace)
      OnTrace(text, level);
  }

  std::vector<char> Buffer;
};

// A URL in its parts. The protocol is the text before "://" when that text
// is a scheme's name (a letter, then letters, digits, "+", "-" or "."), or
// "mailto" for a text that begins so. The authority ends at the first "/",
// "?" or "#" (RFC 3986): the path is the rest, whatever it begins with. In
// the authority the last "@" ends the user information, whose first ":"
// starts the password; an IPv6 host stands in brackets (kept out of Host).
struct TURL {
  std::string Protocol, User, Password, Host, Port, Path;
  bool HasUserInfo = false;
  bool HasPassword = false;

  static TURL Split(std::string_view url);
  // The URL from its parts ("://" after the protocol), the password given as
  // passwordMask when that is not empty: what a trace may show.
  std::string Text(std::string_view passwordMask = {}) const;
};

// Splits a URL into its parts (every output is emptied first), as
// TURL::Split does.
void ParseURL(std::string_view url, std::string &protocol, std::string &user, std::string &path,
              std::string &port, std::string &host, std::string &password);
// A host that holds a control character (a NUL would cut it short where the
// system reads it) or a bracket raises ETcpIpError, which shows shownAs (the
// URL or operand it came from) with its control characters as "?".
void RefuseMalformedHost(std::string_view host, std::string_view shownAs);

void StreamWriteString(TMemoryStream &stream, std::string_view text);

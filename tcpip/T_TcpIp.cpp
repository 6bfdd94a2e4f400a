#include "tcpip/T_TcpIp.h"

#include "ip_misc/Convert.h"
#include "ip_misc/ip_misc.h"

#include <algorithm>

T_TcpIp::T_TcpIp() : Buffer(BufferSize) {
  Connection.SetTrace(&OnTrace);
  Connection.SetCounts(&Counts);
  Connection.SetCancel(&Cancel);
}

T_TcpIp::T_TcpIp(const T_TcpIp &other) : T_TcpIp() {
  static_cast<TTcpIpSettings &>(*this) = other;
}

T_TcpIp::~T_TcpIp() {
  // Derived parts are gone by now, so their logout dialogues ran in their own
  // destructors; here only the connection is left to close, quietly.
  OnTrace = nullptr;
  Connection.Close();
}

void T_TcpIp::Login() {
  if (Connected)
    Logout();
  std::string_view host = Hostname;
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  RefuseMalformedHost(host, "the server name " + Hostname);
  std::vector<platform::SocketAddress> addresses = ResolveAddresses(Hostname);
  if (addresses.empty())
    throw ETcpIpError("Couldn't resolve hostname " + Hostname);
  for (platform::SocketAddress &address : addresses)
    address.Port = RemotePort;
  Connection.TimeoutMs = TimeoutMs;
  Connection.LowSpeed = LowSpeed;
  Connection.Connect(addresses);
  // A peer that reset at once has no name any more; the failure shows at
  // the first read.
  if (!platform::PeerName(Connection.Handle(), RemoteAddress))
    RemoteAddress = {};
  Connected = true;
}

void T_TcpIp::Logout() {
  Connection.Close();
  Connected = false;
}

void T_TcpIp::LogoutQuietly() noexcept {
  if (!Connected)
    return;
  try {
    Logout();
  } catch (...) {
  }
}

void T_TcpIp::Action() {
  Login();
  Stream.Clear();
  for (;;) {
    const std::size_t n = Connection.Receive(Buffer.data(), Buffer.size());
    if (n == 0)
      break;
    Stream.Write(Buffer.data(), n);
  }
  Stream.SetPosition(0);
}

void T_TcpIp::StartTls(TConnection &conn, const std::string &host,
                       const TConnection *resumeFrom) {
  conn.StartTls(host, Tls ? *Tls : platform::TlsSettings{}, resumeFrom);
}

void T_TcpIp::SendCommand(const std::string &text) { Connection.SendCommand(text); }

void T_TcpIp::WndProc(int, socket_t, int, int) {}

namespace {

bool IsSchemeName(std::string_view text) {
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (text.empty() || !letter(text[0]))
    return false;
  for (const char c : text)
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
      return false;
  return true;
}

} // namespace

TURL TURL::Split(std::string_view url) {
  TURL u;
  std::string_view rest = url;
  if (const std::size_t sep = url.find("://");
      sep != std::string_view::npos && IsSchemeName(url.substr(0, sep))) {
    u.Protocol = url.substr(0, sep);
    rest = url.substr(sep + 3);
  } else if (LowerCase(url.substr(0, 7)) == "mailto:") {
    // The one scheme read without "://" after it.
    u.Protocol = "mailto";
    rest = url.substr(7);
  }
  const std::size_t end = std::min(rest.find_first_of("/?#"), rest.size());
  u.Path = rest.substr(end);
  const std::string_view authority = rest.substr(0, end);
  const std::size_t at = authority.rfind('@');
  u.HasUserInfo = at != std::string_view::npos;
  if (u.HasUserInfo) {
    const std::string_view userInfo = authority.substr(0, at);
    const std::size_t colon = userInfo.find(':');
    u.User = userInfo.substr(0, colon);
    u.HasPassword = colon != std::string_view::npos;
    if (u.HasPassword)
      u.Password = userInfo.substr(colon + 1);
  }
  const std::string_view hostPort = authority.substr(u.HasUserInfo ? at + 1 : 0);
  // An IPv6 address stands in brackets, its colons not taken for the port's;
  // anything but ":port" after the bracket leaves the text to be refused as
  // a port.
  if (const std::size_t close = hostPort.find(']');
      hostPort.starts_with('[') && close != std::string_view::npos &&
      (close + 1 == hostPort.size() || hostPort[close + 1] == ':')) {
    u.Host = hostPort.substr(1, close - 1);
    if (close + 1 < hostPort.size())
      u.Port = hostPort.substr(close + 2);
    return u;
  }
  const std::size_t colon = hostPort.rfind(':');
  u.Host = hostPort.substr(0, colon);
  if (colon != std::string_view::npos)
    u.Port = hostPort.substr(colon + 1);
  return u;
}

std::string TURL::Text(std::string_view passwordMask) const {
  std::string text;
  if (!Protocol.empty())
    text.append(Protocol).append("://");
  if (HasUserInfo) {
    text += User;
    if (HasPassword)
      text.append(":").append(passwordMask.empty() ? std::string_view(Password) : passwordMask);
    text += '@';
  }
  // A host with brackets of its own is malformed and printed as it came; a
  // host named "mailto" at the start keeps the brackets it came in, or the
  // print would read back as that scheme.
  const bool bracketed =
      Host.find_first_of("[]") == std::string::npos &&
      (Host.find(':') != std::string::npos ||
       (text.empty() && LowerCase(Host) == "mailto"));
  if (bracketed)
    text += '[';
  text += Host;
  if (bracketed)
    text += ']';
  // Without brackets a colon in the host needs the port's colon after it,
  // even before an empty port.
  if (!Port.empty() || (!bracketed && Host.find(':') != std::string::npos))
    text.append(":").append(Port);
  return text + Path;
}

void ParseURL(std::string_view url, std::string &protocol, std::string &user, std::string &path,
              std::string &port, std::string &host, std::string &password) {
  TURL u = TURL::Split(url);
  protocol = std::move(u.Protocol);
  user = std::move(u.User);
  path = std::move(u.Path);
  port = std::move(u.Port);
  host = std::move(u.Host);
  password = std::move(u.Password);
}

void RefuseMalformedHost(std::string_view host, std::string_view shownAs) {
  const auto control = [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  };
  // Brackets stand around an IPv6 address, never inside a host.
  if (std::none_of(host.begin(), host.end(), control) &&
      host.find_first_of("[]") == std::string_view::npos)
    return;
  std::string shown(shownAs.substr(0, 200));
  std::replace_if(shown.begin(), shown.end(), control, '?');
  throw ETcpIpError("Malformed host in " + shown + (shownAs.size() > 200 ? "..." : ""));
}

void StreamWriteString(TMemoryStream &stream, std::string_view text) { stream.WriteString(text); }

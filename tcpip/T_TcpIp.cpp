#include "tcpip/T_TcpIp.h"

#include "ip_misc/ip_misc.h"

T_TcpIp::T_TcpIp() : Buffer(BufferSize) { Connection.SetTrace(&OnTrace); }

T_TcpIp::~T_TcpIp() {
  // Derived parts are gone by now, so their logout dialogues ran in their own
  // destructors; here only the connection is left to close, quietly.
  OnTrace = nullptr;
  Connection.Close();
}

void T_TcpIp::Login() {
  if (Connected)
    Logout();
  std::vector<platform::SocketAddress> addresses = ResolveAddresses(Hostname);
  if (addresses.empty())
    throw ETcpIpError("Couldn't resolve hostname " + Hostname);
  for (platform::SocketAddress &address : addresses)
    address.Port = RemotePort;
  Connection.TimeoutMs = TimeoutMs;
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
  const std::size_t at = authority.rfind('@');
  const bool hasAt = at != std::string_view::npos;
  const auto splitUserInfo = [&] {
    const std::string_view userInfo = authority.substr(0, at);
    if (const std::size_t c = userInfo.find(':'); c != std::string_view::npos) {
      user = userInfo.substr(0, c);
      password = userInfo.substr(c + 1);
    } else {
      user = userInfo;
    }
  };
  // An IPv6 address stands in brackets, its colons not taken for the port's.
  const std::size_t hostStart = hasAt ? at + 1 : 0;
  if (const std::size_t close = authority.find(']', hostStart);
      hostStart < authority.size() && authority[hostStart] == '[' && close != std::string_view::npos &&
      (close + 1 == authority.size() || authority[close + 1] == ':')) {
    host = authority.substr(hostStart + 1, close - hostStart - 1);
    if (close + 1 < authority.size())
      port = authority.substr(close + 2);
    if (hasAt)
      splitUserInfo();
    return;
  }
  const std::size_t colon = authority.rfind(':');
  const bool hasColon = colon != std::string_view::npos;
  if (!hasColon && !hasAt) {
    host = authority;
    return;
  }
  if (!hasColon || (hasAt && colon < at)) {
    host = authority.substr(at + 1);
  } else {
    port = authority.substr(colon + 1);
    host = authority.substr(hostStart, colon - hostStart);
    if (!hasAt)
      return;
  }
  splitUserInfo();
}

void StreamWriteString(TMemoryStream &stream, std::string_view text) { stream.WriteString(text); }

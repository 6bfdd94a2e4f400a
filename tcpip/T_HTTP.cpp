#include "tcpip/T_HTTP.h"

#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "ip_misc/HostPort.h"
#include "ip_misc/ip_misc.h"
#include "platform/FileStreams.h"
#include "tcpip/TChunkedDecoder.h"

#include <algorithm>

namespace {

// What a trace or a message shows in place of a password.
constexpr std::string_view Mask = "*****";

// A URL fit for a message: its password masked, control characters shown as
// "?", at most 200 characters.
std::string Shown(const TURL &url) {
  std::string text = url.Text(Mask);
  const bool cut = text.size() > 200;
  text.resize(std::min<std::size_t>(text.size(), 200));
  for (char &c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      c = '?';
  return cut ? text + "..." : text;
}

// An IPv6 address goes in brackets wherever a port may follow it; a host
// that has brackets of its own is malformed and left to be refused as such.
std::string Bracketed(const std::string &host) {
  return host.find(':') == std::string::npos || host.find_first_of("[]") != std::string::npos
             ? host
             : "[" + host + "]";
}

std::string HostAndPort(const std::string &host, std::uint16_t port, std::uint16_t defaultPort = 80) {
  return port == defaultPort ? Bracketed(host) : Bracketed(host) + ":" + std::to_string(port);
}

// Blanks and control characters cannot stand in a request line: they are
// sent percent-encoded, everything else as given.
std::string RequestTarget(const std::string &uri) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : uri) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F) {
      out += '%';
      out += hex[b >> 4];
      out += hex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

// "HTTP/1.x NNN": the beginning of every answer of an HTTP/1 server.
bool IsStatusLine(const std::string &line) {
  return line.size() >= 12 && line.compare(0, 7, "HTTP/1.") == 0 && line[8] == ' ';
}

// The start of a line that is not what it should be, fit for a message.
std::string Excerpt(const std::string &line) {
  std::string out;
  for (char c : line.substr(0, 40))
    out += static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F ? c : '?';
  return line.size() > 40 ? out + "..." : out;
}

// A URL of its own: a scheme's name and "://", or "//" and an authority
// (the scheme of the current one).
bool IsAbsolute(const std::string &ref) {
  if (ref.starts_with("//"))
    return true;
  const std::string protocol = TURL::Split(ref).Protocol;
  return !protocol.empty() && ref.compare(protocol.size(), 3, "://") == 0;
}

// The path of a request: no fragment (it is the client's own), and "/"
// before a query alone.
std::string RequestPath(const std::string &path) {
  std::string out = path.substr(0, path.find('#'));
  if (out.empty() || out[0] != '/')
    out.insert(0, "/");
  return out;
}

// A relative reference against a base path: "/x" replaces the path, "x"
// replaces the last segment of the base.
std::string ResolvePath(const std::string &basePath, const std::string &ref) {
  if (!ref.empty() && ref[0] == '/')
    return ref;
  std::string base = basePath.substr(0, basePath.find_first_of("?#"));
  const std::size_t slash = base.rfind('/');
  base = slash == std::string::npos ? "/" : base.substr(0, slash + 1);
  if (ref.empty() || ref[0] == '?' || ref[0] == '#')
    return basePath.substr(0, basePath.find_first_of("?#")) + ref;
  return base + ref;
}

} // namespace

T_HTTP::T_HTTP() = default;

void T_HTTP::SetTarget() {
  SetTargetFrom(URL);
  credentialsFor_ = CredentialsReceiver();
}

std::string T_HTTP::CredentialsReceiver() const {
  // A proxy reads the header of a plain request; a tunnel carries it to the
  // server alone.
  return !Proxy.empty() && !secure_ ? LowerCase(Hostname) + ":" + std::to_string(RemotePort)
                                    : LowerCase(originHost_) + ":" + std::to_string(originPort_);
}

void T_HTTP::SetTargetFrom(const std::string &url) {
  TURL target = TURL::Split(url);
  const std::string scheme = LowerCase(target.Protocol);
  // A proxy may fetch other schemes for its clients; here they would be
  // asked for as HTTP.
  if (!scheme.empty() && scheme != "http" && scheme != "https" && Proxy.empty())
    throw ETcpIpError("Not an http or https URL: " + Shown(target));
  RefuseMalformedHost(target.Host, "the URL " + target.Text(Mask));
  secure_ = scheme == "https";
  const std::uint16_t defaultPort = secure_ ? 443 : 80;
  originHost_ = target.Host;
  originPort_ = PortNumber(target.Port, defaultPort);
  // The origin server's name goes into the Host header, through a proxy too.
  HostHeader = HostAndPort(target.Host, originPort_, defaultPort);
  if (target.Protocol.empty())
    target.Protocol = "http";
  target_ = std::move(target);
  SetRequestURI(target_.Path);
  if (Proxy.empty()) {
    Hostname = originHost_;
    RemotePort = originPort_;
    return;
  }
  std::string protocol, user, path, port, host, password;
  // The proxy's host and port read as every server operand does; the
  // split URL joined back is its authority without scheme, user or path.
  ParseURL(Proxy, protocol, user, path, port, host, password);
  THostPort proxy = SplitHostPort(port.empty() ? Bracketed(host) : Bracketed(host) + ":" + port, 8080);
  Hostname = std::move(proxy.Host);
  RemotePort = proxy.Port;
}

void T_HTTP::SetRequestURI(const std::string &path) {
  target_.Path = RequestPath(path);
  // Direct, or through a tunnel the proxy cannot look into: the path alone;
  // a proxy that fetches for us needs the whole URL.
  RequestURI = Proxy.empty() || secure_ ? target_.Path : target_.Text();
}

void T_HTTP::Open() {
  Login();
  if (!secure_)
    return;
  try {
    if (!Proxy.empty())
      OpenTunnel();
    StartTls(Connection, originHost_);
  } catch (...) {
    Logout();
    throw;
  }
}

void T_HTTP::OpenTunnel() {
  const std::string target = Bracketed(originHost_) + ":" + std::to_string(originPort_);
  Connection.Cork();
  Connection.SendCommand("CONNECT " + target + " HTTP/1.1");
  Connection.SendCommand("Host: " + target);
  if (!Credentials.empty())
    Connection.SendSecret("Proxy-Authorization: ", Credentials, "*****");
  Connection.Send("\r\n");
  Connection.Uncork();
  const std::string status = Connection.ReadReplyLine("HTTP");
  // The proxy's answer ends at its empty line; the tunnel starts after it.
  std::size_t headerBytes = status.size() + 2;
  for (std::string line = status; !line.empty();) {
    line = Connection.ReadReplyLine("HTTP");
    headerBytes += line.size() + 2;
    if (headerBytes > MaxHeaderBytes)
      throw ETcpIpError("The proxy's answer to CONNECT is longer than " +
                        std::to_string(MaxHeaderBytes) + " bytes");
  }
  const bool opened = status.size() >= 12 && status.compare(0, 7, "HTTP/1.") == 0 &&
                      status[8] == ' ' && status[9] == '2';
  if (!opened)
    throw ETcpIpError("The proxy refused the tunnel to " + target + ": " + status);
}

void T_HTTP::Action() {
  SetTarget();
  Head();
  Get();
}

void T_HTTP::DownloadToFile(const std::string &path) {
  platform::FileWriter file(path);
  SetTarget();
  Head();
  sink_ = &file;
  try {
    Get();
  } catch (...) {
    sink_ = nullptr;
    throw;
  }
  sink_ = nullptr;
  file.Commit();
}

void T_HTTP::Head() {
  Open();
  SendRequest("HEAD", "1.0");
  try {
    ReadResponseHeader();
  } catch (...) {
    Logout();
    throw;
  }
  Logout();
}

void T_HTTP::Get() {
  Open();
  SendRequest("GET", "1.0");
  try {
    ReadResponseHeader();
    ReadBody();
  } catch (...) {
    Logout();
    throw;
  }
  Logout();
}

void T_HTTP::Post() {
  SetTarget();
  Open();
  try {
    SendRequest("POST", "1.0");
    Stream.SetPosition(0);
    for (;;) {
      const std::size_t n = Stream.Read(Buffer.data(), Buffer.size());
      if (n == 0)
        break;
      Connection.Send(Buffer.data(), n);
    }
    ReadResponseHeader();
    ReadBody();
  } catch (...) {
    Logout();
    throw;
  }
  Logout();
}

void T_HTTP::KeepBody(const char *data, std::size_t n) {
  if (sink_) {
    sink_->Write(data, n);
    return;
  }
  const std::int64_t size = Stream.Size() + static_cast<std::int64_t>(n);
  if (size > MaxBodyBytes)
    throw ETcpIpError("Answer larger than " + std::to_string(MaxBodyBytes >> 20) +
                      " MiB; HTTP DOWNLOAD writes it to a file");
  // Grown by doubling, but never past the cap.
  if (size > Stream.Capacity())
    Stream.Reserve(std::min(std::max(size, 2 * Stream.Capacity()), MaxBodyBytes));
  Stream.Write(data, n);
}

void T_HTTP::ReadBody() {
  Stream.Clear();
  // The length of a chunked body is the chunks' business.
  const bool complete = StatusCode >= 200 && StatusCode < 300 && ContentLength > 0 && !Chunked;
  if (complete && !sink_) {
    if (ContentLength > MaxBodyBytes)
      throw ETcpIpError("Answer of " + std::to_string(ContentLength) + " bytes is larger than " +
                        std::to_string(MaxBodyBytes >> 20) +
                        " MiB; HTTP DOWNLOAD writes it to a file");
    // A body of known size is received into memory reserved for it, so large
    // downloads are not copied as the stream grows.
    Stream.Reserve(ContentLength);
  }
  std::int64_t received = 0;
  // Files move in larger pieces: fewer system calls on both sides.
  std::vector<char> fileBuffer(sink_ ? 256 * 1024 : 0);
  std::vector<char> &buffer = sink_ ? fileBuffer : Buffer;
  TChunkedDecoder chunks;
  const TChunkedDecoder::TSink keep = [this](const char *data, std::size_t n) {
    KeepBody(data, n);
  };
  try {
    for (;;) {
      std::size_t n = 0;
      try {
        n = Connection.Receive(buffer.data(), buffer.size());
      } catch (const ECutShortError &) {
        // A body of announced length that has all come is whole, however
        // the connection ends after it; any other body ends with the
        // connection and is whole only when that end is an orderly one.
        if (!complete || received < ContentLength)
          throw;
      }
      if (n == 0)
        break;
      received += static_cast<std::int64_t>(n);
      if (!Chunked) {
        KeepBody(buffer.data(), n);
        continue;
      }
      chunks.Feed(buffer.data(), n, keep);
      // What follows the last chunk is no part of the answer; a server that
      // keeps the connection open is not waited for.
      if (chunks.Done())
        break;
    }
    if (Chunked && !chunks.Complete())
      throw ETcpIpError("Connection closed by server in the middle of a chunked body");
  } catch (...) {
    // Nothing of a failed answer is kept, and its memory goes back now.
    Stream.Assign({});
    throw;
  }
  Stream.SetPosition(0);
  if (complete && received < ContentLength) {
    Stream.Assign({});
    throw ETcpIpError("Connection closed by server after " + std::to_string(received) + " of " +
                      std::to_string(ContentLength) + " bytes");
  }
}

void T_HTTP::SendRequest(const std::string &method, const std::string &version) {
  // A header value with a line break would add headers of its own.
  for (const std::string *value :
       {&HostHeader, &Sender, &Reference, &Agent, &ContentTypePost, &Credentials})
    if (value->find_first_of("\r\n") != std::string::npos)
      throw ETcpIpError("Line break in a request header: " +
                        value->substr(0, value->find_first_of("\r\n")));
  Connection.Cork();
  // The trace prints the URL from the parts it was read as, its password
  // replaced.
  const std::string tail = " HTTP/" + version;
  Connection.SendCommand(
      method + " " + RequestTarget(RequestURI) + tail,
      Tracing() ? method + " " + RequestTarget(TURL::Split(RequestURI).Text(Mask)) + tail : "");
  // Virtual hosts pick the site by this header.
  if (!HostHeader.empty())
    SendCommand("Host: " + HostHeader);
  if (!Sender.empty())
    SendCommand("From: " + Sender);
  if (!Reference.empty())
    SendCommand("Referer: " + Reference);
  if (!Agent.empty())
    SendCommand("User-Agent: " + Agent);
  if (NoCache)
    SendCommand("Pragma: no-cache");
  if (method == "POST") {
    SendCommand("Content-Length: " + std::to_string(Stream.Size()));
    if (!ContentTypePost.empty())
      SendCommand("Content-Type: " + ContentTypePost);
  }
  // Credentials given for one server are not handed to another that a
  // redirection names.
  if (!Credentials.empty() && CredentialsReceiver() == credentialsFor_)
    Connection.SendSecret("Authorization: ", Credentials, "*****");
  Connection.Send("\r\n");
  Connection.Uncork();
}

void T_HTTP::ReadResponseHeader() {
  AuthenticateList.clear();
  ContentType.clear();
  ContentLength = 0;
  StatusCode = 0;
  StatusText.clear();
  Chunked = false;
  std::size_t headerBytes = 0;
  for (bool first = true;; first = false) {
    // A server that closes before the empty line has sent no usable response.
    const std::string line = Connection.ReadReplyLine("HTTP");
    headerBytes += line.size() + 2;
    if (headerBytes > MaxHeaderBytes)
      throw ETcpIpError("Response header longer than " + std::to_string(MaxHeaderBytes) +
                        " bytes from " + Bracketed(Hostname) + ":" + std::to_string(RemotePort));
    // Without a status line the bytes are no HTTP answer, whatever follows.
    if (first && !IsStatusLine(line))
      throw EProtocolError("HTTP",
                           "No HTTP status line in the answer from " + Bracketed(Hostname) + ":" +
                               std::to_string(RemotePort) + ": \"" + Excerpt(line) + "\"",
                           999);
    if (line.empty())
      break;
    // Servers answer an HTTP/1.0 request with the version they speak.
    if (IsStatusLine(line)) {
      StatusCode = StrToInt(line.substr(9, 3));
      StatusText = line.size() > 13 ? line.substr(13) : std::string();
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos)
      continue;
    const std::string name = LowerCase(line.substr(0, colon));
    std::size_t valueStart = colon + 1;
    while (valueStart < line.size() && (line[valueStart] == ' ' || line[valueStart] == '\t'))
      ++valueStart;
    const std::string value = line.substr(valueStart);
    if (name == "location")
      FollowLocation(value);
    else if (name == "content-length")
      ContentLength = StrToInt64(value);
    else if (name == "content-type")
      ContentType = value;
    else if (name == "www-authenticate")
      AuthenticateList.push_back(value);
    else if (name == "transfer-encoding")
      // Chunks frame the body only when "chunked" is the last coding applied.
      Chunked = LowerCase(Trim(value.substr(value.rfind(',') + 1))) == "chunked";
  }
}

void T_HTTP::FollowLocation(const std::string &value) {
  if (IsAbsolute(value)) {
    const std::string url = value.starts_with("//") ? (secure_ ? "https:" : "http:") + value : value;
    const TURL target = TURL::Split(url);
    const std::string scheme = LowerCase(target.Protocol);
    if (scheme != "http" && scheme != "https")
      throw ETcpIpError("Redirect to " + Shown(target) +
                        " refused: only http and https are followed");
    // What was asked for in private must not go on in clear.
    if (secure_ && scheme != "https")
      throw ETcpIpError("Redirect from https to " + Shown(target) + " refused");
    SetTargetFrom(url);
    return;
  }
  SetRequestURI(ResolvePath(target_.Path, value));
}

void T_HTTP::SetAuthorization(const std::string &user, const std::string &password) {
  TMemoryStream plain;
  plain.WriteString(user + ":" + password);
  // The whole of the encoding: credentials longer than one encoded line
  // must not be cut.
  std::string encoded;
  for (const std::string &line : EncodeBase64Lines(plain))
    encoded += line;
  Credentials = "Basic " + encoded;
}

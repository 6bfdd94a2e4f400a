#include "tcpip/T_HTTP.h"

#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "ip_misc/HostPort.h"
#include "ip_misc/ip_misc.h"
#include "platform/FileStreams.h"
#include "tcpip/TChunkedDecoder.h"

namespace {

std::uint16_t PortNumber(const std::string &text) {
  const std::int32_t port = StrToInt(text);
  if (port < 1 || port > 65535)
    throw EConvertError("'" + text + "' is not a valid port");
  return static_cast<std::uint16_t>(port);
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

bool IsAbsolute(const std::string &url) { return url.find("://") != std::string::npos; }

// "scheme://authority" of an absolute URL, without the path.
std::string Origin(const std::string &url) {
  const std::size_t start = url.find("://");
  if (start == std::string::npos)
    return "http://" + url.substr(0, url.find('/'));
  const std::size_t slash = url.find('/', start + 3);
  return url.substr(0, slash);
}

// The path of an absolute URL or the path itself, from its first "/".
std::string PathOf(const std::string &url) {
  const std::size_t start = url.find("://");
  const std::size_t slash = url.find('/', start == std::string::npos ? 0 : start + 3);
  return slash == std::string::npos ? "/" : url.substr(slash);
}

// A relative reference against a base path: "/x" replaces the path, "x"
// replaces the last segment of the base.
std::string ResolvePath(const std::string &basePath, const std::string &ref) {
  if (!ref.empty() && ref[0] == '/')
    return ref;
  std::string base = basePath.substr(0, basePath.find_first_of("?#"));
  const std::size_t slash = base.rfind('/');
  base = slash == std::string::npos ? "/" : base.substr(0, slash + 1);
  if (ref.empty() || ref[0] == '?')
    return basePath.substr(0, basePath.find_first_of("?#")) + ref;
  return base + ref;
}

} // namespace

T_HTTP::T_HTTP() = default;

void T_HTTP::SetTarget(bool addProtocol) {
  SetTargetFrom(URL, addProtocol);
  credentialsFor_ = CredentialsReceiver();
}

std::string T_HTTP::CredentialsReceiver() const {
  // A proxy reads the header of a plain request; a tunnel carries it to the
  // server alone.
  return !Proxy.empty() && !secure_ ? LowerCase(Hostname) + ":" + std::to_string(RemotePort)
                                    : LowerCase(originHost_) + ":" + std::to_string(originPort_);
}

void T_HTTP::SetTargetFrom(const std::string &url, bool addProtocol) {
  std::string protocol, user, path, port, host, password;
  ParseURL(url, protocol, user, path, port, host, password);
  secure_ = LowerCase(protocol) == "https";
  const std::uint16_t defaultPort = secure_ ? 443 : 80;
  originHost_ = host;
  originPort_ = port.empty() ? defaultPort : PortNumber(port);
  // The origin server's name goes into the Host header, through a proxy too.
  HostHeader = HostAndPort(host, originPort_, defaultPort);
  if (Proxy.empty() || secure_) {
    // Direct, or through a tunnel the proxy cannot look into: the path alone.
    RequestURI = path.empty() ? "/" : path;
  } else {
    RequestURI = protocol.empty() && addProtocol ? "http://" + url : url;
    if (path.empty())
      RequestURI += "/";
  }
  if (Proxy.empty()) {
    Hostname = host;
    RemotePort = originPort_;
    return;
  }
  // The proxy's host and port read as every server operand does; the
  // split URL joined back is its authority without scheme, user or path.
  ParseURL(Proxy, protocol, user, path, port, host, password);
  THostPort proxy = SplitHostPort(port.empty() ? Bracketed(host) : Bracketed(host) + ":" + port, 8080);
  Hostname = std::move(proxy.Host);
  RemotePort = proxy.Port;
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
  SetTarget(true);
  Head();
  Get();
}

void T_HTTP::DownloadToFile(const std::string &path) {
  platform::FileWriter file(path);
  SetTarget(true);
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
  SetTarget(true);
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
      const std::size_t n = Connection.Receive(buffer.data(), buffer.size());
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
  SendCommand(method + " " + RequestTarget(RequestURI) + " HTTP/" + version);
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
  if (IsAbsolute(value) || value.rfind("//", 0) == 0) {
    const std::string url = value.rfind("//", 0) == 0 ? (secure_ ? "https:" : "http:") + value : value;
    std::string protocol, user, path, port, host, password;
    ParseURL(url, protocol, user, path, port, host, password);
    // What was asked for in private must not go on in clear.
    if (secure_ && LowerCase(protocol) != "https")
      throw ETcpIpError("Redirect from https to " + url + " refused");
    SetTargetFrom(url, false);
    return;
  }
  if (!Proxy.empty() && !secure_) {
    // Through a proxy the request names the whole URL.
    RequestURI = Origin(RequestURI) + ResolvePath(PathOf(RequestURI), value);
    return;
  }
  RequestURI = ResolvePath(RequestURI, value);
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

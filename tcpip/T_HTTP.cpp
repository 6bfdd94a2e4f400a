#include "tcpip/T_HTTP.h"

#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "ip_misc/HostPort.h"
#include "ip_misc/ip_misc.h"
#include "platform/DynLib.h"
#include "platform/FileStreams.h"
#include "platform/Files.h"
#include "tcpip/TChunkedDecoder.h"
#include "tcpip/TContentDecoder.h"
#include "tcpip/Lent.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <optional>

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

// Counts the bytes of a header as its lines come and raises once they pass
// the cap, so no peer can grow a header without bound.
class THeaderCap {
public:
  // The message names the header: "<what> longer than N bytes<where>".
  THeaderCap(std::string what, std::string where) : what_(std::move(what)), where_(std::move(where)) {}
  void Count(const std::string &line) {
    bytes_ += line.size() + 2;
    if (bytes_ > T_HTTP::MaxHeaderBytes)
      throw ETcpIpError(what_ + " longer than " + std::to_string(T_HTTP::MaxHeaderBytes) + " bytes" +
                        where_);
  }

private:
  std::string what_;
  std::string where_;
  std::size_t bytes_ = 0;
};

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

// An HTTP token (RFC 9110): a method or a header name.
bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
  });
}

// Methods that may be sent again when a kept connection dies under them.
bool IsIdempotent(std::string_view method) {
  for (std::string_view m : {"GET", "HEAD", "PUT", "DELETE", "OPTIONS", "TRACE"})
    if (method == m)
      return true;
  return false;
}

// The name of a header line, lower-cased; empty when it has no colon.
std::string HeaderName(std::string_view line) {
  const std::size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string() : LowerCase(line.substr(0, colon));
}

std::string HeaderValue(std::string_view line) {
  return Trim(line.substr(std::min(line.find(':'), line.size() - 1) + 1));
}

// The script's headers that stay with the scheme, host and port they were
// set for: those that carry credentials, and Host, which names that server
// and would send a redirection elsewhere to the wrong site.
bool StaysWithItsOrigin(std::string_view name) {
  return name == "authorization" || name == "proxy-authorization" || name == "cookie" ||
         name == "host";
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
  THeaderCap cap("The proxy's answer to CONNECT is", "");
  cap.Count(status);
  for (std::string line = status; !line.empty();) {
    line = Connection.ReadReplyLine("HTTP");
    cap.Count(line);
  }
  if (!IsStatusLine(status) || status[9] != '2')
    throw ETcpIpError("The proxy refused the tunnel to " + target + ": " + status);
}

void T_HTTP::Action() {
  SetTarget();
  Head();
  Get();
}

void T_HTTP::DownloadToFile(const std::string &path, bool resume) {
  if (resume) {
    ResumeDownload(path);
    return CommitDownload();
  }
  platform::FileWriter file(path);
  DownloadTo(file);
  file.Commit();
}

void T_HTTP::CheckURL() { SetTarget(); }

void T_HTTP::DownloadTo(platform::FileWriter &file) {
  SetTarget();
  Head();
  const Lent<platform::FileWriter> lent{sink_, file};
  Get();
}

void T_HTTP::ResumeDownload(const std::string &path) {
  const std::string part = path + PartSuffix;
  const std::string info = part + InfoSuffix;
  // The URL beside the part names the download, not its password: the
  // file stays on disk long after the script is done.
  const std::string source = TURL::Split(URL).Text(Mask);
  SetTarget();
  Head();
  struct TRanges {
    std::vector<std::string> &lines;
    ~TRanges() { lines.clear(); }
  } ranges{rangeHeaders_};
  for (bool again = true; again;) {
    again = false;
    // The part continues only a download of the same URL whose validator is
    // known: If-Range then gets the rest only from the same version.
    std::int64_t offset = 0;
    rangeHeaders_.clear();
    if (platform::PathExists(part) && platform::PathExists(info)) {
      const TStringList kept = SplitLines(platform::ReadWholeFile(info));
      if (kept.size() == 2 && kept[0] == source && !kept[1].empty()) {
        offset = platform::FileReader(part).Size();
        if (offset > 0)
          rangeHeaders_ = {"Range: bytes=" + std::to_string(offset) + "-", "If-Range: " + kept[1]};
      }
    }
    Open();
    ThenLogout([&] {
      SendRequest("GET", "1.0");
      ReadResponseHeader();
      const std::string range = LowerCase(ResponseHeader("content-range"));
      if (StatusCode == 416 && offset > 0) {
        // Nothing is left to send when the part is the whole file already.
        const std::size_t slash = range.rfind('/');
        if (slash != std::string::npos && Trim(range.substr(slash + 1)) == std::to_string(offset)) {
          finished_.File =
              std::make_unique<platform::FileWriter>(path, part, platform::FileWriter::Append);
          finished_.Info = info;
          return;
        }
        platform::RemoveFile(part);
        again = true;
        return;
      }
      // An error document is the answer, as without resume; the part waits
      // for a later try.
      const bool document = StatusCode < 200 || StatusCode >= 300;
      auto mode = platform::FileWriter::Replace;
      if (StatusCode == 206 && offset > 0) {
        const std::string start = "bytes " + std::to_string(offset) + "-";
        if (range.rfind(start, 0) != 0) {
          platform::RemoveFile(part);
          platform::RemoveFile(info);
          throw ETcpIpError("The server resumed " + path + " elsewhere than at byte " +
                            std::to_string(offset) + ": " + range);
        }
        mode = platform::FileWriter::Append;
      } else if (!document) {
        // A new download, or the file changed: from zero, under this version.
        std::string validator = ResponseHeader("etag");
        if (validator.empty() || validator.rfind("W/", 0) == 0)
          validator = ResponseHeader("last-modified");
        platform::WriteWholeFile(info, source + "\n" + validator + "\n");
      }
      auto file = document ? std::make_unique<platform::FileWriter>(path)
                           : std::make_unique<platform::FileWriter>(path, part, mode);
      {
        const Lent<platform::FileWriter> lent{sink_, *file};
        ReadBody();
      }
      Logout();
      // Its name comes with CommitDownload.
      finished_.File = std::move(file);
      finished_.Info = document ? std::string() : info;
    });
  }
}

template <typename Work> void T_HTTP::ThenLogout(Work &&work) {
  try {
    work();
  } catch (...) {
    Logout();
    throw;
  }
  Logout();
}

void T_HTTP::RequestOnce(const std::string &method) {
  Open();
  ThenLogout([&] {
    SendRequest(method, "1.0");
    if (method == "POST") {
      Stream.SetPosition(0);
      for (std::size_t n; (n = Stream.Read(Buffer.data(), Buffer.size())) > 0;)
        Connection.Send(Buffer.data(), n);
    }
    ReadResponseHeader();
    if (method != "HEAD")
      ReadBody();
  });
}

T_HTTP::TFinished::TFinished() = default;
T_HTTP::TFinished::TFinished(const TFinished &) {}
T_HTTP::TFinished::~TFinished() = default;

void T_HTTP::CommitDownload() {
  if (!finished_.File)
    return;
  const std::unique_ptr<platform::FileWriter> file = std::move(finished_.File);
  file->Commit();
  if (!finished_.Info.empty())
    platform::RemoveFile(finished_.Info);
}

void T_HTTP::Head() { RequestOnce("HEAD"); }

void T_HTTP::Get() { RequestOnce("GET"); }

void T_HTTP::Post() {
  SetTarget();
  Counts.Expect(TDirection::Sent, Stream.Size());
  RequestOnce("POST");
}

void T_HTTP::ReserveBody() {
  if (ContentLength > MaxBodyBytes)
    throw ETcpIpError("Answer of " + std::to_string(ContentLength) + " bytes is larger than " +
                      std::to_string(MaxBodyBytes >> 20) + " MiB; " + toFileHint_);
  // A body of known size is received into memory reserved for it, so large
  // answers are not copied as the stream grows.
  Stream.Reserve(ContentLength);
}

void T_HTTP::KeepBody(const char *data, std::size_t n) {
  if (sink_) {
    sink_->Write(data, n);
    return;
  }
  const std::int64_t size = Stream.Size() + static_cast<std::int64_t>(n);
  if (size > MaxBodyBytes)
    throw ETcpIpError("Answer larger than " + std::to_string(MaxBodyBytes >> 20) + " MiB; " +
                      toFileHint_);
  // Grown by doubling, but never past the cap.
  if (size > Stream.Capacity())
    Stream.Reserve(std::min(std::max(size, 2 * Stream.Capacity()), MaxBodyBytes));
  Stream.Write(data, n);
}

std::int64_t T_HTTP::ReceiveBody(TFraming framing, const TChunkedDecoder::TSink &keep) {
  if (framing == TFraming::None)
    return 0;
  std::int64_t received = 0;
  // Files move in larger pieces: fewer system calls on both sides.
  std::vector<char> fileBuffer(sink_ ? 256 * 1024 : 0);
  std::vector<char> &buffer = sink_ ? fileBuffer : Buffer;
  TChunkedDecoder chunks;
  for (;;) {
    std::size_t want = buffer.size();
    if (framing == TFraming::Length) {
      if (received >= ContentLength)
        return received;
      want = static_cast<std::size_t>(std::min<std::int64_t>(ContentLength - received, std::ssize(buffer)));
    }
    std::size_t n = 0;
    try {
      n = Connection.Receive(buffer.data(), want);
    } catch (const ECutShortError &) {
      // A body of announced length that has all come is whole, however the
      // connection ends after it; any other body ends with the connection
      // and is whole only when that end is an orderly one.
      if (framing != TFraming::UntilClose || StatusCode < 200 || StatusCode >= 300 ||
          ContentLength <= 0 || received < ContentLength)
        throw;
    }
    if (n == 0)
      break;
    received += static_cast<std::int64_t>(n);
    if (framing != TFraming::Chunked) {
      keep(buffer.data(), n);
      continue;
    }
    chunks.Feed(buffer.data(), n, keep);
    // What follows the last chunk is no part of the answer; a server that
    // keeps the connection open is not waited for.
    if (chunks.Done())
      return received;
  }
  if (framing == TFraming::Chunked && !chunks.Complete())
    throw ETcpIpError("Connection closed by server in the middle of a chunked body");
  if (framing == TFraming::Length)
    throw ETcpIpError("Connection closed by server after " + std::to_string(received) + " of " +
                      std::to_string(ContentLength) + " bytes");
  return received;
}

void T_HTTP::ReadBody() {
  Stream.Clear();
  // The length of a chunked body is the chunks' business.
  const bool complete = StatusCode >= 200 && StatusCode < 300 && ContentLength > 0 && !Chunked;
  if (complete && !sink_)
    ReserveBody();
  std::int64_t received = 0;
  try {
    received = ReceiveBody(Chunked ? TFraming::Chunked : TFraming::UntilClose,
                           [this](const char *data, std::size_t n) { KeepBody(data, n); });
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

void T_HTTP::SendRequestLine(const std::string &method, const std::string &version) {
  // The trace prints the URL from the parts it was read as, its password
  // replaced.
  const std::string tail = " HTTP/" + version;
  Connection.SendCommand(
      method + " " + RequestTarget(RequestURI) + tail,
      Tracing() ? method + " " + RequestTarget(TURL::Split(RequestURI).Text(Mask)) + tail : "");
}

void T_HTTP::SendRequest(const std::string &method, const std::string &version) {
  // A header value with a line break would add headers of its own.
  for (const std::string *value :
       {&HostHeader, &Sender, &Reference, &Agent, &ContentTypePost, &Credentials})
    if (value->find_first_of("\r\n") != std::string::npos)
      throw ETcpIpError("Line break in a request header: " +
                        value->substr(0, value->find_first_of("\r\n")));
  Connection.Cork();
  SendRequestLine(method, version);
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
  for (const std::string &line : rangeHeaders_)
    SendCommand(line);
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

void T_HTTP::ReadResponseHeader() { ReadAnswerHeader(true); }

void T_HTTP::ReadAnswerHeader(bool followLocation) {
  AuthenticateList.clear();
  ResponseHeaders.clear();
  ContentType.clear();
  ContentLength = 0;
  StatusCode = 0;
  StatusText.clear();
  Chunked = false;
  lengthGiven_ = false;
  bool http11 = false;
  std::string connection;
  THeaderCap cap("Response header", " from " + Bracketed(Hostname) + ":" + std::to_string(RemotePort));
  for (bool first = true;; first = false) {
    // A server that closes before the empty line has sent no usable response.
    const std::string line = Connection.ReadReplyLine("HTTP");
    answerStarted_ = true;
    cap.Count(line);
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
      http11 = line[7] != '0';
      continue;
    }
    // A folded line goes on with the field before it.
    if ((line[0] == ' ' || line[0] == '\t') && !ResponseHeaders.empty()) {
      ResponseHeaders.back() += " " + Trim(line);
      continue;
    }
    ResponseHeaders.push_back(line);
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos)
      continue;
    const std::string name = LowerCase(line.substr(0, colon));
    std::size_t valueStart = colon + 1;
    while (valueStart < line.size() && (line[valueStart] == ' ' || line[valueStart] == '\t'))
      ++valueStart;
    const std::string value = line.substr(valueStart);
    if (name == "location") {
      if (followLocation)
        FollowLocation(value);
    } else if (name == "content-length") {
      ContentLength = StrToInt64(value);
      lengthGiven_ = ContentLength >= 0;
    } else if (name == "content-type") {
      ContentType = value;
    } else if (name == "www-authenticate") {
      AuthenticateList.push_back(value);
    } else if (name == "transfer-encoding") {
      // Chunks frame the body only when "chunked" is the last coding applied.
      Chunked = LowerCase(Trim(value.substr(value.rfind(',') + 1))) == "chunked";
    } else if (name == "connection") {
      connection += "," + LowerCase(value);
    }
  }
  // HTTP/1.1 keeps the connection unless told otherwise, 1.0 only when told.
  const auto says = [&connection](std::string_view token) {
    std::size_t at = 0;
    for (std::size_t comma; at <= connection.size(); at = comma + 1) {
      comma = std::min(connection.find(',', at), connection.size());
      if (Trim(std::string_view(connection).substr(at, comma - at)) == token)
        return true;
    }
    return false;
  };
  keepAlive_ = http11 ? !says("close") : says("keep-alive");
  Counts.Expect(TDirection::Received, Chunked ? 0 : ContentLength);
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

void T_HTTP::AddRequestHeader(const std::string &line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos || !IsToken(line.substr(0, colon)))
    throw EConvertError("'" + line + "' is not a header \"Name: value\"");
  if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
    throw EConvertError("Line break in the header '" + line.substr(0, colon) + "'");
  const std::string name = LowerCase(line.substr(0, colon));
  if (name == "content-length" || name == "transfer-encoding")
    throw EConvertError("The header '" + line.substr(0, colon) +
                        "' is set by the client from the body");
  const std::string value = HeaderValue(line);
  const std::string header = line.substr(0, colon) + (value.empty() ? ":" : ": " + value);
  for (std::string &existing : RequestHeaders)
    if (HeaderName(existing) == name) {
      existing = header;
      return;
    }
  RequestHeaders.push_back(header);
}

std::string T_HTTP::ResponseHeader(std::string_view name) const {
  const std::string wanted = LowerCase(name);
  std::string joined;
  bool found = false;
  for (const std::string &line : ResponseHeaders) {
    if (HeaderName(line) != wanted)
      continue;
    if (found && wanted == "set-cookie")
      break;
    joined += (found ? ", " : "") + HeaderValue(line);
    found = true;
  }
  return joined;
}

std::string T_HTTP::KeepKey() const {
  const platform::TlsSettings settings = Tls ? *Tls : platform::TlsSettings{};
  return std::string(secure_ ? "https://" : "http://") + LowerCase(originHost_) + ":" +
         std::to_string(originPort_) + " via " + Proxy + (settings.Verify ? " verified " : " unverified ") +
         settings.CaFile;
}

void T_HTTP::Request(const std::string &method, const std::string &url, const std::string &file) {
  if (file.empty())
    return RequestInto(method, url, nullptr);
  std::optional<platform::FileWriter> writer;
  try {
    writer.emplace(file);
  } catch (...) {
    Body.Clear();
    Form.Clear();
    throw;
  }
  RequestInto(method, url, &*writer);
  writer->Commit();
}

void T_HTTP::CheckRequest(const std::string &method, const std::string &url) {
  if (!IsToken(method))
    throw EConvertError("'" + method + "' is no HTTP method");
  if (Body.IsSet() && Form.IsSet())
    throw EConvertError("HTTP BODY and FORM are both set for one request");
  SetTargetFrom(url);
}

void T_HTTP::TakeAnswer(T_HTTP &other) {
  StatusCode = other.StatusCode;
  StatusText = std::move(other.StatusText);
  ContentLength = other.ContentLength;
  ContentType = std::move(other.ContentType);
  Chunked = other.Chunked;
  AuthenticateList = std::move(other.AuthenticateList);
  ResponseHeaders = std::move(other.ResponseHeaders);
  if (other.Cookies.SameFile(Cookies))
    Cookies = std::move(other.Cookies);
}

void T_HTTP::RequestInto(const std::string &method, const std::string &url,
                         platform::FileWriter *file) {
  struct TUsedOnce {
    T_HTTP &h;
    ~TUsedOnce() {
      h.Body.Clear();
      h.Form.Clear();
      h.toFileHint_ = DownloadHint;
    }
  } usedOnce{*this};
  toFileHint_ = "HTTP REQUEST with a file writes it there";
  CheckRequest(method, url);
  requestStart_ = Counts.Moved(TDirection::Both);
  std::string verb = UpperCase(method);
  std::string contentType;
  TRequestBody body = Form.IsSet() ? Form.Compose(contentType) : std::move(Body);
  credentialsFor_ = CredentialsReceiver();
  const std::string origin = KeepKey();
  bool cookiesChanged = false;
  try {
    for (int redirects = 0;; ++redirects) {
      const bool withBody = body.IsSet() || verb == "POST" || verb == "PUT" || verb == "PATCH";
      Exchange(verb, withBody ? &body : nullptr, contentType, KeepKey() == origin);
      cookiesChanged = TakeCookies() || cookiesChanged;
      const TFraming framing = Framing(verb);
      ExpectAnswer(framing);
      const std::string location = ResponseHeader("location");
      const bool redirect = StatusCode == 301 || StatusCode == 302 || StatusCode == 303 ||
                            StatusCode == 307 || StatusCode == 308;
      if (!redirect || location.empty() || redirects == MaxRedirects) {
        ReceiveAnswer(framing, file);
        break;
      }
      SkipBody(framing);
      EndExchange();
      if ((StatusCode == 303 && verb != "HEAD") || (StatusCode <= 302 && verb == "POST")) {
        verb = "GET";
        body.Clear();
        contentType.clear();
      }
      FollowLocation(location);
    }
  } catch (...) {
    // The cookies of the answers that did come are kept all the same.
    if (cookiesChanged) {
      try {
        Cookies.Save(std::time(nullptr));
      } catch (...) {
      }
    }
    throw;
  }
  if (cookiesChanged)
    Cookies.Save(std::time(nullptr));
}

void T_HTTP::ReceiveAnswer(TFraming framing, platform::FileWriter *file) {
  sink_ = file;
  Stream.Clear();
  const TChunkedDecoder::TSink keep = [this](const char *data, std::size_t n) { KeepBody(data, n); };
  try {
    // What came compressed is kept decoded, and counted so against the cap.
    const std::unique_ptr<TContentDecoder> decoder =
        Compress && framing != TFraming::None ? TContentDecoder::For(ResponseHeader("content-encoding"))
                                              : nullptr;
    if (!sink_ && !decoder && framing == TFraming::Length)
      ReserveBody();
    if (decoder) {
      ReceiveBody(framing, [&](const char *data, std::size_t n) { decoder->Feed(data, n, keep); });
      decoder->Finish();
    } else {
      ReceiveBody(framing, keep);
    }
  } catch (...) {
    sink_ = nullptr;
    Stream.Assign({});
    Logout();
    throw;
  }
  sink_ = nullptr;
  Stream.SetPosition(0);
  EndExchange();
}

TCookieJar::TOrigin T_HTTP::CookieOrigin() const {
  return {secure_, LowerCase(originHost_), target_.Path.substr(0, target_.Path.find('?'))};
}

bool T_HTTP::TakeCookies() {
  if (!Cookies.Enabled())
    return false;
  const std::int64_t now = std::time(nullptr);
  bool changed = false;
  for (const std::string &line : ResponseHeaders)
    if (HeaderName(line) == "set-cookie")
      changed = Cookies.Store(HeaderValue(line), CookieOrigin(), now) || changed;
  return changed;
}

T_HTTP::TFraming T_HTTP::Framing(const std::string &method) const {
  if (method == "HEAD" || StatusCode < 200 || StatusCode == 204 || StatusCode == 304)
    return TFraming::None;
  if (Chunked)
    return TFraming::Chunked;
  return lengthGiven_ ? TFraming::Length : TFraming::UntilClose;
}

void T_HTTP::Exchange(const std::string &method, TRequestBody *body,
                      const std::string &contentType, bool sameOrigin) {
  const std::string key = KeepKey();
  for (bool retried = false;; retried = true) {
    const bool reused = kept_.Take(key, Connection);
    if (reused) {
      Connected = true;
      Connection.TimeoutMs = TimeoutMs;
      Connection.LowSpeed = LowSpeed;
    } else {
      Open();
    }
    answerStarted_ = false;
    try {
      SendRequestWithBody(method, body, contentType, sameOrigin);
      // Interim answers (100 Continue, 103 Early Hints) come before the real one.
      do
        ReadAnswerHeader(false);
      while (StatusCode >= 100 && StatusCode < 200 && StatusCode != 101);
      return;
    } catch (const ETimeoutError &) {
      Logout();
      throw;
    } catch (const ETcpIpError &) {
      Logout();
      // A kept connection the server closed just as the request went out:
      // the request is sent once more on a new one when that is harmless.
      if (reused && !retried && !answerStarted_ && IsIdempotent(method))
        continue;
      throw;
    } catch (...) {
      Logout();
      throw;
    }
  }
}

void T_HTTP::SendRequestWithBody(const std::string &method, TRequestBody *body,
                              const std::string &contentType, bool sameOrigin) {
  for (const std::string *value : {&HostHeader, &Sender, &Reference, &Agent, &Credentials})
    if (value->find_first_of("\r\n") != std::string::npos)
      throw ETcpIpError("Line break in a request header: " +
                        value->substr(0, value->find_first_of("\r\n")));
  const auto callerSets = [this, sameOrigin](std::string_view name) {
    if (!sameOrigin && StaysWithItsOrigin(name))
      return false;
    return std::any_of(RequestHeaders.begin(), RequestHeaders.end(),
                       [name](const std::string &line) { return HeaderName(line) == name; });
  };
  std::int64_t size = 0;
  if (body) {
    body->Measure();
    size = body->Size();
  }
  // Until the answer tells its length, the whole is what went before and this body.
  Counts.Expect(TDirection::Both,
                body ? Counts.Moved(TDirection::Both) - requestStart_ + size : 0);
  Connection.Cork();
  SendRequestLine(method, "1.1");
  if (!callerSets("host"))
    SendCommand("Host: " + HostHeader);
  if (!Sender.empty() && !callerSets("from"))
    SendCommand("From: " + Sender);
  if (!Reference.empty() && !callerSets("referer"))
    SendCommand("Referer: " + Reference);
  if (!callerSets("user-agent"))
    SendCommand("User-Agent: " + (Agent.empty() ? std::string(DefaultAgent) : Agent));
  if (!callerSets("accept"))
    SendCommand("Accept: */*");
  if (Compress && !callerSets("accept-encoding"))
    SendCommand("Accept-Encoding: gzip, deflate");
  if (NoCache && !callerSets("pragma"))
    SendCommand("Pragma: no-cache");
  if (!Credentials.empty() && CredentialsReceiver() == credentialsFor_ && !callerSets("authorization"))
    Connection.SendSecret("Authorization: ", Credentials, "*****");
  // The jar's cookies join those the caller set, in one header.
  std::string cookies = Cookies.Enabled() ? Cookies.Header(CookieOrigin(), std::time(nullptr)) : "";
  for (const std::string &line : RequestHeaders) {
    const std::string name = HeaderName(line);
    if (!sameOrigin && StaysWithItsOrigin(name))
      continue;
    if (!contentType.empty() && name == "content-type")
      continue;
    if (name == "authorization" || name == "proxy-authorization") {
      Connection.SendSecret(line.substr(0, line.find(':') + 2), HeaderValue(line), "*****");
    } else if (name == "cookie" && !cookies.empty()) {
      SendCommand(line + "; " + cookies);
      cookies.clear();
    } else {
      SendCommand(line);
    }
  }
  if (!cookies.empty())
    SendCommand("Cookie: " + cookies);
  if (body) {
    if (!contentType.empty())
      SendCommand("Content-Type: " + contentType);
    else if (body->IsSet() && !callerSets("content-type"))
      SendCommand("Content-Type: application/octet-stream");
    SendCommand("Content-Length: " + std::to_string(size));
  }
  Connection.Send("\r\n");
  // A small body leaves with the header, in one segment; a large one after it.
  const bool withHeader = body && body->TextNoLargerThan(16384);
  if (withHeader)
    body->SendTo(Connection);
  Connection.Uncork();
  if (withHeader)
    // What leaves with the header goes uncounted, as the header does; the
    // body is data all the same.
    Counts.Add(TDirection::Sent, static_cast<std::size_t>(size));
  else if (body)
    body->SendTo(Connection);
}

void T_HTTP::SkipBody(TFraming framing) {
  // Reading a large body only to drop it costs more than a new connection.
  constexpr std::int64_t MaxSkipped = 1 << 20;
  if (framing == TFraming::UntilClose || (framing == TFraming::Length && ContentLength > MaxSkipped)) {
    keepAlive_ = false;
    return;
  }
  struct TTooLong {};
  std::int64_t skipped = 0;
  try {
    ReceiveBody(framing, [&skipped](const char *, std::size_t n) {
      skipped += static_cast<std::int64_t>(n);
      if (skipped > MaxSkipped)
        throw TTooLong{};
    });
  } catch (const TTooLong &) {
    keepAlive_ = false;
  }
}

void T_HTTP::ExpectAnswer(TFraming framing) {
  const std::int64_t moved = Counts.Moved(TDirection::Both) - requestStart_;
  Counts.Expect(TDirection::Both, framing == TFraming::None     ? moved
                                  : framing == TFraming::Length ? moved + ContentLength
                                                                : 0);
}

void T_HTTP::EndExchange() {
  if (!keepAlive_ || !Connection.IsOpen() || Connection.Ended()) {
    Logout();
    return;
  }
  kept_.Put(KeepKey(), std::move(Connection));
  Connected = false;
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

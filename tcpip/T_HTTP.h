#pragma once
// The HTTP/1.0 client: GET (after a HEAD on a connection of its own, so that
// one redirection takes effect first) and POST, directly or through a proxy,
// with optional Basic credentials. Every exchange is a connection of its
// own; the response body is everything up to the server's close and is left
// in Stream, rewound to its start.
#include "ip_misc/TStringList.h"
#include "tcpip/T_TcpIp.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
class FileWriter;
}

class T_HTTP : public T_TcpIp {
public:
  // The most a response header may hold, its lines and their breaks
  // together: a server that sends more is broken or hostile.
  static constexpr std::size_t MaxHeaderBytes = 1 << 20;
  // The largest body held in memory (a GET page, a POST's answer) unless set
  // otherwise; bodies going to a file are not limited.
  static constexpr std::int64_t DefaultMaxBodyBytes = std::int64_t(256) << 20;

  T_HTTP();

  // Published.
  std::string URL;
  // "host:port" or URL form; empty for direct requests.
  std::string Proxy;
  std::string Sender;
  std::string Agent;
  std::string Reference;
  bool NoCache = false;
  std::string ContentTypePost = "application/x-www-form-urlencoded";

  // The target of the request line: the path for direct requests, the whole
  // URL through a proxy.
  std::string RequestURI;
  // The value of the Host header: the target's host, with ":port" unless 80.
  std::string HostHeader;
  // The last response header.
  std::int32_t StatusCode = 0;
  std::string StatusText;
  std::int64_t ContentLength = 0;
  std::string ContentType;
  // Sent to the host and port of the URL the request was made for (or to
  // the proxy), never to a host or port a redirection leads to.
  std::string Credentials;
  TStringList AuthenticateList;
  // The last header said "Transfer-Encoding: chunked": the body is decoded.
  bool Chunked = false;
  // A body held in memory that would grow past this is a failure; the
  // memory then goes back at once.
  std::int64_t MaxBodyBytes = DefaultMaxBodyBytes;

  // GET URL into Stream. Raises the ETcpIpError family for network and
  // protocol failures (a response cut short included) and EConvertError for
  // a port, status code or length that is not a number. No HTTP status is a
  // failure: the body of an error status is the server's error document.
  void Action() override;
  // As Action, but the body goes straight into a local file, which appears
  // (replacing an older one) only once the whole body has arrived; Stream
  // stays empty. Raises EFileError when the file cannot be written, before
  // anything is requested when its folder is missing.
  void DownloadToFile(const std::string &path);
  // POSTs the whole Stream to URL; the response body replaces it. Raises as
  // Action does.
  void Post();
  // Credentials for every later request made through Action, Post or
  // DownloadToFile (see Credentials).
  void SetAuthorization(const std::string &user, const std::string &password);

  void Head();
  void Get();
  void SendRequest(const std::string &method, const std::string &version);
  // Reads the header to its empty line and interprets it; raises
  // EProtocolError when the connection ends first or the answer does not
  // begin with a status line, and ETcpIpError past MaxHeaderBytes.
  void ReadResponseHeader();

private:
  // Points Hostname, RemotePort, RequestURI and HostHeader at URL (through
  // Proxy when one is set). Raises ETcpIpError for a scheme other than http
  // and https (unless a proxy fetches it) or a host with a control
  // character, EConvertError for a port that is not a decimal number.
  void SetTarget();
  void SetTargetFrom(const std::string &url);
  // The request's path (and through a proxy the whole URL) from path.
  void SetRequestURI(const std::string &path);
  // The URL the request goes to: the caller's, or where a redirection led.
  TURL target_;
  // Connects to the server, or through the proxy, and secures an https
  // connection (through a proxy: inside a CONNECT tunnel).
  void Open();
  void OpenTunnel();
  bool secure_ = false;
  std::string originHost_;
  std::uint16_t originPort_ = 80;
  // Moves the target to a "location" value, which may be relative.
  void FollowLocation(const std::string &value);
  // Receives until the server closes or a chunked body ends; the body goes
  // to Stream or the file being written.
  void ReadBody();
  // Keeps n bytes of the body; raises past MaxBodyBytes in memory.
  void KeepBody(const char *data, std::size_t n);
  platform::FileWriter *sink_ = nullptr;
  // Who reads the Authorization header of the request as it stands:
  // "host:port" of the proxy for a plain request through one, else of the
  // server.
  std::string CredentialsReceiver() const;
  // The receiver of the request as the caller made it: the only one the
  // credentials go to.
  std::string credentialsFor_;
};

#pragma once
// The HTTP client. GET (after a HEAD on a connection of its own, so that one
// redirection takes effect first) and POST are HTTP/1.0, directly or through
// a proxy, with optional Basic credentials; every such exchange is a
// connection of its own, and the response body is everything up to the
// server's close, left in Stream, rewound to its start. Request speaks
// HTTP/1.1 for web APIs: any method, headers and a body of the caller's,
// redirections followed by their rules, and connections kept for the next
// request to the same place.
#include "ip_misc/TStringList.h"
#include "tcpip/TChunkedDecoder.h"
#include "tcpip/TConnectionPool.h"
#include "tcpip/TCookieJar.h"
#include "tcpip/TFormData.h"
#include "tcpip/TRequestBody.h"
#include "tcpip/T_TcpIp.h"

#include <cstddef>
#include <cstdint>
#include <memory>
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
  // Redirections Request follows for one request; the answer after the last
  // is the one the caller gets.
  static constexpr int MaxRedirects = 20;
  // The User-Agent of Request while Agent is empty.
  static constexpr const char *DefaultAgent = "scriptnet/2.6";

  T_HTTP();
  // A new client with the settings of other (and its last response's
  // fields), not connected and without its kept connections.
  T_HTTP(const T_HTTP &other) = default;

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
  // The fields of the last response header as they came, "Name: value" each
  // (a folded line joined to its field), without the status line.
  TStringList ResponseHeaders;

  // What Request sends besides its method and URL. Headers of the caller's,
  // "Name: value" each, go with every request; they take the place of the
  // client's own of the same name.
  TStringList RequestHeaders;
  // The body of the next Request, or its form; either is used by one
  // Request, then cleared.
  TRequestBody Body;
  TFormData Form;
  // Request asks for gzip and deflate and keeps the body decoded.
  bool Compress = true;
  // The cookies Request sends and keeps (see TCookieJar); none until a
  // file is opened.
  TCookieJar Cookies;

  // GET URL into Stream. Raises the ETcpIpError family for network and
  // protocol failures (a response cut short included) and EConvertError for
  // a port, status code or length that is not a number. No HTTP status is a
  // failure: the body of an error status is the server's error document.
  void Action() override;
  // As Action, but the body goes straight into a local file, which appears
  // (replacing an older one) only once the whole body has arrived; Stream
  // stays empty. Raises EFileError when the file cannot be written, before
  // anything is requested when its folder is missing.
  //
  // With resume, the body is written into path + PartSuffix, which a broken
  // download leaves behind with the URL and the answer's validator (its
  // ETag, else its Last-Modified) in path + PartSuffix + InfoSuffix. The
  // next resumed download of the same URL asks for the rest with Range and
  // If-Range: 206 appends it, 200 (the file changed, or the server sends
  // no ranges) starts from zero, so a changed file is never spliced. An
  // error status writes its document to path, as without resume, and
  // leaves the part for a later try.
  static constexpr const char *PartSuffix = ".part";
  static constexpr const char *InfoSuffix = ".info";
  void DownloadToFile(const std::string &path, bool resume = false);
  // As DownloadToFile without resume, into file, which the caller commits.
  void DownloadTo(platform::FileWriter &file);
  // As DownloadToFile with resume, but the file, once whole, waits for
  // CommitDownload to take its name (and the part's record to go): a
  // background job's file appears only once the job is done. Destroyed
  // before, the client leaves the part as a broken download does.
  void ResumeDownload(const std::string &path);
  void CommitDownload();
  // Raises what a request to URL (and Proxy) would raise before it touches
  // the network: EConvertError for a port that does not read.
  void CheckURL();
  // POSTs the whole Stream to URL; the response body replaces it. Raises as
  // Action does.
  void Post();
  // Credentials for every later request made through Action, Post or
  // DownloadToFile (see Credentials).
  void SetAuthorization(const std::string &user, const std::string &password);

  // Adds a header of the caller's, replacing one of the same name (names
  // compared without regard to case). Raises EConvertError, changing
  // nothing, for a text that is not "Name: value" with a token as name, with
  // CR, LF or NUL in it, or for a header that frames the body
  // (Content-Length, Transfer-Encoding), which is the client's business.
  void AddRequestHeader(const std::string &line);
  // The value of the last response's header name (without regard to case):
  // several of them joined by ", ", but the first alone for Set-Cookie,
  // whose values may hold commas; empty when there is none.
  std::string ResponseHeader(std::string_view name) const;

  // Sends method (a token; upper-cased) to url as HTTP/1.1 with
  // RequestHeaders and Body or Form, follows redirections (301, 302 and 303
  // turn a POST into a GET without body, 303 anything but HEAD; 307 and 308
  // repeat method and body; headers of the caller's that carry credentials
  // never go to another scheme, host or port), and receives the answer's
  // body into Stream, capped as GET is, or into file when one is named, which
  // appears only once the body is whole. Any status is an answer; network
  // and protocol failures raise as Action does, EConvertError stands for a
  // method that is no token or Body and Form set together, EFileError for a
  // file that cannot be read or written. Body and Form are cleared whatever
  // happens.
  void Request(const std::string &method, const std::string &url, const std::string &file = {});
  // As Request, the body of the final answer written into file (Stream when
  // null), which the caller commits: a background job's file takes its name
  // only once the job is done.
  void RequestInto(const std::string &method, const std::string &url, platform::FileWriter *file);
  // Raises what Request raises before it touches the network: EConvertError
  // for a method that is no token or Body and Form set together, and what
  // the URL's target raises (see SetTarget). Points the client at url.
  void CheckRequest(const std::string &method, const std::string &url);
  // The last answer of other (a copy that made a request of its own, such as
  // a background job's) becomes this client's: its status and headers, and
  // its cookies when both use the same jar file.
  void TakeAnswer(T_HTTP &other);
  // Closes the connections kept for later requests.
  void CloseKeptConnections() { kept_.Clear(); }
  std::size_t KeptConnections() const { return kept_.Size(); }

  void Head();
  void Get();
  void SendRequest(const std::string &method, const std::string &version);
  // Reads the header to its empty line and interprets it; raises
  // EProtocolError when the connection ends first or the answer does not
  // begin with a status line, and ETcpIpError past MaxHeaderBytes.
  void ReadResponseHeader();

private:
  enum class TFraming { None, Length, Chunked, UntilClose };
  void ReadAnswerHeader(bool followLocation);
  // How the body of the answer just read ends.
  TFraming Framing(const std::string &method) const;
  // Receives a body framed so and hands its bytes (unchunked) to keep;
  // returns how many bytes came off the connection.
  std::int64_t ReceiveBody(TFraming framing, const TChunkedDecoder::TSink &keep);
  // One request and its answer's header, on a kept connection when there
  // is one (opened anew once when it turns out closed before the answer and
  // the method may be repeated).
  void Exchange(const std::string &method, TRequestBody *body,
                const std::string &contentType, bool sameOrigin);
  // The request line, traced with the URL's password masked.
  void SendRequestLine(const std::string &method, const std::string &version);
  void SendRequestWithBody(const std::string &method, TRequestBody *body,
                        const std::string &contentType, bool sameOrigin);
  // Where a connection for the current target leads, as the kept ones are filed.
  std::string KeepKey() const;
  // The body of an answer that is not kept (a redirection's): read and
  // dropped when small, so its connection can serve again.
  void SkipBody(TFraming framing);
  // After a Request's answer: its connection kept or closed.
  void EndExchange();
  // A Request's progress counts both directions as one sum from its start
  // (requestStart_): the body while it goes, then the answer's body. The
  // whole to expect is what has moved so far and, once the answer's header
  // has come, its length when it gives one (unknown when it does not).
  void ExpectAnswer(TFraming framing);
  std::int64_t requestStart_ = 0;
  // The final answer's body into file, or Stream when null.
  void ReceiveAnswer(TFraming framing, platform::FileWriter *file);
  // The scheme, host and path of the current target, as cookies see them.
  TCookieJar::TOrigin CookieOrigin() const;
  // The Set-Cookie headers of the last answer into Cookies; true when the
  // jar changed.
  bool TakeCookies();
  // How a caller takes an answer too large for memory, for the message.
  static constexpr const char *DownloadHint = "HTTP DOWNLOAD writes it to a file";
  const char *toFileHint_ = DownloadHint;
  TConnectionPool kept_;
  bool keepAlive_ = false;
  bool lengthGiven_ = false;
  bool answerStarted_ = false;
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
  // One request of HTTP/1.0 and its answer on a connection of its own (a
  // POST sends Stream as its body), closed after whether it succeeded or not.
  void RequestOnce(const std::string &method);
  // Runs work and closes the connection after, however work ended.
  template <typename Work> void ThenLogout(Work &&work);
  bool secure_ = false;
  std::string originHost_;
  std::uint16_t originPort_ = 80;
  // What ResumeDownload finished, and the part's record to remove with it
  // (none for an error document). A copy of the client starts without.
  struct TFinished {
    TFinished();
    TFinished(const TFinished &);
    TFinished &operator=(const TFinished &) = delete;
    ~TFinished();
    std::unique_ptr<platform::FileWriter> File;
    std::string Info;
  } finished_;
  // Sent by SendRequest after the client's own headers: a resumed
  // download's Range and If-Range.
  std::vector<std::string> rangeHeaders_;
  // Moves the target to a "location" value, which may be relative.
  void FollowLocation(const std::string &value);
  // Receives until the server closes or a chunked body ends; the body goes
  // to Stream or the file being written.
  void ReadBody();
  // Memory for a body of ContentLength bytes in Stream; raises past
  // MaxBodyBytes.
  void ReserveBody();
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

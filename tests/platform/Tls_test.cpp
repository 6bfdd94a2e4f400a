// What TLS servers can do wrong, as the clients meet it: an answer cut off
// without the TLS close, renegotiation, protocol versions before TLS 1.2,
// a handshake that never ends. The server's end is OpenSSL (TlsPeer) on a
// FakeServer connection; verification is off, as the peers' certificate is
// made for the run.
#include "platform/Tls.h"
#include "platform/TlsContextCache.h"
#include "support/FakeServer.h"
#include "support/TempFolder.h"
#include "support/TlsPeer.h"
#include "tcpip/T_HTTP.h"
#include "tcpip/T_SMTP.h"

#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace {

const platform::TlsSettings AnyCertificate{false, "", nullptr};
const std::string TextHeader = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

// One exchange over TLS on the server's current connection.
std::function<void(platform::socket_t)> Answer(std::string bytes, bool closeNotify) {
  return [bytes = std::move(bytes), closeNotify](platform::socket_t s) {
    TlsPeer peer(s);
    if (!peer.Ok() || !peer.ReadRequest() || !peer.Write(bytes))
      return;
    if (closeNotify)
      peer.CloseNotify();
  };
}

// HEAD and GET, each on a connection of its own.
FakeServer &HeadThenGet(FakeServer &server, const std::string &header, const std::string &body,
                        bool closeNotify) {
  return server.Do(Answer(header, true)).Close().Accept().Do(Answer(header + body, closeNotify));
}

struct SecureClient : T_HTTP {
  explicit SecureClient(const FakeServer &server) {
    Tls = &AnyCertificate;
    TimeoutMs = 5000;
    URL = "https://127.0.0.1:" + std::to_string(server.Port()) + "/page";
  }
};

} // namespace

// A body that ends with the connection is whole only when the server's TLS
// close ends it: closed or reset without it, the answer may be cut short
// (an attacker can end a TCP connection), and neither GET nor DOWNLOAD
// takes it. A body of announced length is whole once it has all come.
TEST(Tls, AnAnswerEndedWithoutTheTlsCloseIsNotWhole) {
  const std::string body = "first line\r\nsecond li";
  for (const bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "closed");
    FakeServer server;
    HeadThenGet(server, TextHeader, body, false);
    (reset ? server.Reset() : server.Close()).Start();
    SecureClient http(server);
    try {
      http.Action();
      ADD_FAILURE() << "a cut answer was taken: " << http.Stream.Bytes();
    } catch (const ECutShortError &e) {
      EXPECT_NE(std::string(e.what()).find("ended without the server's TLS close"), std::string::npos)
          << e.what();
    }
    EXPECT_EQ(http.StatusCode, 200);
    EXPECT_EQ(http.Stream.Size(), 0);
    EXPECT_TRUE(server.Join());

    FakeServer download;
    HeadThenGet(download, TextHeader, body, false);
    (reset ? download.Reset() : download.Close()).Start();
    SecureClient http2(download);
    const testsupport::TempFolder folder;
    const std::string target = folder / "cut";
    EXPECT_THROW(http2.DownloadToFile(target), ECutShortError);
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_TRUE(download.Join());

    const std::string sized = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                              "\r\n\r\n";
    FakeServer whole;
    HeadThenGet(whole, sized, body, false);
    (reset ? whole.Reset() : whole.Close()).Start();
    SecureClient http3(whole);
    EXPECT_NO_THROW(http3.Action());
    EXPECT_EQ(http3.Stream.Bytes(), body);
    EXPECT_TRUE(whole.Join());
  }
  FakeServer orderly;
  HeadThenGet(orderly, TextHeader, body, true).Close().Start();
  SecureClient http(orderly);
  EXPECT_NO_THROW(http.Action());
  EXPECT_EQ(http.Stream.Bytes(), body);
  EXPECT_TRUE(orderly.Join());
}

// The handshake as a whole gets the time-out: a server that sends it a byte
// at a time (here the start of a record that never ends) restarts no wait.
TEST(Tls, AHandshakeThatTricklesEndsWithTheTimeout) {
  FakeServer server;
  server.ReadBytes(1).Drip(std::string("\x16\x03\x03\x40\x00", 5) + std::string(60, '\x02'),
                           std::chrono::milliseconds(100));
  server.Close().Start();
  SecureClient http(server);
  http.TimeoutMs = 1000;
  http.LowSpeed = {};
  try {
    http.Action();
    ADD_FAILURE() << "a handshake without end went through";
  } catch (const ETimeoutError &e) {
    EXPECT_NE(std::string(e.what()).find("Timed out after 1 s waiting for the TLS handshake"),
              std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(server.Join());
}

// A server that renegotiates again and again moves bytes within every wait
// and never answers; the client refuses the first renegotiation.
TEST(Tls, RenegotiationStartedByTheServerIsRefused) {
  FakeServer server;
  server.Do(Answer(TextHeader, true)).Close().Accept().Do([](platform::socket_t s) {
    TlsPeer peer(s, {TLS1_2_VERSION, 0, false});
    if (!peer.Ok() || !peer.ReadRequest())
      return;
    for (int i = 0; i < 10 && peer.Renegotiate(); ++i) {
    }
    peer.Write(TextHeader + "late");
    peer.CloseNotify();
  });
  server.Close().Start();
  SecureClient http(server);
  try {
    http.Action();
    ADD_FAILURE() << "an answer after renegotiations was taken: " << http.Stream.Bytes();
  } catch (const ETcpIpError &e) {
    EXPECT_NE(std::string(e.what()).find("renegotiation refused"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(server.Join());
}

// What a server (or whoever sits between) sends in clear behind its
// go-ahead for STARTTLS was never protected: it is dropped, never read as
// the answer to the first command over TLS, and the dialogue goes through.
TEST(Tls, ClearTextBehindTheGoAheadIsDropped) {
  std::vector<std::string> secured;
  FakeServer server;
  server.Send("220 ready\r\n").ReadLine().Send("250-hello\r\n250 STARTTLS\r\n");
  server.ReadLine().Send("220 go ahead\r\n554 injected in clear\r\n").Do([&](platform::socket_t s) {
    TlsPeer peer(s);
    std::string line;
    while (peer.Ok() && peer.ReadLine(line)) {
      secured.push_back(line);
      const std::string verb = line.substr(0, 4);
      if (verb == "DATA") {
        peer.Write("354 go on\r\n");
        while (peer.ReadLine(line) && line != ".") {
        }
        peer.Write("250 queued\r\n");
        peer.CloseNotify();
        return;
      } else {
        peer.Write("250 ok\r\n");
      }
    }
  });
  server.Close().Start();
  T_SMTP smtp;
  smtp.Hostname = "127.0.0.1";
  smtp.RemotePort = server.Port();
  smtp.Security = T_TcpIp::TSecurity::StartTls;
  smtp.Tls = &AnyCertificate;
  smtp.MailFrom = "anna@example.org";
  smtp.RcptList = {"bob@example.org"};
  smtp.MessageText = {"secret"};
  EXPECT_NO_THROW(smtp.Action());
  EXPECT_TRUE(server.Join());
  ASSERT_FALSE(secured.empty());
  EXPECT_TRUE(secured[0].starts_with("EHLO")) << secured[0];
}

// The contexts of the last four settings are kept, the latest used first;
// one dropped from the cache lives on while a session holds it, and a
// context that cannot be made is not kept.
TEST(TlsContextCache, KeepsTheLastFourSettingsAndWhatSessionsHold) {
  int made = 0;
  bool fail = false;
  const auto make = [&](const platform::TlsSettings &s, std::string &error) {
    if (fail) {
      error = "cannot";
      return std::shared_ptr<std::string>();
    }
    ++made;
    return std::make_shared<std::string>(s.CaFile);
  };
  platform::TlsContextCache<std::string> cache;
  const auto get = [&](const std::string &ca) {
    std::string error;
    return platform::TlsContextCache<std::string>::For({true, ca, nullptr}, error, &cache, make);
  };
  const std::shared_ptr<std::string> a = get("a");
  EXPECT_EQ(get("a"), a);
  for (const char *ca : {"b", "c", "d", "a", "e"})
    get(ca);
  EXPECT_EQ(made, 5) << "a was used again before e came, so b went";
  EXPECT_EQ(get("a"), a);
  EXPECT_NE(get("b"), nullptr);
  EXPECT_EQ(made, 6);
  const std::shared_ptr<std::string> c = get("c");
  EXPECT_EQ(made, 7) << "c was the oldest when b came back";
  EXPECT_EQ(*c, "c");
  fail = true;
  EXPECT_EQ(get("f"), nullptr);
  fail = false;
  EXPECT_NE(get("f"), nullptr);
  EXPECT_EQ(made, 8);
  // g pushes a out; the session's copy of it stays whole.
  get("g");
  EXPECT_EQ(*a, "a");
  EXPECT_NE(get("a"), a);
  EXPECT_EQ(made, 10);
  std::string error;
  const auto uncached =
      platform::TlsContextCache<std::string>::For({true, "a", nullptr}, error, nullptr, make);
  EXPECT_NE(uncached, a) << "without a cache every session makes its own";
}

#include "tcpip/T_SMTP.h"

#include "ip_misc/Md5.h"
#include "ip_misc/ip_misc.h"
#include "support/FakeServer.h"
#include "support/Transcript.h"

#include <gtest/gtest.h>

namespace {

void Point(T_SMTP &smtp, const FakeServer &server) {
  smtp.Hostname = "127.0.0.1";
  smtp.RemotePort = server.Port();
}

// The lines of the dialogue that follow the greeting, the server accepting
// everything; the message ends at the line ".".
FakeServer &AcceptAll(FakeServer &server, int recipients) {
  server.Send("220-mail.test ESMTP\r\n220 ready\r\n").ReadLine().Send("250 hello\r\n");
  server.ReadLine().Send("250 sender ok\r\n");
  for (int i = 0; i < recipients; ++i)
    server.ReadLine().Send("250 recipient ok\r\n");
  return server.ReadLine().Send("354 go ahead\r\n").ReadLinesUntil(".").Send("250 queued\r\n");
}

} // namespace

TEST(T_SMTPSend, RunsTheDialogueAndStuffsLinesThatBeginWithADot) {
  FakeServer server;
  AcceptAll(server, 3).Close().Start();
  T_SMTP smtp;
  Point(smtp, server);
  smtp.MailFrom = "Anna Example <anna@example.org>";
  smtp.RcptList = {"bob@example.org, carl@example.org", "no address here", "\"dora@example.org\""};
  smtp.MessageText = {"Subject: x", "", ".", ".hidden", "...", "plain"};
  smtp.Action();
  EXPECT_EQ(smtp.ReplyCode, 250);
  EXPECT_EQ(smtp.ReplyText, "queued");
  ASSERT_TRUE(server.Join());
  const std::vector<std::string> expected = {"EHLO " + smtp.LocalName,
                                             "MAIL FROM: <anna@example.org>",
                                             "RCPT TO: <bob@example.org>",
                                             "RCPT TO: <carl@example.org>",
                                             "RCPT TO: <dora@example.org>",
                                             "DATA",
                                             "Subject: x",
                                             "",
                                             "..",
                                             "..hidden",
                                             "....",
                                             "plain",
                                             "."};
  EXPECT_EQ(server.Lines(), expected);
  // The message itself is left as it was given.
  EXPECT_EQ(smtp.MessageText[2], ".");
  EXPECT_TRUE(smtp.Connected);
}

TEST(T_SMTPSend, LinesJoinedInOneEntryAreEachStuffed) {
  FakeServer server;
  AcceptAll(server, 1).Close().Start();
  T_SMTP smtp;
  Point(smtp, server);
  smtp.MailFrom = "anna@example.org";
  smtp.RcptList = {"bob@example.org"};
  smtp.MessageText = {"Subject: x", "", "YWJj\r\n.\r\n.hidden\r\nend", ".last"};
  smtp.Action();
  ASSERT_TRUE(server.Join());
  const std::vector<std::string> lines = server.Lines();
  const std::vector<std::string> data(lines.begin() + 4, lines.end());
  const std::vector<std::string> expected = {"Subject: x", "", "YWJj", "..", "..hidden",
                                             "end", "..last", "."};
  EXPECT_EQ(data, expected);
}

TEST(T_SMTPSend, NothingToSendConnectsNowhere) {
  T_SMTP smtp;
  smtp.Hostname = "";
  smtp.MailFrom = "a@b";
  smtp.MessageText = {"x"};
  EXPECT_NO_THROW(smtp.Action());
  EXPECT_FALSE(smtp.Connected);
}

TEST(T_SMTPSend, ARefusedRecipientGoesOnAndARefusedDataIsTheFailure) {
  FakeServer server;
  server.Send("220 ready\r\n").ReadLine().Send("250 hello\r\n").ReadLine().Send("250 ok\r\n");
  server.ReadLine().Send("550 no such user\r\n").ReadLine().Send("503 5.5.1 no valid recipients\r\n");
  server.Close().Start();
  T_SMTP smtp;
  Point(smtp, server);
  smtp.MailFrom = "a@example.org";
  smtp.RcptList = {"nobody@example.org"};
  smtp.MessageText = {"text"};
  try {
    smtp.Action();
    FAIL() << "a refused DATA was taken for success";
  } catch (const EProtocolError &e) {
    EXPECT_EQ(e.Code, 503);
    EXPECT_EQ(e.ProtocolName, "SMTP");
    EXPECT_STREQ(e.what(), "5.5.1 no valid recipients");
  }
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(server.Lines().back(), "DATA");
}

TEST(T_SMTPSend, ARefusedSenderStopsBeforeTheRecipients) {
  FakeServer server;
  server.Send("220 ready\r\n").ReadLine().Send("250 hello\r\n").ReadLine().Send("553 sender rejected\r\n");
  server.Close().Start();
  T_SMTP smtp;
  Point(smtp, server);
  smtp.MailFrom = "a@example.org";
  smtp.RcptList = {"b@example.org"};
  smtp.MessageText = {"text"};
  EXPECT_THROW(smtp.Action(), EProtocolError);
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(server.Lines().size(), 2u);
}

TEST(T_SMTPSend, AServerThatClosesOrTalksNonsenseFailsTheSend) {
  {
    // Closed in the middle of a multi-line reply to HELO.
    FakeServer server;
    server.Send("220 ready\r\n").ReadLine().Send("250-first\r\n250-second\r\n").Close().Start();
    T_SMTP smtp;
    Point(smtp, server);
    smtp.MailFrom = "a@example.org";
    smtp.RcptList = {"b@example.org"};
    smtp.MessageText = {"text"};
    EXPECT_THROW(smtp.Action(), EProtocolError);
    server.Join();
  }
  {
    // Closed while the message is being accepted.
    FakeServer server;
    server.Send("220 ready\r\n").ReadLine().Send("250 hello\r\n").ReadLine().Send("250 ok\r\n");
    server.ReadLine().Send("250 ok\r\n").ReadLine().Send("354 go\r\n").ReadLinesUntil(".").Close();
    server.Start();
    T_SMTP smtp;
    Point(smtp, server);
    smtp.MailFrom = "a@example.org";
    smtp.RcptList = {"b@example.org"};
    smtp.MessageText = {"text"};
    EXPECT_THROW(smtp.Action(), EProtocolError);
    server.Join();
  }
  {
    // A status line without a code.
    FakeServer server;
    server.Send("220 ready\r\n").ReadLine().Send("hello there\r\n").Close().Start();
    T_SMTP smtp;
    Point(smtp, server);
    smtp.MailFrom = "a@example.org";
    smtp.RcptList = {"b@example.org"};
    smtp.MessageText = {"text"};
    try {
      smtp.Action();
      FAIL() << "garbage was taken for success";
    } catch (const EProtocolError &e) {
      EXPECT_EQ(e.Code, 999);
    }
    server.Join();
  }
}

TEST(T_SMTPSend, ASecondSendClosesTheFirstConnection) {
  FakeServer first, second;
  AcceptAll(first, 1).ReadUntilClose().Start();
  AcceptAll(second, 1).Close().Start();
  T_SMTP smtp;
  smtp.MailFrom = "a@example.org";
  smtp.RcptList = {"b@example.org"};
  smtp.MessageText = {"text"};
  Point(smtp, first);
  smtp.Action();
  Point(smtp, second);
  smtp.Action();
  EXPECT_TRUE(first.Join());
  EXPECT_TRUE(second.Join());
  // No QUIT: the first connection simply ends.
  EXPECT_EQ(first.Lines().back(), ".");
}

namespace {

struct LoginResult {
  int Code = 0; // of the failure; 0 for success
  std::string Text;
  std::vector<std::string> Trace;
  TStringList Capabilities;
};

// A send as user (none when empty) with mechanism through server.
LoginResult SendWithLogin(FakeServer &server, const std::string &mechanism,
                          const std::string &password = "secret",
                          const std::string &user = "anna") {
  T_SMTP smtp;
  Point(smtp, server);
  smtp.MailFrom = "anna@example.org";
  smtp.RcptList = {"bob@example.org"};
  smtp.MessageText = {"text"};
  smtp.UserName = user;
  smtp.Password = password;
  smtp.Mechanism = mechanism;
  smtp.Capabilities = {"left from before"};
  LoginResult result;
  smtp.OnTrace = [&](const std::string &text, TTraceLevel level) {
    if (level == tlCommand)
      result.Trace.push_back(text);
  };
  try {
    smtp.Action();
  } catch (const EProtocolError &e) {
    result.Code = e.Code;
    result.Text = e.what();
  }
  result.Capabilities = smtp.Capabilities;
  return result;
}

// The greeting and a multi-line EHLO reply offering auth.
FakeServer &Greet(FakeServer &server, const std::string &auth) {
  return server.Send("220 ready\r\n")
      .ReadLine()
      .Send("250-mail.test\r\n250-" + auth + "\r\n250 SIZE 1000\r\n");
}

// MAIL FROM, RCPT TO, DATA and the message, all accepted.
void AcceptMessage(FakeServer &server) {
  server.ReadLine().Send("250 ok\r\n").ReadLine().Send("250 ok\r\n");
  server.ReadLine().Send("354 go\r\n").ReadLinesUntil(".").Send("250 queued\r\n").Close().Start();
}

} // namespace

TEST(T_SMTPLogin, EachMechanismsExchange) {
  {
    // Over clear text the automatic choice is CRAM-MD5, whatever else is offered.
    FakeServer server;
    Greet(server, "AUTH LOGIN PLAIN CRAM-MD5").ReadLine();
    server.Send("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n").ReadLine();
    server.Send("235 2.7.0 Authentication successful\r\n");
    AcceptMessage(server);
    const LoginResult r = SendWithLogin(server, "", "tanstaaftanstaaf");
    EXPECT_EQ(r.Code, 0) << r.Text;
    EXPECT_EQ(r.Capabilities, (TStringList{"AUTH LOGIN PLAIN CRAM-MD5", "SIZE 1000"}));
    ASSERT_TRUE(server.Join());
    const std::vector<std::string> lines = server.Lines();
    // RFC 2195's own example: the digest of its challenge and password.
    EXPECT_EQ(Base64DecodeText(transcript::LineAfter(lines, "AUTH CRAM-MD5")),
              "anna b913a602c7eda7a495b4e6e7334d3890");
    EXPECT_EQ(transcript::Line(lines, "MAIL FROM"), "MAIL FROM: <anna@example.org>");
    EXPECT_EQ(transcript::LineAfter(r.Trace, "AUTH CRAM-MD5"), "*****");
  }
  {
    // LOGIN answers each prompt in turn.
    FakeServer server;
    Greet(server, "AUTH LOGIN").ReadLine().Send("334 VXNlcm5hbWU6\r\n").ReadLine();
    server.Send("334 UGFzc3dvcmQ6\r\n").ReadLine().Send("235 ok\r\n");
    AcceptMessage(server);
    const LoginResult r = SendWithLogin(server, "LOGIN");
    EXPECT_EQ(r.Code, 0) << r.Text;
    ASSERT_TRUE(server.Join());
    const std::vector<std::string> lines = server.Lines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 4),
              (std::vector<std::string>{"AUTH LOGIN", "YW5uYQ==", "c2VjcmV0"}));
    EXPECT_EQ(std::vector<std::string>(r.Trace.begin() + 1, r.Trace.begin() + 4),
              (std::vector<std::string>{"AUTH LOGIN", "*****", "*****"}));
  }
  {
    // PLAIN, named, goes out over clear text in the command itself.
    FakeServer server;
    Greet(server, "AUTH LOGIN").ReadLine().Send("235 ok\r\n");
    AcceptMessage(server);
    const LoginResult r = SendWithLogin(server, "PLAIN");
    EXPECT_EQ(r.Code, 0) << r.Text;
    ASSERT_TRUE(server.Join());
    EXPECT_EQ(transcript::Line(server.Lines(), "AUTH"), "AUTH PLAIN AGFubmEAc2VjcmV0");
    EXPECT_EQ(transcript::Line(r.Trace, "AUTH"), "AUTH PLAIN *****");
  }
  {
    // XOAUTH2 carries the password as the bearer token.
    FakeServer server;
    Greet(server, "AUTH XOAUTH2").ReadLine().Send("235 ok\r\n");
    AcceptMessage(server);
    const LoginResult r = SendWithLogin(server, "XOAUTH2", "ya29.token");
    EXPECT_EQ(r.Code, 0) << r.Text;
    ASSERT_TRUE(server.Join());
    const std::string auth = transcript::Line(server.Lines(), "AUTH XOAUTH2 ");
    ASSERT_FALSE(auth.empty());
    EXPECT_EQ(Base64DecodeText(auth.substr(13)), "user=anna\x01"
                                                 "auth=Bearer ya29.token\x01\x01");
  }
}

// Refusals the real servers of the integration tests do not give.
TEST(T_SMTPLogin, RefusalsInTheMiddleOfTheExchange) {
  const std::string refusal = "535 5.7.8 Authentication credentials invalid\r\n";
  const auto refused = [](FakeServer &server, const std::string &mechanism, int code,
                          const std::string &text) {
    server.Close().Start();
    const LoginResult r = SendWithLogin(server, mechanism);
    EXPECT_EQ(r.Code, code) << mechanism;
    EXPECT_EQ(r.Text, text) << mechanism;
    EXPECT_TRUE(server.Join()) << mechanism;
    return server.Lines();
  };
  {
    // LOGIN refused at the user name: the password is never sent.
    FakeServer server;
    Greet(server, "AUTH LOGIN").ReadLine().Send("334 VXNlcm5hbWU6\r\n").ReadLine().Send(refusal);
    EXPECT_EQ(refused(server, "LOGIN", 535, "5.7.8 Authentication credentials invalid").size(), 3u);
  }
  {
    // XOAUTH2 gives its reason as a challenge; the empty answer fetches the refusal.
    FakeServer server;
    Greet(server, "AUTH XOAUTH2").ReadLine().Send("334 eyJzdGF0dXMiOiI0MDEifQ==\r\n").ReadLine();
    server.Send(refusal);
    EXPECT_EQ(refused(server, "XOAUTH2", 535, "5.7.8 Authentication credentials invalid").back(),
              "");
  }
  {
    // A server that keeps prompting is cancelled, not fed for ever.
    FakeServer server;
    Greet(server, "AUTH CRAM-MD5").ReadLine().Send("334 PDEyQGg+\r\n").ReadLine();
    server.Send("334 more\r\n").ReadLine().Send("334 still more\r\n");
    EXPECT_EQ(refused(server, "CRAM-MD5", 999, "still more").back(), "*");
  }
  {
    // Over clear text nothing but CRAM-MD5 is chosen without being named.
    FakeServer server;
    Greet(server, "AUTH PLAIN LOGIN").Close().Start();
    const LoginResult r = SendWithLogin(server, "");
    EXPECT_NE(r.Text.find("(it offers PLAIN LOGIN)"), std::string::npos) << r.Text;
    ASSERT_TRUE(server.Join());
    EXPECT_EQ(server.Lines().size(), 1u);
  }
}

TEST(T_SMTPSend, EhloRefusedAsUnknownFallsBackToHelo) {
  {
    FakeServer server;
    server.Send("220 ready\r\n").ReadLine().Send("502 5.5.1 command not recognised\r\n");
    server.ReadLine().Send("250 hello\r\n");
    AcceptMessage(server);
    const LoginResult r = SendWithLogin(server, "", "", "");
    EXPECT_EQ(r.Code, 0) << r.Text;
    EXPECT_TRUE(r.Capabilities.empty());
    ASSERT_TRUE(server.Join());
    EXPECT_EQ(server.Lines()[0], "EHLO " + LocalHostName());
    EXPECT_EQ(server.Lines()[1], "HELO " + LocalHostName());
  }
  {
    // A server that is shutting down is not asked twice.
    FakeServer server;
    server.Send("220 ready\r\n").ReadLine().Send("421 closing\r\n").Close().Start();
    EXPECT_EQ(SendWithLogin(server, "").Code, 421);
    ASSERT_TRUE(server.Join());
    EXPECT_EQ(server.Lines().size(), 1u);
  }
}

// An EHLO reply of endless keyword lines is stopped at its bound (real
// ones hold a few hundred bytes), and the connection, out of step, ends.
TEST(T_SMTPSend, EhloReplyPastItsBoundFails) {
  FakeServer server;
  std::string reply = "250-mail.test\r\n";
  for (int i = 0; i < 70; ++i)
    reply += "250-" + std::string(996, 'K') + "\r\n";
  server.Send("220 ready\r\n").ReadLine().Send(reply + "250 end\r\n").Close().Start();
  T_SMTP smtp;
  Point(smtp, server);
  smtp.MailFrom = "anna@example.org";
  smtp.RcptList = {"bob@example.org"};
  smtp.MessageText = {"text"};
  try {
    smtp.Action();
    FAIL() << "an endless EHLO reply was taken";
  } catch (const ETcpIpError &e) {
    EXPECT_STREQ(e.what(), "The SMTP server's 250 reply is longer than 65536 bytes");
  }
  EXPECT_FALSE(smtp.Connection.IsOpen());
  server.Join();
}

// A script that asks for TLS never talks in clear: a server without
// STARTTLS fails the send, and so does one that cannot do the handshake.
// (Clear text slipped in behind the go-ahead is dropped: tests/platform/
// Tls_test.cpp, where a server speaks TLS after it.)
TEST(T_SMTPSecure, NoUpgradeNoSend) {
  FakeServer server;
  server.Send("220 ready\r\n").ReadLine().Send("250 hello\r\n");
  server.ReadLine().Send("502 no STARTTLS here\r\n").ReadUntilClose();
  server.Accept().Send("220 ready\r\n").ReadLine().Send("250 hello\r\n");
  server.ReadLine().Send("220 go ahead\r\n250 sender ok\r\n250 recipient ok\r\n").ReadUntilClose();
  server.Start();
  for (const char *why : {"does not offer STARTTLS", "TLS handshake"}) {
    T_SMTP smtp;
    Point(smtp, server);
    smtp.Security = T_TcpIp::TSecurity::StartTls;
    smtp.TimeoutMs = 500;
    smtp.MailFrom = "anna@example.org";
    smtp.RcptList = {"bob@example.org"};
    smtp.MessageText = {"secret"};
    try {
      smtp.Action();
      FAIL() << "sent without TLS";
    } catch (const ETcpIpError &e) {
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
  }
  EXPECT_TRUE(server.Join());
  for (const std::string &line : server.Lines())
    EXPECT_TRUE(line.starts_with("EHLO") || line == "STARTTLS") << line;
}

#include "tcpip/T_SMTP.h"

#include "support/FakeServer.h"

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
  const std::vector<std::string> expected = {
      "HELO " + smtp.LocalName, "MAIL FROM: <anna@example.org>", "RCPT TO: <bob@example.org>",
      "RCPT TO: <carl@example.org>", "RCPT TO: <dora@example.org>", "DATA", "Subject: x", "",
      "..", "..hidden", "....", "plain", "."};
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

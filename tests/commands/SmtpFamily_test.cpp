#include "commands/SmtpFamily.h"

#include "support/FakeServer.h"
#include "support/LibraryTest.h"
#include "support/SmtpDialogue.h"
#include "support/TempFolder.h"
#include "support/Transcript.h"

#include <gtest/gtest.h>


namespace {

using SmtpFamilyTest = LibraryTest;

using transcript::Count;

} // namespace

TEST_F(SmtpFamilyTest, BuildsAndSendsTheMessageTwice) {
  EXPECT_EQ(Command({"smtp", "recipients", "add", "bob@example.org"}), 0);
  EXPECT_EQ(Command({"SMTP", "CC", "ADD", "carl@example.org"}), 0);
  EXPECT_EQ(Command({"SMTP", "BCC", "ADD", "dora@example.org"}), 0);
  EXPECT_EQ(Command({"SMTP", "FROM", "Anna <anna@example.org>"}), 0);
  EXPECT_EQ(Command({"SMTP", "SUBJECT", "twice"}), 0);
  EXPECT_EQ(Command({"SMTP", "REPLY", "r@example.org"}), 0);
  EXPECT_EQ(Command({"SMTP", "MESSAGE", "ADD", "body"}), 0);
  EXPECT_EQ(Command({"SMTP", "HEADER", "ADD", "X-Test: 1"}), 0);
  EXPECT_EQ(Command({"SMTP", "DISCLOSE", "0"}), 0);
  for (int round = 0; round < 2; ++round) {
    FakeServer server;
    AcceptOneMessage(server, 3);
    ASSERT_EQ(Command({"SMTP", "SEND", server.Address()}), 0) << IpError();
    ASSERT_TRUE(server.Join());
    const std::vector<std::string> lines = server.Lines();
    EXPECT_EQ(transcript::Line(lines, "MAIL FROM"), "MAIL FROM: <anna@example.org>");
    EXPECT_EQ(Count(lines, "MIME-Version:"), 1);
    EXPECT_EQ(Count(lines, "X-Mailer: ZUDORUZ.DLL"), 1);
    EXPECT_EQ(Count(lines, "X-Test: 1"), 1);
    EXPECT_EQ(Count(lines, "To: disclosed recipients list"), 1);
    EXPECT_EQ(Count(lines, "body"), 1);
    EXPECT_EQ(Count(lines, "Reply-To: r@example.org"), 1);
  }
  // Without the header lines the X-Mailer line goes too.
  EXPECT_EQ(Command({"SMTP", "HEADER", "CLEAR"}), 0);
  EXPECT_EQ(Command({"SMTP", "DISCLOSE", " \t"}), 0);
  FakeServer server;
  AcceptOneMessage(server, 3);
  ASSERT_EQ(Command({"SMTP", "SEND", server.Address()}), 0) << IpError();
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(Count(server.Lines(), "X-Mailer:"), 0);
  EXPECT_EQ(Count(server.Lines(), "To: bob@example.org"), 1);
}

TEST_F(SmtpFamilyTest, FailuresGiveClearCodes) {
  EXPECT_EQ(Command({"SMTP", "RECIPIENTS", "REMOVE", "x"}), 14);
  EXPECT_EQ(Command({"SMTP", "POST"}), 14);
  const testsupport::TempFolder folder;
  EXPECT_EQ(Command({"SMTP", "ATTACHMENT", "ADD", folder / "no/such/file"}), 240);
  EXPECT_TRUE(IpError().starts_with("Cannot open file")) << IpError();
  EXPECT_EQ(Command({"SMTP", "SEND", "127.0.0.1:0"}), 25);
  // Nothing to send: no recipients.
  EXPECT_EQ(Command({"SMTP", "FROM", "a@example.org"}), 0);
  EXPECT_EQ(Command({"SMTP", "SEND", "127.0.0.1:1"}), 0);

  EXPECT_EQ(Command({"SMTP", "RECIPIENTS", "ADD", "b@example.org"}), 0);
  FakeServer server;
  server.Send("220 ready\r\n").ReadLine().Send("250 hello\r\n").ReadLine().Send("250 ok\r\n");
  server.ReadLine().Send("550 5.1.1 unknown user\r\n").ReadLine().Send("554 no valid recipients\r\n");
  server.Close().Start();
  EXPECT_EQ(Command({"SMTP", "SEND", server.Address()}), 206);
  EXPECT_EQ(IpError(), "no valid recipients");
  server.Join();
}

TEST_F(SmtpFamilyTest, LogsOnWithTheUserAndMechanismSet) {
  EXPECT_EQ(Command({"SMTP", "AUTH", "DIGEST-MD5"}), 14);
  EXPECT_EQ(Command({"SMTP", "AUTH", "PLAIN|LOGIN"}), 14);
  EXPECT_EQ(Command({"SMTP", "username", "anna"}), 0);
  EXPECT_EQ(Command({"SMTP", "PASSWORD", "wrong"}), 0);
  EXPECT_EQ(Command({"SMTP", "auth", " login "}), 0);
  EXPECT_EQ(Command({"SMTP", "RECIPIENTS", "ADD", "b@example.org"}), 0);
  EXPECT_EQ(Command({"SMTP", "FROM", "anna@example.org"}), 0);
  {
    FakeServer server;
    server.Send("220 ready\r\n").ReadLine().Send("250-hello\r\n250 AUTH PLAIN LOGIN\r\n");
    server.ReadLine().Send("334 VXNlcm5hbWU6\r\n").ReadLine().Send("334 UGFzc3dvcmQ6\r\n");
    server.ReadLine().Send("535 5.7.8 Error: authentication failed\r\n").Close().Start();
    EXPECT_EQ(Command({"SMTP", "SEND", server.Address()}), 206);
    EXPECT_EQ(IpError(), "5.7.8 Error: authentication failed");
    ASSERT_TRUE(server.Join());
    EXPECT_EQ(transcript::Line(server.Lines(), "AUTH"), "AUTH LOGIN");
  }
  // Blank again: the best mechanism offered, and with no user name no login at all.
  EXPECT_EQ(Command({"SMTP", "AUTH", ""}), 0);
  EXPECT_EQ(Command({"SMTP", "USERNAME", ""}), 0);
  FakeServer server;
  server.Send("220 ready\r\n").ReadLine().Send("250-hello\r\n250 AUTH CRAM-MD5\r\n");
  server.ReadLine().Send("250 ok\r\n").ReadLine().Send("250 ok\r\n");
  server.ReadLine().Send("354 go\r\n").ReadLinesUntil(".").Send("250 queued\r\n").Close().Start();
  EXPECT_EQ(Command({"SMTP", "SEND", server.Address()}), 0) << IpError();
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(transcript::Line(server.Lines(), "AUTH"), "");
  EXPECT_NE(transcript::Line(server.Lines(), "MAIL FROM"), "");
}

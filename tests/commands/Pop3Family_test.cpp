#include "commands/Pop3Family.h"

#include "platform/Files.h"
#include "support/FakeServer.h"
#include "support/LibraryTest.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

using Pop3FamilyTest = LibraryTest;

const char *const Message =
    "+OK message follows\r\n"
    "From: anna@example.org\r\n"
    "Subject: parts\r\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
    "\r\n"
    "--b\r\n"
    "Content-Type: text/plain\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "line one=\r\n"
    " continued\r\n"
    "..hidden\r\n"
    "\r\n"
    "--b\r\n"
    "Content-Type: application/octet-stream\r\n"
    "Content-Disposition: attachment; filename=\"x.bin\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "AAEC/w==\r\n"
    "\r\n"
    "--b--\r\n"
    ".\r\n";

} // namespace

TEST_F(Pop3FamilyTest, ReadsAMailboxAndSavesItsParts) {
  FakeServer server;
  server.Send("+OK ready\r\n").ReadLine().Send("+OK\r\nUSER\r\nuidl\r\n.\r\n");
  server.ReadLine().Send("+OK\r\n").ReadLine().Send("+OK\r\n");
  server.ReadLine().Send("+OK 2 messages\r\n1 300\r\n2 40\r\n.\r\n");
  server.ReadLine().Send("+OK\r\nFrom: b@example.org\r\n\r\n.\r\n");
  server.ReadLine().Send("+OK\r\nFrom: =?ISO-8859-1?Q?Anna_M=FCller?= <anna@example.org>\r\n"
                         "Subject: =?UTF-8?B?cGFydHMg4pyT?=\r\n\r\n.\r\n");
  // The ids of the whole mailbox, once.
  server.ReadLine().Send("+OK\r\n1 QhdPYR:00WBw1Ph7x7\r\n2 QhdPYR:00WBw1Ph7x8\r\n.\r\n");
  server.ReadLine().Send(Message);
  server.ReadLine().Send("+OK deleted\r\n").ReadLine().Send("+OK bye\r\n").Close().Start();

  EXPECT_EQ(Command({"pop3", "username", "anna"}), 0);
  EXPECT_EQ(Command({"POP3", "PASSWORD", "secret"}), 0);
  ASSERT_EQ(Command({"POP3", "LOGON", server.Address()}), 0) << IpError();
  EXPECT_EQ(Command({"POP3", "GETHEADERS"}), 0);
  EXPECT_EQ(Function({"POP3", "HEADER", "0"}),
            "=?ISO-8859-1?Q?Anna_M=FCller?= <anna@example.org>\a=?UTF-8?B?cGFydHMg4pyT?=");
  EXPECT_EQ(Function({"POP3", "HEADER", "1"}), "b@example.org");
  EXPECT_EQ(Function({"POP3", "HEADER", "2"}), "");
  // The same texts decoded, in UTF-8.
  EXPECT_EQ(Function({"POP3", "FROM", "0"}), "Anna M\xC3\xBCller <anna@example.org>");
  EXPECT_EQ(Function({"POP3", "SUBJECT", "0"}), "parts \xE2\x9C\x93");
  EXPECT_EQ(Function({"POP3", "FROM", "1"}), "b@example.org");
  EXPECT_EQ(Function({"POP3", "SUBJECT", "1"}), "");
  EXPECT_EQ(Function({"POP3", "SUBJECT", "2"}), "");
  EXPECT_EQ(lib.StatProc(), 0);
  EXPECT_EQ(Function({"POP3", "UIDL", "1"}), "QhdPYR:00WBw1Ph7x8");
  EXPECT_EQ(Function({"pop3", "uidl", "0"}), "QhdPYR:00WBw1Ph7x7");
  EXPECT_EQ(Function({"POP3", "UIDL", "2"}), "");
  EXPECT_EQ(Function({"POP3", "UIDL", "-1"}), "");
  EXPECT_EQ(lib.StatProc(), 0);
  EXPECT_EQ(Function({"POP3", "UIDL", "one"}), "");
  EXPECT_EQ(lib.StatProc(), 25);

  ASSERT_EQ(Command({"POP3", "GETMAIL", "1"}), 0) << IpError();
  EXPECT_EQ(Function({"POP3", "MAIL", "0"}), "From: anna@example.org");
  EXPECT_EQ(Function({"POP3", "MAIL", "10"}), ".hidden");
  EXPECT_EQ(Function({"POP3", "MAIL", "20"}), "\r");
  EXPECT_EQ(Function({"POP3", "MAIL", "-1"}), "\r");
  EXPECT_EQ(Function({"POP3", "ATTACHMENT", "COUNT"}), "2");
  EXPECT_EQ(Function({"POP3", "ATTACHMENT", "KIND", "0"}), "text/plain");
  EXPECT_EQ(Function({"POP3", "ATTACHMENT", "DISPOSITION", "0"}), "");
  EXPECT_EQ(Function({"POP3", "ATTACHMENT", "DISPOSITION", "1"}), "attachment; filename=\"x.bin\"");
  EXPECT_EQ(Function({"POP3", "ATTACHMENT", "FILENAME", "0"}), "");
  EXPECT_EQ(Function({"POP3", "ATTACHMENT", "FILENAME", "1"}), "x.bin");

  const testsupport::TempFolder folder;
  ASSERT_EQ(Command({"POP3", "SAVEATTACHMENT", "0", folder / "text.txt"}), 0);
  EXPECT_EQ(platform::ReadWholeFile(folder / "text.txt"), "line one continued\r\n.hidden\r\n");
  ASSERT_EQ(Command({"POP3", "SAVEATTACHMENT", "1", folder / "file.bin"}), 0);
  EXPECT_EQ(platform::ReadWholeFile(folder / "file.bin"), std::string("\x00\x01\x02\xFF", 4));

  EXPECT_EQ(Command({"POP3", "DELMAIL", "1"}), 0);
  EXPECT_EQ(Command({"POP3", "LOGOFF"}), 0);
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(server.Lines().back(), "QUIT");
}

TEST_F(Pop3FamilyTest, BadIndexesAndFilesGiveClearCodes) {
  // No message read yet: there is no attachment 0.
  EXPECT_EQ(Function({"POP3", "ATTACHMENT", "COUNT"}), "0");
  EXPECT_EQ(Function({"POP3", "ATTACHMENT", "KIND", "0"}), "");
  EXPECT_EQ(lib.StatProc(), 241);
  EXPECT_EQ(IpError(), "No attachment at index 0 (the message has 0)");
  EXPECT_EQ(Function({"POP3", "ATTACHMENT", "DISPOSITION", "-1"}), "");
  EXPECT_EQ(lib.StatProc(), 241);
  const testsupport::TempFolder folder;
  const std::string target = folder / "never_written";
  EXPECT_EQ(Command({"POP3", "SAVEATTACHMENT", "3", target}), 241);
  EXPECT_FALSE(std::ifstream(target).good());
  EXPECT_EQ(Command({"POP3", "SAVEATTACHMENT", "x", target}), 25);
  EXPECT_EQ(Function({"POP3", "ATTACHMENT", "SIZE"}), "");
  EXPECT_EQ(lib.StatProc(), 13);
  EXPECT_EQ(Function({"POP3", "BODY"}), "");
  EXPECT_EQ(lib.StatProc(), 13);
  EXPECT_EQ(Function({"POP3", "MAIL", "first"}), "");
  EXPECT_EQ(lib.StatProc(), 25);
  EXPECT_EQ(Command({"POP3", "FETCH"}), 14);
  EXPECT_EQ(Command({"POP3", "AUTH", "CRAM-MD5"}), 14);
  EXPECT_EQ(Command({"POP3", "LOGON", "127.0.0.1:99999"}), 25);
  EXPECT_EQ(Command({"POP3", "LOGON", "127.0.0.1:port"}), 25);

  // A place that cannot be written.
  FakeServer server;
  server.Send("+OK\r\n").ReadLine().Send("-ERR\r\n");
  server.ReadLine().Send("+OK\r\n").ReadLine().Send("+OK\r\n");
  server.ReadLine().Send("+OK\r\n1 10\r\n.\r\n").ReadLine().Send(Message);
  server.ReadLine().Send("+OK\r\n").Close().Start();
  ASSERT_EQ(Command({"POP3", "GETMAIL", "1"}), 206) << "not logged on and no host";
  ASSERT_EQ(Command({"POP3", "LOGON", server.Address()}), 0) << IpError();
  ASSERT_EQ(Command({"POP3", "GETMAIL", "1"}), 0) << IpError();
  EXPECT_EQ(Command({"POP3", "SAVEATTACHMENT", "1", folder / "no/such/dir/f"}), 240);
  EXPECT_TRUE(IpError().starts_with("Cannot open file")) << IpError();
  EXPECT_EQ(Command({"POP3", "LOGOFF"}), 0);
  server.Join();
}

TEST_F(Pop3FamilyTest, RefusalsReachTheScriptWithTheServersWords) {
  FakeServer server;
  server.Send("+OK\r\n").ReadLine().Send("-ERR\r\n");
  server.ReadLine().Send("+OK\r\n").ReadLine().Send("-ERR [AUTH] Authentication failed.\r\n");
  server.Close().Start();
  EXPECT_EQ(Command({"POP3", "LOGON", server.Address()}), 206);
  EXPECT_EQ(IpError(), "-ERR [AUTH] Authentication failed.");
  server.Join();
}

TEST_F(Pop3FamilyTest, AMessageCutShortLeavesTheLastOneReadAsItWas) {
  FakeServer server;
  server.Send("+OK\r\n").ReadLine().Send("-ERR\r\n");
  server.ReadLine().Send("+OK\r\n").ReadLine().Send("+OK\r\n");
  server.ReadLine().Send("+OK\r\n1 10\r\n2 10\r\n.\r\n").ReadLine().Send(Message);
  server.ReadLine().Send("+OK\r\nFrom: someone else\r\n\r\nhalf a message\r\n").Close().Start();
  ASSERT_EQ(Command({"POP3", "LOGON", server.Address()}), 0) << IpError();
  ASSERT_EQ(Command({"POP3", "GETMAIL", "1"}), 0) << IpError();
  EXPECT_EQ(Command({"POP3", "GETMAIL", "2"}), 206);
  EXPECT_EQ(IpError(), "Connection closed by server");
  EXPECT_EQ(Function({"POP3", "MAIL", "0"}), "From: anna@example.org");
  EXPECT_EQ(Function({"POP3", "ATTACHMENT", "COUNT"}), "2");
  server.Join();
}

// Servers that answer with too much, with nonsense, or with a success that is
// none: each ends with code 206 and a text that says what went wrong, and
// nothing a server sends grows memory past the documented caps.
#include "platform/Files.h"
#include "support/FakeServer.h"
#include "support/LibraryTest.h"
#include "support/TempFolder.h"
#include "tcpip/T_HTTP.h"
#include "tcpip/T_Pop3.h"
#include "tcpip/T_SMTP.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using HostileServers = LibraryTest;

const std::string Ok = "HTTP/1.0 200 OK\r\n\r\n";

// HEAD answered plainly, then GET answered with answer.
FakeServer &Get(FakeServer &server, const std::string &answer) {
  server.ReadLinesUntil("").Send(Ok).Close();
  return server.Accept().ReadLinesUntil("").Send(answer);
}

std::string Url(const FakeServer &server) { return "http://" + server.Address() + "/p"; }

} // namespace

TEST_F(HostileServers, HttpAnswersThatAreNoPagesFail) {
  {
    // The same kind of header line without end: the header as a whole is capped.
    std::string lines;
    while (lines.size() <= T_HTTP::MaxHeaderBytes)
      lines += "Set-Cookie: " + std::string(100, 'c') + "\r\n";
    FakeServer server;
    server.ReadLinesUntil("").Send("HTTP/1.1 200 OK\r\n" + lines).Close().Start();
    EXPECT_EQ(Command({"HTTP", "GET", Url(server)}), 206);
    EXPECT_TRUE(IpErrorHas("Response header longer than 1048576 bytes")) << IpError();
    server.Join();
  }
  for (const std::string &garbage : {std::string("\x89PNG\r\n\x1a\n\0\0", 10),
                                     std::string("hello there\r\n\r\nbody"), std::string("\r\n")}) {
    FakeServer server;
    server.ReadLinesUntil("").Send(garbage).Close().Start();
    EXPECT_EQ(Command({"HTTP", "GET", Url(server)}), 206);
    EXPECT_TRUE(IpErrorHas("No HTTP status line in the answer from 127.0.0.1:")) << IpError();
    server.Join();
  }
}

// A page held in memory stops at the cap, told at once when the length is
// announced; DOWNLOAD of the same page has no cap. The page read before stays.
TEST_F(HostileServers, HttpPagesInMemoryAreCapped) {
  lib.Http().MaxBodyBytes = 1000;
  const std::string big(3000, 'b');
  FakeServer server;
  Get(server, Ok + "first\r\n").Close();
  Get(server.Accept(), Ok + big).Close();
  Get(server.Accept(), "HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n").ReadUntilClose();
  Get(server.Accept(), Ok + big).Close();
  server.Start();
  ASSERT_EQ(Command({"HTTP", "GET", Url(server)}), 0) << IpError();
  EXPECT_EQ(Command({"HTTP", "GET", Url(server)}), 206);
  EXPECT_EQ(IpError(), "Answer larger than 0 MiB; HTTP DOWNLOAD writes it to a file");
  EXPECT_EQ(Command({"HTTP", "GET", Url(server)}), 206);
  EXPECT_TRUE(IpErrorHas("Answer of 3000 bytes is larger than")) << IpError();
  const testsupport::TempFolder folder;
  const std::string file = folder / "download.bin";
  EXPECT_EQ(Command({"HTTP", "DOWNLOAD", Url(server), file}), 0) << IpError();
  EXPECT_EQ(platform::ReadWholeFile(file), big);
  EXPECT_EQ(Function({"HTTP"}), "first");
  EXPECT_TRUE(server.Join());
}

// Chunked answers to a 1.0 request are decoded for GET and DOWNLOAD; the
// server need not close after the last chunk; a malformed chunk fails.
TEST_F(HostileServers, HttpChunkedBodiesAreDecoded) {
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string body = "7\r\none\r\ntw\r\n3;x=y\r\no\r\n\r\n0\r\nX-Trailer: t\r\n\r\n";
  FakeServer server;
  Get(server, chunked + body).ReadUntilClose();
  Get(server.Accept(), chunked + body).ReadUntilClose();
  Get(server.Accept(), chunked + "3\r\nabc\r\nzz\r\n").Close();
  server.Start();
  ASSERT_EQ(Command({"HTTP", "TIMEOUT", "5"}), 0);
  ASSERT_EQ(Command({"HTTP", "GET", Url(server)}), 0) << IpError();
  EXPECT_EQ(Function({"HTTP"}), "one");
  EXPECT_EQ(Function({"HTTP"}), "two");
  EXPECT_EQ(Function({"HTTP"}), "\r");
  const testsupport::TempFolder folder;
  const std::string file = folder / "chunked.bin";
  ASSERT_EQ(Command({"HTTP", "DOWNLOAD", Url(server), file}), 0) << IpError();
  EXPECT_EQ(platform::ReadWholeFile(file), "one\r\ntwo\r\n");
  EXPECT_EQ(Command({"HTTP", "DOWNLOAD", Url(server), file}), 206);
  EXPECT_TRUE(IpErrorHas("Malformed chunked body")) << IpError();
  EXPECT_EQ(platform::ReadWholeFile(file), "one\r\ntwo\r\n");
  EXPECT_TRUE(server.Join());
}

TEST_F(HostileServers, SmtpDataAnsweredWithoutGoAheadSendsNothing) {
  FakeServer server;
  server.Send("220 hi\r\n").ReadLine().Send("250 hello\r\n").ReadLine().Send("250 ok\r\n");
  server.ReadLine().Send("250 ok\r\n").ReadLine().Send("250 fine, but no message\r\n");
  server.ReadUntilClose().Start();
  ASSERT_EQ(Command({"SMTP", "RECIPIENTS", "ADD", "bob@example.org"}), 0);
  ASSERT_EQ(Command({"SMTP", "FROM", "anna@example.org"}), 0);
  ASSERT_EQ(Command({"SMTP", "MESSAGE", "ADD", "hello"}), 0);
  EXPECT_EQ(Command({"SMTP", "SEND", server.Address()}), 206);
  EXPECT_EQ(IpError(), "The server answered DATA with 250 instead of 354; the message was not "
                       "sent (fine, but no message)");
  lib.Smtp().Logout();
  EXPECT_TRUE(server.Join());
}

// A message past the cap is not kept: the connection ends (the rest is still
// coming), the last message read stays, and the next command logs on afresh.
TEST_F(HostileServers, Pop3MessagesAreCapped) {
  lib.Pop3().MaxMessageBytes = 1000;
  const auto logon = [](FakeServer &s) -> FakeServer & {
    s.Send("+OK\r\n").ReadLine().Send("-ERR\r\n").ReadLine().Send("+OK\r\n");
    s.ReadLine().Send("+OK\r\n");
    return s.ReadLine().Send("+OK\r\n1 10\r\n2 3000\r\n.\r\n");
  };
  std::string big;
  while (big.size() < 3000)
    big += "\r\n";
  FakeServer server;
  logon(server).ReadLine().Send("+OK\r\nSubject: small\r\n\r\nbody\r\n.\r\n");
  server.ReadLine().Send("+OK\r\nSubject: big\r\n" + big + ".\r\n").ReadUntilClose();
  logon(server.Accept()).ReadLine().Send("+OK\r\n").ReadLine().Send("+OK\r\n").Close();
  server.Start();
  ASSERT_EQ(Command({"POP3", "LOGON", server.Address()}), 0) << IpError();
  ASSERT_EQ(Command({"POP3", "GETMAIL", "1"}), 0) << IpError();
  EXPECT_EQ(Command({"POP3", "GETMAIL", "2"}), 206);
  EXPECT_EQ(IpError(), "Message 2 is larger than 0 MiB; it was not retrieved");
  EXPECT_EQ(Function({"POP3", "MAIL", "0"}), "Subject: small");
  EXPECT_FALSE(lib.Pop3().Connected);
  EXPECT_EQ(Command({"POP3", "DELMAIL", "2"}), 0) << IpError();
  EXPECT_EQ(Command({"POP3", "LOGOFF"}), 0) << IpError();
  EXPECT_TRUE(server.Join());
}

// Servers that stop in the middle of a dialogue: every wait gives up after
// the family's TIMEOUT with code 206 and a text that says what was awaited.
#include "support/FakeServer.h"
#include "support/LibraryTest.h"
#include "support/TempFolder.h"
#include "tcpip/T_HTTP.h"
#include "tcpip/T_SMTP.h"
#include "tcpip/T_Time.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <future>

namespace {

class StalledServers : public LibraryTest {
protected:
  // The command on a thread of its own, given 20 s to return: a client that
  // ignores its limits fails the test at once instead of hanging it, and the
  // server's connection is shut so that the command returns.
  std::int32_t Bounded(FakeServer &server, std::initializer_list<std::string> texts) {
    auto result = std::async(std::launch::async,
                             [this, block = Block(texts)] { return lib.CommandProc(block.data()); });
    if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      ADD_FAILURE() << "the command outlasted its limits";
      server.Shutdown();
    }
    return result.get();
  }
};

// The server holds the connection until the client lets go of it.
FakeServer &Stall(FakeServer &server) { return server.ReadUntilClose(); }

FakeServer &FtpLogon(FakeServer &server) {
  return server.Send("220 hi\r\n")
      .ReadLine().Send("331 pass\r\n")
      .ReadLine().Send("230 in\r\n")
      .ReadLine().Send("200 I\r\n");
}

std::string Epsv(std::uint16_t port) { return "229 (|||" + std::to_string(port) + "|)\r\n"; }

} // namespace

TEST_F(StalledServers, HttpWaitsEndWithTheTimeout) {
  ASSERT_EQ(Command({"HTTP", "TIMEOUT", "1.5"}), 0);
  {
    FakeServer silent;
    Stall(silent).Start();
    EXPECT_EQ(Bounded(silent, {"HTTP", "GET", "http://" + silent.Address() + "/"}), 206);
    EXPECT_NE(IpError().find("Timed out after 1.5 s waiting for data from 127.0.0.1:"),
              std::string::npos)
        << IpError();
    EXPECT_TRUE(silent.Join());
  }
  // A body shorter than announced on a connection the server keeps open.
  FakeServer server;
  server.ReadLinesUntil("").Send("HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\n").Close();
  server.Accept().ReadLinesUntil("").Send("HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nabc");
  Stall(server).Start();
  const testsupport::TempFolder folder;
  const std::string target = folder / "stalled";
  EXPECT_EQ(Bounded(server, {"HTTP", "DOWNLOAD", "http://" + server.Address() + "/f", target}), 206);
  EXPECT_EQ(std::fopen(target.c_str(), "rb"), nullptr);
  EXPECT_TRUE(server.Join());
}

TEST_F(StalledServers, FtpControlAndDataConnectionsEndWithTheTimeout) {
  ASSERT_EQ(Command({"FTP", "TIMEOUT", "1.5"}), 0);
  FakeServer control;
  FtpLogon(control).ReadLine().Send("250-first of many\r\n");
  Stall(control).Start();
  ASSERT_EQ(Command({"FTP", "LOGON", control.Address()}), 0);
  EXPECT_EQ(Bounded(control, {"FTP", "CHANGEDIR", "x"}), 206);
  EXPECT_NE(IpError().find("waiting for data"), std::string::npos) << IpError();
  EXPECT_TRUE(control.Join());

  // The data connection opens and stays silent: nothing is written.
  FakeServer data;
  Stall(data).Start();
  FakeServer second;
  FtpLogon(second)
      .ReadLine().Send("213 5\r\n")
      .ReadLine().Send(Epsv(data.Port()))
      .ReadLine().Send("150 go\r\n");
  Stall(second).Start();
  const testsupport::TempFolder folder;
  const std::string target = folder / "stalled";
  ASSERT_EQ(Command({"FTP", "LOGON", second.Address()}), 0);
  EXPECT_EQ(Bounded(data, {"FTP", "DOWNLOAD", "f", target}), 206);
  EXPECT_EQ(std::fopen(target.c_str(), "rb"), nullptr);
  EXPECT_TRUE(data.Join());
  EXPECT_TRUE(second.Join());
}

TEST_F(StalledServers, MailWaitsEndWithTheTimeout) {
  ASSERT_EQ(Command({"POP3", "TIMEOUT", "1.5"}), 0);
  FakeServer pop;
  Stall(pop).Start();
  EXPECT_EQ(Bounded(pop, {"POP3", "LOGON", pop.Address()}), 206);
  EXPECT_TRUE(pop.Join());
  // Silent right after the greeting, the answer to CAPA awaited.
  FakeServer greeted;
  greeted.Send("+OK ready\r\n");
  Stall(greeted).Start();
  EXPECT_EQ(Bounded(greeted, {"POP3", "LOGON", greeted.Address()}), 206);
  EXPECT_NE(IpError().find("Timed out after 1.5 s waiting for data"), std::string::npos) << IpError();
  EXPECT_TRUE(greeted.Join());

  // A server that takes DATA and then reads nothing: the send gives up.
  const testsupport::TempFolder folder;
  const std::string file = folder / "attachment";
  {
    std::ofstream out(file, std::ios::binary);
    const std::string block(1 << 20, 'a');
    for (int i = 0; i < 24; ++i)
      out << block;
  }
  ASSERT_EQ(Command({"SMTP", "TIMEOUT", "1.5"}), 0);
  ASSERT_EQ(Command({"SMTP", "RECIPIENTS", "ADD", "b@example.org"}), 0);
  ASSERT_EQ(Command({"SMTP", "FROM", "a@example.org"}), 0);
  ASSERT_EQ(Command({"SMTP", "MESSAGE", "ADD", "body"}), 0);
  ASSERT_EQ(Command({"SMTP", "ATTACHMENT", "ADD", file}), 0);
  std::promise<void> sent;
  FakeServer smtp;
  smtp.Send("220 ready\r\n")
      .ReadLine().Send("250 hello\r\n")
      .ReadLine().Send("250 ok\r\n")
      .ReadLine().Send("250 ok\r\n")
      .ReadLine().Send("354 go\r\n")
      .Do([future = sent.get_future().share()](platform::socket_t) {
        future.wait_for(std::chrono::seconds(20));
      })
      .Start();
  EXPECT_EQ(Bounded(smtp, {"SMTP", "SEND", smtp.Address()}), 206);
  EXPECT_NE(IpError().find("waiting for the peer to take more data"), std::string::npos)
      << IpError();
  sent.set_value();
  EXPECT_TRUE(smtp.Join());
}

// A server that sends a byte now and then keeps every wait short; the floor
// of LOWSPEED (here 1000 bytes/s over 2 s of waiting) ends the command all
// the same: in an HTTP header, a POP3 message, an FTP listing.
TEST_F(StalledServers, TricklingServersFallBelowTheFloor) {
  using std::chrono::milliseconds;
  const std::string slow = "Slower than 1000 bytes/s";
  for (const char *family : {"HTTP", "POP3", "FTP"}) {
    ASSERT_EQ(Command({family, "TIMEOUT", "2"}), 0);
    ASSERT_EQ(Command({family, "LOWSPEED", "1000", "2"}), 0);
  }
  FakeServer http;
  http.ReadLinesUntil("").Drip("HTTP/1.0 200 OK\r\nServer: a byte at a time\r\n\r\n", milliseconds(100));
  http.Start();
  EXPECT_EQ(Bounded(http, {"HTTP", "GET", "http://" + http.Address() + "/"}), 206);
  EXPECT_NE(IpError().find(slow), std::string::npos) << IpError();
  EXPECT_TRUE(http.Join());

  FakeServer pop;
  pop.Send("+OK ready\r\n").ReadLine().Send("-ERR no CAPA\r\n");
  pop.ReadLine().Send("+OK\r\n").ReadLine().Send("+OK\r\n").ReadLine().Send("+OK\r\n1 300\r\n.\r\n");
  pop.ReadLine().Drip("+OK\r\nSubject: a byte at a time\r\n\r\nand so on\r\n.\r\n", milliseconds(100));
  pop.Start();
  ASSERT_EQ(Command({"POP3", "LOGON", pop.Address()}), 0) << IpError();
  EXPECT_EQ(Bounded(pop, {"POP3", "GETMAIL", "1"}), 206);
  EXPECT_NE(IpError().find(slow), std::string::npos) << IpError();
  EXPECT_TRUE(pop.Join());

  FakeServer data;
  data.Drip("-rw-r--r-- 1 a b 1 Jan  1 00:00 one byte at a time\r\n", milliseconds(100));
  data.Start();
  FakeServer control;
  FtpLogon(control).ReadLine().Send(Epsv(data.Port())).ReadLine().Send("200 A\r\n");
  control.ReadLine().Send("150 go\r\n");
  Stall(control).Start();
  ASSERT_EQ(Command({"FTP", "LOGON", control.Address()}), 0) << IpError();
  EXPECT_EQ(Bounded(data, {"FTP", "GETDIR", "."}), 206);
  EXPECT_NE(IpError().find(slow), std::string::npos) << IpError();
  EXPECT_TRUE(data.Join());
  EXPECT_TRUE(control.Join());
}

TEST_F(StalledServers, TimeoutOperandsAreChecked) {
  EXPECT_EQ(Command({"HTTP", "TIMEOUT", "soon"}), 25);
  EXPECT_EQ(Command({"FTP", "TIMEOUT", "-1"}), 25);
  EXPECT_EQ(Command({"SMTP", "TIMEOUT", ""}), 25);
  EXPECT_EQ(Command({"POP3", "TIMEOUT", "0"}), 0);
  for (const char *family : {"HTTP", "FTP", "POP3", "SMTP", "IMAP"}) {
    SCOPED_TRACE(family);
    for (const std::string bad : {"", "-1", "1.5", "x", "1000000001", "99999999999"})
      EXPECT_EQ(Command({family, "LOWSPEED", bad, "60"}), 25) << bad;
    for (const std::string bad : {"0", "-1", "86401", "soon"})
      EXPECT_EQ(Command({family, "LOWSPEED", "1", bad}), 25) << bad;
    EXPECT_EQ(Command({family, "LOWSPEED", "0"}), 0);
    EXPECT_EQ(Command({family, "LOWSPEED", "1000", "2.5"}), 0);
  }
  EXPECT_EQ(lib.Http().LowSpeed.BytesPerSecond, 1000);
  EXPECT_EQ(lib.Smtp().LowSpeed.TimeMs, 2500);
  EXPECT_EQ(T_Time().LowSpeed.BytesPerSecond, 1);
  EXPECT_EQ(T_Time().LowSpeed.TimeMs, 60000);
}

TEST(T_TimeStalled, ThreeOfFourBytesThenSilence) {
  FakeServer server;
  server.Send(std::string("\xEE\xC2\xC4", 3));
  Stall(server).Start();
  T_Time time;
  time.Hostname = "127.0.0.1";
  time.RemotePort = server.Port();
  time.TimeoutMs = 1500;
  EXPECT_THROW(time.Action(), ETimeoutError);
  EXPECT_TRUE(server.Join());
  EXPECT_EQ(T_Time().TimeoutMs, 10000);
}

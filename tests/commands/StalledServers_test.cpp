// Servers that stop in the middle of a dialogue: every wait gives up after
// the family's TIMEOUT with code 206 and a text that says what was awaited.
#include "host/Library.h"
#include "support/Block.h"
#include "support/FakeServer.h"
#include "tcpip/T_Time.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <future>

namespace {

class StalledServers : public ::testing::Test {
protected:
  std::int32_t Command(std::initializer_list<std::string> texts) {
    return lib.CommandProc(Block(texts).data());
  }
  std::string IpError() { return lib.FuncProc(Block({"IPERROR"}).data()); }
  Library lib{0, nullptr};
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
    EXPECT_EQ(Command({"HTTP", "GET", "http://" + silent.Address() + "/"}), 206);
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
  const std::string target = ::testing::TempDir() + "/stalled_" + std::to_string(server.Port());
  EXPECT_EQ(Command({"HTTP", "DOWNLOAD", "http://" + server.Address() + "/f", target}), 206);
  EXPECT_EQ(std::fopen(target.c_str(), "rb"), nullptr);
  EXPECT_TRUE(server.Join());
}

TEST_F(StalledServers, FtpControlAndDataConnectionsEndWithTheTimeout) {
  ASSERT_EQ(Command({"FTP", "TIMEOUT", "1.5"}), 0);
  FakeServer control;
  FtpLogon(control).ReadLine().Send("250-first of many\r\n");
  Stall(control).Start();
  ASSERT_EQ(Command({"FTP", "LOGON", control.Address()}), 0);
  EXPECT_EQ(Command({"FTP", "CHANGEDIR", "x"}), 206);
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
  const std::string target = ::testing::TempDir() + "/stalled_ftp_" + std::to_string(data.Port());
  ASSERT_EQ(Command({"FTP", "LOGON", second.Address()}), 0);
  EXPECT_EQ(Command({"FTP", "DOWNLOAD", "f", target}), 206);
  EXPECT_EQ(std::fopen(target.c_str(), "rb"), nullptr);
  EXPECT_TRUE(data.Join());
  EXPECT_TRUE(second.Join());
}

TEST_F(StalledServers, MailWaitsEndWithTheTimeout) {
  ASSERT_EQ(Command({"POP3", "TIMEOUT", "1.5"}), 0);
  FakeServer pop;
  Stall(pop).Start();
  EXPECT_EQ(Command({"POP3", "LOGON", pop.Address()}), 206);
  EXPECT_TRUE(pop.Join());

  // A server that takes DATA and then reads nothing: the send gives up.
  const std::string file = ::testing::TempDir() + "/stalled_attachment";
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
  EXPECT_EQ(Command({"SMTP", "SEND", smtp.Address()}), 206);
  EXPECT_NE(IpError().find("waiting for the peer to take more data"), std::string::npos)
      << IpError();
  sent.set_value();
  EXPECT_TRUE(smtp.Join());
  std::remove(file.c_str());
}

TEST_F(StalledServers, TimeoutOperandsAreChecked) {
  EXPECT_EQ(Command({"HTTP", "TIMEOUT", "soon"}), 25);
  EXPECT_EQ(Command({"FTP", "TIMEOUT", "-1"}), 25);
  EXPECT_EQ(Command({"SMTP", "TIMEOUT", ""}), 25);
  EXPECT_EQ(Command({"POP3", "TIMEOUT", "0"}), 0);
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

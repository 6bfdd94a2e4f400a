#include "tcpip/T_FTP.h"

#include "ip_misc/Errors.h"
#include "platform/Socket.h"
#include "support/FakeServer.h"
#include "support/TempFolder.h"
#include "support/Transcript.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <string>
#include <vector>

namespace {

// The logon dialogue of a server; the multi-line greeting has a
// continuation line that begins with a blank.
FakeServer &Logon(FakeServer &s) {
  return s.Send("220-Welcome\r\n to the test\r\n220 ready\r\n")
      .ReadLine()
      .Send("331 password please\r\n")
      .ReadLine()
      .Send("230 logged on\r\n")
      .ReadLine()
      .Send("200 binary\r\n");
}

std::string PasvReply(std::uint16_t port, const char *address = "10,0,0,5") {
  return "227 Entering Passive Mode (" + std::string(address) + "," + std::to_string(port >> 8) +
         "," + std::to_string(port & 0xFF) + ")\r\n";
}

std::string EpsvReply(std::uint16_t port) {
  return "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)\r\n";
}

void Point(T_FTP &ftp, const FakeServer &server) {
  ftp.Hostname = "127.0.0.1";
  ftp.Port = server.Port();
}

TEST(T_FTP, LogonSendsUserMaskedPasswordAndBinaryType) {
  FakeServer server;
  Logon(server).Close();
  server.Start();
  T_FTP ftp;
  std::vector<std::string> traced;
  ftp.OnTrace = [&](const std::string &text, TTraceLevel level) {
    if (level == tlCommand)
      traced.push_back(text);
  };
  Point(ftp, server);
  ftp.Login();
  ASSERT_TRUE(server.Join());
  EXPECT_TRUE(ftp.Connected);
  const std::vector<std::string> wire = {"USER ftp", "PASS user@localhost", "TYPE I"};
  EXPECT_EQ(server.Lines(), wire);
  const std::vector<std::string> trace = {"USER ftp", "PASS ******", "TYPE I"};
  EXPECT_EQ(traced, trace);
}

// The data connection goes to the control connection's server, whatever
// address the PASV reply names; a server without SIZE still serves files.
// A server that refuses EPSV is asked with PASV, for the rest of the logon.
TEST(T_FTP, PassiveDownloadIgnoresTheAddressOfThePasvReply) {
  FakeServer data;
  data.Send("payload bytes").Close();
  data.Accept().Send("again").Close();
  data.Start();
  FakeServer control;
  Logon(control)
      .ReadLine()
      .Send("500 SIZE not understood\r\n")
      .ReadLine()
      .Send("500 EPSV not understood\r\n")
      .ReadLine()
      .Send(PasvReply(data.Port()))
      .ReadLine()
      .Send("150 here it comes\r\n")
      .Send("226 done\r\n")
      .ReadLine()
      .Send("213 5\r\n")
      .ReadLine()
      .Send(PasvReply(data.Port()))
      .ReadLine()
      .Send("150 here it comes\r\n226 done\r\n")
      .Close();
  control.Start();

  T_FTP ftp;
  Point(ftp, control);
  int completed = 0;
  std::int64_t received = 0;
  ftp.OnDataReceived = [&](T_FTP &, t_ftp_mode mode, std::int32_t n) {
    EXPECT_EQ(mode, tftp_download);
    received += n;
  };
  ftp.OnActionComplete = [&](T_FTP &, t_ftp_mode) { ++completed; };
  ftp.URI = "file.bin";
  ftp.Download();
  EXPECT_EQ(ftp.Stream.Bytes(), "payload bytes");
  EXPECT_EQ(received, 13);
  EXPECT_EQ(completed, 1);
  EXPECT_EQ(ftp.FileSize, 0);
  EXPECT_FALSE(ftp.Busy());
  EXPECT_TRUE(ftp.Connected);
  ftp.Download();
  ASSERT_TRUE(control.Join());
  ASSERT_TRUE(data.Join());
  EXPECT_EQ(ftp.Stream.Bytes(), "again");
  const std::vector<std::string> lines = control.Lines();
  const std::vector<std::string> expected = {"SIZE file.bin", "EPSV", "PASV", "RETR file.bin",
                                             "SIZE file.bin", "PASV", "RETR file.bin"};
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()), expected);
}

// Active mode listens on a port of its own and takes the server's
// connection after the preliminary reply.
TEST(T_FTP, ActiveUploadAnnouncesAFreePortAndTakesTheConnection) {
  FakeServer control;
  std::string stored;
  Logon(control)
      .ReadLine()
      .Send("200 PORT ok\r\n")
      .ReadLine()
      .Send("150 send it\r\n")
      .Do([&](platform::socket_t) {
        const std::string port = transcript::Line(control.Lines(), "PORT");
        int a, b, c, d, hi, lo;
        ASSERT_EQ(std::sscanf(port.c_str(), "PORT %d,%d,%d,%d,%d,%d", &a, &b, &c, &d, &hi, &lo), 6);
        const platform::socket_t s = platform::CreateTcpSocket();
        ASSERT_EQ(platform::Connect(s, 0x0100007Fu, static_cast<std::uint16_t>(hi * 256 + lo)), 0);
        char buf[4096];
        for (;;) {
          const long n = platform::Receive(s, buf, sizeof buf);
          if (n <= 0)
            break;
          stored.append(buf, static_cast<std::size_t>(n));
        }
        platform::CloseSocket(s);
      })
      .Send("226 stored\r\n")
      .Close();
  control.Start();

  T_FTP ftp;
  Point(ftp, control);
  ftp.Passive = false;
  std::string content(100000, 'x');
  content += "end";
  ftp.Stream.WriteString(content);
  ftp.URI = "up.bin";
  ftp.Upload();
  ASSERT_TRUE(control.Join());
  EXPECT_EQ(stored, content);
  EXPECT_EQ(ftp.FileSize, static_cast<std::int64_t>(content.size()));
  const std::string port = transcript::Line(control.Lines(), "PORT");
  EXPECT_EQ(port.rfind("PORT 127,0,0,1,", 0), 0u) << port;
  EXPECT_NE(port, "PORT 127,0,0,1," + std::to_string(control.Port() >> 8) + "," +
                      std::to_string(control.Port() & 0xFF));
}

// A refused command leaves the logon usable; a failed listing goes back to
// binary mode and leaves no stale entries.
TEST(T_FTP, RefusalsLeaveTheLogonUsable) {
  FakeServer data;
  data.Close();
  data.Start();
  FakeServer control;
  Logon(control)
      .ReadLine()
      .Send("550 Delete operation failed.\r\n")
      .ReadLine()
      .Send(EpsvReply(data.Port()))
      .ReadLine()
      .Send("200 ascii\r\n")
      .ReadLine()
      .Send("550-No such folder\r\n550 really\r\n")
      .ReadLine()
      .Send("200 binary\r\n")
      .ReadLine()
      .Send("250 changed\r\n")
      .Close();
  control.Start();

  T_FTP ftp;
  Point(ftp, control);
  ftp.DirListing = {"-rw-r--r-- 1 u g 1 Jan 1 2001 stale"};
  try {
    ftp.DeleteFile("x");
    FAIL() << "DELE was refused";
  } catch (const EProtocolError &e) {
    EXPECT_EQ(e.Code, 550);
    EXPECT_STREQ(e.what(), "Delete operation failed.");
    EXPECT_EQ(e.ProtocolName, "FTP");
  }
  EXPECT_THROW(ftp.List("nowhere"), EProtocolError);
  EXPECT_FALSE(ftp.Busy());
  t_filedata rec;
  ftp.GetDirEntry(rec);
  EXPECT_EQ(rec.Kind, fkNone);
  ftp.ChangeDir("elsewhere");
  ASSERT_TRUE(control.Join());
  const std::vector<std::string> lines = control.Lines();
  const std::vector<std::string> tail(lines.begin() + 3, lines.end());
  const std::vector<std::string> expected = {"DELE x", "EPSV", "TYPE A", "LIST nowhere", "TYPE I",
                                             "CWD elsewhere"};
  EXPECT_EQ(tail, expected);
  data.Join();
}

// A listing costs its text and, for each line, the room an entry takes: a
// server that sends lines without end is stopped at the bound, and the
// logon ends with it (the transfer is out of step).
TEST(T_FTP, ListingPastItsBoundFails) {
  std::string lines;
  for (int i = 0; i < 100; ++i)
    lines += "-rw-r--r-- 1 u g 1 Jan 1 2001 f\r\n";
  FakeServer data, endless;
  data.Send(lines).Close().Start();
  endless.Send(lines).Send(lines).Close().Start();
  FakeServer control;
  Logon(control);
  for (const FakeServer *d : {&data, &endless})
    control.ReadLine()
        .Send(EpsvReply(d->Port()))
        .ReadLine()
        .Send("200 ascii\r\n")
        .ReadLine()
        .Send("150 here\r\n226 done\r\n")
        .ReadLine()
        .Send("200 binary\r\n");
  control.Close().Start();
  T_FTP ftp;
  Point(ftp, control);
  // 100 lines of 33 bytes, each with its two line-break bytes counted 32.
  ftp.MaxListingBytes = 100 * (33 + 64);
  ftp.List("");
  EXPECT_EQ(ftp.DirListing.size(), 100u);
  try {
    ftp.List("");
    FAIL() << "a listing past its bound was taken";
  } catch (const ETcpIpError &e) {
    EXPECT_STREQ(e.what(), "Directory listing larger than 9700 bytes (each line counted with 32 "
                           "bytes more)");
  }
  EXPECT_TRUE(ftp.DirListing.empty());
  EXPECT_EQ(ftp.DirStream.Size(), 0);
  EXPECT_FALSE(ftp.Connected);
  control.Join();
  data.Join();
  endless.Join();
}

// A control connection that dies, answers garbage or never ends a line
// makes the operation fail; the object is then clean and logs on again.
TEST(T_FTP, BrokenControlConnections) {
  FakeServer server;
  Logon(server).ReadLine().Send("250-first line of many\r\n250-and").Close();
  Logon(server.Accept()).ReadLine().Send("abc what?\r\n").ReadLine().Send("221 bye\r\n");
  Logon(server.Accept()).ReadLine().SendEndless(MaxLineLength + 10);
  Logon(server.Accept()).Reset();
  server.Start();

  T_FTP ftp;
  Point(ftp, server);
  try {
    ftp.ChangeDir("a");
    FAIL() << "a reply cut short was taken";
  } catch (const EProtocolError &e) {
    EXPECT_EQ(e.Code, 999);
  }
  EXPECT_FALSE(ftp.Connected);
  EXPECT_FALSE(ftp.Connection.IsOpen());

  try {
    ftp.ChangeDir("b"); // logs on again by itself
    FAIL() << "a reply without a code was taken";
  } catch (const EProtocolError &e) {
    EXPECT_EQ(e.Code, 999);
    EXPECT_STREQ(e.what(), "what?");
  }
  EXPECT_TRUE(ftp.Connected);
  ftp.Logout();
  EXPECT_FALSE(ftp.Connected);

  EXPECT_THROW(ftp.ChangeDir("c"), ETcpIpError);
  EXPECT_FALSE(ftp.Connected);

  ftp.Login();
  // The server has reset the connection: QUIT fails, Logout still cleans up.
  ftp.Logout();
  EXPECT_FALSE(ftp.Connected);
  EXPECT_FALSE(ftp.Busy());
  EXPECT_FALSE(ftp.Connection.IsOpen());
  EXPECT_TRUE(server.Join());
}

TEST(T_FTP, WrongPasswordFailsAndClosesTheConnection) {
  FakeServer server;
  // One byte at a time, a multi-line greeting among them.
  server.Trickle("220-hi\r\n220-there\r\n 220 not the end\r\n220 end\r\n")
      .ReadLine()
      .Send("331 password\r\n")
      .ReadLine()
      .Send("530 Login incorrect.\r\n")
      .ReadLine()
      .Send("221 bye\r\n");
  server.Start();
  T_FTP ftp;
  Point(ftp, server);
  try {
    ftp.Login();
    FAIL() << "logged on with a wrong password";
  } catch (const EProtocolError &e) {
    EXPECT_EQ(e.Code, 530);
    EXPECT_STREQ(e.what(), "Login incorrect.");
  }
  EXPECT_EQ(server.Lines().at(0), "USER ftp");
  EXPECT_FALSE(ftp.Connected);
  EXPECT_TRUE(server.Join());
}

TEST(T_FTP, LineBreaksCannotSmuggleCommands) {
  FakeServer server;
  Logon(server).ReadLine().Send("250 ok\r\n").Close();
  server.Start();
  T_FTP ftp;
  Point(ftp, server);
  EXPECT_THROW(ftp.DeleteFile("a\r\nRMD /"), ETcpIpError);
  ftp.ChangeDir("b");
  EXPECT_TRUE(server.Join());
  EXPECT_EQ(server.Lines().back(), "CWD b");
}

// Replies without a usable port fail the transfer; a temporary refusal of
// EPSV is a failure too, only a permanent one makes way for PASV.
TEST(T_FTP, UnusablePassiveReplies) {
  FakeServer control;
  Logon(control)
      .ReadLine()
      .Send("229 Entering Extended Passive Mode (|||70000|)\r\n")
      .ReadLine()
      .Send("425 no passive today\r\n")
      .ReadLine()
      .Send("502 EPSV not implemented\r\n")
      .ReadLine()
      .Send("227 Entering Passive Mode (127,0,0,1,x,y)\r\n")
      .Close();
  control.Start();
  T_FTP ftp;
  Point(ftp, control);
  ftp.URI = "f";
  const auto failure = [&] {
    try {
      ftp.Upload();
    } catch (const EProtocolError &e) {
      return std::to_string(e.Code) + " " + e.what();
    }
    return std::string("a transfer without a data port went ahead");
  };
  EXPECT_EQ(failure(), "229 No data port in the extended passive reply: Entering Extended "
                       "Passive Mode (|||70000|)");
  EXPECT_EQ(failure(), "425 no passive today");
  EXPECT_EQ(failure(), "227 No data port in the passive reply: Entering Passive Mode "
                       "(127,0,0,1,x,y)");
  EXPECT_TRUE(ftp.Connected);
  EXPECT_TRUE(control.Join());
  const std::vector<std::string> lines = control.Lines();
  const std::vector<std::string> expected = {"EPSV", "EPSV", "EPSV", "PASV"};
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()), expected);
}

// A transfer started from inside a running one is refused.
TEST(T_FTP, SecondTransferWhileBusyIsRefused) {
  FakeServer data;
  data.Send("x").Close();
  data.Start();
  FakeServer control;
  Logon(control)
      .ReadLine()
      .Send("213 1\r\n")
      .ReadLine()
      .Send(EpsvReply(data.Port()))
      .ReadLine()
      .Send("150 go\r\n226 done\r\n")
      .Close();
  control.Start();
  T_FTP ftp;
  Point(ftp, control);
  bool refused = false;
  ftp.OnDataReceived = [&](T_FTP &self, t_ftp_mode, std::int32_t) {
    try {
      self.Download();
    } catch (const EProtocolBusy &e) {
      refused = std::string(e.what()) == "Protocol busy";
    }
  };
  ftp.URI = "one";
  ftp.Download();
  EXPECT_TRUE(refused);
  EXPECT_EQ(ftp.FileSize, 1);
  EXPECT_EQ(ftp.Stream.Bytes(), "x");
  EXPECT_FALSE(ftp.Busy());
  control.Join();
  data.Join();
}

TEST(T_FTP, DirectoryEntriesSkipTotalsAndDots) {
  T_FTP ftp;
  ftp.DirListing = {"total 3",
                    "drwxr-xr-x 2 u g 4096 Jan 15  2003 .",
                    "drwxr-xr-x 2 u g 4096 Jan 15  2003 ..",
                    "-rw-r--r-- 1 u g 10 Jan 15  2003 one",
                    "garbage",
                    "01-15-03  10:30AM <DIR> two words",
                    "drwxr-xr-x 2 u g 4096 Jan 15  2003 .."};
  t_filedata rec;
  ftp.GetDirEntry(rec);
  EXPECT_EQ(rec.Name, "one");
  EXPECT_EQ(rec.Size, 10);
  ftp.GetDirEntry(rec);
  EXPECT_EQ(rec.Name, "two words");
  EXPECT_EQ(rec.Kind, fkDirectory);
  ftp.GetDirEntry(rec);
  EXPECT_EQ(rec.Kind, fkNone);
  EXPECT_EQ(rec.Name, "");
  EXPECT_EQ(ftp.DirIndex, 7);
}

} // namespace

namespace {

// A transfer that breaks off before its final reply leaves the control
// connection out of step: it is closed, and the next operation logs on anew.
TEST(T_FTP, BrokenTransferEndsTheLogonCleanly) {
  FakeServer data;
  data.Send("part").Reset();
  data.Start();
  FakeServer control;
  Logon(control)
      .ReadLine()
      .Send("213 100\r\n")
      .ReadLine()
      .Send(EpsvReply(data.Port()))
      .ReadLine()
      .Send("150 go\r\n")
      .Close();
  Logon(control.Accept()).ReadLine().Send("250 ok\r\n").Close();
  control.Start();

  const testsupport::TempFolder folder;
  const std::string target = folder / "broken";
  T_FTP ftp;
  Point(ftp, control);
  ftp.URI = "f";
  EXPECT_THROW(ftp.DownloadToFile(target), ETcpIpError);
  EXPECT_FALSE(ftp.Busy());
  EXPECT_FALSE(ftp.Connected);
  EXPECT_EQ(std::fopen(target.c_str(), "rb"), nullptr);
  ftp.ChangeDir("x");
  EXPECT_TRUE(control.Join());
  data.Join();

  // A data connection that ends early with a normal close and a happy final
  // reply is still a failure when SIZE said more.
  FakeServer shortData;
  shortData.Send("part").Close();
  shortData.Start();
  FakeServer happy;
  Logon(happy)
      .ReadLine()
      .Send("213 100\r\n")
      .ReadLine()
      .Send(EpsvReply(shortData.Port()))
      .ReadLine()
      .Send("150 go\r\n")
      .Send("226 done\r\n")
      .Close();
  happy.Start();
  Point(ftp, happy);
  ftp.Logout();
  try {
    ftp.DownloadToFile(target);
    FAIL() << "a short file passed for whole";
  } catch (const ETcpIpError &e) {
    EXPECT_STREQ(e.what(), "Data connection closed after 4 of 100 bytes");
  }
  EXPECT_EQ(std::fopen(target.c_str(), "rb"), nullptr);
  EXPECT_TRUE(ftp.Connected);
  EXPECT_FALSE(ftp.Busy());
  happy.Join();
  shortData.Join();

  // Local files that cannot be used fail before the server hears anything.
  T_FTP idle;
  idle.URI = "f";
  EXPECT_THROW(idle.DownloadToFile("/no/such/folder/x"), EFileError);
  EXPECT_THROW(idle.UploadFromFile("/no/such/file"), EFileError);
  EXPECT_FALSE(idle.Connected);
}

} // namespace

#include "platform/NotificationLoop.h"

namespace {

// In Async mode the data moves by notifications of the loop, which serves
// its other sockets meanwhile; a transfer started from inside is refused.
TEST(T_FTP, AsyncTransfersServeTheLoopMeanwhile) {
  std::string big(300000, 'a');
  big += "end";
  FakeServer down;
  down.Trickle("slow").Send(big).Close();
  down.Start();
  FakeServer up;
  up.ReadUntilClose();
  up.Start();
  FakeServer list;
  list.Send("-rw-r--r-- 1 u g 3 Jan 15  2003 a.txt\r\n").Close();
  list.Start();
  FakeServer control;
  Logon(control)
      .ReadLine().Send("213 " + std::to_string(big.size() + 4) + "\r\n")
      .ReadLine().Send(EpsvReply(down.Port()))
      .ReadLine().Send("150 go\r\n")
      .Do([](platform::socket_t) { std::this_thread::sleep_for(std::chrono::milliseconds(50)); })
      .Send("226 done\r\n")
      .ReadLine().Send(EpsvReply(up.Port()))
      .ReadLine().Send("150 send\r\n")
      // The final reply only once all the data has arrived.
      .Do([&](platform::socket_t) { up.Join(); })
      .Send("226 stored\r\n")
      .ReadLine().Send(EpsvReply(list.Port()))
      .ReadLine().Send("200 A\r\n")
      .ReadLine().Send("150 list\r\n226 listed\r\n")
      .ReadLine().Send("200 I\r\n")
      .Close();
  control.Start();

  // Another socket on the same loop, with something to say.
  FakeServer side;
  side.Send("ping").ReadUntilClose();
  side.Start();
  platform::NotificationLoop loop;
  const platform::socket_t other = platform::CreateTcpSocket();
  ASSERT_EQ(platform::Connect(other, 0x0100007Fu, side.Port()), 0);
  int heard = 0;
  loop.Select(other, platform::FD_READ, [&](platform::socket_t s, int, int) {
    char buf[16];
    platform::Receive(s, buf, sizeof buf);
    ++heard;
  });

  T_FTP ftp;
  Point(ftp, control);
  ftp.Async = true;
  ftp.SetNotificationLoop(&loop);
  int refused = 0;
  ftp.OnDataReceived = [&](T_FTP &self, t_ftp_mode, std::int32_t) {
    try {
      self.ChangeDir("x");
    } catch (const EProtocolBusy &) {
      ++refused;
    }
  };
  ftp.URI = "big";
  ftp.Download();
  EXPECT_EQ(ftp.Stream.Bytes(), "slow" + big);
  EXPECT_GT(heard, 0);
  EXPECT_GT(refused, 0);
  EXPECT_FALSE(ftp.Busy());

  ftp.Stream.Assign(big);
  ftp.URI = "up";
  ftp.Upload();
  EXPECT_EQ(up.Bytes(), big);

  ftp.List("");
  t_filedata rec;
  ftp.GetDirEntry(rec);
  EXPECT_EQ(rec.Name, "a.txt");
  EXPECT_FALSE(ftp.Busy());
  EXPECT_TRUE(control.Join());
  // Nothing of the transfers is left registered.
  EXPECT_EQ(loop.Registered(), 1u);
  loop.Cancel(other);
  platform::CloseSocket(other);
  down.Join();
  list.Join();
  side.Join();
}

} // namespace

namespace {

// In Async mode the data is awaited in the loop, not by its connection: the
// floor of the client's LowSpeed holds there too.
TEST(T_FTP, AsyncTransferBelowTheFloorFails) {
  FakeServer down;
  down.Drip("a byte at a time, for as long as the client lets it go on", std::chrono::milliseconds(100));
  down.Start();
  FakeServer control;
  Logon(control)
      .ReadLine().Send("213 100\r\n")
      .ReadLine().Send(EpsvReply(down.Port()))
      .ReadLine().Send("150 go\r\n")
      .ReadUntilClose();
  control.Start();
  T_FTP ftp;
  Point(ftp, control);
  ftp.Async = true;
  ftp.TimeoutMs = 2000;
  ftp.LowSpeed = {1000, 2000};
  ftp.URI = "slow";
  try {
    ftp.Download();
    ADD_FAILURE() << "a transfer below the floor went through";
  } catch (const ETimeoutError &e) {
    EXPECT_NE(std::string(e.what()).find("Slower than 1000 bytes/s"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(ftp.Busy());
  ftp.Logout();
  EXPECT_TRUE(down.Join());
  EXPECT_TRUE(control.Join());
}

} // namespace

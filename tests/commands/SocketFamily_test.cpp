#include "commands/SocketFamily.h"

#include "platform/NotificationLoop.h"
#include "support/LibraryTest.h"
#include "support/LoopbackPeer.h"
#include "WSockets/TTCPServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using testpeer::Peer;
using testpeer::Pump;

namespace {

// The host's event routine: the test sees each event with the details the
// script would read at that moment.
struct Seen {
  std::string Name, Addr, Port, Id, Data, Error;
};
class SocketFamilyTest;
SocketFamilyTest *current = nullptr;

class SocketFamilyTest : public LibraryTest {
protected:
  SocketFamilyTest() : LibraryTest(&SocketFamilyTest::OnEvent) { current = this; }
  ~SocketFamilyTest() override { current = nullptr; }

  static void OnEvent(const char *name);

  std::function<int(int)> Process() {
    return [this](int ms) { return lib.ProcessMessages(ms); };
  }
  void Serve() {
    ASSERT_EQ(Command({"SOCKET", "PORT", "0"}), 0);
    ASSERT_EQ(Command({"SOCKET", "SERVER"}), 0);
    ASSERT_EQ(Function({"SOCKET", "STATUS"}), "listening");
    // The port the system chose becomes the one set, which the client role
    // connects to, as if the script had named it.
    port = lib.Server().ListeningPort();
    ASSERT_EQ(Command({"SOCKET", "PORT", std::to_string(port)}), 0);
  }
  // A connected peer and the id the server gave it.
  std::string Join(Peer &peer) {
    const std::size_t before = seen.size();
    EXPECT_TRUE(peer.Connect(port));
    EXPECT_TRUE(Pump(Process(), [&] { return seen.size() > before; }));
    EXPECT_EQ(seen.back().Name, "ACCEPT");
    return seen.back().Id;
  }
  bool WaitFor(std::size_t events) {
    return Pump(Process(), [&] { return seen.size() >= events; });
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const Seen &s : seen)
      names.push_back(s.Name);
    return names;
  }

  std::vector<Seen> seen;
  bool readData = true;
  // Run inside the event routine, as a script's handler would.
  std::function<void(const std::string &)> inEvent;
  std::uint16_t port = 0;
};

void SocketFamilyTest::OnEvent(const char *name) {
  SocketFamilyTest &t = *current;
  Seen s;
  s.Name = name;
  s.Addr = t.Function({"SOCKET", "SENDERADDR"});
  s.Port = t.Function({"SOCKET", "SENDERPORT"});
  s.Id = t.Function({"SOCKET", "SENDERID"});
  s.Error = t.Function({"SOCKET", "ERROR"});
  if (s.Name == "NETWORK" && t.readData)
    s.Data = t.Function({"SOCKET", "DATA"});
  t.seen.push_back(s);
  if (t.inEvent)
    t.inEvent(s.Name);
}

} // namespace

TEST_F(SocketFamilyTest, SubcommandsAndOperandsAreChecked) {
  EXPECT_EQ(Command({"SOCKET", "NOSUCH"}), 14);
  Function({"SOCKET", "NOSUCH"});
  EXPECT_EQ(lib.StatProc(), 13);
  EXPECT_EQ(Function({"SOCKET", "STATUS"}), "closed");
  EXPECT_EQ(Function({"SOCKET", "CLIENTS"}), "");
  EXPECT_EQ(Command({"SOCKET", "PORT", "no port"}), 0);
  EXPECT_EQ(Command({"SOCKET", "SERVER"}), 25);
  EXPECT_EQ(Function({"SOCKET", "STATUS"}), "closed"); // the role is the server's already
  EXPECT_EQ(Function({"SOCKET", "CLIENTS"}), "0");
  Serve();
  EXPECT_EQ(Function({"SOCKET", "PORT"}), std::to_string(port));
  EXPECT_EQ(Command({"SOCKET", "SENDID", "x", "hi"}), 25);
  EXPECT_EQ(Command({"SOCKET", "CLOSECID", "x"}), 25);
  EXPECT_TRUE(seen.empty());
}

TEST_F(SocketFamilyTest, RelayRoutesMessagesAndReportsWithDetails) {
  Serve();
  Peer a, b;
  const std::string idA = Join(a);
  const std::string idB = Join(b);
  EXPECT_EQ(Function({"SOCKET", "CLIENTS"}), "2");
  EXPECT_EQ(seen[0].Addr, "127.0.0.1");
  EXPECT_EQ(seen[0].Port, std::to_string(a.LocalPort()));

  a.Send("hello\r\n");
  ASSERT_TRUE(WaitFor(3));
  EXPECT_EQ(seen[2].Name, "NETWORK");
  EXPECT_EQ(seen[2].Data, "hello");
  EXPECT_EQ(seen[2].Id, idA);

  a.Send("ALL|hi|there\r\n");
  EXPECT_EQ(b.Receive(Process()), "hi|there\r\n");
  EXPECT_EQ(a.Receive(Process()), "hi|there\r\n");
  ASSERT_TRUE(WaitFor(4));
  EXPECT_EQ(seen[3].Data, "hi|there");
  EXPECT_EQ(seen[3].Id, idA);

  a.Send("ID|" + idB + ";x|y;z\r\n");
  EXPECT_EQ(b.Receive(Process()), "x|y;z\r\n");
  a.Send("SERVER|for you\r\nFOO|bar\r\n");
  ASSERT_TRUE(WaitFor(6));
  EXPECT_EQ(seen[4].Data, "for you");
  EXPECT_EQ(seen[5].Data, "FOO|bar");
  // An id that is not a number drops its message alone, silently.
  a.Send("ID|seven;x\r\nSERVER|after\r\n");
  ASSERT_TRUE(WaitFor(7));
  EXPECT_EQ(seen[6].Data, "after");
  EXPECT_EQ(lib.StatProc(), 0);
}

TEST_F(SocketFamilyTest, IdsThatAreNotConnectionsTouchNothingAndReport10038) {
  Serve();
  Peer a;
  const std::string idA = Join(a);
  Peer outsider(port); // a descriptor of this process, not yet accepted
  const std::string stranger = std::to_string(outsider.Handle());
  EXPECT_EQ(Command({"SOCKET", "SENDID", stranger, "x"}), 0);
  EXPECT_EQ(Command({"SOCKET", "CLOSECID", stranger}), 0);
  a.Send("ID|" + stranger + ";y\r\n");
  ASSERT_TRUE(Pump(Process(), [&] { return seen.size() >= 5; }));
  int errors = 0;
  for (const Seen &s : seen) {
    if (s.Name == "ERROR") {
      ++errors;
      EXPECT_EQ(s.Error, "Socket operation on nonsocket");
    }
  }
  EXPECT_EQ(errors, 3);
  // The outsider's descriptor still works.
  outsider.Send("still mine\r\n");
  ASSERT_TRUE(Pump(Process(), [&] { return seen.back().Data == "still mine"; }));
}

TEST_F(SocketFamilyTest, EveryCompleteMessageIsHandledAtOnceAndConnectionsDoNotMix) {
  Serve();
  Peer a, b;
  const std::string idA = Join(a);
  const std::string idB = Join(b);
  a.Send("SERVER|a1\r\nSERVER|a2\r\nSERVER|a");
  ASSERT_TRUE(WaitFor(4));
  b.Send("SERVER|b");
  lib.ProcessMessages(50);
  b.Send("1\r\n");
  a.Send("3\r\n");
  ASSERT_TRUE(WaitFor(6));
  std::vector<std::string> got;
  for (std::size_t i = 2; i < seen.size(); ++i)
    got.push_back(seen[i].Id + ":" + seen[i].Data);
  const std::vector<std::string> expected{idA + ":a1", idA + ":a2", idB + ":b1", idA + ":a3"};
  EXPECT_EQ(got, expected);
}

TEST_F(SocketFamilyTest, UnterminatedDataPastTheLimitDropsTheConnection) {
  Serve();
  Peer a, b;
  const std::string idA = Join(a);
  Join(b);
  // 2 MiB without a line end, sent without blocking (the server runs on
  // this thread); the peer may be cut off before all of it is taken, so
  // sending stops once the connection is gone.
  platform::SetNonBlocking(a.Handle(), true);
  const std::string block(65536, 'z');
  std::size_t sent = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (sent < (2u << 20) && std::chrono::steady_clock::now() < end) {
    const long n = platform::Send(a.Handle(), block.data(), block.size());
    if (n < 0 && platform::LastSocketError() != platform::WSAEWOULDBLOCK)
      break;
    if (n > 0)
      sent += static_cast<std::size_t>(n);
    lib.ProcessMessages(n < 0 ? 5 : 0);
  }
  platform::SetNonBlocking(a.Handle(), false);
  // Under Wine each 1 KiB read is a window message of its own: on a busy
  // machine the server takes its 1 MiB slowly.
  ASSERT_TRUE(Pump(Process(), [&] { return Function({"SOCKET", "CLIENTS"}) == "1"; }, 60000));
  const auto names = Names();
  ASSERT_GE(names.size(), 4u);
  EXPECT_EQ(seen[2].Name, "ERROR");
  EXPECT_EQ(seen[2].Error, "Message too long");
  EXPECT_EQ(seen[3].Name, "CLOSEC");
  EXPECT_EQ(seen[3].Id, idA);
  EXPECT_TRUE(a.SeesClose(Process()));
  // The other connection is unharmed.
  b.Send("SERVER|fine\r\n");
  ASSERT_TRUE(Pump(Process(), [&] { return seen.back().Data == "fine"; }));
}

// A connection the relay cannot write to any more (its peer reset) is
// reported once, then closed and dropped; the others go on.
TEST_F(SocketFamilyTest, AFailedSendReportsErrorOnceThenClosesTheConnection) {
  Serve();
  Peer a, b;
  Join(a);
  const std::string idB = Join(b);
  // Sends to b fail while b is still there, so that no close from the
  // system can stand in for the relay's own.
  ASSERT_EQ(platform::Shutdown(static_cast<platform::socket_t>(std::stoll(idB)),
                               platform::TShutdown::Send),
            0);
  for (int i = 0; i < 5; ++i)
    ASSERT_EQ(Command({"SOCKET", "SENDID", idB, "lost"}), 0);
  ASSERT_TRUE(WaitFor(4));
  lib.ProcessMessages(50);
  ASSERT_EQ(Names(), (std::vector<std::string>{"ACCEPT", "ACCEPT", "ERROR", "CLOSEC"}));
  EXPECT_EQ(seen[2].Error, testpeer::SendAfterShutdown == 10054
                               ? "Connection reset by peer"
                               : "Can't send after socket shutdown");
  EXPECT_EQ(seen[3].Id, idB);
  EXPECT_EQ(Function({"SOCKET", "CLIENTS"}), "1");
  a.Send("ALL|still here\r\n");
  EXPECT_EQ(a.Receive(Process()), "still here\r\n");
}

TEST_F(SocketFamilyTest, QueuedRecordsComeOldestFirstAndSetTheDetails) {
  ASSERT_EQ(Command({"SOCKET", "TOQEVENTS", ""}), 0);
  Serve();
  Peer a;
  ASSERT_TRUE(a.Connect(port));
  ASSERT_TRUE(Pump(Process(), [&] { return lib.EventQueue().size() == 1; }));
  a.Send("ALL|x|y\r\nFOO|bar\r\nplain\r\n");
  ASSERT_TRUE(Pump(Process(), [&] { return lib.EventQueue().size() == 4; }));
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(Function({"SOCKET", "EVENT"}), "ACCEPT");
  const std::string id = Function({"SOCKET", "SENDERID"});
  EXPECT_EQ(Function({"SOCKET", "SENDERADDR"}), "127.0.0.1");
  EXPECT_EQ(Function({"SOCKET", "SENDERPORT"}), std::to_string(a.LocalPort()));
  EXPECT_EQ(Function({"SOCKET", "EVENT"}), "NETWORK");
  EXPECT_EQ(Function({"SOCKET", "DATA"}), "x|y");
  EXPECT_EQ(Function({"SOCKET", "SENDERID"}), id);
  EXPECT_EQ(Function({"SOCKET", "EVENT"}), "NETWORK");
  EXPECT_EQ(Function({"SOCKET", "DATA"}), "bar"); // the queued record keeps the text after "|"
  EXPECT_EQ(Function({"SOCKET", "EVENT"}), "NETWORK");
  EXPECT_EQ(Function({"SOCKET", "DATA"}), "plain");
  EXPECT_EQ(Function({"SOCKET", "EVENT"}), "");
  EXPECT_EQ(Function({"SOCKET", "SENDERID"}), id); // unchanged by an empty queue

  lib.EventQueue().push_front("ACCEPT|10.0.0.2|1040|212");
  lib.EventQueue().push_front("ERROR|Connection refused");
  EXPECT_EQ(Function({"SOCKET", "EVENT"}), "ACCEPT");
  EXPECT_EQ(Function({"SOCKET", "SENDERADDR"}), "10.0.0.2");
  EXPECT_EQ(Function({"SOCKET", "SENDERPORT"}), "1040");
  EXPECT_EQ(Function({"SOCKET", "SENDERID"}), "212");
  EXPECT_EQ(Function({"SOCKET", "EVENT"}), "ERROR");
  EXPECT_EQ(Function({"SOCKET", "ERROR"}), "Connection refused");
  EXPECT_EQ(Function({"SOCKET", "SENDERID"}), "212");
}

// A script that does not poll: once the queued records reach their cap the
// server reads and accepts no more, the peers wait in TCP, and when EVENT
// drains the queue everything arrives, once and in order.
TEST_F(SocketFamilyTest, QueuedRecordsAreBoundedAndPeersWaitUntilTheScriptPolls) {
  ASSERT_EQ(Command({"SOCKET", "TOQEVENTS", ""}), 0);
  Serve();
  Peer a;
  ASSERT_TRUE(a.Connect(port));
  ASSERT_TRUE(Pump(Process(), [&] { return lib.EventQueue().size() == 1; }));
  // Twice the cap in messages of 60 kB, sent without blocking (the server
  // runs on this thread) as far as the peer's socket takes them.
  constexpr int Messages = 560;
  std::string flood;
  for (int i = 0; i < Messages; ++i)
    flood += "SERVER|" + std::to_string(i) + ":" +
             std::string(60000, static_cast<char>('a' + i % 26)) + "\r\n";
  platform::SetNonBlocking(a.Handle(), true);
  std::size_t sent = 0;
  const auto send = [&] {
    while (sent < flood.size()) {
      const long n = platform::Send(a.Handle(), flood.data() + sent, flood.size() - sent);
      if (n <= 0)
        return;
      sent += static_cast<std::size_t>(n);
    }
  };
  const TEventQueue &queue = lib.EventQueue();
  ASSERT_TRUE(Pump(Process(), [&] {
    send();
    return queue.Bytes() >= SocketFamily::MaxQueuedEventBytes;
  }, 10000));
  const std::size_t held = queue.size();
  EXPECT_LE(queue.Bytes(), SocketFamily::MaxQueuedEventBytes + 65536);
  Peer b;
  ASSERT_TRUE(b.Connect(port)); // taken into the system's backlog
  send();
  lib.ProcessMessages(100);
  EXPECT_EQ(queue.size(), held);
  EXPECT_LT(sent, flood.size());
  EXPECT_EQ(Function({"SOCKET", "CLIENTS"}), "1");

  int next = 0, accepts = 0;
  bool inOrder = true;
  ASSERT_TRUE(Pump(Process(), [&] {
    for (std::string name; !(name = Function({"SOCKET", "EVENT"})).empty();) {
      if (name == "ACCEPT")
        ++accepts;
      else if (name == "NETWORK")
        inOrder = inOrder && Function({"SOCKET", "DATA"}).starts_with(std::to_string(next++) + ":");
    }
    send();
    return next == Messages && accepts == 2;
  }, 20000));
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(Function({"SOCKET", "CLIENTS"}), "2");
}

TEST_F(SocketFamilyTest, RawModeDataAccumulatesAndIsHandedOutInPieces) {
  ASSERT_EQ(Command({"SOCKET", "AUTO", ""}), 0);
  ASSERT_EQ(Command({"SOCKET", "TOQEVENTS", ""}), 0);
  Serve();
  Peer a;
  ASSERT_TRUE(a.Connect(port));
  ASSERT_TRUE(Pump(Process(), [&] { return lib.EventQueue().size() == 1; }));
  a.Send("ab");
  ASSERT_TRUE(Pump(Process(), [&] { return lib.EventQueue().size() == 2; }));
  a.Send("c");
  ASSERT_TRUE(Pump(Process(), [&] { return lib.EventQueue().size() == 3; }));
  Function({"SOCKET", "EVENT"});
  EXPECT_EQ(Function({"SOCKET", "EVENT"}), "NETWORK");
  EXPECT_EQ(Function({"SOCKET", "DATA"}), "ab");
  EXPECT_EQ(Function({"SOCKET", "EVENT"}), "NETWORK");
  EXPECT_EQ(Function({"SOCKET", "DATA"}), "c");

  // With host events the data accumulates; DATA gives at most 1020
  // characters a call and keeps the rest for the next.
  ASSERT_EQ(Command({"SOCKET", "TOQEVENTS", "1"}), 0);
  std::string text;
  for (int i = 0; i < 3000; ++i)
    text += static_cast<char>('a' + i % 26);
  // The routine must not take DATA here.
  readData = false;
  a.Send(text);
  std::string got;
  Pump(Process(), [] { return false; }, 300);
  std::string piece;
  while (!(piece = Function({"SOCKET", "DATA"})).empty()) {
    EXPECT_LE(piece.size(), 1020u);
    got += piece;
  }
  EXPECT_EQ(got, text);
}

TEST_F(SocketFamilyTest, CloseById_ByAddress_AndFromInsideAnEvent) {
  Serve();
  Peer a, b, c;
  const std::string idA = Join(a);
  Join(b);
  Join(c);
  ASSERT_EQ(Command({"SOCKET", "CLOSECID", idA}), 0);
  EXPECT_EQ(seen.back().Name, "CLOSEC");
  EXPECT_EQ(seen.back().Id, idA);
  EXPECT_TRUE(a.SeesClose(Process()));
  EXPECT_EQ(Function({"SOCKET", "CLIENTS"}), "2");

  seen.clear();
  ASSERT_EQ(Command({"SOCKET", "CLOSECADDR", "10.1.1.1"}), 0);
  EXPECT_TRUE(seen.empty());
  ASSERT_EQ(Command({"SOCKET", "CLOSECADDR", "127.0.0.1"}), 0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Name, "CLOSEC");
  EXPECT_EQ(seen[1].Name, "CLOSEC");
  EXPECT_EQ(Function({"SOCKET", "CLIENTS"}), "0");

  // A script that closes the server while handling a message: the rest of
  // the read is not handled and nothing breaks.
  Peer d;
  Join(d);
  inEvent = [this](const std::string &name) {
    if (name == "NETWORK")
      Command({"SOCKET", "CLOSE"});
  };
  seen.clear();
  d.Send("SERVER|one\r\nSERVER|two\r\n");
  ASSERT_TRUE(WaitFor(1));
  lib.ProcessMessages(50);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(Function({"SOCKET", "STATUS"}), "closed");
  EXPECT_EQ(Function({"SOCKET", "SENDERID"}), "");
  EXPECT_TRUE(d.SeesClose(Process()));
  EXPECT_EQ(lib.Loop().Registered(), 0u);
}

TEST_F(SocketFamilyTest, ClientRoleConnectsSendsRoutedTextAndReportsStates) {
  Serve();
  EXPECT_EQ(Command({"SOCKET", "ADDR", "127.0.0.1"}), 0);
  ASSERT_EQ(Command({"SOCKET", "CLIENT"}), 0);
  EXPECT_EQ(Function({"SOCKET", "STATUS"}), "open");
  EXPECT_EQ(Function({"SOCKET", "CLIENTS"}), "");
  ASSERT_TRUE(Pump(Process(), [&] { return Function({"SOCKET", "STATUS"}) == "connected"; }));
  // The server (still listening) accepted; the client connected.
  const auto names = Names();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_NE(std::find(names.begin(), names.end(), "CONNECT"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "ACCEPT"), names.end());
  EXPECT_FALSE(Function({"SOCKET", "PORT"}).empty());

  seen.clear();
  ASSERT_EQ(Command({"SOCKET", "SENDALL", "to all"}), 0);
  // The server relays it back to its only connection, the client, and
  // reports it; the client reports what it received.
  ASSERT_TRUE(WaitFor(2));
  std::vector<std::string> data;
  for (const Seen &s : seen)
    data.push_back(s.Data);
  EXPECT_EQ(data, (std::vector<std::string>{"to all", "to all"}));

  // Without relay framing the routed sends send nothing; SENDSERVER sends
  // the bare text.
  Command({"SOCKET", "AUTO", ""});
  seen.clear();
  Command({"SOCKET", "SENDID", "3", "x"});
  Command({"SOCKET", "SENDADDR", "127.0.0.1", "x"});
  Command({"SOCKET", "SENDALL", "x"});
  Command({"SOCKET", "SENDSERVER", "bare"});
  ASSERT_TRUE(WaitFor(1));
  EXPECT_EQ(seen[0].Data, "bare");
  lib.ProcessMessages(50);
  EXPECT_EQ(seen.size(), 1u);

  ASSERT_EQ(Command({"SOCKET", "CLOSE"}), 0);
  EXPECT_EQ(Function({"SOCKET", "STATUS"}), "closed");
  EXPECT_EQ(Function({"SOCKET", "PORT"}), "");
}

TEST_F(SocketFamilyTest, ClientFailuresAreReportedAsErrors) {
  Command({"SOCKET", "ADDR", "127.0.0.1"});
  const testpeer::RefusingPort closed;
  Command({"SOCKET", "PORT", closed.Text()});
  ASSERT_EQ(Command({"SOCKET", "CLIENT"}), 0);
  ASSERT_TRUE(WaitFor(1));
  EXPECT_EQ(seen[0].Name, "ERROR");
  EXPECT_EQ(seen[0].Error, "Connection refused");
  EXPECT_EQ(Function({"SOCKET", "STATUS"}), "open");
  Command({"SOCKET", "CLOSE"});
  EXPECT_EQ(Function({"SOCKET", "STATUS"}), "closed");
  Command({"SOCKET", "ADDR", "no-such-host.invalid"});
  ASSERT_EQ(Command({"SOCKET", "CLIENT"}), 0);
  EXPECT_EQ(seen.back().Error, "Host not found");
  EXPECT_EQ(Function({"SOCKET", "STATUS"}), "closed");
}

TEST_F(SocketFamilyTest, AClientClosedFromInsideItsEventStopsReporting) {
  Serve();
  Command({"SOCKET", "ADDR", "127.0.0.1"});
  Command({"SOCKET", "CLIENT"});
  ASSERT_TRUE(Pump(Process(), [&] { return Function({"SOCKET", "STATUS"}) == "connected"; }));
  Command({"SOCKET", "SERVER"});
  seen.clear();
  inEvent = [this](const std::string &name) {
    if (name == "NETWORK") {
      Command({"SOCKET", "CLIENT"}); // the role only: already connected
      Command({"SOCKET", "CLOSE"});
    }
  };
  // Two messages in one read: the first closes the client.
  Command({"SOCKET", "SENDALL", "one\r\ntwo"});
  ASSERT_TRUE(WaitFor(1));
  lib.ProcessMessages(50);
  ASSERT_GE(seen.size(), 1u);
  EXPECT_EQ(seen[0].Data, "one");
  for (const Seen &s : seen)
    EXPECT_NE(s.Data, "two");
  EXPECT_EQ(Function({"SOCKET", "STATUS"}), "closed");
}

TEST(SocketFamilyPure, RecordsSplitAtTheirFirstSeparators) {
  const auto f = SocketFamily::ParseEventRecord("NETWORK|1.2.3.4|5|6|a|b");
  EXPECT_EQ(f.Address, "1.2.3.4");
  EXPECT_EQ(f.Id, "6");
  EXPECT_EQ(f.Data, "a|b");
  const auto g = SocketFamily::ParseEventRecord("CLOSEC|1.2.3.4|5");
  EXPECT_EQ(g.Port, "5");
  EXPECT_EQ(g.Id, "");
}

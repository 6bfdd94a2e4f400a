#include "WSockets/TCustomWSocket.h"
#include "WSockets/TTCPClient.h"
#include "WSockets/TTCPServer.h"

#include "ip_misc/Errors.h"
#include "support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using platform::socket_t;
using testpeer::Peer;
using testpeer::Pump;

namespace {

class SocketsTest : public ::testing::Test {
protected:
  void SetUp() override {
    const auto log = [this](const char *what) {
      return [this, what](TCustomWSocket &, socket_t s) {
        events.push_back(std::string(what) + ":" + std::to_string(s));
      };
    };
    server.OnAccept = log("accept");
    server.OnData = [this](TCustomWSocket &, socket_t s) {
      received += server.ReadFrom(s);
      events.push_back("data:" + std::to_string(s));
    };
    server.OnClose = [this](TCustomWSocket &, socket_t s) {
      // The connection is still listed while its close is reported.
      EXPECT_TRUE(server.Clients.Contains(s));
      events.push_back("close:" + std::to_string(s));
    };
    server.OnError = [this](TCustomWSocket &, int e, const std::string &msg) {
      errors.push_back(e);
      errorTexts.push_back(msg);
    };
    client.OnConnect = log("connect");
    client.OnData = [this](TCustomWSocket &, socket_t) { clientReceived += client.Read(); };
    client.OnClose = log("cclose");
    client.OnError = server.OnError;
  }
  std::function<int(int)> Process() {
    return [this](int ms) { return loop.Process(ms); };
  }
  int Count(const std::string &prefix) const {
    int n = 0;
    for (const std::string &e : events)
      n += e.rfind(prefix, 0) == 0;
    return n;
  }
  std::size_t Queued(socket_t s) const { return server.Clients.Find(s)->Queued(); }
  std::vector<socket_t> Handles() const {
    std::vector<socket_t> handles;
    for (const TSocketConnection *c : server.Clients)
      handles.push_back(c->Handle());
    return handles;
  }
  void Listen() {
    server.Port = "0";
    server.Open();
    ASSERT_EQ(server.Status, ssListening);
    port = server.ListeningPort();
  }

  platform::NotificationLoop loop;
  TTCPServer server{loop};
  TTCPClient client{loop};
  std::uint16_t port = 0;
  std::vector<std::string> events;
  std::vector<int> errors;
  std::vector<std::string> errorTexts;
  std::string received, clientReceived;
};

} // namespace

TEST(TCustomWSocket, ErrorTextsFollowTheWinSockTable) {
  EXPECT_EQ(TCustomWSocket::ErrorText(0), "Not a Winsock error");
  EXPECT_EQ(TCustomWSocket::ErrorText(10005), "Not a Winsock error");
  EXPECT_EQ(TCustomWSocket::ErrorText(10038), "Socket operation on nonsocket");
  EXPECT_EQ(TCustomWSocket::ErrorText(10054), "Connection reset by peer");
  EXPECT_EQ(TCustomWSocket::ErrorText(10061), "Connection refused");
  EXPECT_EQ(TCustomWSocket::ErrorText(11004), "Valid name, no data record of requested type");
}

TEST(TCustomWSocket, AddressesTakeServiceNamesOrNumbersAndRefuseTheRest) {
  platform::NotificationLoop loop;
  TTCPClient c{loop};
  std::vector<int> errors;
  c.OnError = [&](TCustomWSocket &, int e, const std::string &) { errors.push_back(e); };
  TSockAddr a;
  EXPECT_TRUE(c.GetSockAddr("127.0.0.1", "http", a));
  EXPECT_EQ(a.Port, 80);
  EXPECT_TRUE(c.GetSockAddr("127.0.0.1", "80", a));
  EXPECT_EQ(a.Port, 80);
  EXPECT_EQ(platform::FormatAddress(a), "127.0.0.1");
  EXPECT_THROW(c.GetSockAddr("127.0.0.1", "x1", a), EConvertError);
  EXPECT_THROW(c.GetSockAddr("127.0.0.1", "70000", a), EConvertError);
  EXPECT_TRUE(errors.empty());
  EXPECT_FALSE(c.GetSockAddr("no-such-host.invalid", "80", a));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], 11001);
  EXPECT_EQ(c.LastError, 11001);
}

TEST_F(SocketsTest, ServerAcceptsReadsAndReportsThePeersClose) {
  Listen();
  server.Open(); // already listening: ignored
  EXPECT_EQ(server.Status, ssListening);
  Peer peer(port);
  ASSERT_TRUE(Pump(Process(), [&] { return Count("accept") == 1; }));
  ASSERT_EQ(server.Clients.Count(), 1u);
  const socket_t s = server.Clients[0];
  EXPECT_EQ(server.GetRemotePort(s), std::to_string(peer.LocalPort()));
  EXPECT_EQ(server.GetRemoteAddress(s), "127.0.0.1");

  // More than one receive buffer: several read notifications, nothing lost.
  const std::string text(5000, 'q');
  peer.Send(text);
  ASSERT_TRUE(Pump(Process(), [&] { return received.size() == text.size(); }));
  EXPECT_GE(Count("data"), 5);

  server.WriteTo(s, "answer");
  EXPECT_EQ(peer.Receive(Process()), "answer");
  peer.Close();
  ASSERT_TRUE(Pump(Process(), [&] { return Count("close") == 1; }));
  EXPECT_EQ(events.back(), "close:" + std::to_string(s));
  EXPECT_EQ(server.Clients.Count(), 0u);
  EXPECT_TRUE(errors.empty());
}

TEST_F(SocketsTest, ClosingTheServerDropsEveryConnectionWithoutEvents) {
  Listen();
  Peer a(port), b(port), c(port);
  ASSERT_TRUE(Pump(Process(), [&] { return server.Clients.Count() == 3; }));
  events.clear();
  server.Close();
  EXPECT_EQ(server.Status, ssClosed);
  EXPECT_EQ(server.Clients.Count(), 0u);
  EXPECT_TRUE(a.SeesClose(Process()));
  EXPECT_TRUE(b.SeesClose(Process()));
  EXPECT_TRUE(c.SeesClose(Process()));
  loop.Process(50);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(loop.Registered(), 0u);
  server.Close(); // closed: nothing happens
  EXPECT_TRUE(errors.empty());
  // The port can be listened on again at once.
  server.Port = std::to_string(port);
  server.Open();
  EXPECT_EQ(server.Status, ssListening);
  EXPECT_EQ(server.ListeningPort(), port);
}

TEST_F(SocketsTest, APortInUseIsReportedAndLeavesTheServerClosed) {
  Listen();
  platform::NotificationLoop otherLoop;
  TTCPServer other{otherLoop};
  std::vector<int> otherErrors;
  std::vector<std::string> texts;
  other.OnError = [&](TCustomWSocket &, int e, const std::string &t) {
    otherErrors.push_back(e);
    texts.push_back(t);
  };
  other.Port = std::to_string(port);
  other.Open();
  EXPECT_EQ(other.Status, ssClosed);
  ASSERT_EQ(otherErrors.size(), 1u);
  EXPECT_EQ(otherErrors[0], 10048);
  EXPECT_EQ(texts[0], "Address already in use");
  other.Port = "no port";
  EXPECT_THROW(other.Open(), EConvertError);
}

TEST_F(SocketsTest, ClientConnectsExchangesAndIsClosedByThePeer) {
  Listen();
  client.Host = "127.0.0.1";
  client.Port = std::to_string(port);
  client.Open();
  EXPECT_EQ(client.Status, ssOpen);
  const TSocketConnection *first = client.Connection();
  client.Open(); // already open: ignored
  EXPECT_EQ(client.Connection(), first);
  ASSERT_TRUE(Pump(Process(), [&] { return Count("connect") == 1 && Count("accept") == 1; }));
  EXPECT_EQ(client.Status, ssConnected);
  client.Write("to server");
  ASSERT_TRUE(Pump(Process(), [&] { return received == "to server"; }));
  server.WriteTo(server.Clients[0], "to client");
  ASSERT_TRUE(Pump(Process(), [&] { return clientReceived == "to client"; }));
  server.Disconnect(server.Clients[0]);
  ASSERT_TRUE(Pump(Process(), [&] { return Count("cclose") == 1; }));
  EXPECT_EQ(client.Status, ssClosed);
  EXPECT_EQ(client.Connection(), nullptr);
  // The client can be opened again.
  client.Open();
  EXPECT_EQ(client.Status, ssOpen);
  ASSERT_TRUE(Pump(Process(), [&] { return client.Status == ssConnected; }));
  EXPECT_TRUE(errors.empty());
}

TEST_F(SocketsTest, RefusedConnectReportsThroughTheConnectNotification) {
  client.Host = "127.0.0.1";
  const testpeer::RefusingPort closed;
  client.Port = closed.Text();
  client.Open();
  EXPECT_EQ(client.Status, ssOpen);
  EXPECT_TRUE(errors.empty()); // not yet: the outcome comes as a notification
  ASSERT_TRUE(Pump(Process(), [&] { return !errors.empty(); }));
  EXPECT_EQ(errors[0], 10061);
  EXPECT_EQ(errorTexts[0], "Connection refused");
  loop.Process(50);
  EXPECT_EQ(client.Status, ssOpen);
  EXPECT_EQ(Count("connect"), 0);
  client.Close();
  EXPECT_EQ(client.Status, ssClosed);
  EXPECT_EQ(errors.size(), 1u);

  client.Host = "no-such-host.invalid";
  client.Open();
  EXPECT_EQ(client.Status, ssClosed);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[1], 11001);
  EXPECT_EQ(errorTexts[1], "Host not found");
}

TEST_F(SocketsTest, WritesWithoutASocketOrToStrangersAreRefused) {
  client.Write("x");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], 10038);
  client.Write(""); // nothing to send, nothing to report
  EXPECT_EQ(errors.size(), 1u);

  Listen();
  Peer peer(port);
  ASSERT_TRUE(Pump(Process(), [&] { return server.Clients.Count() == 1; }));
  // The peer's own descriptor in this process is not one of the server's
  // connections: nothing may be written to it or closed.
  server.WriteTo(peer.Handle(), "stray");
  EXPECT_FALSE(server.Disconnect(peer.Handle()));
  EXPECT_EQ(server.ReadFrom(peer.Handle()), "");
  EXPECT_EQ(errors.size(), 4u);
  for (std::size_t i = 1; i < errors.size(); ++i)
    EXPECT_EQ(errors[i], 10038);
  peer.Send("still here");
  ASSERT_TRUE(Pump(Process(), [&] { return received == "still here"; }));
}

TEST_F(SocketsTest, OutputAPeerCannotTakeAtOnceIsKeptAndSentInOrder) {
  Listen();
  Peer peer(port);
  ASSERT_TRUE(Pump(Process(), [&] { return server.Clients.Count() == 1; }));
  const socket_t s = server.Clients[0];
  // Numbered pieces until the socket buffers (which the kernel may grow to
  // several MiB on loopback) are full and output waits in the queue, then
  // some more behind them.
  std::string expected;
  int extra = 100;
  for (int i = 0; extra > 0 && i < 64000; ++i) {
    std::string piece = std::to_string(i) + ":" + std::string(1000, static_cast<char>('a' + i % 26)) + "\n";
    server.WriteTo(s, piece);
    expected += piece;
    if (Queued(s) > 0)
      --extra;
  }
  EXPECT_GT(Queued(s), 0u);
  const std::string got = peer.ReceiveExactly(Process(), expected.size(), 20000);
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  EXPECT_EQ(Queued(s), 0u);
  EXPECT_TRUE(errors.empty());
}

TEST_F(SocketsTest, HalfCloseResetAndVanishingPeersAreClosesNotErrors) {
  Listen();
  Peer half(port), reset(port), vanish(port);
  ASSERT_TRUE(Pump(Process(), [&] { return server.Clients.Count() == 3; }));
  half.Send("bye");
  half.ShutdownSend();
  reset.Send("x");
  reset.Reset();
  vanish.Close();
  ASSERT_TRUE(Pump(Process(), [&] { return Count("close") == 3; }));
  EXPECT_EQ(received.substr(0, 3), "bye");
  EXPECT_EQ(server.Clients.Count(), 0u);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(loop.Registered(), 1u); // only the listening socket
}

TEST_F(SocketsTest, HandlersMayCloseEverythingFromInsideAnEvent) {
  Listen();
  server.OnData = [this](TCustomWSocket &, socket_t s) {
    received += server.ReadFrom(s);
    server.Close();
  };
  Peer a(port), b(port);
  ASSERT_TRUE(Pump(Process(), [&] { return server.Clients.Count() == 2; }));
  a.Send("x");
  b.Send("y");
  ASSERT_TRUE(Pump(Process(), [&] { return server.Status == ssClosed; }));
  loop.Process(50);
  EXPECT_EQ(received.size(), 1u);
  EXPECT_EQ(loop.Registered(), 0u);
}

// A failed send is reported once, whatever is written after it, and the
// connection closes at the next round as if the peer had closed it.
TEST_F(SocketsTest, AFailedSendIsReportedOnceAndClosesTheConnection) {
  Listen();
  Peer keeps(port), stays(port);
  ASSERT_TRUE(Pump(Process(), [&] { return server.Clients.Count() == 2; }));
  const socket_t gone = server.Clients[1];
  // Sends on this end fail while its peer is still there, so that no close
  // from the system can stand in for the server's own.
  ASSERT_EQ(platform::Shutdown(gone, platform::TShutdown::Send), 0);
  for (int i = 0; i < 5; ++i)
    server.WriteTo(gone, "into the void");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], testpeer::SendAfterShutdown);
  ASSERT_TRUE(Pump(Process(), [&] { return Count("close") == 1; }));
  EXPECT_EQ(events.back(), "close:" + std::to_string(gone));
  EXPECT_EQ(server.Clients.Count(), 1u);
  EXPECT_EQ(errors.size(), 1u);
  server.WriteTo(server.Clients[0], "fine");
  EXPECT_EQ(keeps.Receive(Process()), "fine");
}

// Peers that never read: past the cap of one connection, or of all of them
// together, the longest queue's connection is reported once (10055) and
// closed; what stays queued never passes the caps.
TEST_F(SocketsTest, QueuedOutputIsCappedPerConnectionAndForAllTogether) {
  Listen();
  std::vector<Peer> sleepers(5);
  for (Peer &p : sleepers)
    ASSERT_TRUE(p.Connect(port));
  ASSERT_TRUE(Pump(Process(), [&] { return server.Clients.Count() == 5; }));
  const std::string mib(1u << 20, 'q');
  // One connection alone: its own cap.
  const socket_t first = server.Clients[0];
  for (int i = 0; i < 64 && errors.empty(); ++i)
    server.WriteTo(first, mib);
  ASSERT_EQ(errors, std::vector<int>{10055});
  EXPECT_EQ(Queued(first), 0u);
  // Its failure was told; what is written to it now is dropped, not queued.
  server.WriteTo(first, mib);
  EXPECT_EQ(Queued(first), 0u);
  ASSERT_TRUE(Pump(Process(), [&] { return Count("close") == 1; }));

  // The four left, in turn: together they reach the total cap while each
  // queue is still well below its own.
  std::size_t peak = 0, longestLeft = 0;
  for (int round = 0; round < 64 && errors.size() == 1; ++round) {
    for (socket_t c : Handles())
      server.WriteTo(c, mib);
    peak = std::max(peak, server.QueuedTotal());
  }
  ASSERT_GE(errors.size(), 2u);
  for (const TSocketConnection *c : server.Clients)
    longestLeft = std::max(longestLeft, c->Queued());
  EXPECT_LE(peak, TCustomWSocket::MaxQueuedTotal);
  EXPECT_LT(longestLeft, TCustomWSocket::MaxQueuedOutput - mib.size());
  // Failed connections take further writes silently until they close.
  const std::size_t reported = errors.size();
  for (socket_t c : Handles())
    server.WriteTo(c, "x");
  EXPECT_EQ(errors.size(), reported);
  ASSERT_TRUE(Pump(Process(), [&] { return Count("close") == static_cast<int>(reported); }));
  EXPECT_EQ(server.Clients.Count(), 5u - reported);
  for (int e : errors)
    EXPECT_EQ(e, 10055);
}

// One listening socket takes IPv4 and IPv6 peers, each reported in its own
// notation; the client reaches a server by its IPv6 address too, with or
// without brackets.
TEST_F(SocketsTest, IPv4AndIPv6PeersShareTheServersPort) {
  Listen();
  Peer v4(port);
  Peer v6;
  ASSERT_TRUE(v6.ConnectV6(port));
  ASSERT_TRUE(Pump(Process(), [&] { return Count("accept") == 2; }));
  std::vector<std::string> peers;
  for (const TSocketConnection *c : server.Clients)
    peers.push_back(c->Peer.Address + " " + c->Peer.Port);
  const std::vector<std::string> expected = {"127.0.0.1 " + std::to_string(v4.LocalPort()),
                                             "::1 " + std::to_string(v6.LocalPort())};
  EXPECT_EQ(peers, expected);

  for (const char *host : {"::1", "[::1]"}) {
    client.Host = host;
    client.Port = std::to_string(port);
    client.Open();
    ASSERT_TRUE(Pump(Process(), [&] { return Count("connect") == 1; })) << host;
    EXPECT_EQ(client.Connection()->Peer.Address, "::1");
    client.Close();
    events.clear();
  }
  EXPECT_TRUE(errors.empty());
}

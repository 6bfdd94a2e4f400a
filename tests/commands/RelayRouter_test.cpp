#include "commands/RelayRouter.h"

#include "ip_misc/Errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using platform::socket_t;
using TRoute = RelayRouter::TRoute;

namespace {

// A server's connections without sockets: every write is written down as
// "id:text", a write to an id that is none as "id?" (the server reports
// it), and a write may close connections, as the handlers it runs may.
class Connections : public RelayRouter::Connections {
public:
  struct Entry {
    socket_t Id;
    std::string Address;
  };
  std::vector<Entry> entries{{5, "10.0.0.1"}, {7, "10.0.0.9"}, {9, "10.0.0.1"}};
  std::vector<std::string> written;
  std::function<void(socket_t)> onWrite;

  void Ids(std::vector<socket_t> &ids) const override {
    for (const Entry &e : entries)
      ids.push_back(e.Id);
  }
  const std::string *AddressOf(socket_t id) const override {
    const auto it = Find(id);
    return it == entries.end() ? nullptr : &it->Address;
  }
  void WriteTo(socket_t id, std::string_view text) override {
    written.push_back(std::to_string(id) +
                      (Find(id) == entries.end() ? "?" : ":" + std::string(text)));
    if (onWrite)
      onWrite(id);
  }
  void Close(socket_t id) { entries.erase(Find(id)); }
  // What was written since the last call.
  std::vector<std::string> Take() { return std::exchange(written, {}); }

private:
  std::vector<Entry>::const_iterator Find(socket_t id) const {
    return std::find_if(entries.begin(), entries.end(), [&](const Entry &e) { return e.Id == id; });
  }
};

using Texts = std::vector<std::string>;

} // namespace

TEST(RelayRouter, RoutesGoToEveryConnectionOneIdOrOneAddressInAcceptOrder) {
  Connections connections;
  RelayRouter router(connections);
  auto heard = router.Relay("ALL|hi|there");
  EXPECT_EQ(connections.Take(), (Texts{"5:hi|there\r\n", "7:hi|there\r\n", "9:hi|there\r\n"}));
  ASSERT_TRUE(heard);
  EXPECT_EQ(heard->Which.Route, TRoute::All);
  EXPECT_EQ(heard->Text, "hi|there");

  EXPECT_FALSE(router.Relay("ID|7;x|y;z"));
  EXPECT_EQ(connections.Take(), Texts{"7:x|y;z\r\n"});
  EXPECT_FALSE(router.Relay("ADDR|10.0.0.1;both"));
  EXPECT_EQ(connections.Take(), (Texts{"5:both\r\n", "9:both\r\n"}));
  EXPECT_FALSE(router.Relay("ADDR|10.0.0.2;none"));
  EXPECT_FALSE(router.Relay("ID|3;stranger"));
  EXPECT_EQ(connections.Take(), Texts{"3?"});
  EXPECT_THROW(router.Relay("ID|seven;x"), EConvertError);
  EXPECT_TRUE(connections.Take().empty());

  // The server's own: not sent on. An unrouted message keeps its text after
  // the first "|".
  heard = router.Relay("SERVER|for you");
  EXPECT_EQ(heard->Which.Route, TRoute::Server);
  EXPECT_EQ(heard->Text, "for you");
  heard = router.Relay("FOO|bar|baz");
  EXPECT_EQ(heard->Which.Route, TRoute::None);
  EXPECT_EQ(heard->Text, "bar|baz");
  heard = router.Relay("all|lower case is no route");
  EXPECT_EQ(heard->Which.Route, TRoute::None);
  EXPECT_EQ(router.Relay("plain")->Text, "plain");
  EXPECT_TRUE(connections.Take().empty());

  // Without framing the text goes as it is.
  router.SetFraming(false);
  router.SendTo({TRoute::Address, "10.0.0.9"}, "raw");
  EXPECT_EQ(connections.Take(), Texts{"7:raw"});
}

TEST(RelayRouter, ConnectionsClosedByAWriteAreSkippedAndNoneIsWrittenTwice) {
  Connections connections;
  RelayRouter router(connections);
  connections.onWrite = [&](socket_t id) {
    if (id == 5)
      connections.Close(7);
  };
  router.SendTo({TRoute::All, {}}, "x");
  EXPECT_EQ(connections.Take(), (Texts{"5:x\r\n", "9:x\r\n"}));
  connections.onWrite = [&](socket_t id) { connections.Close(id); };
  router.SendTo({TRoute::Address, "10.0.0.1"}, "y");
  EXPECT_EQ(connections.Take(), (Texts{"5:y\r\n", "9:y\r\n"}));
  EXPECT_TRUE(connections.entries.empty());
}

TEST(RelayRouter, EnvelopesAskTheServerForTheirRoute) {
  EXPECT_EQ(RelayRouter::Envelope({TRoute::Id, "3"}, "hi"), "ID|3;hi\r\n");
  EXPECT_EQ(RelayRouter::Envelope({TRoute::Address, "10.0.0.1"}, "a;b"), "ADDR|10.0.0.1;a;b\r\n");
  EXPECT_EQ(RelayRouter::Envelope({TRoute::All, {}}, "x|y"), "ALL|x|y\r\n");
  EXPECT_EQ(RelayRouter::Envelope({TRoute::Server, {}}, ""), "SERVER|\r\n");
  const auto m = RelayRouter::Parse("ADDR|10.0.0.1;a;b");
  EXPECT_EQ(m.Which.Target, "10.0.0.1");
  EXPECT_EQ(m.Text, "a;b");
  // An ID without ";" has an empty target and the whole rest as its text.
  EXPECT_EQ(RelayRouter::Parse("ID|7").Which.Target, "");
  EXPECT_EQ(RelayRouter::Parse("ID|7").Text, "7");
}

TEST(RelayRouter, ReceivedBytesAreCutAtCrLfWhateverThePieces) {
  std::string input;
  Texts got;
  const auto take = [&](std::string_view m) {
    got.emplace_back(m);
    return true;
  };
  const auto mine = [&] { return &input; };
  EXPECT_TRUE(RelayRouter::Receive(mine, "AL", take));
  EXPECT_TRUE(RelayRouter::Receive(mine, "L|x\r", take));
  EXPECT_TRUE(got.empty());
  EXPECT_TRUE(RelayRouter::Receive(mine, "\nSERVER|a\r\n\r\nb\rc\r\nrest", take));
  EXPECT_EQ(got, (Texts{"ALL|x", "SERVER|a", "", "b\rc"}));
  EXPECT_EQ(input, "rest");

  // A handler that stops the rest (relay framing turned off) keeps it
  // ahead of what arrived meanwhile.
  got.clear();
  EXPECT_TRUE(RelayRouter::Receive(mine, "1\r\n2\r\n3\r\n", [&](std::string_view m) {
    got.emplace_back(m);
    input += "later";
    return false;
  }));
  EXPECT_EQ(got, Texts{"rest1"});
  EXPECT_EQ(input, "2\r\n3\r\nlater");

  // A handler that closes the connection: its input is not asked for again.
  bool gone = false;
  got.clear();
  const auto closing = [&]() -> std::string * { return gone ? nullptr : &input; };
  EXPECT_TRUE(RelayRouter::Receive(closing, "4\r\n", [&](std::string_view m) {
    got.emplace_back(m);
    gone = true;
    return false;
  }));
  EXPECT_EQ(got, Texts{"2"});
}

TEST(RelayRouter, AnUnfinishedMessagePastTheLimitIsRefused) {
  std::string input;
  int taken = 0;
  const auto take = [&](std::string_view) {
    ++taken;
    return true;
  };
  const auto mine = [&] { return &input; };
  EXPECT_TRUE(RelayRouter::Receive(mine, std::string(RelayRouter::MaxMessage, 'z'), take));
  EXPECT_FALSE(RelayRouter::Receive(mine, "z", take));
  EXPECT_TRUE(input.empty());
  // Complete messages ahead of it are still handled.
  EXPECT_FALSE(
      RelayRouter::Receive(mine, "a\r\n" + std::string(RelayRouter::MaxMessage + 1, 'z'), take));
  EXPECT_EQ(taken, 1);
  EXPECT_TRUE(input.empty());
}

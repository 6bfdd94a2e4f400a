#include "host/Library.h"

#include "host/ArgumentBlock.h"
#include "host/KeywordLookup.h"
#include "tcpip/T_FTP.h"
#include "platform/Socket.h"
#include "support/Block.h"
#include "support/LibraryTest.h"
#include "support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(KeywordLookup, MatchesWholeKeywordsWithoutRegardToCase) {
  constexpr std::string_view list = "|HTTP|FTP|POP3|SMTP|NETC|SOCKET|HTML|CGI|";
  EXPECT_EQ(KeywordLookup(list, "http"), 1);
  EXPECT_EQ(KeywordLookup(list, "Ftp"), 6);
  EXPECT_EQ(KeywordLookup(list, "CGI"), 37);
  EXPECT_EQ(KeywordLookup(list, " HTTP"), 0);
  EXPECT_EQ(KeywordLookup(list, ""), 0);
  EXPECT_EQ(KeywordLookup(list, "TP"), 0);
  // A name holding "|" is looked up as it stands and may span keywords.
  EXPECT_EQ(KeywordLookup(list, "HTTP|FTP"), 1);
  EXPECT_EQ(KeywordLookup(list, "TP|FTP"), 0);
  // Only a to z are upper-cased.
  EXPECT_EQ(KeywordLookup("|\xE9T\xC9|", "\xE9t\xC9"), 1);
}

TEST(ArgumentBlock, ReadsTextsInOrderAndNeverPastTheBlock) {
  ArgumentBlock args;
  args.Load(Block({"HTTP", "GET", "url"}).data());
  // Peeking leaves the cursor where it is.
  EXPECT_EQ(args.Peek(2), "url");
  EXPECT_EQ(args.Peek(5), "");
  EXPECT_EQ(args.Next(), "HTTP");
  EXPECT_EQ(args.Next(), "GET");
  EXPECT_EQ(args.Next(), "url");
  EXPECT_EQ(args.Next(), "");
  EXPECT_EQ(args.Next(), "");

  // A block without any NUL yields its whole content once, then empty texts.
  std::vector<char> full(65536, 'x');
  args.Load(full.data());
  EXPECT_EQ(args.Next().size(), 65536u);
  EXPECT_EQ(args.Next(), "");

  // A text that runs to the last byte ends there.
  std::vector<char> tail(65536, '\0');
  std::memset(tail.data() + 65530, 'y', 6);
  args.Load(tail.data());
  for (int i = 0; i < 65530; ++i)
    ASSERT_EQ(args.Next(), "");
  EXPECT_EQ(args.Next(), "yyyyyy");
  EXPECT_EQ(args.Next(), "");
}

TEST_F(LibraryTest, UnknownNamesAnswerTheirCodes) {
  EXPECT_EQ(Command({"NOPE"}), 14);
  EXPECT_EQ(lib.StatProc(), 14);
  EXPECT_EQ(Command({}), 14);
  EXPECT_EQ(Command({" HTTP"}), 14);
  EXPECT_EQ(Function({"NOPE"}), "");
  EXPECT_EQ(lib.StatProc(), 13);
  // Command-only families are not functions.
  Function({"SMTP"});
  EXPECT_EQ(lib.StatProc(), 13);
  Function({"NETC"});
  EXPECT_EQ(lib.StatProc(), 13);
}

TEST_F(LibraryTest, EveryFamilyRefusesUnknownSubcommandsAndSubfunctions) {
  for (const char *family : {"HTTP", "FTP", "POP3", "SMTP", "NETC", "SOCKET", "CGI"}) {
    EXPECT_EQ(Command({family, "NOSUCH"}), 14) << family;
    EXPECT_EQ(Command({family}), 14) << family;
  }
  for (const char *family : {"FTP", "POP3", "SOCKET", "CGI", "TIME"}) {
    EXPECT_EQ(Function({family, "NOSUCH"}), "") << family;
    EXPECT_EQ(lib.StatProc(), 13) << family;
  }
  for (const char *list : {"RECIPIENTS", "CC", "BCC", "MESSAGE", "HEADER", "ATTACHMENT"})
    EXPECT_EQ(Command({"SMTP", list, "REMOVE"}), 14) << list;
  Function({"POP3", "ATTACHMENT", "SIZE"});
  EXPECT_EQ(lib.StatProc(), 13);
  // HTML ignores subcommands it does not know.
  EXPECT_EQ(Command({"HTML", "OTHER"}), 0);
  EXPECT_EQ(Command({"html"}), 0);
}

TEST_F(LibraryTest, VersionAndIpErrorAnswerThemselves) {
  EXPECT_EQ(Function({"version"}), "2.6");
  EXPECT_EQ(Function({"Version", "ignored"}), "2.6");
  EXPECT_EQ(lib.StatProc(), 0);
  EXPECT_EQ(Function({"IPERROR"}), "");
}

// A result longer than the buffer comes in pieces: the first 65535 bytes
// with code 242, the same call again the next piece, the last with the
// call's own code; other calls may come between, a command drops the rest.
TEST_F(LibraryTest, ResultsLongerThanTheBufferComeInPieces) {
  std::string line;
  for (int i = 0; line.size() < 150000; ++i)
    line += std::to_string(i) + ",";
  lib.PageLines().Assign(line + "\r\nnext\r\n");
  std::string joined = Function({"HTTP"});
  EXPECT_EQ(joined.size(), 65535u);
  EXPECT_EQ(lib.StatProc(), 242);
  EXPECT_EQ(Function({"VERSION"}), "2.6");
  EXPECT_EQ(lib.StatProc(), 0);
  for (std::int32_t code : {242, 0}) {
    joined += Function({"HTTP"});
    EXPECT_EQ(lib.StatProc(), code);
  }
  EXPECT_TRUE(joined == line) << "the pieces differ from the line";
  EXPECT_EQ(Function({"HTTP"}), "next");

  // Indexed lines: the same index goes on with the line.
  lib.Pop3Messages().Append(line);
  lib.Pop3Messages().Append("short");
  EXPECT_TRUE(Function({"POP3", "MAIL", "0"}) == line.substr(0, 65535));
  EXPECT_EQ(Function({"POP3", "MAIL", "1"}), "short");
  EXPECT_TRUE(Function({"POP3", "MAIL", "0"}) == line.substr(65535, 65535));
  EXPECT_EQ(lib.StatProc(), 242);
  EXPECT_EQ(Command({"HTML", "OTHER"}), 0);
  EXPECT_TRUE(Function({"POP3", "MAIL", "0"}) == line.substr(0, 65535));

  // An entry of a listing whose name fills more than one result.
  const std::string name(70000, 'n');
  lib.Ftp().DirListing = {"-rw-r--r-- 1 u g 1 Jan 1 2001 " + name};
  joined = Function({"FTP", "DIRENTRY"});
  joined += Function({"FTP", "DIRENTRY"});
  EXPECT_EQ(lib.StatProc(), 0);
  EXPECT_TRUE(joined.starts_with("FILE|" + name + "|1|")) << joined.substr(0, 20);
  EXPECT_EQ(Function({"FTP", "DIRENTRY"}), "");
}

TEST(LibraryLifetime, ReleasesTheLongLivedObjectsInCreationOrder) {
  std::vector<std::string> released;
  {
    Library lib(7, nullptr);
    EXPECT_EQ(lib.HostValue(), 7);
    lib.OnRelease = [&](std::string_view name) { released.emplace_back(name); };
  }
  const std::vector<std::string> expected = {
      "HTTP client",      "HTTP line list",    "FTP client",
      "POP3 client",      "SMTP client",       "Mail message",
      "Outgoing MIME composer", "Incoming MIME parser", "Time client",
      "POP3 header list", "POP3 message list", "TCP server",
      "TCP client",       "Event queue",       "CGI name list",
      "CGI value list",   "IMAP client",       "IMAP message lines",
      "IMAP MIME parser"};
  EXPECT_EQ(released, expected);
}

namespace {

} // namespace

TEST_F(LibraryTest, IpErrorKeepsTheLastNetworkFailureUntilAnotherOne) {
  const testpeer::RefusingPort closed;
  const std::string where = "127.0.0.1:" + closed.Text();
  EXPECT_EQ(Function({"TIME", "TIME", where}), "");
  EXPECT_EQ(lib.StatProc(), 206);
  const std::string message = Function({"IPERROR"});
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(lib.StatProc(), 0);
  // Reading it, successes and other kinds of failure leave it alone.
  EXPECT_EQ(Function({"IPERROR"}), message);
  EXPECT_EQ(Function({"VERSION"}), "2.6");
  EXPECT_EQ(Command({"CGI", "PARSE", "%zz"}), 25);
  EXPECT_EQ(Command({"NOSUCH"}), 14);
  EXPECT_EQ(Function({"iperror"}), message);
}

TEST_F(LibraryTest, OperandsPastTheHostsTextsAreEmpty) {
  // REPLACE reads three operands; the block holds one.
  EXPECT_EQ(Function({"CGI", "REPLACE", "abc"}), "abc");
  EXPECT_EQ(lib.StatProc(), 0);
  // A status of 0 follows a failure once a call succeeds.
  EXPECT_EQ(Command({"CGI", "NOSUCH"}), 14);
  EXPECT_EQ(Command({"CGI", "PARSE", "a=1"}), 0);
  EXPECT_EQ(lib.StatProc(), 0);
}

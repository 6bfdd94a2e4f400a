#include "tcpip/T_Pop3.h"

#include "ip_misc/Errors.h"
#include "support/FakeServer.h"
#include "support/Transcript.h"

#include <gtest/gtest.h>

namespace {

void Point(T_Pop3 &pop, const FakeServer &server) {
  pop.Hostname = "127.0.0.1";
  pop.RemotePort = server.Port();
  pop.UserName = "anna";
  pop.Password = "secret";
}

// Greeting, CAPA (refused: the dialogue of a server from before it), USER,
// PASS and LIST with the given listing.
FakeServer &LogOn(FakeServer &server, const std::string &listing) {
  return server.Send("+OK POP3 ready\r\n")
      .ReadLine()
      .Send("-ERR unknown command\r\n")
      .ReadLine()
      .Send("+OK\r\n")
      .ReadLine()
      .Send("+OK logged in\r\n")
      .ReadLine()
      .Send("+OK listing follows\r\n" + listing + ".\r\n");
}

} // namespace

TEST(T_Pop3Session, ListsSummarisesRetrievesAndDeletes) {
  FakeServer server;
  LogOn(server, "1 120\r\n2 4000\r\n3 77\r\n");
  // TOP runs from the last message to the first.
  server.ReadLine().Send("+OK\r\nFrom: Carl <c@example.org>\r\n\r\nFrom: body line\r\n.\r\n");
  server.ReadLine().Send("-ERR no such message\r\n");
  server.ReadLine().Send("+OK\r\nSubject: first\r\n second half\r\nFrom: a@example.org\r\n\r\n.\r\n");
  server.ReadLine().Send("+OK\r\nSubject: s\r\n\r\n..hidden\r\n...\r\nlast\r\n.\r\n");
  server.ReadLine().Send("+OK marked\r\n");
  server.ReadLine().Send("+OK bye\r\n").Close().Start();

  T_Pop3 pop;
  std::vector<std::string> commands;
  pop.OnTrace = [&](const std::string &text, TTraceLevel level) {
    if (level == tlCommand)
      commands.push_back(text);
  };
  Point(pop, server);
  pop.Login();
  ASSERT_EQ(pop.MessageList.size(), 3u);
  EXPECT_EQ(pop.MessageList[1].Number, 2);
  EXPECT_EQ(pop.MessageList[1].Size, 4000);

  pop.GetHeaders();
  EXPECT_EQ(pop.MailLines, (TStringList{"a@example.org\afirst second half", "2", "Carl <c@example.org>"}));

  pop.GetMail(1);
  EXPECT_EQ(pop.MailLines, (TStringList{"Subject: s", "", ".hidden", "..", "last"}));
  pop.DeleteMail(1);
  pop.Logout();
  EXPECT_FALSE(pop.Connected);
  EXPECT_TRUE(pop.MessageList.empty());
  ASSERT_TRUE(server.Join());
  const std::vector<std::string> expected = {"CAPA",    "USER anna", "PASS secret", "LIST",
                                             "TOP 3 1", "TOP 2 1",   "TOP 1 1",     "RETR 1",
                                             "DELE 1",  "QUIT"};
  EXPECT_EQ(server.Lines(), expected);
  // The password never reaches the trace.
  EXPECT_EQ(commands[2], "PASS *****");
}

TEST(T_Pop3Session, AnEmptyMailboxHasNoSummaries) {
  FakeServer server;
  LogOn(server, "").ReadLine().Send("+OK\r\n").Close().Start();
  T_Pop3 pop;
  Point(pop, server);
  pop.Login();
  EXPECT_TRUE(pop.MessageList.empty());
  pop.MailLines = {"old"};
  pop.GetHeaders();
  EXPECT_TRUE(pop.MailLines.empty());
  pop.Logout();
  server.Join();
}

TEST(T_Pop3Session, ARefusedPasswordFailsAndTheNextLogOnEndsThatConnection) {
  FakeServer first, second;
  first.Send("+OK ready\r\n").ReadLine().Send("-ERR\r\n").ReadLine().Send("+OK\r\n").ReadLine();
  first.Send("-ERR [AUTH] Authentication failed.\r\n").ReadLine().Send("+OK bye\r\n").Close().Start();
  LogOn(second, "1 10\r\n").ReadLine().Send("+OK\r\n").Close().Start();
  T_Pop3 pop;
  Point(pop, first);
  try {
    pop.Login();
    FAIL() << "a refused password logged on";
  } catch (const EProtocolError &e) {
    EXPECT_EQ(e.Code, 500);
    EXPECT_STREQ(e.what(), "-ERR [AUTH] Authentication failed.");
  }
  EXPECT_TRUE(pop.Connected);
  Point(pop, second);
  pop.Login();
  EXPECT_EQ(pop.MessageList.size(), 1u);
  ASSERT_TRUE(first.Join());
  EXPECT_EQ(first.Lines().back(), "QUIT");
  pop.Logout();
  second.Join();
}

TEST(T_Pop3Session, GarbageAndClosedConnectionsAreProtocolFailures) {
  {
    FakeServer server;
    server.Send("hello\r\n").Close().Start();
    T_Pop3 pop;
    Point(pop, server);
    try {
      pop.Login();
      FAIL();
    } catch (const EProtocolError &e) {
      EXPECT_EQ(e.Code, 999);
      EXPECT_STREQ(e.what(), "hello");
    }
    server.Join();
  }
  {
    // Closed in the middle of the listing.
    FakeServer server;
    server.Send("+OK\r\n").ReadLine().Send("-ERR\r\n").ReadLine().Send("+OK\r\n").ReadLine();
    server.Send("+OK\r\n").ReadLine().Send("+OK\r\n1 10\r\n2 20\r\n").Close().Start();
    T_Pop3 pop;
    Point(pop, server);
    EXPECT_THROW(pop.Login(), EProtocolError);
    server.Join();
  }
  {
    // A listing line that is not two numbers.
    FakeServer server;
    LogOn(server, "one 10\r\n").Close().Start();
    T_Pop3 pop;
    Point(pop, server);
    EXPECT_THROW(pop.Login(), EConvertError);
    server.Join();
  }
  {
    // Closed in the middle of RETR, and in the middle of TOP: the summaries
    // stop there instead of going on with a dead connection.
    FakeServer server;
    LogOn(server, "1 10\r\n2 10\r\n").ReadLine().Send("+OK\r\nSubject: a\r\n\r\nbody\r\n").Close();
    server.Start();
    T_Pop3 pop;
    Point(pop, server);
    pop.Login();
    EXPECT_THROW(pop.GetMail(1), EProtocolError);
    EXPECT_THROW(pop.GetHeaders(), ETcpIpError);
    server.Join();
  }
}

TEST(T_Pop3Session, GetMailLogsOnFirstWhenNotConnected) {
  FakeServer server;
  LogOn(server, "1 5\r\n2 6\r\n").ReadLine().Send("+OK\r\nline\r\n.\r\n").ReadLine().Send("+OK\r\n");
  server.Close().Start();
  T_Pop3 pop;
  Point(pop, server);
  pop.GetMail(2);
  EXPECT_EQ(pop.MailLines, TStringList{"line"});
  pop.Logout();
  ASSERT_TRUE(server.Join());
  EXPECT_EQ(transcript::Line(server.Lines(), "RETR"), "RETR 2");
}

TEST(T_Pop3Session, GetMailTextGivesTheLinesGetMailGivesAndLeavesMailLines) {
  // Lines as a client reading byte by byte would see them: carriage returns
  // dropped, stuffing undone, empty lines kept, a line over many receives.
  const std::string longLine(100000, 'x');
  FakeServer server;
  LogOn(server, "1 30\r\n")
      .ReadLine()
      .Send("+OK 30 octets\r\nSubject: s\r\n\r\n..hidden\r\n\r\n" + longLine + "\r\na\rb\r\n.\r\n")
      .ReadLine()
      .Send("+OK\r\nonly\r\n");
  server.Close().Start();
  T_Pop3 pop;
  Point(pop, server);
  pop.MailLines = {"kept"};
  TLineText lines;
  lines.Append("old");
  pop.GetMailText(1, lines);
  ASSERT_EQ(lines.Count(), 6u);
  const std::vector<std::string> expected = {"Subject: s", "", ".hidden", "", longLine, "ab"};
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(lines.Line(i), expected[i]) << i;
  EXPECT_EQ(pop.MailLines, TStringList{"kept"});
  // A message cut short is a failure, as for GetMail.
  EXPECT_THROW(pop.GetMailText(1, lines), EProtocolError);
  server.Join();
}

TEST(T_Pop3Session, AListedSizeBeyondReasonIsOnlyAHint) {
  FakeServer server;
  LogOn(server, "1 999999999999999999\r\n")
      .ReadLine()
      .Send("+OK\r\nsmall\r\n.\r\n")
      .ReadLine()
      .Send("+OK\r\nsmall\r\n.\r\n");
  server.Close().Start();
  T_Pop3 pop;
  Point(pop, server);
  TLineText lines;
  pop.GetMailText(1, lines);
  ASSERT_EQ(lines.Count(), 1u);
  EXPECT_EQ(lines.Line(0), "small");
  pop.GetMail(1);
  EXPECT_EQ(pop.MailLines, TStringList{"small"});
  server.Join();
}

TEST(TLineText, KeepsEveryLineWhole) {
  TLineText text;
  EXPECT_EQ(text.Count(), 0u);
  EXPECT_EQ(text.Range(0, 0), "");
  text.Reserve(1 << 20);
  text.Append("");
  text.Append("one");
  text.Append(std::string_view("t\0o", 3));
  text.Append("");
  ASSERT_EQ(text.Count(), 4u);
  EXPECT_EQ(text.Line(0), "");
  EXPECT_EQ(text.Line(1), "one");
  EXPECT_EQ(text.Line(2), std::string_view("t\0o", 3));
  EXPECT_EQ(text.Line(3), "");
  EXPECT_EQ(text.Range(1, 3), std::string_view("onet\0o", 6));
  EXPECT_EQ(text.Range(0, 4), std::string_view("onet\0o", 6));
  // Moved, the lines go along: short texts too, which live inside the object.
  TLineText moved = std::move(text);
  EXPECT_EQ(moved.Line(1), "one");
  moved.Clear();
  EXPECT_EQ(moved.Count(), 0u);
}

TEST(TLineText, ReceivedBytesSplitAlikeHoweverTheyCome) {
  // CR LF and a bare LF end lines; a CR elsewhere stays; the last line has
  // no line end. Cut at every place, a CR LF too.
  const std::string bytes = "one\r\n\r\ntw\ro\nthree\r\r\n\nlast\r";
  const std::vector<std::string_view> want = {"one", "", "tw\ro", "three\r", "", "last"};
  for (std::size_t every = 1; every <= bytes.size(); ++every) {
    TLineText text;
    for (std::size_t at = 0; at < bytes.size(); at += every) {
      text.AppendReceived(std::string_view(bytes).substr(at, every));
      // What waits for more is no line yet.
      EXPECT_LE(text.Count(), want.size()) << every;
    }
    text.CloseReceived();
    text.CloseReceived();
    ASSERT_EQ(text.Count(), want.size()) << every;
    for (std::size_t i = 0; i < want.size(); ++i)
      EXPECT_EQ(text.Line(i), want[i]) << every << " " << i;
    EXPECT_EQ(text.Bytes(), text.Range(0, want.size()).size()) << every;
  }
}

TEST(T_Pop3List, ParsesNumberAndSize) {
  const t_reply r = T_Pop3::ParseListLine("7 123456789012");
  EXPECT_EQ(r.Number, 7);
  EXPECT_EQ(r.Size, 123456789012);
  EXPECT_EQ(T_Pop3::ParseListLine("3 50 extra").Size, 50);
  EXPECT_THROW(T_Pop3::ParseListLine("7"), EConvertError);
  EXPECT_THROW(T_Pop3::ParseListLine("7 x"), EConvertError);
  EXPECT_THROW(T_Pop3::ParseListLine(""), EConvertError);
}

TEST(T_Pop3Session, LogOffClosesEvenWhenTheServerIsGone) {
  FakeServer server;
  LogOn(server, "1 10\r\n").Close().Start();
  T_Pop3 pop;
  Point(pop, server);
  pop.Login();
  server.Join();
  EXPECT_THROW(pop.Logout(), EProtocolError);
  EXPECT_FALSE(pop.Connected);
  EXPECT_FALSE(pop.Connection.IsOpen());
  EXPECT_TRUE(pop.MessageList.empty());
  // Nothing is left to end at the next log-on or at destruction.
  EXPECT_NO_THROW(pop.Logout());
}

namespace {

// A log-on by mechanism against server; the failure's code and text, or 0.
struct LogOnResult {
  int Code = 0;
  std::string Text;
  std::vector<std::string> Trace;
};

LogOnResult LogOnWith(FakeServer &server, const std::string &mechanism, const std::string &user,
                      const std::string &password) {
  T_Pop3 pop;
  Point(pop, server);
  pop.UserName = user;
  pop.Password = password;
  pop.Mechanism = mechanism;
  LogOnResult result;
  pop.OnTrace = [&](const std::string &text, TTraceLevel level) {
    if (level == tlCommand)
      result.Trace.push_back(text);
  };
  try {
    pop.Login();
  } catch (const EProtocolError &e) {
    result.Code = e.Code;
    result.Text = e.what();
  }
  return result;
}

} // namespace

TEST(T_Pop3Login, EachMechanismsExchange) {
  const std::string listing = "+OK\r\n1 10\r\n.\r\n";
  {
    FakeServer server;
    server.Send("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n");
    server.ReadLine().Send("-ERR\r\n").ReadLine().Send("+OK maildrop has 1 message\r\n");
    server.ReadLine().Send(listing).Close().Start();
    const LogOnResult r = LogOnWith(server, "APOP", "mrose", "tanstaaf");
    EXPECT_EQ(r.Code, 0) << r.Text;
    ASSERT_TRUE(server.Join());
    EXPECT_EQ(transcript::Line(server.Lines(), "APOP"),
              "APOP mrose c4c9334bac560ecc979e58001b3e22fb");
    EXPECT_EQ(transcript::Line(r.Trace, "APOP"), "APOP mrose *****");
  }
  {
    FakeServer server;
    server.Send("+OK ready\r\n").ReadLine().Send("+OK\r\nSASL PLAIN\r\n.\r\n").ReadLine();
    server.Send("+ \r\n").ReadLine().Send("+OK logged in\r\n");
    server.ReadLine().Send(listing).Close().Start();
    const LogOnResult r = LogOnWith(server, "PLAIN", "anna", "secret");
    EXPECT_EQ(r.Code, 0) << r.Text;
    ASSERT_TRUE(server.Join());
    EXPECT_EQ(server.Lines(),
              (std::vector<std::string>{"CAPA", "AUTH PLAIN", "AGFubmEAc2VjcmV0", "LIST"}));
    EXPECT_EQ(r.Trace[2], "*****");
  }
  {
    FakeServer server;
    server.Send("+OK ready\r\n").ReadLine().Send("-ERR\r\n").ReadLine();
    server.Send("+\r\n").ReadLine().Send("+OK\r\n").ReadLine().Send(listing).Close().Start();
    const LogOnResult r = LogOnWith(server, "XOAUTH2", "anna@example.org", "ya29.token");
    EXPECT_EQ(r.Code, 0) << r.Text;
    ASSERT_TRUE(server.Join());
    EXPECT_EQ(transcript::LineAfter(server.Lines(), "AUTH XOAUTH2"),
              "dXNlcj1hbm5hQGV4YW1wbGUub3JnAWF1dGg9QmVhcmVyIHlhMjkudG9rZW4BAQ==");
  }
}

// Refusals the real server of the integration tests does not give.
TEST(T_Pop3Login, RefusalsInTheMiddleOfTheExchange) {
  const std::string refusal = "-ERR [AUTH] Authentication failed.\r\n";
  {
    // XOAUTH2 gives its reason as a challenge; the empty answer fetches the refusal.
    FakeServer server;
    server.Send("+OK ready\r\n").ReadLine().Send("-ERR\r\n").ReadLine().Send("+ \r\n").ReadLine();
    server.Send("+ eyJzdGF0dXMiOiI0MDEifQ==\r\n").ReadLine().Send(refusal).Close().Start();
    const LogOnResult r = LogOnWith(server, "XOAUTH2", "anna", "expired");
    EXPECT_EQ(r.Code, 500);
    EXPECT_EQ(r.Text, "-ERR [AUTH] Authentication failed.");
    ASSERT_TRUE(server.Join());
    EXPECT_EQ(server.Lines().back(), "");
  }
  {
    // A mechanism the server does not know, and APOP without a time stamp:
    // no secret goes out.
    FakeServer server;
    server.Send("+OK ready\r\n").ReadLine().Send("-ERR\r\n").ReadLine();
    server.Send("-ERR Unsupported authentication mechanism.\r\n").Close().Start();
    EXPECT_EQ(LogOnWith(server, "PLAIN", "anna", "secret").Text,
              "-ERR Unsupported authentication mechanism.");
    ASSERT_TRUE(server.Join());
    EXPECT_EQ(server.Lines().size(), 2u);
  }
  {
    FakeServer server;
    server.Send("+OK ready\r\n").ReadLine().Send("-ERR\r\n").Close().Start();
    EXPECT_EQ(LogOnWith(server, "APOP", "anna", "secret").Text,
              "The server offers no APOP (its greeting has no time stamp)");
    ASSERT_TRUE(server.Join());
    EXPECT_EQ(server.Lines().size(), 1u);
  }
}

TEST(T_Pop3Session, UniqueIdsAreAskedOncePerLogOn) {
  {
    // Ids in the listing's order, one of them missing and one line malformed.
    FakeServer server;
    LogOn(server, "1 10\r\n2 20\r\n3 30\r\n");
    server.ReadLine().Send(
        "+OK\r\n1 whqtswO00WBw418f9t5JxYwZ\r\nbroken\r\n3  QhdPYR:00WBw1Ph7x7 \r\n.\r\n");
    server.ReadLine().Send("+OK\r\n").Close().Start();
    T_Pop3 pop;
    Point(pop, server);
    EXPECT_EQ(pop.UniqueId(0), "") << "not logged on";
    pop.Login();
    EXPECT_EQ(pop.UniqueId(2), "QhdPYR:00WBw1Ph7x7");
    EXPECT_EQ(pop.UniqueId(0), "whqtswO00WBw418f9t5JxYwZ");
    EXPECT_EQ(pop.UniqueId(1), "");
    EXPECT_EQ(pop.UniqueId(3), "");
    pop.Logout();
    ASSERT_TRUE(server.Join());
    EXPECT_EQ(server.Lines(), (std::vector<std::string>{"CAPA", "USER anna", "PASS secret", "LIST",
                                                        "UIDL", "QUIT"}));
  }
  {
    // Refused, or not among the capabilities: empty, and asked no more.
    FakeServer refusing, without;
    LogOn(refusing, "1 10\r\n").ReadLine().Send("-ERR unknown command\r\n").Close().Start();
    without.Send("+OK\r\n")
        .ReadLine()
        .Send("+OK\r\nTOP\r\nUSER\r\n.\r\n")
        .ReadLine()
        .Send("+OK\r\n");
    without.ReadLine().Send("+OK\r\n").ReadLine().Send("+OK\r\n1 10\r\n.\r\n").Close().Start();
    for (FakeServer *server : {&refusing, &without}) {
      T_Pop3 pop;
      Point(pop, *server);
      pop.Login();
      EXPECT_EQ(pop.UniqueId(0), "");
      EXPECT_EQ(pop.UniqueId(0), "");
      ASSERT_TRUE(server->Join());
      EXPECT_EQ(server->Lines().back(), server == &refusing ? "UIDL" : "LIST");
    }
  }
}

namespace {

// The failure of a call that must end the connection, or "" when it passed.
template <typename Call> std::string Failure(T_Pop3 &pop, Call call) {
  try {
    call();
  } catch (const ETcpIpError &e) {
    EXPECT_FALSE(pop.Connected);
    EXPECT_TRUE(pop.MessageList.empty());
    return e.what();
  }
  return "";
}

} // namespace

// No answer of the server grows a list without end: a listing, a UIDL
// answer, a CAPA answer and the summaries each have a bound (entries, or
// bytes with a cost for each line kept), and going past it ends the
// connection, whose answer is still coming, with a clear failure.
TEST(T_Pop3Session, AnswersPastTheirBoundsEndTheConnection) {
  std::string eleven;
  for (int i = 1; i <= 11; ++i)
    eleven += std::to_string(i) + " 1\r\n";
  {
    FakeServer server;
    LogOn(server, eleven).Close().Start();
    T_Pop3 pop;
    Point(pop, server);
    pop.MaxListEntries = 10;
    EXPECT_EQ(Failure(pop, [&] { pop.Login(); }), "The mailbox listing names more than 10 messages");
    server.Join();
  }
  {
    FakeServer server;
    LogOn(server, "1 1\r\n2 1\r\n").ReadLine().Send("+OK\r\n" + eleven + ".\r\n").Close().Start();
    T_Pop3 pop;
    Point(pop, server);
    pop.MaxListEntries = 10;
    pop.Login();
    EXPECT_EQ(Failure(pop, [&] { pop.UniqueId(0); }), "The UIDL answer has more than 10 lines");
    server.Join();
  }
  {
    FakeServer server;
    const std::string line = std::string(1000, 'x') + "\r\n";
    std::string capabilities;
    for (int i = 0; i < 70; ++i)
      capabilities += line;
    server.Send("+OK ready\r\n").ReadLine().Send("+OK\r\n" + capabilities + ".\r\n").Close().Start();
    T_Pop3 pop;
    Point(pop, server);
    EXPECT_EQ(Failure(pop, [&] { pop.Login(); }),
              "The POP3 server's CAPA answer is longer than 65536 bytes");
    EXPECT_TRUE(pop.Capabilities.empty());
    server.Join();
  }
  {
    FakeServer server;
    std::string folded = "+OK\r\nFrom: a\r\n";
    for (int i = 0; i < 100; ++i)
      folded += " folded\r\n";
    LogOn(server, "1 10\r\n").ReadLine().Send(folded + "\r\n.\r\n").Close().Start();
    T_Pop3 pop;
    Point(pop, server);
    pop.MaxSummaryBytes = 500;
    pop.Login();
    EXPECT_EQ(Failure(pop, [&] { pop.GetHeaders(); }),
              "The summaries of the messages are larger than 500 bytes");
    EXPECT_TRUE(pop.MailLines.empty());
    server.Join();
  }
}

// Ids in any order, for messages listed or not, too long or given twice:
// each listed message gets the last well-formed id named for it. A From
// folded over many lines is joined as one trimmed text.
TEST(T_Pop3Session, UniqueIdsOutOfOrderAndFoldedHeaders) {
  FakeServer server;
  LogOn(server, "1 10\r\n2 20\r\n5 50\r\n");
  server.ReadLine().Send("+OK\r\n5 e\r\n9 nine\r\n1 " + std::string(71, 'l') +
                         "\r\n2 b\r\n7 x\r\n2 bb\r\n.\r\n");
  server.ReadLine().Send("+OK\r\nFrom:\r\n  Ann\r\n\t<a@x> \r\n \r\nSubject: s\r\n\r\n.\r\n");
  for (int k = 0; k < 2; ++k)
    server.ReadLine().Send("+OK\r\n\r\n.\r\n");
  server.Close().Start();
  T_Pop3 pop;
  Point(pop, server);
  pop.Login();
  EXPECT_EQ(pop.UniqueId(0), "");
  EXPECT_EQ(pop.UniqueId(1), "bb");
  EXPECT_EQ(pop.UniqueId(2), "e");
  pop.GetHeaders();
  EXPECT_EQ(pop.MailLines[2], "Ann\t<a@x>\as");
  server.Join();
}

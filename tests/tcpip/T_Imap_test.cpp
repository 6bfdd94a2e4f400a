#include "tcpip/T_Imap.h"

#include "ip_misc/Errors.h"
#include "ip_misc/ImapUtf7.h"
#include "support/FakeServer.h"

#include <gtest/gtest.h>

// The dialogues of a real server are the integration test's (dovecot); here
// are what real servers rarely do: news in the middle of answers, literals
// both ways, the login mechanisms' corners, and hostile answers.

namespace {

const std::string Caps = "IMAP4rev1 UIDPLUS MOVE IDLE";

void Point(T_Imap &imap, const FakeServer &server) {
  imap.Hostname = "127.0.0.1";
  imap.RemotePort = server.Port();
  imap.UserName = "anna";
  imap.Password = "pa\"ss";
  imap.TimeoutMs = 5000;
}

// Greeting, LOGIN (A1) and LIST (A2): INBOX, and a folder whose name comes
// as a literal in modified UTF-7.
FakeServer &LogOn(FakeServer &server, const std::string &caps = Caps) {
  return server.Send("* OK [CAPABILITY " + caps + "] ready\r\n")
      .ReadLine()
      .Send("A1 OK [CAPABILITY " + caps + "] in\r\n")
      .ReadLine()
      .Send("* LIST (\\HasNoChildren) \"/\" INBOX\r\n"
            "* LIST (\\HasNoChildren \\Sent) \"/\" {12}\r\nEntw&APw-rfe\r\n"
            "A2 OK\r\n");
}

// STATUS (A3) and SELECT (A4) of INBOX, which holds 3 messages.
FakeServer &SelectInbox(FakeServer &server) {
  return server.ReadLine()
      .Send("* STATUS INBOX (UNSEEN 2)\r\nA3 OK\r\n")
      .ReadLine()
      .Send("* 3 EXISTS\r\n* OK [UIDVALIDITY 77] ok\r\n* OK [UIDNEXT 12] ok\r\nA4 OK "
            "[READ-WRITE]\r\n");
}

} // namespace

TEST(T_ImapSession, TakesNewsWhereverItComes) {
  FakeServer server;
  SelectInbox(LogOn(server));
  // A5 SEARCH: new mail told before the result.
  server.ReadLine().Send("* 4 EXISTS\r\n* SEARCH 9 11\r\nA5 OK\r\n");
  // A6 FETCH of the summaries, with an expunge and flags of another
  // message in between.
  server.ReadLine().Send(
      "* 2 FETCH (UID 9 RFC822.SIZE 120 FLAGS (\\Seen $Label) BODY[HEADER.FIELDS (FROM SUBJECT "
      "DATE)] {60}\r\nFrom: Ann <a@x.org>\r\nSubject: a\r\n  long one\r\nDate: today\r\n\r\n)\r\n"
      "* 1 EXPUNGE\r\n* 1 FETCH (FLAGS (\\Deleted))\r\n"
      "* 2 FETCH (BODY[HEADER.FIELDS (FROM SUBJECT DATE)] \"\" UID 11 FLAGS ())\r\nA6 OK\r\n");
  // A7 the message: its items in another order than asked, the last line
  // without a line break.
  server.ReadLine().Send("* 3 FETCH (FLAGS (\\Seen) BODY[] {23}\r\nSubject: s\r\n\r\nbody\r\nend "
                         "UID 11)\r\nA7 OK\r\n");
  // A8 STORE echoes the flags; A9 logs out.
  server.ReadLine().Send("* 3 FETCH (UID 11 FLAGS ())\r\nA8 OK\r\n");
  server.ReadLine().Send("* BYE bye\r\nA9 OK\r\n").Close().Start();

  T_Imap imap;
  std::vector<std::string> commands;
  imap.OnTrace = [&](const std::string &text, TTraceLevel level) {
    if (level == tlCommand)
      commands.push_back(text);
  };
  Point(imap, server);
  imap.Login();
  ASSERT_EQ(imap.Folders.size(), 2u);
  EXPECT_EQ(imap.Folders[1].Name, "Entwürfe");
  EXPECT_EQ(imap.Folders[1].SpecialUse, "\\Sent");
  imap.Select("INBOX");
  EXPECT_EQ(imap.Exists, 3u);
  EXPECT_EQ(imap.UidValidity, 77u);
  EXPECT_EQ(imap.UidNext, 12u);
  EXPECT_EQ(imap.Unseen, 2u);
  imap.Search("UNSEEN");
  EXPECT_EQ(imap.SearchResults, (std::vector<std::uint32_t>{9, 11}));
  EXPECT_EQ(imap.Exists, 4u);
  imap.FetchSummaries("");
  EXPECT_EQ(imap.Exists, 3u);
  ASSERT_EQ(imap.Summaries.size(), 2u);
  EXPECT_EQ(imap.Summaries[0].Uid, 9u);
  EXPECT_EQ(imap.Summaries[0].From, "Ann <a@x.org>");
  EXPECT_EQ(imap.Summaries[0].Subject, "a  long one");
  EXPECT_EQ(imap.Summaries[0].Date, "today");
  EXPECT_EQ(imap.Summaries[0].Flags, "\\Seen $Label");
  EXPECT_EQ(imap.Summaries[0].Size, 120);
  EXPECT_EQ(imap.Summaries[1].Uid, 11u);
  TLineText lines;
  imap.FetchMessage(11, lines);
  ASSERT_EQ(lines.Count(), 4u);
  EXPECT_EQ(lines.Line(0), "Subject: s");
  EXPECT_EQ(lines.Line(3), "end");
  imap.Store(11, "-\\Seen");
  imap.Logout();
  EXPECT_FALSE(imap.Connected);
  ASSERT_TRUE(server.Join());
  const std::vector<std::string> sent = {
      "A1 LOGIN \"anna\" \"pa\\\"ss\"",
      "A2 LIST \"\" \"*\"",
      "A3 STATUS \"INBOX\" (UNSEEN)",
      "A4 SELECT \"INBOX\"",
      "A5 UID SEARCH UNSEEN",
      "A6 UID FETCH 9,11 (UID FLAGS RFC822.SIZE BODY.PEEK[HEADER.FIELDS (FROM SUBJECT DATE)])",
      "A7 UID FETCH 11 BODY.PEEK[]",
      "A8 UID STORE 11 -FLAGS (\\Seen)",
      "A9 LOGOUT"};
  EXPECT_EQ(server.Lines(), sent);
  EXPECT_EQ(commands[0], "A1 LOGIN \"anna\" *****");
}

TEST(T_ImapSession, SendsLiteralsAsTheServerTakesThem) {
  // Without LITERAL+ each literal waits for the server's go-ahead, and one
  // refused ends the command there.
  FakeServer server;
  SelectInbox(LogOn(server));
  server.ReadLine().Send("* 5 EXISTS\r\n+ go\r\n").ReadLine().Send("+ go\r\n").ReadLine();
  server.Send("* ESEARCH (TAG \"A5\") UID ALL 2,7:9\r\nA5 OK\r\n");
  server.ReadLine().Send("A6 NO [TOOBIG] too big\r\n");
  // With LITERAL+ nothing is awaited; the folder name goes back as listed.
  server.ReadLine().ReadLine().ReadLine().Send("A7 OK [APPENDUID 77 13] done\r\n").Close().Start();
  T_Imap imap;
  Point(imap, server);
  imap.Login();
  imap.Select("INBOX");
  imap.Capabilities.push_back("ESEARCH");
  imap.Search("FROM \"Jürgen\" SUBJECT Grüße");
  EXPECT_EQ(imap.SearchResults, (std::vector<std::uint32_t>{2, 7, 8, 9}));
  EXPECT_THROW(imap.Append("INBOX", std::string(50, 'x'), ""), EProtocolError);
  imap.Capabilities.push_back("LITERAL+");
  imap.Append("Entwürfe", "line\nnext", "\\Seen $Sent");
  ASSERT_TRUE(server.Join());
  const std::vector<std::string> lines = server.Lines();
  const std::vector<std::string> sent(lines.begin() + 4, lines.end());
  EXPECT_EQ(sent, (std::vector<std::string>{
                      "A5 UID SEARCH RETURN (ALL) CHARSET UTF-8 FROM {7}", "Jürgen SUBJECT {7}",
                      "Grüße", "A6 APPEND \"INBOX\" {50}",
                      "A7 APPEND \"Entw&APw-rfe\" (\\Seen $Sent) {10+}", "line", "next"}));
  EXPECT_NE(server.Bytes().find("line\r\nnext\r\n"), std::string::npos);

  // What cannot go as written is refused before anything is sent.
  EXPECT_THROW(imap.Search("SUBJECT {5}"), EConvertError);
  EXPECT_THROW(imap.Search("SUBJECT \"open"), EConvertError);
  EXPECT_THROW(imap.Search(std::string("A\nB")), EConvertError);
  EXPECT_THROW(imap.Store(1, "\\Seen"), EConvertError);
  EXPECT_THROW(imap.Store(1, "+(x)"), EConvertError);
  EXPECT_THROW(imap.FetchSummaries("1;2"), EConvertError);
}

TEST(T_ImapSession, LogsOnWithXOAuth2AndGivesTheServersReason) {
  FakeServer good, refused;
  good.Send("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] hi\r\n").ReadLine();
  good.Send("A1 OK [CAPABILITY IMAP4rev1] in\r\n").ReadLine().Send("A2 OK\r\n").Close().Start();
  // Without SASL-IR the answer waits for the go-ahead; a refused token
  // comes as a challenge, answered with an empty line.
  refused.Send("* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] hi\r\n").ReadLine().Send("+ \r\n");
  refused.ReadLine().Send("+ eyJzdGF0dXMiOiI0MDEifQ==\r\n").ReadLine();
  refused.Send("A1 NO [AUTHENTICATIONFAILED] Invalid credentials\r\n").Close().Start();
  T_Imap imap;
  std::vector<std::string> commands;
  imap.OnTrace = [&](const std::string &text, TTraceLevel level) {
    if (level == tlCommand)
      commands.push_back(text);
  };
  imap.Mechanism = "XOAUTH2";
  Point(imap, good);
  imap.Login();
  Point(imap, refused);
  try {
    imap.Login();
    FAIL() << "a refused token logged on";
  } catch (const EProtocolError &e) {
    EXPECT_STREQ(e.what(), "NO [AUTHENTICATIONFAILED] Invalid credentials");
  }
  EXPECT_FALSE(imap.Connected);
  ASSERT_TRUE(good.Join());
  ASSERT_TRUE(refused.Join());
  const std::string token = "dXNlcj1hbm5hAWF1dGg9QmVhcmVyIHBhInNzAQE=";
  EXPECT_EQ(good.Lines()[0], "A1 AUTHENTICATE XOAUTH2 " + token);
  EXPECT_EQ(refused.Lines(), (std::vector<std::string>{"A1 AUTHENTICATE XOAUTH2", token, ""}));
  for (const std::string &c : commands)
    EXPECT_EQ(c.find(token), std::string::npos) << c;
}

TEST(T_ImapSession, NeverSendsThePasswordWhereItIsNotSafe) {
  {
    FakeServer server;
    server.Send("* OK [CAPABILITY IMAP4rev1 LOGINDISABLED] hi\r\n").ReadUntilClose().Start();
    T_Imap imap;
    Point(imap, server);
    EXPECT_THROW(imap.Login(), ETcpIpError);
    EXPECT_FALSE(imap.Connected);
    server.Join();
    EXPECT_EQ(server.Bytes(), "");
  }
  {
    // STARTTLS refused, or impossible after PREAUTH: nothing else goes.
    FakeServer refused, preauth;
    refused.Send("* OK [CAPABILITY IMAP4rev1] hi\r\n").ReadLine().Send("A1 BAD no\r\n");
    refused.ReadUntilClose().Start();
    preauth.Send("* PREAUTH [CAPABILITY IMAP4rev1] hi\r\n").ReadUntilClose().Start();
    T_Imap imap;
    imap.Security = T_TcpIp::TSecurity::StartTls;
    for (FakeServer *server : {&refused, &preauth}) {
      Point(imap, *server);
      EXPECT_THROW(imap.Login(), ETcpIpError);
      server->Join();
    }
    EXPECT_EQ(refused.Bytes(), "A1 STARTTLS\r\n");
    EXPECT_EQ(preauth.Bytes(), "");
  }
}

TEST(T_ImapSession, MovesAndDeletesOneMessageAlone) {
  // Without MOVE: a copy, then that message alone expunged.
  FakeServer server;
  SelectInbox(LogOn(server, "IMAP4rev1 UIDPLUS"));
  server.ReadLine().Send("A5 OK [COPYUID 77 5 1] copied\r\n").ReadLine().Send("A6 OK\r\n");
  server.ReadLine().Send("* 2 EXPUNGE\r\nA7 OK\r\n");
  // A UID that names nothing: copied nothing, so nothing is deleted.
  server.ReadLine().Send("A8 OK no messages\r\n").Close().Start();
  T_Imap imap;
  Point(imap, server);
  imap.Login();
  imap.Select("INBOX");
  imap.Move(5, "Entwürfe");
  EXPECT_EQ(imap.Exists, 2u);
  EXPECT_THROW(imap.Move(6, "Entwürfe"), ETcpIpError);
  ASSERT_TRUE(server.Join());
  const std::vector<std::string> lines = server.Lines();
  const std::vector<std::string> sent(lines.begin() + 4, lines.end());
  EXPECT_EQ(sent, (std::vector<std::string>{"A5 UID COPY 5 \"Entw&APw-rfe\"",
                                            "A6 UID STORE 5 +FLAGS.SILENT (\\Deleted)",
                                            "A7 UID EXPUNGE 5", "A8 UID COPY 6 \"Entw&APw-rfe\""}));
  // Without UIDPLUS neither can be done safely, and nothing is tried.
  imap.Capabilities = {"IMAP4REV1"};
  imap.Connected = true;
  imap.Selected = "INBOX";
  EXPECT_THROW(imap.Move(5, "Trash"), ETcpIpError);
  EXPECT_THROW(imap.Delete(5), ETcpIpError);
}

// News of another message's flags is no answer to a flag change, and a
// body the server sends for another UID is not the message asked for.
TEST(T_ImapSession, FlagsAndBodiesCountOnlyForTheirOwnUid) {
  FakeServer server;
  SelectInbox(LogOn(server));
  server.ReadLine().Send("* 1 FETCH (UID 4 FLAGS (\\Seen))\r\nA5 OK\r\n");
  server.ReadLine().Send("A6 OK\r\n");
  server.ReadLine().Send("* 3 FETCH (FLAGS (\\Seen) UID 7)\r\nA7 OK\r\n");
  server.ReadLine().Send("* 2 FETCH (UID 6 BODY[] {5}\r\nother)\r\nA8 OK\r\n").Close().Start();
  T_Imap imap;
  Point(imap, server);
  imap.Login();
  imap.Select("INBOX");
  EXPECT_THROW(imap.Store(5, "+\\Seen"), ETcpIpError);
  imap.Store(7, "+\\Seen");
  TLineText lines;
  EXPECT_THROW(imap.FetchMessage(7, lines), ETcpIpError);
  EXPECT_EQ(lines.Count(), 0u);
  ASSERT_TRUE(server.Join());
  const std::vector<std::string> all = server.Lines();
  const std::vector<std::string> sent(all.begin() + 4, all.end());
  EXPECT_EQ(sent, (std::vector<std::string>{
                      "A5 UID STORE 5 +FLAGS (\\Seen)", "A6 UID FETCH 5 (UID)",
                      "A7 UID STORE 7 +FLAGS (\\Seen)", "A8 UID FETCH 7 BODY.PEEK[]"}));
}

TEST(T_ImapSession, IdleEndsWithNewsOrWhenTheTimeIsUp) {
  FakeServer server;
  SelectInbox(LogOn(server));
  server.ReadLine().Send("+ idling\r\n* OK still here\r\n* 4 EXISTS\r\n");
  server.ReadLine().Send("A5 OK done\r\n");
  server.ReadLine().Send("+ idling\r\n").ReadLine().Send("A6 OK done\r\n");
  // News told during another command is not missed by the next IDLE.
  server.ReadLine()
      .Send("* 5 EXISTS\r\n* 1 FETCH (UID 1 FLAGS (\\Seen))\r\nA7 OK\r\n")
      .Close()
      .Start();
  T_Imap imap;
  Point(imap, server);
  imap.Login();
  imap.Select("INBOX");
  imap.Idle(10000);
  EXPECT_TRUE(imap.Changed);
  imap.Idle(200);
  EXPECT_FALSE(imap.Changed);
  imap.Store(1, "+\\Seen");
  imap.Idle(10000);
  EXPECT_TRUE(imap.Changed);
  ASSERT_TRUE(server.Join());
  const std::vector<std::string> lines = server.Lines();
  const std::vector<std::string> sent(lines.begin() + 4, lines.end());
  EXPECT_EQ(sent, (std::vector<std::string>{"A5 IDLE", "DONE", "A6 IDLE", "DONE",
                                            "A7 UID STORE 1 +FLAGS (\\Seen)"}));

  // A server without IDLE tells of news in its answer to NOOP.
  FakeServer old;
  SelectInbox(LogOn(old, "IMAP4rev1 UIDPLUS")).ReadLine().Send("A5 OK\r\n");
  old.ReadLine().Send("* 1 EXPUNGE\r\nA6 OK\r\n").Close().Start();
  Point(imap, old);
  imap.Login();
  imap.Select("INBOX");
  imap.Idle(1000);
  EXPECT_TRUE(imap.Changed);
  ASSERT_TRUE(old.Join());
  EXPECT_EQ(old.Lines().back(), "A6 NOOP");
}

TEST(T_ImapSession, HostileAnswersAreCutOff) {
  const auto failsAndCloses = [](FakeServer &server, const std::string &why) {
    SCOPED_TRACE(why);
    server.Start();
    T_Imap imap;
    Point(imap, server);
    try {
      imap.Login();
      imap.Select("INBOX");
      ADD_FAILURE() << why;
    } catch (const ETcpIpError &e) {
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
    EXPECT_FALSE(imap.Connected);
    server.Join();
  };
  {
    // A literal announced past every cap is not waited for.
    FakeServer server;
    LogOn(server).ReadLine().Send("* STATUS {99999999999}\r\n").SendEndless(1 << 20);
    failsAndCloses(server, "99999999999 bytes");
  }
  {
    // Untagged lines without end.
    FakeServer server;
    LogOn(server).ReadLine().Do([](platform::socket_t s) {
      const std::string lines = [] {
        std::string l;
        for (int i = 0; i < 4096; ++i)
          l += "* 1 RECENT\r\n";
        return l;
      }();
      // A send can take part of the block (and under Wine a blocking one
      // can say it would block): the next send goes on where it stopped,
      // or the stream would hold a line cut short.
      std::size_t at = 0;
      for (;;) {
        const long n = platform::Send(s, lines.data() + at, lines.size() - at);
        if (n > 0)
          at = (at + static_cast<std::size_t>(n)) % lines.size();
        else if (platform::LastSocketError() != platform::WSAEWOULDBLOCK ||
                 !platform::WaitWritable(s, 5000))
          break;
      }
    });
    failsAndCloses(server, "passed 16 MiB");
  }
  {
    // The server says goodbye in the middle of a command.
    FakeServer server;
    LogOn(server).ReadLine().Send("* BYE [ALERT] going down for maintenance\r\n").Close();
    failsAndCloses(server, "BYE going down for maintenance");
  }
  {
    // An answer tagged for no command in progress.
    FakeServer server;
    LogOn(server).ReadLine().Send("B9 OK\r\n").ReadUntilClose();
    failsAndCloses(server, "out of step");
  }
  {
    // A message past the cap: refused as announced, not read.
    FakeServer server;
    SelectInbox(LogOn(server)).ReadLine().Send("* 1 FETCH (UID 1 BODY[] {300}\r\n");
    server.SendEndless(1 << 20).Start();
    T_Imap imap;
    Point(imap, server);
    imap.MaxMessageBytes = 200;
    imap.Login();
    imap.Select("INBOX");
    TLineText lines;
    EXPECT_THROW(imap.FetchMessage(1, lines), ETcpIpError);
    EXPECT_EQ(lines.Count(), 0u);
    EXPECT_FALSE(imap.Connected);
    server.Join();
  }
}

TEST(ImapUtf7, FolderNamesBothWays) {
  EXPECT_EQ(EncodeImapUtf7("~peter/mail/台北/日本語"), "~peter/mail/&U,BTFw-/&ZeVnLIqe-");
  EXPECT_EQ(DecodeImapUtf7("~peter/mail/&U,BTFw-/&ZeVnLIqe-"), "~peter/mail/台北/日本語");
  EXPECT_EQ(EncodeImapUtf7("R&D"), "R&-D");
  EXPECT_EQ(DecodeImapUtf7("R&-D"), "R&D");
  // Beyond the 16-bit plane: a surrogate pair.
  EXPECT_EQ(EncodeImapUtf7("a\xF0\x9F\x93\xA7"), "a&2D3c5w-");
  EXPECT_EQ(DecodeImapUtf7("a&2D3c5w-"), "a\xF0\x9F\x93\xA7");
  // A script's text that is not UTF-8 is Windows-1252.
  EXPECT_EQ(EncodeImapUtf7("Entw\xFCrfe"), "Entw&APw-rfe");
  // What is not modified UTF-7 stays as it is.
  for (const char *odd : {"a&b", "&AGE-", "&2D0-", "Grüße", "&Zz"})
    EXPECT_EQ(DecodeImapUtf7(odd), odd);
}

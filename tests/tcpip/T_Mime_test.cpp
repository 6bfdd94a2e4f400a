#include "tcpip/T_Mime.h"

#include "ip_misc/Errors.h"
#include "support/FakeServer.h"
#include "support/SmtpDialogue.h"
#include "support/TempFolder.h"
#include "tcpip/T_Mail.h"
#include "tcpip/T_SMTP.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>

namespace {

// The message text as sent: the lines after DATA, without the final ".".
TStringList MessageOf(const FakeServer &server) {
  const std::vector<std::string> lines = server.Lines();
  auto data = std::find(lines.begin(), lines.end(), "DATA");
  if (data == lines.end())
    return {};
  return TStringList(data + 1, lines.end() - 1);
}

struct Outgoing {
  T_SMTP smtp;
  T_Mail mail;
  T_Mime mime;
  Outgoing() {
    mail.SMTP = &smtp;
    mail.Header = {"X-Mailer: test"};
    mail.From = "a@example.org";
    mail.Recipients = {"b@example.org"};
    mime.Mail = &mail;
    smtp.Hostname = "127.0.0.1";
  }
};

// Sends the message to a server that accepts it; the lines it received.
TStringList SendAccepted(Outgoing &out) {
  FakeServer server;
  AcceptOneMessage(server, 1);
  out.smtp.RemotePort = server.Port();
  out.mime.Send();
  EXPECT_TRUE(server.Join());
  return MessageOf(server);
}

// In a folder of the suite's own, removed when the suite ends.
std::string TempPath(const std::string &name) {
  static const testsupport::TempFolder folder;
  return folder / name;
}

} // namespace

TEST(T_MimeSend, WrapsTheBodyAsTheLastPartAndRestoresTheMessage) {
  Outgoing out;
  const std::string file = TempPath("data.bin");
  {
    std::ofstream f(file, std::ios::binary);
    f << std::string(100, 'z');
  }
  out.mime.AddFile(file);
  out.mail.Body = {"caf\xE9 = 1", ".", std::string(200, 'x')};
  const TStringList sent = SendAccepted(out);
  const std::string b = out.mime.Boundary;
  ASSERT_TRUE(b.ends_with("=="));

  auto at = std::find(sent.begin(), sent.end(), "Content-Type: multipart/mixed; boundary=\"" + b + "\"");
  ASSERT_NE(at, sent.end());
  EXPECT_EQ(*(at - 1), "MIME-Version: 1.0");
  EXPECT_EQ(*(at + 1), "Content-Transfer-Encoding: 7bit");
  EXPECT_EQ(*(at - 2), "X-Mailer: test");

  auto body = std::find(at, sent.end(), "");
  const TStringList expectedStart = {"",
                                     "",
                                     "--" + b,
                                     "Content-Type: application/octet-stream",
                                     "Content-Disposition: attachment; filename=\"data.bin\"",
                                     "Content-Transfer-Encoding: base64",
                                     ""};
  ASSERT_GE(sent.end() - body, 20);
  EXPECT_EQ(TStringList(body, body + 7), expectedStart);
  EXPECT_EQ(body[7].size(), 60u);
  EXPECT_EQ(body[8].size(), 60u);
  EXPECT_EQ(body[9].size(), 16u);
  const TStringList textPart = {"",
                                "--" + b,
                                "Content-Type: text/plain",
                                "Content-Transfer-Encoding: quoted-printable",
                                "",
                                "caf=E9 =3D 1",
                                // The line "." goes out stuffed and arrives as it was.
                                "..",
                                std::string(75, 'x') + "=",
                                std::string(75, 'x') + "=",
                                std::string(50, 'x'),
                                "",
                                "--" + b + "--"};
  EXPECT_EQ(TStringList(body + 10, sent.end()), textPart);

  // The message is ready for the next send as the script left it.
  EXPECT_EQ(out.mail.Header, TStringList{"X-Mailer: test"});
  EXPECT_EQ(out.mail.Body, (TStringList{"caf\xE9 = 1", ".", std::string(200, 'x')}));
  EXPECT_EQ(out.mime.Count(), 1);
  EXPECT_TRUE(out.mail.Composed.empty());
  EXPECT_TRUE(out.smtp.MailFrom.empty());
  std::remove(file.c_str());
}

TEST(T_MimeSend, NothingToAttachGivesOnlyTheClosingLine) {
  Outgoing out;
  FakeServer server;
  AcceptOneMessage(server, 1);
  out.smtp.RemotePort = server.Port();
  out.mime.Send();
  ASSERT_TRUE(server.Join());
  const TStringList sent = MessageOf(server);
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(TStringList(sent.end() - 3, sent.end()),
            (TStringList{"", "", "--" + out.mime.Boundary + "--"}));
  EXPECT_TRUE(out.mail.Body.empty());
}

TEST(T_MimeSend, AFailedSendLeavesNothingBehindAndTheNextOneIsClean) {
  Outgoing out;
  out.mail.Body = {"hello"};
  {
    FakeServer refusing;
    refusing.Send("220 ready\r\n").ReadLine().Send("250 hello\r\n").ReadLine().Send("250 ok\r\n");
    refusing.ReadLine().Send("250 ok\r\n").ReadLine().Send("503 no\r\n").Close().Start();
    out.smtp.RemotePort = refusing.Port();
    EXPECT_THROW(out.mime.Send(), EProtocolError);
    refusing.Join();
  }
  EXPECT_EQ(out.mail.Header, TStringList{"X-Mailer: test"});
  EXPECT_EQ(out.mail.Body, TStringList{"hello"});
  EXPECT_EQ(out.mime.Count(), 0);
  EXPECT_TRUE(out.mail.Composed.empty());
  EXPECT_TRUE(out.smtp.MailFrom.empty());

  const std::string firstBoundary = out.mime.Boundary;
  FakeServer server;
  AcceptOneMessage(server, 1);
  out.smtp.RemotePort = server.Port();
  out.mime.Send();
  ASSERT_TRUE(server.Join());
  const TStringList sent = MessageOf(server);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "MIME-Version: 1.0"), 1);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "hello"), 1);
  EXPECT_NE(out.mime.Boundary, firstBoundary);
}

TEST(T_MimeFiles, AnUnreadableFileAddsNothing) {
  T_Mime mime;
  EXPECT_THROW(mime.AddFile(TempPath("does/not/exist")), EFileError);
  EXPECT_EQ(mime.Count(), 0);
  EXPECT_EQ(mime.GetAttachment(0), nullptr);
  EXPECT_EQ(mime.GetAttachment(-1), nullptr);
  mime.Delete(5);
}

TEST(T_MimeParse, SplitsPreambleTextAndFileParts) {
  T_Mime mime;
  mime.Parse({"From: a@example.org",
              "Content-Type: multipart/mixed;",
              "\tboundary=\"=_b\"",
              "",
              "This is a message in MIME format.",
              "",
              "--=_b",
              "Content-Type: text/plain;",
              " charset=\"utf-8\"",
              "Content-Transfer-Encoding: Quoted-Printable",
              "",
              "caf=C3=A9 and a long line that was bro=",
              "ken in two",
              "",
              "--=_b",
              "content-type: application/octet-stream",
              "Content-Disposition: attachment;",
              "\tfilename=\"a.bin\"",
              "Content-Transfer-Encoding: base64",
              "",
              "YWJj",
              "ZA==",
              "--=_b",
              "Content-Type: application/octet-stream",
              "Content-Transfer-Encoding: base64",
              "",
              "",
              "--=_b--",
              "epilogue"});
  EXPECT_EQ(mime.Boundary, "=_b");
  ASSERT_EQ(mime.Count(), 4);
  const T_Attachment &pre = *mime.GetAttachment(0);
  EXPECT_EQ(pre.ContentType, "");
  EXPECT_EQ(pre.Lines, TStringList{"This is a message in MIME format."});
  const T_Attachment &text = *mime.GetAttachment(1);
  EXPECT_EQ(text.ContentType, "text/plain; charset=\"utf-8\"");
  EXPECT_EQ(text.Encoding, T_Attachment::EncodingQuotedPrintable);
  EXPECT_EQ(text.Lines, TStringList{"caf\xC3\xA9 and a long line that was broken in two"});
  const T_Attachment &file = *mime.GetAttachment(2);
  EXPECT_EQ(file.Disposition, "attachment;\tfilename=\"a.bin\"");
  EXPECT_EQ(file.Data.Bytes(), "abcd");
  EXPECT_TRUE(file.Lines.empty());
  // An empty file is still a part.
  const T_Attachment &empty = *mime.GetAttachment(3);
  EXPECT_EQ(empty.Encoding, T_Attachment::EncodingBase64);
  EXPECT_EQ(empty.Data.Size(), 0);
}

TEST(T_MimeParse, FlattensNestedPartsAndAcceptsUnquotedBoundaries) {
  T_Mime mime;
  mime.Parse({"Content-Type: multipart/mixed; boundary=outer", "", "--outer",
              "Content-Type: multipart/alternative; boundary=\"inner\"", "", "inner preamble",
              "--inner", "Content-Type: text/plain", "", "plain", "--inner  ",
              "Content-Type: text/html", "", "<p>html</p>", "--inner--", "", "--outer",
              "Content-Type: image/gif", "Content-Transfer-Encoding: BASE64", "", "R0lG",
              "--outer--"});
  EXPECT_EQ(mime.Boundary, "outer");
  ASSERT_EQ(mime.Count(), 3);
  EXPECT_EQ(mime.GetAttachment(0)->Lines, TStringList{"plain"});
  EXPECT_EQ(mime.GetAttachment(1)->ContentType, "text/html");
  EXPECT_EQ(mime.GetAttachment(1)->Lines, TStringList{"<p>html</p>"});
  EXPECT_EQ(mime.GetAttachment(2)->Data.Bytes(), "GIF");
}

TEST(T_MimeParse, APlainMessageIsOnePartAndKeepsItsLastLine) {
  T_Mime mime;
  mime.Parse({"From: a@example.org", "Content-Type: text/plain; charset=\"us-ascii\"",
              "Content-Transfer-Encoding: quoted-printable", "", "first", "soft=", "break", "last"});
  EXPECT_EQ(mime.Boundary, "");
  ASSERT_EQ(mime.Count(), 1);
  EXPECT_EQ(mime.GetAttachment(0)->ContentType, "text/plain; charset=\"us-ascii\"");
  EXPECT_EQ(mime.GetAttachment(0)->Lines, (TStringList{"first", "softbreak", "last"}));

  mime.Parse({"Subject: no body"});
  ASSERT_EQ(mime.Count(), 1);
  EXPECT_TRUE(mime.GetAttachment(0)->Lines.empty());
  mime.Parse({});
  EXPECT_EQ(mime.Count(), 1);
}

TEST(T_MimeParse, ACutMessageKeepsWhatArrived) {
  T_Mime mime;
  mime.Parse({"Content-Type: multipart/mixed; boundary=\"b\"", "", "--b", "Content-Type: text/plain",
              "", "one", "two"});
  ASSERT_EQ(mime.Count(), 1);
  EXPECT_EQ(mime.GetAttachment(0)->Lines, (TStringList{"one", "two"}));
}

TEST(T_MimeParse, HeaderHelpers) {
  std::string name, value;
  T_Mime::SplitHeader("Content-TYPE:  text/plain \t", name, value);
  EXPECT_EQ(name, "content-type");
  EXPECT_EQ(value, "text/plain");
  T_Mime::SplitHeader("no colon", name, value);
  EXPECT_EQ(name, "");
  EXPECT_EQ(value, "");
  EXPECT_EQ(T_Mime::BoundaryOf("multipart/mixed; charset=\"x\"; BOUNDARY=\"a b\\\"c\""), "a b\"c");
  EXPECT_EQ(T_Mime::BoundaryOf("Multipart/Related;boundary=abc ; type=x"), "abc");
  // A quoted parameter of another kind is no boundary.
  EXPECT_EQ(T_Mime::BoundaryOf("text/plain; charset=\"us-ascii\""), "");
  EXPECT_EQ(T_Mime::BoundaryOf("text/plain; boundary=\"x\""), "");
  EXPECT_EQ(T_Mime::BoundaryOf("multipart/mixed"), "");
}

TEST(T_MimeParse, AMessageKeptAsOneTextSplitsAsTheSameLinesInAList) {
  const TStringList message = {"Content-Type: multipart/mixed;",
                               " boundary=b",
                               "",
                               "preamble",
                               "--b",
                               "Content-Type: text/plain",
                               "Content-Transfer-Encoding: quoted-printable",
                               "",
                               "soft=",
                               " break=3D",
                               "--b",
                               "Content-Type: application/octet-stream",
                               "Content-Transfer-Encoding: base64",
                               "",
                               "YW",
                               "JjZA=",
                               "YWJj",
                               "",
                               "--b",
                               "Content-Type: text/html;",
                               "\tcharset=utf-8",
                               "",
                               "<p>kept</p>",
                               "--b--"};
  TLineText text;
  for (const std::string &line : message)
    text.Append(line);
  T_Mime fromList, fromText;
  fromList.Parse(message);
  fromText.ParseText(text);
  const auto expectSame = [&fromList](const T_Mime &other, const std::string &how) {
    EXPECT_EQ(other.Boundary, fromList.Boundary) << how;
    ASSERT_EQ(other.Count(), fromList.Count()) << how;
    for (int i = 0; i < fromList.Count(); ++i) {
      const T_Attachment &a = *fromList.GetAttachment(i), &b = *other.GetAttachment(i);
      EXPECT_EQ(b.ContentType, a.ContentType) << how << i;
      EXPECT_EQ(b.Encoding, a.Encoding) << how << i;
      EXPECT_EQ(b.Data.Bytes(), a.Data.Bytes()) << how << i;
      EXPECT_EQ(b.Lines, a.Lines) << how << i;
    }
  };
  ASSERT_EQ(fromList.Count(), 4);
  expectSame(fromText, "text ");
  // Split as the lines arrive, the parser told of them every few characters
  // (a line, a folded header or a base64 group cut anywhere): the same parts.
  for (const std::size_t every : {1, 2, 5, 13, 4096}) {
    TLineText arriving;
    T_Mime pieces;
    T_Mime::Parser parser(pieces);
    std::size_t since = 0;
    for (const std::string &line : message) {
      for (const char c : line + '\n') {
        if (c == '\n')
          arriving.Close();
        else
          arriving.Text() += c;
        if (++since % every == 0)
          parser.More(arriving);
      }
    }
    parser.End(arriving);
    expectSame(pieces, "every " + std::to_string(every) + " characters, part ");
  }
  // A group runs on over a line end; "=" ends its line's data, and the
  // next line (padded on its own) decodes again.
  EXPECT_EQ(fromList.GetAttachment(2)->Data.Bytes(), "abcdabc");
  EXPECT_EQ(fromList.GetAttachment(1)->Lines, TStringList{"soft break="});
}

TEST(T_MimeParse, NestingIsBoundedAndAnOuterBoundaryEndsInnerParts) {
  // Tens of thousands of levels: no stack overflow and no rescanning (this
  // took minutes with a parser that read each level's lines again).
  constexpr int Depth = 100000;
  TLineText text;
  text.Append("Content-Type: multipart/mixed; boundary=b0");
  text.Append("");
  for (int k = 1; k <= Depth; ++k) {
    text.Append("--b" + std::to_string(k - 1));
    text.Append("Content-Type: multipart/mixed; boundary=b" + std::to_string(k));
    text.Append("");
  }
  text.Append("--b" + std::to_string(Depth));
  text.Append("Content-Type: text/plain");
  text.Append("");
  text.Append("deep");
  for (int k = Depth; k >= 0; --k)
    text.Append("--b" + std::to_string(k) + "--");
  T_Mime mime;
  mime.ParseText(text);
  ASSERT_EQ(mime.Count(), 1);
  // The multipart below the deepest one opened stays one part with its lines.
  const T_Attachment &leaf = *mime.GetAttachment(0);
  const std::string deepest = std::to_string(T_Mime::MaxNesting);
  EXPECT_EQ(leaf.ContentType, "multipart/mixed; boundary=b" + deepest);
  ASSERT_FALSE(leaf.Lines.empty());
  EXPECT_EQ(leaf.Lines.front(), "--b" + deepest);
  EXPECT_EQ(leaf.Lines.back(), "--b" + deepest + "--");

  // An inner multipart that never closes ends at its parent's next boundary.
  mime.Parse({"Content-Type: multipart/mixed; boundary=o", "", "--o",
              "Content-Type: multipart/alternative; boundary=i", "", "--i",
              "Content-Type: text/plain", "", "a", "", "--o", "Content-Type: text/html", "", "b",
              "--o--", "--i", "Content-Type: text/plain", "", "after the end"});
  ASSERT_EQ(mime.Count(), 2);
  EXPECT_EQ(mime.GetAttachment(0)->Lines, TStringList{"a"});
  EXPECT_EQ(mime.GetAttachment(1)->Lines, TStringList{"b"});
}

TEST(T_MimeSend, AttachmentsCodedWhileSentGoOutAsTheComposedMessageHasThem) {
  // Sizes around a base64 line (45 bytes) and around the pieces the client
  // codes at a time.
  Outgoing out;
  std::mt19937 rng(7);
  std::vector<std::string> files;
  for (const std::size_t size : {0u, 1u, 45u, 46u, 23580u, 23581u, 200000u}) {
    files.push_back(TempPath("coded" + std::to_string(size)));
    std::ofstream f(files.back(), std::ios::binary);
    for (std::size_t k = 0; k < size; ++k)
      f.put(static_cast<char>(rng()));
    f.close();
    out.mime.AddFile(files.back());
  }
  out.mail.Body = {"text", ".dot"};
  const TStringList sent = SendAccepted(out);
  const std::string boundary = out.mime.Boundary;

  // The same message composed whole, its boundary made the same.
  T_MailNews whole;
  whole.Header = {"X-Mailer: test"};
  whole.Body = out.mail.Body;
  out.mime.Mail = &whole;
  out.mime.Send();
  std::string text;
  for (const std::string &entry : whole.Composed) {
    // The line "." goes out stuffed.
    text += (entry.starts_with(".") ? "." : "") + entry + "\r\n";
  }
  TStringList expected = SplitLines(text);
  for (std::string &line : expected) {
    const std::size_t at = line.find(out.mime.Boundary);
    if (at != std::string::npos)
      line.replace(at, out.mime.Boundary.size(), boundary);
  }
  const auto from = [](const TStringList &lines) {
    return TStringList(std::find(lines.begin(), lines.end(), "MIME-Version: 1.0"), lines.end());
  };
  ASSERT_GT(from(expected).size(), 4000u);
  EXPECT_TRUE(from(sent) == from(expected));
  for (const std::string &file : files)
    std::remove(file.c_str());
}

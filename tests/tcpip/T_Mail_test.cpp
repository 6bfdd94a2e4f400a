#include "tcpip/T_Mail.h"

#include "support/FakeServer.h"
#include "support/SmtpDialogue.h"
#include "support/Transcript.h"
#include "tcpip/T_SMTP.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

bool Has(const std::vector<std::string> &lines, const std::string &line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string HeaderValue(const std::vector<std::string> &lines, const std::string &name) {
  for (const std::string &l : lines)
    if (l.starts_with(name + ": "))
      return l.substr(name.size() + 2);
  return {};
}

} // namespace

TEST(T_MailCompose, ListsToAndCcHidesBccAndHandsEveryoneToTheEnvelope) {
  T_SMTP smtp;
  T_Mail mail;
  mail.SMTP = &smtp;
  mail.From = "Anna <anna@example.org>";
  mail.Sender = "office@example.org";
  mail.Recipients = {"bob@example.org, carl@example.org"};
  mail.CC = {"dora@example.org"};
  mail.BCC = {"eve@example.org"};
  mail.ReplyTo = "replies@example.org";
  mail.Header = {"X-Mailer: test"};
  mail.Body = {"hello"};
  FakeServer server;
  AcceptOneMessage(server, 4);
  smtp.Hostname = "127.0.0.1";
  smtp.RemotePort = server.Port();
  mail.Compose();
  ASSERT_TRUE(server.Join());
  const std::vector<std::string> lines = server.Lines();
  EXPECT_EQ(transcript::Line(lines, "MAIL FROM"), "MAIL FROM: <office@example.org>");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 6),
            (std::vector<std::string>{"RCPT TO: <bob@example.org>", "RCPT TO: <carl@example.org>",
                                      "RCPT TO: <dora@example.org>", "RCPT TO: <eve@example.org>"}));
  const std::vector<std::string> text(lines.begin() + 7, lines.end() - 1);
  EXPECT_EQ(text[0], "From: Anna <anna@example.org>");
  EXPECT_TRUE(text[1].starts_with("Message-ID: <"));
  EXPECT_TRUE(text[2].starts_with("Date: "));
  EXPECT_EQ(text[3], "Subject: ");
  EXPECT_EQ(std::vector<std::string>(text.begin() + 4, text.end()),
            (std::vector<std::string>{"To: bob@example.org, carl@example.org", "CC: dora@example.org",
                                      "Sender: office@example.org", "Reply-To: replies@example.org",
                                      "X-Mailer: test", "", "hello"}));
  for (const std::string &l : text)
    EXPECT_EQ(l.find("eve@"), std::string::npos) << l;
  EXPECT_TRUE(mail.Composed.empty());
  EXPECT_TRUE(smtp.MailFrom.empty());
}

TEST(T_MailCompose, HiddenRecipientsStillReceiveTheMessage) {
  T_SMTP smtp;
  T_Mail mail;
  mail.SMTP = &smtp;
  mail.From = "anna@example.org";
  mail.Recipients = {"bob@example.org", "carl@example.org"};
  mail.Disclose_Receipts = true;
  FakeServer server;
  AcceptOneMessage(server, 2);
  smtp.Hostname = "127.0.0.1";
  smtp.RemotePort = server.Port();
  mail.Compose();
  ASSERT_TRUE(server.Join());
  const std::vector<std::string> lines = server.Lines();
  EXPECT_TRUE(Has(lines, "RCPT TO: <carl@example.org>"));
  EXPECT_EQ(transcript::Count(lines, "To: "), 1);
  EXPECT_TRUE(Has(lines, "To: disclosed recipients list"));
}

TEST(T_MailCompose, WithoutRecipientsOrSenderNothingHappens) {
  T_SMTP smtp;
  T_Mail mail;
  mail.SMTP = &smtp;
  mail.From = "anna@example.org";
  EXPECT_NO_THROW(mail.Compose());
  mail.Recipients = {"bob@example.org"};
  mail.From.clear();
  EXPECT_NO_THROW(mail.Compose());
  mail.SMTP = nullptr;
  EXPECT_NO_THROW(mail.Compose());
  EXPECT_FALSE(smtp.Connected);
}

TEST(T_MailCompose, TwoMessagesInOneSecondHaveTheirOwnIds) {
  T_SMTP smtp;
  T_Mail mail;
  mail.SMTP = &smtp;
  mail.From = "anna@example.org";
  mail.Recipients = {"bob@example.org"};
  std::string ids[2];
  for (std::string &id : ids) {
    FakeServer server;
    AcceptOneMessage(server, 1);
    smtp.Hostname = "127.0.0.1";
    smtp.RemotePort = server.Port();
    mail.Compose();
    ASSERT_TRUE(server.Join());
    id = HeaderValue(server.Lines(), "Message-ID");
  }
  EXPECT_NE(ids[0], ids[1]);
  for (const std::string &id : ids) {
    ASSERT_GE(id.size(), 4u);
    const std::string digits = id.substr(1, id.find('@') - 1);
    EXPECT_TRUE(std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        << id;
    EXPECT_EQ(id.back(), '>');
  }
}

TEST(T_MailNewsCompose, PutsTheStandardHeadersFirst) {
  T_MailNews news;
  news.From = "a@example.org";
  news.Subject = "s";
  news.References = "<r@x>";
  news.Composed = {"To: b@example.org"};
  news.Body = {"body"};
  news.Compose();
  ASSERT_EQ(news.Composed.size(), 8u);
  EXPECT_EQ(news.Composed[0], "From: a@example.org");
  EXPECT_EQ(news.Composed[3], "Subject: s");
  EXPECT_EQ(news.Composed[4], "To: b@example.org");
  EXPECT_EQ(news.Composed[5], "References: <r@x>");
  EXPECT_EQ(news.Composed[6], "");
  EXPECT_EQ(news.Composed[7], "body");
}

#include "tcpip/MailAuth.h"

#include "ip_misc/ip_misc.h"

#include <gtest/gtest.h>

TEST(MailAuth, BuildsEachMechanismsResponse) {
  // The worked examples of the mechanisms' own definitions.
  EXPECT_EQ(CramMd5Response("tim", "tanstaaftanstaaf",
                            "PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+"),
            "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");
  EXPECT_EQ(ApopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf"),
            "c4c9334bac560ecc979e58001b3e22fb");
  EXPECT_EQ(Base64DecodeText(PlainResponse("anna", "s\xc3\xa9"
                                                   "cret")),
            std::string("\0anna\0s\xc3\xa9"
                        "cret",
                        13));
  EXPECT_EQ(XOAuth2Response("anna@example.org", "ya29.token"),
            "dXNlcj1hbm5hQGV4YW1wbGUub3JnAWF1dGg9QmVhcmVyIHlhMjkudG9rZW4BAQ==");
}

TEST(MailAuth, FindsTheGreetingsTimeStamp) {
  EXPECT_EQ(GreetingTimestamp("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>"),
            "<1896.697170952@dbc.mtview.ca.us>");
  EXPECT_EQ(GreetingTimestamp("+OK Dovecot ready. <2a.1.6571@host> more"), "<2a.1.6571@host>");
  EXPECT_EQ(GreetingTimestamp("+OK ready"), "");
  EXPECT_EQ(GreetingTimestamp("+OK <no stamp here>"), "");
  EXPECT_EQ(GreetingTimestamp("+OK <1.2@never closed"), "");
}

TEST(MailAuth, ReadsTheOfferedMechanisms) {
  const TStringList ehlo = {"SIZE 1000000", "auth login  PLAIN", "AUTH=LOGIN CRAM-MD5", "8BITMIME",
                            "AUTHENTICATE X"};
  EXPECT_EQ(OfferedMechanisms(ehlo), (TStringList{"LOGIN", "PLAIN", "CRAM-MD5"}));
  EXPECT_TRUE(OfferedMechanisms({"SIZE 10", "AUTH"}).empty());
}

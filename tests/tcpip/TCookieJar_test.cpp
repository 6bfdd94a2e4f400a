#include "tcpip/TCookieJar.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::int64_t Now = 1750000000; // June 2025

TCookieJar::TOrigin At(const std::string &host, const std::string &path = "/", bool secure = false) {
  return {secure, host, path};
}

// The public-suffix rules: listed names, wildcards and their exceptions,
// and every top-level domain, listed or not.
TEST(TPublicSuffixList, RulesWildcardsAndExceptions) {
  for (const TPublicSuffixList &list : {TPublicSuffixList::BuiltIn(), *TPublicSuffixList::Load()}) {
    for (const char *suffix : {"com", "co.uk", "github.io", "anything.ck", "unlisted"})
      EXPECT_TRUE(list.IsPublicSuffix(suffix)) << suffix;
    for (const char *name : {"example.com", "example.co.uk", "me.github.io", "www.ck", "a.b.unlisted"})
      EXPECT_FALSE(list.IsPublicSuffix(name)) << name;
  }
  TPublicSuffixList parsed;
  parsed.Parse("// comment\n\nexample\n*.wild.example\n!keep.wild.example extra words\n");
  EXPECT_EQ(parsed.Rules(), 3u);
  EXPECT_TRUE(parsed.IsPublicSuffix("x.wild.example"));
  EXPECT_FALSE(parsed.IsPublicSuffix("keep.wild.example"));
  EXPECT_FALSE(parsed.IsPublicSuffix("wild.example"));
}

TEST(TCookieJar, CookieDates) {
  std::int64_t t = 0;
  ASSERT_TRUE(TCookieJar::ParseDate("Wed, 09 Jun 2021 10:18:14 GMT", t));
  EXPECT_EQ(t, 1623233894);
  ASSERT_TRUE(TCookieJar::ParseDate("Sunday, 06-Nov-94 08:49:37 GMT", t));
  EXPECT_EQ(t, 784111777);
  ASSERT_TRUE(TCookieJar::ParseDate("Sun Nov  6 8:49:37 1994", t));
  EXPECT_EQ(t, 784111777);
  ASSERT_TRUE(TCookieJar::ParseDate("29 feb 2024 00:00:00", t));
  for (const char *bad : {"30 Feb 2024 00:00:00", "1 Jan 1600 00:00:00", "1 Jan 2020 24:00:00",
                          "Jan 2020 10:00:00", "1 Jan 2020", "", "tomorrow"})
    EXPECT_FALSE(TCookieJar::ParseDate(bad, t)) << bad;
}

// What a server may set (RFC 6265, section 5.3) and what goes back to whom
// (section 5.4).
TEST(TCookieJar, StoresAndSendsByTheRules) {
  TCookieJar jar;
  const auto shop = At("www.shop.example.com", "/cart/view");
  EXPECT_TRUE(jar.Store("host=1", shop, Now));
  EXPECT_TRUE(jar.Store("dom=2; Domain=.Example.COM; Path=/", shop, Now));
  EXPECT_TRUE(jar.Store("deep=3; path=/cart/view/", shop, Now));
  EXPECT_TRUE(jar.Store("sec=4; Secure; Domain=shop.example.com", At("shop.example.com", "/", true), Now));
  EXPECT_TRUE(jar.Store("old=5; Max-Age=60; Expires=Wed, 09 Jun 2021 10:18:14 GMT", shop, Now));
  // Refused: a public suffix, another site, Secure from clear text, no name.
  for (const char *refused : {"a=1; Domain=com", "a=1; Domain=co.uk", "a=1; Domain=other.example",
                              "a=1; Secure", "noequals", "=v", "a=b\x01" "c", "a=1; Path=/x\x01" "y"})
    EXPECT_FALSE(jar.Store(refused, shop, Now)) << refused;
  // A host that is itself a public suffix keeps its cookie for itself.
  EXPECT_TRUE(jar.Store("self=1; Domain=github.io", At("github.io"), Now));
  EXPECT_EQ(jar.Header(At("github.io"), Now), "self=1");
  EXPECT_EQ(jar.Header(At("x.github.io"), Now), "");

  EXPECT_EQ(jar.Header(shop, Now), "host=1; old=5; dom=2");
  EXPECT_EQ(jar.Header(At("www.shop.example.com", "/cart/view/x"), Now), "deep=3; host=1; old=5; dom=2");
  EXPECT_EQ(jar.Header(At("example.com", "/cartoon"), Now), "dom=2");
  EXPECT_EQ(jar.Header(At("a.shop.example.com", "/", true), Now), "dom=2; sec=4");
  EXPECT_EQ(jar.Header(shop, Now + 61), "host=1; dom=2");
  // Not pushed aside from clear text; replaced in place, then deleted.
  EXPECT_FALSE(jar.Store("sec=evil; Domain=shop.example.com", shop, Now));
  EXPECT_FALSE(jar.Store("host=1", shop, Now));
  EXPECT_TRUE(jar.Store("host=new", shop, Now));
  EXPECT_EQ(jar.Header(At("www.shop.example.com", "/cart/"), Now), "host=new; old=5; dom=2");
  EXPECT_TRUE(jar.Store("host=; Max-Age=0", shop, Now));
  EXPECT_FALSE(jar.Store("gone=1; Expires=Thu, 01 Jan 1970 00:00:01 GMT", shop, Now));
  EXPECT_EQ(jar.Header(At("www.shop.example.com", "/cart/"), Now), "old=5; dom=2");
  // Addresses match only themselves.
  EXPECT_TRUE(jar.Store("ip=1; Domain=127.0.0.1", At("127.0.0.1"), Now));
  EXPECT_EQ(jar.Header(At("127.0.0.1"), Now), "ip=1");
  EXPECT_FALSE(jar.Store("ip=1; Domain=0.0.1", At("127.0.0.1"), Now));
}

// The jar file: what curl writes is read, what is written reads back the
// same; lines that are no cookie are passed over; a server cannot make it
// grow without bound.
TEST(TCookieJar, NetscapeFilesAndLimits) {
  TCookieJar jar;
  jar.Parse("# Netscape HTTP Cookie File\n"
            ".example.com\tTRUE\t/\tFALSE\t0\tsession\tv1\n"
            "#HttpOnly_www.example.com\tFALSE\t/a\tTRUE\t4102444800\tsecret\tv2\r\n"
            "example.com\tFALSE\t/\tFALSE\t1\texpired\tx\n"
            "example.com\tFALSE\t/\tFALSE\t4102444800\tnovalue\n"
            "broken line\n"
            "example.com\tFALSE\t/\tFALSE\tsoon\tbad\tx\n",
            Now);
  ASSERT_EQ(jar.Cookies().size(), 3u);
  EXPECT_FALSE(jar.Cookies()[0].HostOnly);
  EXPECT_TRUE(jar.Cookies()[1].HttpOnly && jar.Cookies()[1].Secure && jar.Cookies()[1].HostOnly);
  EXPECT_EQ(jar.Header(At("www.example.com", "/a", true), Now), "secret=v2; session=v1");
  EXPECT_EQ(jar.Header(At("example.com", "/a", true), Now), "session=v1; novalue=");
  const std::string text = jar.Format(Now);
  EXPECT_NE(text.find("\n.example.com\tTRUE\t/\tFALSE\t0\tsession\tv1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n#HttpOnly_www.example.com\tFALSE\t/a\tTRUE\t4102444800\tsecret\tv2\n"),
            std::string::npos) << text;
  TCookieJar again;
  again.Parse(text, Now);
  EXPECT_EQ(again.Format(Now), text);

  for (std::size_t i = 0; i < TCookieJar::MaxPerDomain + 5; ++i)
    jar.Store("c" + std::to_string(i) + "=1", At("many.example.org"), Now);
  EXPECT_EQ(jar.Header(At("many.example.org"), Now).find("c4="), std::string::npos);
  EXPECT_NE(jar.Header(At("many.example.org"), Now).find("c5="), std::string::npos);
  EXPECT_FALSE(jar.Store("big=" + std::string(TCookieJar::MaxCookieBytes, 'x'), At("a.example"), Now));
}

} // namespace

#include "platform/Socket.h"

#include <gtest/gtest.h>

#include <string>

using platform::FormatAddress;
using platform::FormatAddressPort;
using platform::ParseAddress;
using platform::SocketAddress;

namespace {

std::string RoundTrip(const std::string &text) {
  SocketAddress a;
  if (!ParseAddress(text, a))
    return "refused";
  return FormatAddress(a);
}

// IPv6 comes back as RFC 5952 writes it: lower case, no leading zeros, the
// longest run of two or more zero groups (the first of equal ones) as "::";
// an IPv4-mapped address as the IPv4 address it carries.
TEST(SocketAddress, ParsesAndFormatsBothFamilies) {
  EXPECT_EQ(RoundTrip("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(RoundTrip("::1"), "::1");
  EXPECT_EQ(RoundTrip("::"), "::");
  EXPECT_EQ(RoundTrip("2001:0DB8:0000:0000:0000:0000:0000:0001"), "2001:db8::1");
  EXPECT_EQ(RoundTrip("2001:db8:0:0:1:0:0:1"), "2001:db8::1:0:0:1");
  EXPECT_EQ(RoundTrip("2001:db8:0:1:0:0:0:1"), "2001:db8:0:1::1");
  EXPECT_EQ(RoundTrip("2001:db8:0:1:2:3:4:5"), "2001:db8:0:1:2:3:4:5");
  EXPECT_EQ(RoundTrip("fe80::1:0:0"), "fe80::1:0:0");
  EXPECT_EQ(RoundTrip("1:0:0:0:0:0:0:0"), "1::");
  EXPECT_EQ(RoundTrip("::ffff:192.0.2.7"), "192.0.2.7");
  EXPECT_EQ(RoundTrip("::ffff:c000:207"), "192.0.2.7");
  EXPECT_EQ(RoundTrip("fe80::1%7"), "fe80::1%7");
  for (const char *bad : {"", "[::1]", "::1::2", "1:2:3:4:5:6:7:8:9", "12345::", "::g",
                          "255.255.255.255", "host"})
    EXPECT_EQ(RoundTrip(bad), "refused") << bad;

  SocketAddress v6, v4, mapped;
  ASSERT_TRUE(ParseAddress("::1", v6));
  ASSERT_TRUE(ParseAddress("127.0.0.1", v4));
  ASSERT_TRUE(ParseAddress("::ffff:127.0.0.1", mapped));
  v6.Port = 8080;
  v4.Port = 21;
  EXPECT_EQ(FormatAddressPort(v6), "[::1]:8080");
  EXPECT_EQ(FormatAddressPort(v4), "127.0.0.1:21");
  EXPECT_TRUE(mapped.SameHost(v4));
  EXPECT_TRUE(v4.SameHost(mapped));
  EXPECT_FALSE(v6.SameHost(v4));
  EXPECT_EQ(mapped.V4Address(), v4.V4Address());
}

} // namespace

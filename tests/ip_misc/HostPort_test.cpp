#include "ip_misc/HostPort.h"

#include "ip_misc/Errors.h"

#include <gtest/gtest.h>

namespace {

std::string Read(std::string_view operand) {
  const THostPort hp = SplitHostPort(operand, 21);
  return hp.Host + " " + std::to_string(hp.Port);
}

} // namespace

TEST(HostPort, OneRuleForEveryServerOperand) {
  EXPECT_EQ(Read("files.example"), "files.example 21");
  EXPECT_EQ(Read("files.example:"), "files.example 21");
  EXPECT_EQ(Read("127.0.0.1:2121"), "127.0.0.1 2121");
  EXPECT_EQ(Read("h:00080"), "h 80");
  EXPECT_EQ(Read("h:65535"), "h 65535");
  EXPECT_EQ(Read(":1"), " 1");
  EXPECT_EQ(Read(""), " 21");
  // IPv6: bare without a port, in brackets with or without one.
  EXPECT_EQ(Read("::1"), "::1 21");
  EXPECT_EQ(Read("fe80::1:2"), "fe80::1:2 21");
  EXPECT_EQ(Read("[::1]"), "::1 21");
  EXPECT_EQ(Read("[::1]:"), "::1 21");
  EXPECT_EQ(Read("[::1]:8080"), "::1 8080");
  for (const char *bad : {"h:0", "h:65536", "h:99999999999", "h:ftp", "h:+21", "h:-1", "h: 21",
                          "h:0x15", "[::1", "[::1]8080", "[::1]:x", "[::1]:0"})
    EXPECT_THROW(SplitHostPort(bad, 21), EConvertError) << bad;
}

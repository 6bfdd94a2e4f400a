#include "tcpip/T_Time.h"

#include "support/FakeServer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TDateTime Query(const std::string &reply, bool trickle = false) {
  FakeServer server;
  if (trickle)
    server.Trickle(reply).Close();
  else
    server.Send(reply).Close();
  server.Start();
  T_Time time;
  time.Hostname = "127.0.0.1";
  time.RemotePort = server.Port();
  time.Action();
  server.Join();
  EXPECT_FALSE(time.Connected);
  return time.Time;
}

TEST(T_Time, ReadsTheFirstFourBytesBigEndian) {
  EXPECT_EQ(Query(std::string(4, '\0')), 2.0);
  EXPECT_EQ(Query(std::string("\x00\x01\x51\x80", 4)), 3.0);
  EXPECT_EQ(Query(std::string("\x00\x01\x51\x80", 4), true), 3.0);
  // Bytes after the fourth are not part of the number.
  EXPECT_EQ(Query(std::string("\x00\x01\x51\x80\xFF\xFF", 6)), 3.0);
  // 8 December 2026 18:00:00 UTC.
  EXPECT_EQ(DateTimeToStr(Query(std::string("\xEE\xC2\xC4\x20", 4))), "2026-12-08 18:00:00");
}

TEST(T_Time, ShortRepliesFailAndKeepTheLastTime) {
  T_Time time;
  time.Time = 123.5;
  for (const std::string &reply : {std::string(), std::string("\x00\x01", 2)}) {
    FakeServer server;
    server.Send(reply).Close();
    server.Start();
    time.Hostname = "127.0.0.1";
    time.RemotePort = server.Port();
    try {
      time.Action();
      FAIL() << "a short reply was taken";
    } catch (const EProtocolError &e) {
      EXPECT_EQ(std::string(e.what()), "Time server closed the connection after " +
                                           std::to_string(reply.size()) + " of 4 bytes");
    }
    server.Join();
  }
  EXPECT_EQ(time.Time, 123.5);
  EXPECT_FALSE(time.Connected);
}

} // namespace

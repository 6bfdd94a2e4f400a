#include "commands/TimeFamily.h"

#include "support/FakeServer.h"
#include "support/LibraryTest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using TimeFamily = LibraryTest;

TEST_F(TimeFamily, TimeBinaryAndOffset) {
  // Before any query the time is 0.
  EXPECT_EQ(Function({"TIME", "BINARY"}), "0");
  EXPECT_EQ(std::stoll(Function({"TIME", "OFFSET"})) < -3000000000LL, true);

  FakeServer first;
  first.Send(std::string(4, '\0')).Close();
  first.Start();
  EXPECT_EQ(Function({"TIME", "time", first.Address()}), "1900-01-01");
  EXPECT_EQ(Function({"TIME", "BINARY"}), "2");
  first.Join();

  FakeServer second;
  second.Send(std::string("\x00\x01\x51\x80", 4)).Close();
  second.Start();
  EXPECT_EQ(Function({"TIME", "TIME", second.Address()}), "1900-01-02");
  EXPECT_EQ(Function({"TIME", "BINARY"}), "3");
  second.Join();

  FakeServer shortReply;
  shortReply.Send("ab").Close();
  shortReply.Start();
  EXPECT_EQ(Function({"TIME", "TIME", shortReply.Address()}), "");
  EXPECT_EQ(lib.StatProc(), 206);
  EXPECT_EQ(Function({"IPERROR"}), "Time server closed the connection after 2 of 4 bytes");
  EXPECT_EQ(Function({"TIME", "BINARY"}), "3");
  shortReply.Join();

  EXPECT_EQ(Function({"TIME", "TIME", ""}), "");
  EXPECT_EQ(Function({"IPERROR"}), "Couldn't resolve hostname ");
  EXPECT_EQ(Function({"TIME"}), "");
  EXPECT_EQ(lib.StatProc(), 13);
}

} // namespace

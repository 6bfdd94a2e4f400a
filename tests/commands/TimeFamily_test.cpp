#include "commands/TimeFamily.h"

#include "host/Library.h"
#include "support/Block.h"
#include "support/FakeServer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Func(Library &lib, std::initializer_list<std::string> texts) {
  return lib.FuncProc(Block(texts).data());
}

TEST(TimeFamily, TimeBinaryAndOffset) {
  Library lib(0, nullptr);
  // Before any query the time is 0.
  EXPECT_EQ(Func(lib, {"TIME", "BINARY"}), "0");
  EXPECT_EQ(std::stoll(Func(lib, {"TIME", "OFFSET"})) < -3000000000LL, true);

  FakeServer first;
  first.Send(std::string(4, '\0')).Close();
  first.Start();
  EXPECT_EQ(Func(lib, {"TIME", "time", first.Address()}), "1900-01-01");
  EXPECT_EQ(Func(lib, {"TIME", "BINARY"}), "2");
  first.Join();

  FakeServer second;
  second.Send(std::string("\x00\x01\x51\x80", 4)).Close();
  second.Start();
  EXPECT_EQ(Func(lib, {"TIME", "TIME", second.Address()}), "1900-01-02");
  EXPECT_EQ(Func(lib, {"TIME", "BINARY"}), "3");
  second.Join();

  FakeServer shortReply;
  shortReply.Send("ab").Close();
  shortReply.Start();
  EXPECT_EQ(Func(lib, {"TIME", "TIME", shortReply.Address()}), "");
  EXPECT_EQ(lib.StatProc(), 206);
  EXPECT_EQ(Func(lib, {"IPERROR"}), "Time server closed the connection after 2 of 4 bytes");
  EXPECT_EQ(Func(lib, {"TIME", "BINARY"}), "3");
  shortReply.Join();

  EXPECT_EQ(Func(lib, {"TIME", "TIME", ""}), "");
  EXPECT_EQ(Func(lib, {"IPERROR"}), "Couldn't resolve hostname ");
  EXPECT_EQ(Func(lib, {"TIME"}), "");
  EXPECT_EQ(lib.StatProc(), 13);
}

} // namespace

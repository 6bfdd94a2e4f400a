#include "commands/FtpFamily.h"

#include "host/Library.h"
#include "support/Block.h"
#include "support/FakeServer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Func(Library &lib, std::initializer_list<std::string> texts) {
  return lib.FuncProc(Block(texts).data());
}

// GETDIR, then DIRENTRY until the empty text: every entry once, as
// kind|name|size|date text|day number.
TEST(FtpFamily, DirectoryEntries) {
  FakeServer data;
  data.Send("total 2\r\n"
            "drwxr-xr-x 2 u g 4096 Jan 15  2003 .\r\n"
            "-rw-r--r-- 1 u g 1234 Jan 15  2003 read me.txt\r\n"
            "lrwxrwxrwx 1 u g 7 Jan 15  2003 bin -> usr/bin\r\n"
            "01-15-03  12:00PM       <DIR>          pub\r\n")
      .Close();
  data.Start();
  FakeServer control;
  const std::uint16_t p = data.Port();
  control.Send("220 hi\r\n")
      .ReadLine().Send("331 pass\r\n")
      .ReadLine().Send("230 in\r\n")
      .ReadLine().Send("200 I\r\n")
      .ReadLine().Send("229 (|||" + std::to_string(p) + "|)\r\n")
      .ReadLine().Send("200 A\r\n")
      .ReadLine().Send("150 list\r\n226 ok\r\n")
      .ReadLine().Send("200 I\r\n")
      .Close();
  control.Start();

  Library lib(0, nullptr);
  ASSERT_EQ(lib.CommandProc(Block({"FTP", "LOGON", control.Address()}).data()), 0);
  ASSERT_EQ(lib.CommandProc(Block({"FTP", "GETDIR", "/pub"}).data()), 0);
  EXPECT_EQ(Func(lib, {"FTP", "DIRENTRY"}), "FILE|read me.txt|1234|2003-01-15|37636");
  EXPECT_EQ(Func(lib, {"FTP", "direntry"}), "LINK|bin|7|2003-01-15|37636");
  EXPECT_EQ(Func(lib, {"FTP", "DIRENTRY"}), "DIR|pub|0|2003-01-15 12:00:00|37636.5");
  EXPECT_EQ(Func(lib, {"FTP", "DIRENTRY"}), "");
  EXPECT_EQ(lib.StatProc(), 0);
  EXPECT_EQ(Func(lib, {"FTP", "NEXT"}), "");
  EXPECT_EQ(lib.StatProc(), 13);
  EXPECT_TRUE(control.Join());
  EXPECT_EQ(control.Lines()[5], "LIST /pub");
  data.Join();
}

TEST(FtpFamily, FailuresGiveTheirCodes) {
  Library lib(0, nullptr);
  EXPECT_EQ(lib.CommandProc(Block({"FTP", "DOWNLOAD", "a", "b"}).data()), 206);
  EXPECT_EQ(Func(lib, {"IPERROR"}), "Couldn't resolve hostname ");
  EXPECT_EQ(lib.CommandProc(Block({"FTP", "PUT"}).data()), 14);
  EXPECT_EQ(lib.CommandProc(Block({"FTP", "LOGON", "127.0.0.1:x"}).data()), 25);
  EXPECT_EQ(lib.CommandProc(Block({"FTP", "UPLOAD", "/no/such/file", "x"}).data()), 240);
  EXPECT_EQ(lib.CommandProc(Block({"FTP", "LOGOFF"}).data()), 0);
}

} // namespace

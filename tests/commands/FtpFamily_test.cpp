#include "commands/FtpFamily.h"

#include "support/FakeServer.h"
#include "support/LibraryTest.h"
#include "support/Transcript.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using FtpFamily = LibraryTest;

// GETDIR, then DIRENTRY until the empty text: every entry once, as
// kind|name|size|date text|day number.
TEST_F(FtpFamily, DirectoryEntries) {
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

  ASSERT_EQ(Command({"FTP", "LOGON", control.Address()}), 0);
  ASSERT_EQ(Command({"FTP", "GETDIR", "/pub"}), 0);
  EXPECT_EQ(Function({"FTP", "DIRENTRY"}), "FILE|read me.txt|1234|2003-01-15|37636");
  EXPECT_EQ(Function({"FTP", "direntry"}), "LINK|bin|7|2003-01-15|37636");
  EXPECT_EQ(Function({"FTP", "DIRENTRY"}), "DIR|pub|0|2003-01-15 12:00:00|37636.5");
  EXPECT_EQ(Function({"FTP", "DIRENTRY"}), "");
  EXPECT_EQ(lib.StatProc(), 0);
  EXPECT_EQ(Function({"FTP", "NEXT"}), "");
  EXPECT_EQ(lib.StatProc(), 13);
  EXPECT_TRUE(control.Join());
  EXPECT_EQ(transcript::Line(control.Lines(), "LIST"), "LIST /pub");
  data.Join();
}

TEST_F(FtpFamily, FailuresGiveTheirCodes) {
  EXPECT_EQ(Command({"FTP", "DOWNLOAD", "a", "b"}), 206);
  EXPECT_EQ(Function({"IPERROR"}), "Couldn't resolve hostname ");
  EXPECT_EQ(Command({"FTP", "PUT"}), 14);
  EXPECT_EQ(Command({"FTP", "LOGON", "127.0.0.1:x"}), 25);
  EXPECT_EQ(Command({"FTP", "UPLOAD", "/no/such/file", "x"}), 240);
  EXPECT_EQ(Command({"FTP", "LOGOFF"}), 0);
}

} // namespace

#include "tcpip/FtpListParser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

const std::string CorpusDir = std::string(SCRIPTNET_SOURCE_DIR) + "/tests/tcpip/FtpListCorpus/";

std::string KindText(std::uint8_t kind) {
  switch (kind) {
  case fkDirectory: return "DIR";
  case fkFile: return "FILE";
  case fkLink: return "LINK";
  default: return "NONE";
  }
}

// 15 June 2026, 12:00 local: far enough from New Year for the year-less cases.
const TDateTime June2026 = EncodeDate(2026, 6, 15) + 0.5;

TEST(FtpListParser, CorpusLinesGiveKindNameAndSize) {
  std::ifstream in(CorpusDir + "ftp_list_cases.txt", std::ios::binary);
  ASSERT_TRUE(in) << "corpus missing";
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    const std::size_t tab = line.rfind('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    const t_filedata rec = ParseDirLine(line.substr(0, tab), June2026);
    const std::string got = KindText(rec.Kind) + "|" + rec.Name + "|" + std::to_string(rec.Size);
    EXPECT_EQ(got, line.substr(tab + 1)) << "line: " << line.substr(0, tab);
    ++checked;
  }
  EXPECT_GT(checked, 200);
}

TEST(FtpListParser, UnixDatesWithYearAndWithTime) {
  t_filedata rec =
      ParseDirLine("-rw-r--r--  1 user group 1234 Mar  3  2001 readme.txt", June2026);
  EXPECT_EQ(rec.Kind, fkFile);
  EXPECT_EQ(rec.Name, "readme.txt");
  EXPECT_EQ(rec.Size, 1234);
  EXPECT_EQ(DateTimeToStr(rec.Date), "2001-03-03");

  // A time and no year: this year when that is not later than now...
  rec = ParseDirLine("-rw-r--r--  1 user group 1234 Mar  3 14:05 readme.txt", June2026);
  EXPECT_EQ(DateTimeToStr(rec.Date), "2026-03-03 14:05:00");
  // ...and last year when this year's date would lie in the future.
  rec = ParseDirLine("-rw-r--r--  1 user group 1234 Dec 24 18:00 gifts.txt", June2026);
  EXPECT_EQ(DateTimeToStr(rec.Date), "2025-12-24 18:00:00");
  // A file written moments ago on a server whose clock runs slightly ahead.
  rec = ParseDirLine("-rw-r--r--  1 user group 1 Jun 15 13:00 new.txt", June2026);
  EXPECT_EQ(DateTimeToStr(rec.Date), "2026-06-15 13:00:00");
  // 29 February without a year goes back to the last leap year before now.
  rec = ParseDirLine("-rw-r--r--  1 user group 1 Feb 29 10:00 leap", June2026);
  EXPECT_EQ(DateTimeToStr(rec.Date), "2024-02-29 10:00:00");
}

TEST(FtpListParser, NamesWithBlanksLinksAndOddColumns) {
  t_filedata rec = ParseDirLine(
      "drwxr-xr-x    3 110      1002            3 Dec 02  2009 spaces   dir   name", June2026);
  EXPECT_EQ(rec.Kind, fkDirectory);
  EXPECT_EQ(rec.Name, "spaces   dir   name");
  EXPECT_EQ(DateTimeToStr(rec.Date), "2009-12-02");

  rec = ParseDirLine("lrwxrwxrwx   1 root     other          7 Jan 25 00:17 bin -> usr/bin",
                     June2026);
  EXPECT_EQ(rec.Kind, fkLink);
  EXPECT_EQ(rec.Name, "bin");
  EXPECT_EQ(rec.Size, 7);
  EXPECT_EQ(DateTimeToStr(rec.Date), "2026-01-25 00:17:00");

  // A name that itself looks like a date column stays whole.
  rec = ParseDirLine("-rw-r--r--   1 ftpuser  ftpusers 12 Mar 17 11:07 x Jan 1 2000 y", June2026);
  EXPECT_EQ(rec.Name, "x Jan 1 2000 y");

  // Sizes beyond 32 bits.
  rec = ParseDirLine("-rw-r--r--   1 u g 5000000000 Mar  2 2014 big.iso", June2026);
  EXPECT_EQ(rec.Size, 5000000000LL);

  // Impossible dates keep the entry, without a date.
  rec = ParseDirLine("drwxr-xr-x   2 root     root         4096 Aug 36  2001 zztpp", June2026);
  EXPECT_EQ(rec.Kind, fkDirectory);
  EXPECT_EQ(rec.Date, 0);

  // Line ends left over from the wire do not end up in the name.
  rec = ParseDirLine("-rw-r--r--   1 u g 1 Mar  2 2014 crlf.txt\r", June2026);
  EXPECT_EQ(rec.Name, "crlf.txt");
}

TEST(FtpListParser, DosLines) {
  t_filedata rec = ParseDirLine("01-15-03  10:30AM       <DIR>          pub");
  EXPECT_EQ(rec.Kind, fkDirectory);
  EXPECT_EQ(rec.Name, "pub");
  EXPECT_EQ(rec.Size, 0);
  EXPECT_EQ(DateTimeToStr(rec.Date), "2003-01-15 10:30:00");

  rec = ParseDirLine("01-15-03  10:30PM                 1234 a.txt");
  EXPECT_EQ(rec.Kind, fkFile);
  EXPECT_EQ(rec.Size, 1234);
  EXPECT_EQ(DateTimeToStr(rec.Date), "2003-01-15 22:30:00");

  // One space between <DIR> and the name.
  rec = ParseDirLine("01-15-03  10:30AM <DIR> pub");
  EXPECT_EQ(rec.Kind, fkDirectory);
  EXPECT_EQ(rec.Name, "pub");

  EXPECT_EQ(DateTimeToStr(ParseDirLine("12-25-10  12:00AM <DIR> x").Date), "2010-12-25");
  EXPECT_EQ(DateTimeToStr(ParseDirLine("12-25-10  12:00PM <DIR> x").Date),
            "2010-12-25 12:00:00");
  EXPECT_EQ(DecodeDateTime(ParseDirLine("01-06-79  02:42AM 458 c").Date).Year, 2079 - 100);
  EXPECT_EQ(DecodeDateTime(ParseDirLine("01-06-2069  02:42AM 458 c").Date).Year, 2069);
}

TEST(FtpListParser, LinesThatAreNoEntries) {
  for (const char *line : {"total 14", "", "Welcome to the server", "-rw", "d",
                           "-rw-r--r-- 1 u g 1 JAN 15 2003 upper-case-month",
                           "-rw-r--r-- 1 u g 1 Jan 15 2003", "01-15-03 10:30AM <DIR>",
                           "01-15-03 xx:30AM 12 a", "-rw-r--r-- 1 u g 99999999999999999999 Jan 15 "
                                                    "2003 huge"}) {
    EXPECT_EQ(ParseDirLine(line, June2026).Kind, fkNone) << line;
  }
  EXPECT_EQ(MonthIndex("Dec"), 12);
  EXPECT_EQ(MonthIndex("dec"), 0);
}

// Whole listings of many servers: nothing crashes, and the styles this
// parser knows give their entries.
TEST(FtpListParser, WholeListings) {
  int entries = 0;
  for (const auto &file : std::filesystem::directory_iterator(CorpusDir)) {
    if (file.path().filename().string().rfind("chromium-", 0) != 0)
      continue;
    std::ifstream in(file.path(), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    std::string line;
    while (std::getline(all, line))
      entries += ParseDirLine(line, June2026).Kind != fkNone;
  }
  EXPECT_GE(entries, 20);
}

} // namespace

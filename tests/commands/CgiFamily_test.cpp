#include "commands/CgiFamily.h"

#include "support/LibraryTest.h"
#include "support/Portable.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class CgiTest : public LibraryTest {
protected:
  void SetUp() override {
    for (const char *name : {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_LENGTH"})
      testsupport::UnsetEnv(name);
  }
  void TearDown() override { SetUp(); }
  std::string Field(const std::string &name) { return Function({"CGI", "PARSE", name}); }
};

} // namespace

TEST_F(CgiTest, ParseDecodesNamesAndValues) {
  EXPECT_EQ(Command({"CGI", "PARSE", "a=1&b=x+y%21"}), 0);
  EXPECT_EQ(lib.CgiNames(), (TStringList{"a", "b"}));
  EXPECT_EQ(lib.CgiValues(), (TStringList{"1", "x y!"}));
  EXPECT_EQ(Field("B"), "x y!");
  EXPECT_EQ(Field("c"), "");

  EXPECT_EQ(Command({"CGI", "PARSE", ""}), 0);
  EXPECT_EQ(lib.CgiNames(), TStringList{""});
  EXPECT_EQ(lib.CgiValues(), TStringList{""});
  EXPECT_EQ(Command({"CGI", "PARSE", "a=1&"}), 0);
  EXPECT_EQ(lib.CgiNames().size(), 1u);
  EXPECT_EQ(Command({"CGI", "PARSE", "&a=1"}), 0);
  EXPECT_EQ(lib.CgiNames(), (TStringList{"", "a"}));
  EXPECT_EQ(Command({"CGI", "PARSE", "flag"}), 0);
  EXPECT_EQ(lib.CgiNames(), TStringList{""});
  EXPECT_EQ(lib.CgiValues(), TStringList{"flag"});
  // Blanks and control characters around the text are trimmed first.
  EXPECT_EQ(Command({"CGI", "PARSE", " \r\nk=v=w \n"}), 0);
  EXPECT_EQ(lib.CgiValues(), TStringList{"v=w"});
}

TEST_F(CgiTest, FieldLookupIgnoresCaseAndTakesTheFirst) {
  Command({"CGI", "PARSE", "NAME=one&name=two&z=%00cut"});
  EXPECT_EQ(Field("Name"), "one");
  EXPECT_EQ(lib.CgiValues()[2], std::string("\0cut", 4));
  // The host sees a result up to its first NUL.
  EXPECT_EQ(Field("z"), "");
  EXPECT_EQ(lib.StatProc(), 0);
}

TEST_F(CgiTest, BadEscapesAreConversionFailuresAndEarlierPairsStay) {
  EXPECT_EQ(Command({"CGI", "PARSE", "a=1&b=%zz&c=3"}), 25);
  EXPECT_EQ(lib.CgiNames(), TStringList{"a"});
  EXPECT_EQ(lib.CgiValues(), TStringList{"1"});
  EXPECT_EQ(Function({"CGI", "CONVERT", "%zz"}), "");
  EXPECT_EQ(lib.StatProc(), 25);
  EXPECT_EQ(Function({"CGI", "CONVERT", "%41%2541"}), "A%41");
  EXPECT_EQ(Function({"CGI", "CONVERT", "%2B+"}), "+ ");
  EXPECT_EQ(lib.StatProc(), 0);
}

TEST_F(CgiTest, Replace) {
  EXPECT_EQ(Function({"CGI", "REPLACE", "aaa", "a", "ab"}), "ababab");
  EXPECT_EQ(Function({"CGI", "REPLACE", "aAa", "A", ""}), "aa");
  EXPECT_EQ(Function({"CGI", "REPLACE", "abc", "", "x"}), "abc");
  EXPECT_EQ(Function({"CGI", "REPLACE"}), "");
  EXPECT_EQ(lib.StatProc(), 0);
}

TEST_F(CgiTest, AutoParseUnderGetKeepsTheQueryUndecoded) {
  testsupport::SetEnv("REQUEST_METHOD", "get");
  testsupport::SetEnv("QUERY_STRING", "q=a+b&r=%41");
  EXPECT_EQ(Command({"CGI", "AUTOPARSE"}), 0);
  EXPECT_EQ(Field("q"), "a+b");
  EXPECT_EQ(Field("r"), "%41");

  // Absent: the empty text, one empty pair.
  testsupport::UnsetEnv("QUERY_STRING");
  EXPECT_EQ(Command({"CGI", "AUTOPARSE"}), 0);
  EXPECT_EQ(lib.CgiNames(), TStringList{""});

  // Read whole, however long.
  const std::string longValue(5000, 'v');
  testsupport::SetEnv("QUERY_STRING", ("long=" + longValue).c_str());
  EXPECT_EQ(Command({"CGI", "AUTOPARSE"}), 0);
  EXPECT_EQ(lib.CgiValues(), TStringList{longValue});
}

TEST_F(CgiTest, AutoParseRefusesOtherMethodsAndBadLengths) {
  Command({"CGI", "PARSE", "keep=1"});
  EXPECT_EQ(Command({"CGI", "AUTOPARSE"}), 207);
  testsupport::SetEnv("REQUEST_METHOD", "PUT");
  EXPECT_EQ(Command({"CGI", "AUTOPARSE"}), 207);
  testsupport::SetEnv("REQUEST_METHOD", "POST");
  EXPECT_EQ(Command({"CGI", "AUTOPARSE"}), 25); // no CONTENT_LENGTH
  testsupport::SetEnv("CONTENT_LENGTH", "12abc");
  EXPECT_EQ(Command({"CGI", "AUTOPARSE"}), 25);
  EXPECT_EQ(Function({"CGI", "READ"}), "");
  EXPECT_EQ(lib.StatProc(), 25);
  EXPECT_EQ(lib.CgiNames(), TStringList{"keep"});
  // A length of 0 reads nothing and gives one empty pair.
  testsupport::SetEnv("CONTENT_LENGTH", "0");
  EXPECT_EQ(Command({"CGI", "AUTOPARSE"}), 0);
  EXPECT_EQ(lib.CgiNames(), TStringList{""});
  EXPECT_EQ(Function({"CGI", "READ"}), "");
  EXPECT_EQ(lib.StatProc(), 0);
}

TEST_F(CgiTest, UnknownSubcommandsAndSubfunctions) {
  EXPECT_EQ(Command({"CGI", "READ"}), 14);
  EXPECT_EQ(Command({"CGI"}), 14);
  EXPECT_EQ(Function({"CGI", "WRITE"}), "");
  EXPECT_EQ(lib.StatProc(), 13);
  EXPECT_EQ(Function({"CGI"}), "");
  EXPECT_EQ(lib.StatProc(), 13);
}

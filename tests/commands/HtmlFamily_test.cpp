#include "commands/HtmlFamily.h"

#include "support/LibraryTest.h"

#include <gtest/gtest.h>

namespace {

class HtmlTest : public LibraryTest {
protected:
  std::string Filter(std::initializer_list<std::string> texts) {
    std::string r = Function("HTML", texts);
    EXPECT_EQ(lib.StatProc(), 0);
    return r;
  }
};

} // namespace

TEST_F(HtmlTest, TagsAreRemovedAndEveryClosingBracketGoes) {
  EXPECT_EQ(Filter({"Hello <b>world</b>"}), "Hello world");
  EXPECT_EQ(Filter({"a > b"}), "a  b");
  EXPECT_EQ(Filter({"<<a>>x"}), "x");
  EXPECT_EQ(Filter({"  text  "}), "  text  "); // not trimmed
  EXPECT_EQ(Filter({"x\0y"}), "x");             // the block ends a text at NUL
}

TEST_F(HtmlTest, EntitiesOnlyWithTheSwitch) {
  EXPECT_EQ(Filter({"AT&amp;T"}), "AT&amp;T");
  EXPECT_EQ(Command({"HTML", "FIX", "1"}), 0);
  EXPECT_EQ(Filter({"AT&amp;T"}), "ATT");
  EXPECT_EQ(Filter({"x; y"}), "x y");
  EXPECT_EQ(Command({"HTML", "fix", "0"}), 0); // any non-blank text is on
  EXPECT_EQ(Filter({"a&b;c"}), "ac");
  EXPECT_EQ(Command({"HTML", "FIX", " \t"}), 0);
  EXPECT_EQ(Filter({"a&b;c"}), "a&b;c");
  EXPECT_EQ(Command({"HTML", "FIX", "1"}), 0);
  EXPECT_EQ(Command({"HTML", "FIX"}), 0); // missing: off
  EXPECT_EQ(Filter({"a&b;c"}), "a&b;c");
  EXPECT_EQ(Command({"HTML", "OTHER", "1"}), 0);
  EXPECT_EQ(Filter({"a&b;c"}), "a&b;c");
}

TEST_F(HtmlTest, StateCarriesOverOnlyWithContinuation) {
  EXPECT_EQ(Filter({"abc <font"}), "abc ");
  EXPECT_EQ(Filter({"size=2>def", "1"}), "def");
  EXPECT_EQ(Filter({"abc <font"}), "abc ");
  EXPECT_EQ(Filter({"size=2>def", ""}), "size=2def");
  EXPECT_EQ(Filter({"abc <font"}), "abc ");
  // A blank line changes nothing, not even with an empty continuation.
  EXPECT_EQ(Filter({"   ", ""}), "");
  EXPECT_EQ(Filter({"size=2>def", "yes"}), "def");

  Command({"HTML", "FIX", "1"});
  EXPECT_EQ(Filter({"a &nb"}), "a ");
  EXPECT_EQ(Filter({"sp;b", "1"}), "b");
}

TEST(HtmlFilter, AnEntityLeftOpenDoesNotHideTextOnceRemovalIsOff) {
  HtmlFilterState state;
  state.Entities = true;
  EXPECT_EQ(FilterHtml("a&b", state), "a");
  EXPECT_TRUE(state.InEntity);
  state.Entities = false;
  EXPECT_EQ(FilterHtml("cd;e", state), "cd;e");
}

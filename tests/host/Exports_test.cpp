// The real shared library, loaded, used and unloaded the way a host does it.
#include "platform/DynLib.h"
#include "scriptnet.h"
#include "support/Block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Loaded {
  platform::DynLib lib;
  ScriptnetInitFn Init = nullptr;
  ScriptnetCommandFn Command = nullptr;
  ScriptnetFuncFn Func = nullptr;
  ScriptnetStatFn Stat = nullptr;
  ScriptnetProcessFn Process = nullptr;
  ScriptnetMessageFdFn Fd = nullptr;

  Loaded() {
    EXPECT_TRUE(lib.Open(SCRIPTNET_LIBRARY_PATH)) << lib.Error();
    Init = reinterpret_cast<ScriptnetInitFn>(lib.Symbol("Init"));
    Command = reinterpret_cast<ScriptnetCommandFn>(lib.Symbol("CommandProc"));
    Func = reinterpret_cast<ScriptnetFuncFn>(lib.Symbol("FuncProc"));
    Stat = reinterpret_cast<ScriptnetStatFn>(lib.Symbol("StatProc"));
    Process = reinterpret_cast<ScriptnetProcessFn>(lib.Symbol("ProcessMessages"));
    Fd = reinterpret_cast<ScriptnetMessageFdFn>(lib.Symbol("MessageFd"));
  }
  bool Complete() const { return Init && Command && Func && Stat && Process && Fd; }
};

void IgnoreEvent(const char *) {}

} // namespace

TEST(Exports, InitReportsItsSizesAndPrefix) {
  Loaded l;
  ASSERT_TRUE(l.Complete());
  // Before Init nothing is there to answer; the entry points still return.
  EXPECT_EQ(l.Command(Block({"HTML", "FIX", "1"}).data()), 250);
  EXPECT_STREQ(l.Func(Block({"VERSION"}).data()), "");
  std::int32_t a = 0, b = 0;
  EXPECT_STREQ(l.Init(42, IgnoreEvent, "", &a, &b), "NET");
  EXPECT_EQ(a, 13);
  EXPECT_EQ(b, 65536);
  EXPECT_STREQ(l.Init(42, nullptr, "anything", &a, &b), "NET");
  EXPECT_EQ(l.Stat(), 0);
  EXPECT_STREQ(l.Func(Block({"VERSION"}).data()), "2.6");
  EXPECT_EQ(l.Process(0), 0);
  EXPECT_EQ(l.Command(Block({"NOSUCH"}).data()), 14);
  EXPECT_EQ(l.Stat(), 14);
}

TEST(Exports, LoadUseUnloadRepeatedlyStartsAfreshEachTime) {
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    Loaded l;
    ASSERT_TRUE(l.Complete());
    std::int32_t a = 0, b = 0;
    l.Init(0, IgnoreEvent, "", &a, &b);
    // Settings of an earlier load are gone.
    EXPECT_STREQ(l.Func(Block({"HTML", "a&b;c"}).data()), "a&b;c");
    EXPECT_EQ(l.Command(Block({"HTML", "FIX", "1"}).data()), 0);
    EXPECT_STREQ(l.Func(Block({"HTML", "a&b;c"}).data()), "ac");
    EXPECT_EQ(l.Command(Block({"CGI", "PARSE", "a=1&b=2"}).data()), 0);
    EXPECT_STREQ(l.Func(Block({"CGI", "PARSE", "B"}).data()), "2");
    EXPECT_STREQ(l.Func(Block({"IPERROR"}).data()), "");
    const int fd = l.Fd();
    EXPECT_GE(fd, -1);
    l.lib.Close();
  }
}

TEST(Exports, ResultBufferLimitsAndLifetime) {
  Loaded l;
  ASSERT_TRUE(l.Complete());
  std::int32_t a = 0, b = 0;
  l.Init(0, nullptr, "", &a, &b);
  // 21845 * 3 = 65535: exactly fills the buffer with its NUL.
  const char *r = l.Func(Block({"CGI", "REPLACE", std::string(21845, 'a'), "a", "xyz"}).data());
  EXPECT_EQ(std::strlen(r), 65535u);
  EXPECT_EQ(l.Stat(), 0);
  // Longer results are cut to 65535 characters.
  r = l.Func(Block({"CGI", "REPLACE", std::string(30000, 'a'), "a", "xyz"}).data());
  EXPECT_EQ(std::strlen(r), 65535u);
  EXPECT_EQ(std::string(r, 6), "xyzxyz");
  // A result stays readable until the next function call, commands between.
  r = l.Func(Block({"VERSION"}).data());
  l.Command(Block({"CGI", "PARSE", "x=1"}).data());
  l.Command(Block({"NOSUCH"}).data());
  EXPECT_STREQ(r, "2.6");
  // A block without any NUL is read up to its end and no further.
  std::vector<char> full(65536, 'H');
  EXPECT_EQ(l.Command(full.data()), 14);
  std::vector<char> html(65536, 'x');
  std::memcpy(html.data(), "HTML\0FIX\0", 9);
  EXPECT_EQ(l.Command(html.data()), 0);
  EXPECT_STREQ(l.Func(Block({"HTML", "a&b;c"}).data()), "ac");
  std::memcpy(html.data(), "HTML\0xxxx", 9);
  const char *filtered = l.Func(html.data());
  EXPECT_EQ(std::strlen(filtered), 65531u);
}

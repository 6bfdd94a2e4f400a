#pragma once
// The fixture of the suites that drive the library as a host does: texts in
// through the dispatchers, codes and results out.
#include "host/Library.h"
#include "support/Block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

class LibraryTest : public ::testing::Test {
protected:
  explicit LibraryTest(TEventProc eventProc = nullptr) : lib{0, eventProc} {}

  std::int32_t Command(std::initializer_list<std::string> texts) {
    return lib.CommandProc(Block(texts).data());
  }
  std::string Function(std::initializer_list<std::string> texts) {
    return lib.FuncProc(Block(texts).data());
  }
  // The same with a family's name in front of the texts.
  std::int32_t Command(const std::string &family, std::initializer_list<std::string> texts) {
    return lib.CommandProc(Block(Prefixed(family, texts)).data());
  }
  std::string Function(const std::string &family, std::initializer_list<std::string> texts) {
    return lib.FuncProc(Block(Prefixed(family, texts)).data());
  }
  std::string IpError() { return Function({"IPERROR"}); }
  bool IpErrorHas(const std::string &text) { return IpError().find(text) != std::string::npos; }

  Library lib;

private:
  static std::vector<std::string> Prefixed(const std::string &family,
                                           std::initializer_list<std::string> texts) {
    std::vector<std::string> all{family};
    all.insert(all.end(), texts.begin(), texts.end());
    return all;
  }
};

#pragma once
// The script family "TIME".
#include "host/KeywordLookup.h"

#include <string>
#include <string_view>

class Library;

class TimeFamily {
public:
  static constexpr std::string_view Functions = "|TIME|OFFSET|BINARY|";
  static constexpr int FnTIME = KeywordPosition(Functions, "TIME");
  static constexpr int FnOFFSET = KeywordPosition(Functions, "OFFSET");
  static constexpr int FnBINARY = KeywordPosition(Functions, "BINARY");

  explicit TimeFamily(Library &library) : lib_(library) {}
  void Function(std::string &result);

private:
  Library &lib_;
};

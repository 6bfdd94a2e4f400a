#pragma once
// The script family "HTML": a markup filter applied line by line, which
// remembers across calls whether a line ended inside a tag or an entity.
#include "host/KeywordLookup.h"

#include <string>
#include <string_view>

class Library;

struct HtmlFilterState {
  bool Entities = false; // the FIX switch: remove "&...;" as well
  bool InTag = false;
  bool InEntity = false;
};

// The text without "<...>" (and, with Entities on, "&...;"). Every ">" is
// removed, as is every ";" while Entities is on. The state carries over to
// the next line.
std::string FilterHtml(std::string_view text, HtmlFilterState &state);

class HtmlFamily {
public:
  static constexpr std::string_view Commands = "|FIX|";
  static constexpr int CmdFIX = KeywordPosition(Commands, "FIX");

  explicit HtmlFamily(Library &library) : lib_(library) {}
  // FIX value: entity removal on for a non-blank value, off otherwise. Any
  // other subcommand does nothing and is no error.
  void Command();
  // text, continuation: the filtered text. A blank text gives the empty text
  // and leaves the state alone; a blank continuation starts outside any tag.
  void Function(std::string &result);

  const HtmlFilterState &State() const { return state_; }

private:
  Library &lib_;
  HtmlFilterState state_;
};

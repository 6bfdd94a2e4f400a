#include "commands/HtmlFamily.h"

#include "host/Library.h"
#include "ip_misc/Convert.h"

std::string FilterHtml(std::string_view text, HtmlFilterState &state) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '<') {
      state.InTag = true;
      continue;
    }
    if (c == '>') {
      state.InTag = false;
      continue;
    }
    if (state.Entities) {
      if (c == '&') {
        state.InEntity = true;
        continue;
      }
      if (c == ';') {
        state.InEntity = false;
        continue;
      }
    }
    // An entity left open while removal was off does not hide text.
    if (state.InTag || (state.Entities && state.InEntity))
      continue;
    out.push_back(c);
  }
  return out;
}

void HtmlFamily::Command() {
  switch (lib_.LookupNext(Commands)) {
  case CmdFIX: state_.Entities = SwitchOn(lib_.NextArgument()); return;
  default: return; // any other subcommand does nothing and is no error
  }
}

void HtmlFamily::Function(std::string &result) {
  const std::string text = lib_.NextArgument();
  if (Trim(text).empty())
    return;
  if (!SwitchOn(lib_.NextArgument())) {
    state_.InTag = false;
    state_.InEntity = false;
  }
  result = FilterHtml(text, state_);
}

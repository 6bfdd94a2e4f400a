// The HTML filter over arbitrary lines and starting states.
#include "commands/HtmlFamily.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1)
    return 0;
  HtmlFilterState state;
  state.Entities = data[0] & 1;
  state.InTag = data[0] & 2;
  state.InEntity = data[0] & 4;
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  // Split at LF to carry the state from line to line as a script would.
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::string out = FilterHtml(line, state);
    if (out.size() > line.size() || out.find_first_of("<>") != std::string::npos)
      std::abort();
    if (state.Entities && out.find(';') != std::string::npos)
      std::abort();
    start = end + 1;
  }
  return 0;
}

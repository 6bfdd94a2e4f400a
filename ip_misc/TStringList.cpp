#include "ip_misc/TStringList.h"

TStringList SplitLines(std::string_view text) {
  TStringList lines;
  AppendLines(lines, text);
  return lines;
}

void AppendLines(TStringList &list, std::string_view text) {
  std::size_t start = 0;
  const std::size_t n = text.size();
  while (start < n) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      list.emplace_back(text.substr(start));
      return;
    }
    list.emplace_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < n && text[start] == '\n')
      ++start;
  }
}

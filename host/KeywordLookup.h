#pragma once
// Keyword lists: upper-case keywords framed by "|", such as
// "|GET|DOWNLOAD|UPLOAD|PROXY|". A keyword's selector is the 1-based position
// of its leading "|".
#include <string_view>

// The argument upper-cased (a to z only, nothing trimmed), framed by "|" and
// searched for in the list: the 1-based position of the first hit, 0 when
// there is none. "HTTP|FTP" thus finds position 1 of "|HTTP|FTP|...".
int KeywordLookup(std::string_view keywords, std::string_view argument);

// The selector of a keyword of a list, computed when the program is built.
consteval int KeywordPosition(std::string_view keywords, std::string_view keyword) {
  for (std::size_t i = 0; i + keyword.size() + 2 <= keywords.size(); ++i)
    if (keywords[i] == '|' && keywords.substr(i + 1, keyword.size()) == keyword &&
        keywords[i + 1 + keyword.size()] == '|')
      return static_cast<int>(i + 1);
  throw "keyword not in list";
}

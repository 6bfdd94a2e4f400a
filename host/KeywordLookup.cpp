#include "host/KeywordLookup.h"

#include <string>

int KeywordLookup(std::string_view keywords, std::string_view argument) {
  std::string framed;
  framed.reserve(argument.size() + 2);
  framed.push_back('|');
  for (char c : argument)
    framed.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  framed.push_back('|');
  const std::size_t at = keywords.find(framed);
  return at == std::string_view::npos ? 0 : static_cast<int>(at + 1);
}

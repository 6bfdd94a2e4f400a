#pragma once
// What a client sent to a fake server, read by content: a check that finds
// its line by what it says keeps its verdict when a header or a command is
// added before it.
#include <string>
#include <string_view>
#include <vector>

namespace transcript {

// The first line that starts with prefix ("RETR" finds "RETR 2", "Host:"
// the Host header); empty when there is none.
inline std::string Line(const std::vector<std::string> &lines, std::string_view prefix) {
  for (const std::string &line : lines)
    if (line.starts_with(prefix))
      return line;
  return {};
}

// How many lines start with prefix.
inline int Count(const std::vector<std::string> &lines, std::string_view prefix) {
  int n = 0;
  for (const std::string &line : lines)
    n += line.starts_with(prefix) ? 1 : 0;
  return n;
}

// The line after the first one that starts with prefix (the answer to a
// challenge, say); empty when there is none.
inline std::string LineAfter(const std::vector<std::string> &lines, std::string_view prefix) {
  for (std::size_t i = 0; i + 1 < lines.size(); ++i)
    if (lines[i].starts_with(prefix))
      return lines[i + 1];
  return {};
}

// HTTP: the requests, each its lines up to the empty line that ends its
// header, the request line first.
inline std::vector<std::vector<std::string>> Requests(const std::vector<std::string> &lines) {
  std::vector<std::vector<std::string>> requests(1);
  for (const std::string &line : lines) {
    if (line.empty()) {
      requests.emplace_back();
      continue;
    }
    requests.back().push_back(line);
  }
  if (requests.back().empty())
    requests.pop_back();
  return requests;
}

} // namespace transcript

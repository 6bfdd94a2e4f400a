#pragma once
// A fetched page kept as the text it arrived as, with the place of the next
// line: lines are cut from it one by one as they are asked for, so the page
// is held once and no list of lines is built beside it.
#include <cstddef>
#include <string>

class TPageLines {
public:
  // The page to read from its first line on.
  void Assign(std::string text);
  // The next line, split as SplitLines splits (CR LF, LF or CR end a line; a
  // break at the very end adds no empty line). False when none is left.
  bool Next(std::string &line);

private:
  std::string text_;
  std::size_t next_ = 0;
};

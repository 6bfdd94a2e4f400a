#pragma once
// Lines kept as one text with the place where each ends: a received message
// of hundreds of thousands of lines is one buffer instead of a string a line.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TLineText {
public:
  std::size_t Count() const { return ends_.size(); }
  // Line i, 0 <= i < Count(); valid until the text changes.
  std::string_view Line(std::size_t i) const {
    const std::size_t start = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(start, ends_[i] - start);
  }
  // Lines [first, last) as they stand in the text, one after the other
  // without line breaks.
  std::string_view Range(std::size_t first, std::size_t last) const {
    const std::size_t start = first == 0 ? 0 : ends_[first - 1];
    const std::size_t end = last == 0 ? 0 : ends_[last - 1];
    return std::string_view(text_).substr(start, end - start);
  }
  void Append(std::string_view line);
  void Clear();
  // Room for about this many bytes of lines, asked for at once.
  void Reserve(std::size_t bytes);

private:
  std::string text_;
  std::vector<std::size_t> ends_;
};

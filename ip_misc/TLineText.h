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
  void Append(std::string_view line);
  void Clear();
  // Room for about this many bytes of lines, asked for at once.
  void Reserve(std::size_t bytes);
  // Every line, valid until the text changes.
  std::vector<std::string_view> Views() const;

private:
  std::string text_;
  std::vector<std::size_t> ends_;
};

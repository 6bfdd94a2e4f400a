#pragma once
// Lines kept as one text with the place where each ends: a received message
// of hundreds of thousands of lines is one buffer instead of a string a line.
#include <cstddef>
#include <functional>
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
  void Append(std::string_view line) {
    text_.append(line);
    ends_.push_back(text_.size());
  }
  // For a reader that receives a line straight into place: it appends the
  // line's characters to Text(), then Close() makes them the next line
  // (until then they are no line and Line and Range never show them).
  std::string &Text() { return text_; }
  void Close() { ends_.push_back(text_.size()); }
  // Received bytes, as they come: each LF ends a line, without the CR
  // right before it; what follows the last LF waits for more.
  void AppendReceived(std::string_view bytes);
  // What waits for more is a line of its own (without a CR at its end), the
  // bytes having ended; nothing when nothing waits.
  void CloseReceived();
  // The characters of the lines (and of a line not yet closed).
  std::size_t Bytes() const { return text_.size(); }
  void Clear();
  // Room for about this many bytes of lines, asked for at once.
  void Reserve(std::size_t bytes);

private:
  std::string text_;
  std::vector<std::size_t> ends_;
};

// Told of the lines of a message received so far, while the rest is still
// on its way, so that work on them goes on meanwhile. The lines only grow
// from one call to the next, unless the receiver empties them to start
// another message (the call then shows them empty).
using TLinesArrived = std::function<void(const TLineText &lines)>;

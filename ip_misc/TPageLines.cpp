#include "ip_misc/TPageLines.h"

#include <utility>

void TPageLines::Assign(std::string text) {
  text_ = std::move(text);
  next_ = 0;
}

bool TPageLines::Next(std::string &line) {
  if (next_ >= text_.size())
    return false;
  const std::size_t end = text_.find_first_of("\r\n", next_);
  if (end == std::string::npos) {
    line.assign(text_, next_);
    next_ = text_.size();
    return true;
  }
  line.assign(text_, next_, end - next_);
  next_ = end + 1;
  if (text_[end] == '\r' && next_ < text_.size() && text_[next_] == '\n')
    ++next_;
  return true;
}

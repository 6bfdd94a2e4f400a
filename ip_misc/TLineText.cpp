#include "ip_misc/TLineText.h"

#include "platform/Memory.h"

#include <cstring>
#include <new>

void TLineText::Clear() {
  text_.clear();
  ends_.clear();
}

void TLineText::Reserve(std::size_t bytes) {
  // Room asked for ahead is a saving, not a need: without it the text grows
  // as lines come.
  try {
    text_.reserve(bytes);
    platform::PrepareLargeWrite(text_.data(), text_.capacity());
    // Lines of base64 are 60 characters, most text lines shorter; room for
    // more than will come costs address space only.
    ends_.reserve(bytes / 32 + 16);
    platform::PrepareLargeWrite(ends_.data(), ends_.capacity() * sizeof(std::size_t));
  } catch (const std::bad_alloc &) {
  }
}

void TLineText::AppendReceived(std::string_view bytes) {
  // The bytes go after the text at once; each line is then moved down over
  // the line breaks before it, in place.
  std::size_t read = text_.size();
  text_.append(bytes);
  char *const at = text_.data();
  std::size_t write = read;
  for (const char *lf;
       (lf = static_cast<const char *>(std::memchr(at + read, '\n', text_.size() - read)));) {
    const std::size_t length = static_cast<std::size_t>(lf - at) - read;
    if (write != read)
      std::memmove(at + write, at + read, length);
    write += length;
    read += length + 1;
    if (write > (ends_.empty() ? 0 : ends_.back()) && at[write - 1] == '\r')
      --write;
    ends_.push_back(write);
  }
  const std::size_t rest = text_.size() - read;
  if (write != read)
    std::memmove(at + write, at + read, rest);
  text_.resize(write + rest);
}

void TLineText::CloseReceived() {
  if (text_.size() == (ends_.empty() ? 0 : ends_.back()))
    return;
  if (text_.back() == '\r')
    text_.pop_back();
  ends_.push_back(text_.size());
}

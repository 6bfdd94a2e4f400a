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
    platform::PrepareNetworkFill(text_.data(), text_.capacity());
    // Lines of base64 are 60 characters, most text lines shorter; room for
    // more than will come costs address space only.
    ends_.reserve(bytes / 32 + 16);
    platform::PrepareNetworkFill(ends_.data(), ends_.capacity() * sizeof(std::size_t));
  } catch (const std::bad_alloc &) {
  }
}

void TLineText::AppendReceived(std::string_view bytes) {
  // Each line is copied once, without its line break; a CR that came at the
  // end of the bytes before is dropped when its LF comes.
  for (std::size_t length; (length = bytes.find('\n')) != std::string_view::npos;) {
    text_.append(bytes.data(), length);
    if (text_.size() > (ends_.empty() ? 0 : ends_.back()) && text_.back() == '\r')
      text_.pop_back();
    ends_.push_back(text_.size());
    bytes.remove_prefix(length + 1);
  }
  text_.append(bytes);
}

void TLineText::CloseReceived() {
  if (text_.size() == (ends_.empty() ? 0 : ends_.back()))
    return;
  if (text_.back() == '\r')
    text_.pop_back();
  ends_.push_back(text_.size());
}

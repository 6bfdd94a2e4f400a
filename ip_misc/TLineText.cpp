#include "ip_misc/TLineText.h"

#include "platform/Memory.h"

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

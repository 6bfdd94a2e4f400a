#include "host/ArgumentBlock.h"

#include <cstring>

void ArgumentBlock::Load(const char *hostBlock) {
  if (hostBlock)
    std::memcpy(bytes_.data(), hostBlock, BlockSize);
  else
    bytes_.fill(0);
  cursor_ = 0;
}

std::string ArgumentBlock::Next() {
  if (cursor_ >= BlockSize)
    return {};
  const char *start = bytes_.data() + cursor_;
  const void *nul = std::memchr(start, 0, BlockSize - cursor_);
  const std::size_t length =
      nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - start) : BlockSize - cursor_;
  cursor_ += length + 1;
  return std::string(start, length);
}

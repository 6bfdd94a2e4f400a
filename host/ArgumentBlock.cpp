#include "host/ArgumentBlock.h"

#include <algorithm>
#include <cstring>

void ArgumentBlock::Load(const char *hostBlock) {
  if (hostBlock)
    std::memcpy(bytes_.data(), hostBlock, BlockSize);
  else
    bytes_.fill(0);
  cursor_ = 0;
}

namespace {

// The text that starts at `at`, and where the next one starts.
std::string TextFrom(const std::array<char, ArgumentBlock::BlockSize> &bytes, std::size_t &at) {
  if (at >= bytes.size())
    return {};
  const char *start = bytes.data() + at;
  const void *nul = std::memchr(start, 0, bytes.size() - at);
  const std::size_t length =
      nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - start) : bytes.size() - at;
  at += length + 1;
  return std::string(start, length);
}

} // namespace

std::string ArgumentBlock::Next() { return TextFrom(bytes_, cursor_); }

std::string ArgumentBlock::Peek(std::size_t index) const {
  std::size_t at = 0;
  for (std::size_t skipped = 0; skipped < index && at < BlockSize; ++skipped)
    TextFrom(bytes_, at);
  return TextFrom(bytes_, at);
}

std::string_view ArgumentBlock::Read() const {
  return {bytes_.data(), std::min(cursor_, BlockSize)};
}

bool ArgumentBlock::BeginsWith(std::string_view bytes) const {
  return bytes.size() <= BlockSize && std::string_view(bytes_.data(), bytes.size()) == bytes;
}

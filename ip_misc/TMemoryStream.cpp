#include "ip_misc/TMemoryStream.h"

#include <algorithm>
#include <cstring>
#include <utility>

void TMemoryStream::SetPosition(std::int64_t position) {
  position_ = std::clamp<std::int64_t>(position, 0, Size());
}

std::size_t TMemoryStream::Read(void *buffer, std::size_t count) {
  const auto available = static_cast<std::size_t>(Size() - position_);
  const std::size_t n = std::min(count, available);
  if (n > 0)
    std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += static_cast<std::int64_t>(n);
  return n;
}

void TMemoryStream::Write(const void *data, std::size_t count) {
  if (count == 0)
    return;
  const auto at = static_cast<std::size_t>(position_);
  if (at == bytes_.size())
    bytes_.append(static_cast<const char *>(data), count);
  else {
    if (at + count > bytes_.size())
      bytes_.resize(at + count);
    std::memcpy(bytes_.data() + at, data, count);
  }
  position_ += static_cast<std::int64_t>(count);
}

void TMemoryStream::Clear() {
  bytes_.clear();
  position_ = 0;
}

void TMemoryStream::Reserve(std::int64_t size) {
  const auto wanted = static_cast<std::size_t>(size);
  if (size <= 0 || wanted <= bytes_.capacity())
    return;
  // The library doubles a string it enlarges whatever was asked; a new one
  // gets just the room asked for.
  std::string larger;
  larger.reserve(wanted);
  larger.append(bytes_);
  bytes_.swap(larger);
}

void TMemoryStream::Assign(std::string bytes) {
  bytes_ = std::move(bytes);
  position_ = 0;
}

std::string TMemoryStream::Take() {
  position_ = 0;
  return std::exchange(bytes_, std::string());
}

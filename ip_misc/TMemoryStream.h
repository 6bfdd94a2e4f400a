#pragma once
// A growable byte buffer with a read/write position, the in-memory stream in
// which downloads, uploads and attachments are held. Sizes are 64-bit.
#include <cstdint>
#include <string>
#include <string_view>

class TMemoryStream {
public:
  std::int64_t Size() const { return static_cast<std::int64_t>(bytes_.size()); }
  std::int64_t Position() const { return position_; }
  // Positions past the end are clamped to the end.
  void SetPosition(std::int64_t position);

  // Copies up to count bytes from the position on; returns how many.
  std::size_t Read(void *buffer, std::size_t count);
  // Writes at the position (overwriting, then extending) and advances it.
  void Write(const void *data, std::size_t count);
  void WriteString(std::string_view text) { Write(text.data(), text.size()); }
  void Clear();
  // Room for size bytes in all, asked for exactly: a stream near a cap must
  // not grow to twice it.
  void Reserve(std::int64_t size);
  std::int64_t Capacity() const { return static_cast<std::int64_t>(bytes_.capacity()); }

  // The whole content, independent of the position.
  const std::string &Bytes() const { return bytes_; }
  // Replaces the content; the position goes to the start.
  void Assign(std::string bytes);
  // Hands the content over, leaving the stream empty and its memory freed.
  std::string Take();

private:
  std::string bytes_;
  std::int64_t position_ = 0;
};

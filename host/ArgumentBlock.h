#pragma once
// The library's copy of the host's argument block: NUL-terminated 8-bit
// texts laid end to end in exactly BlockSize bytes, read front to back.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

class ArgumentBlock {
public:
  static constexpr std::size_t BlockSize = 65536;

  // Copies exactly BlockSize bytes of the host's block; the cursor goes to the start.
  void Load(const char *hostBlock);
  // The text at the cursor; the cursor moves past its NUL. At the end of the
  // block the result is empty, and a text that runs to the end without a NUL
  // ends there: nothing past the block is ever read.
  std::string Next();
  // The text at position index (0: the name), the cursor left where it is.
  std::string Peek(std::size_t index) const;
  // The texts read so far, each with its NUL: what names one call.
  std::string_view Read() const;
  // Whether the block begins with these bytes.
  bool BeginsWith(std::string_view bytes) const;

private:
  std::array<char, BlockSize> bytes_{};
  std::size_t cursor_ = 0;
};

#pragma once
// The body of a response sent in chunks ("Transfer-Encoding: chunked"). It is
// fed the bytes as they arrive and hands the data on as pieces of its input,
// dropping the chunk sizes, their extensions and the trailer; it keeps
// nothing but its place, so a body of any size passes through uncopied.
#include "tcpip/ETcpIpError.h"

#include <cstddef>
#include <cstdint>
#include <functional>

class TChunkedDecoder {
public:
  using TSink = std::function<void(const char *data, std::size_t size)>;

  // The most bytes skipped in one size line's extension, and in the trailer
  // as a whole: a peer that sends more is not sending a body.
  static constexpr std::size_t MaxSkipped = 1 << 20;

  // Decodes size bytes; the data among them goes to sink. Returns how many
  // bytes belong to the body: fewer than size only once the body has ended.
  // Raises ETcpIpError for a malformed chunk.
  std::size_t Feed(const char *data, std::size_t size, const TSink &sink);
  // The trailer's empty line has been read: nothing more belongs to the body.
  bool Done() const { return state_ == TState::Done; }
  // The last chunk has been read: the data is whole, even if the trailer
  // was cut short.
  bool Complete() const { return state_ >= TState::TrailerStart; }

private:
  enum class TState {
    SizeStart, // the first hex digit of a size
    Size,      // more digits, or the end of the size
    SizeBlank, // blanks after the size: more, an extension or the line end
    Extension, // ";name=value" or blanks up to the line end
    SizeLF,    // the LF after the size line's CR
    Data,      // remaining_ bytes of data
    DataCR,    // the line end after the data
    DataLF,
    TrailerStart, // an empty line ends the body, anything else is a field
    TrailerLine,
    TrailerLF,
    Done
  };
  [[noreturn]] void Malformed(const char *what, char got) const;
  void EndOfSizeLine();
  // The size has ended with c (not a digit, not a blank).
  void EndOfSize(char c);
  // Passes over the input up to and including a line feed, counting it
  // against MaxSkipped; true when the line feed was among it.
  bool SkipLine(const char *data, std::size_t size, std::size_t &at, const char *tooLong);

  TState state_ = TState::SizeStart;
  std::uint64_t remaining_ = 0;
  std::size_t skipped_ = 0;
};

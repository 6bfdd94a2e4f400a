#include "tcpip/TChunkedDecoder.h"

#include "ip_misc/ip_misc.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

std::string Shown(char c) {
  const auto b = static_cast<unsigned char>(c);
  if (b >= 0x21 && b < 0x7F)
    return std::string("'") + c + "'";
  static const char hex[] = "0123456789ABCDEF";
  return std::string("byte 0x") + hex[b >> 4] + hex[b & 15];
}

} // namespace

void TChunkedDecoder::Malformed(const char *what, char got) const {
  throw ETcpIpError(std::string("Malformed chunked body: ") + what + ", got " + Shown(got));
}

void TChunkedDecoder::EndOfSizeLine() {
  skipped_ = 0;
  state_ = remaining_ == 0 ? TState::TrailerStart : TState::Data;
}

void TChunkedDecoder::EndOfSize(char c) {
  // Blanks may stand before an extension or the line end (RFC 9112), but
  // nothing else: a size followed by other text is not a size.
  if (c == ';')
    state_ = TState::Extension;
  else if (c == '\r')
    state_ = TState::SizeLF;
  else if (c == '\n')
    EndOfSizeLine();
  else if (state_ == TState::SizeBlank)
    Malformed("';' or line end after the chunk size expected", c);
  else
    Malformed("chunk size expected", c);
}

bool TChunkedDecoder::SkipLine(const char *data, std::size_t size, std::size_t &at,
                               const char *tooLong) {
  const auto *lf = static_cast<const char *>(std::memchr(data + at, '\n', size - at));
  const std::size_t take = lf ? static_cast<std::size_t>(lf - (data + at)) + 1 : size - at;
  skipped_ += take;
  if (skipped_ > MaxSkipped)
    Malformed(tooLong, data[at]);
  at += take;
  return lf != nullptr;
}

std::size_t TChunkedDecoder::Feed(const char *data, std::size_t size, const TSink &sink) {
  std::size_t at = 0;
  while (at < size && state_ != TState::Done) {
    const char c = data[at];
    switch (state_) {
    case TState::SizeStart:
    case TState::Size: {
      const int digit = HexValue(c);
      if (digit >= 0) {
        // Sizes beyond 2^60 bytes are no real chunk; refusing them keeps
        // the count from wrapping.
        if (remaining_ >> 56)
          Malformed("chunk size too large", c);
        remaining_ = remaining_ << 4 | static_cast<unsigned>(digit);
        state_ = TState::Size;
      } else if (state_ == TState::SizeStart) {
        Malformed("chunk size expected", c);
      } else if (c == ' ' || c == '\t') {
        state_ = TState::SizeBlank;
      } else {
        EndOfSize(c);
      }
      ++at;
      break;
    }
    case TState::SizeBlank:
      if (c != ' ' && c != '\t')
        EndOfSize(c);
      ++at;
      break;
    case TState::Extension:
      // Extensions carry nothing a client of this kind uses.
      if (SkipLine(data, size, at, "chunk extension too long"))
        EndOfSizeLine();
      break;
    case TState::SizeLF:
      if (c != '\n')
        Malformed("line feed after the chunk size expected", c);
      EndOfSizeLine();
      ++at;
      break;
    case TState::Data: {
      const std::size_t take =
          static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, size - at));
      sink(data + at, take);
      remaining_ -= take;
      at += take;
      if (remaining_ == 0)
        state_ = TState::DataCR;
      break;
    }
    case TState::DataCR:
      if (c == '\r')
        state_ = TState::DataLF;
      else if (c == '\n')
        state_ = TState::SizeStart;
      else
        Malformed("line end after the chunk data expected", c);
      ++at;
      break;
    case TState::DataLF:
      if (c != '\n')
        Malformed("line feed after the chunk data expected", c);
      state_ = TState::SizeStart;
      ++at;
      break;
    case TState::TrailerStart:
      state_ = c == '\r' ? TState::TrailerLF : c == '\n' ? TState::Done : TState::TrailerLine;
      if (state_ != TState::TrailerLine)
        ++at;
      break;
    case TState::TrailerLine:
      // Trailer fields are ignored; only their end matters.
      if (SkipLine(data, size, at, "trailer too long"))
        state_ = TState::TrailerStart;
      break;
    case TState::TrailerLF:
      if (c != '\n')
        Malformed("line feed after the trailer expected", c);
      state_ = TState::Done;
      ++at;
      break;
    case TState::Done: break;
    }
  }
  return at;
}

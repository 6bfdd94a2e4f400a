#include "tcpip/TContentDecoder.h"

#include "ip_misc/Convert.h"

#include <zlib.h>

#include <algorithm>
#include <string>

namespace {

constexpr std::size_t OutputPiece = 64 * 1024;

} // namespace

struct TContentDecoder::TState {
  z_stream Stream{};
};

std::unique_ptr<TContentDecoder> TContentDecoder::For(std::string_view contentEncoding) {
  const std::string coding = LowerCase(Trim(contentEncoding));
  if (coding == "gzip" || coding == "x-gzip")
    return std::make_unique<TContentDecoder>(TCoding::Gzip);
  if (coding == "deflate")
    return std::make_unique<TContentDecoder>(TCoding::Deflate);
  return nullptr;
}

TContentDecoder::TContentDecoder(TCoding coding)
    : z_(std::make_unique<TState>()), coding_(coding), out_(OutputPiece) {}

TContentDecoder::~TContentDecoder() {
  if (started_)
    inflateEnd(&z_->Stream);
}

void TContentDecoder::Start(int windowBits) {
  if (inflateInit2(&z_->Stream, windowBits) != Z_OK)
    throw ETcpIpError("Cannot start decoding the compressed answer");
  started_ = true;
}

void TContentDecoder::Feed(const char *data, std::size_t size, const TSink &sink) {
  fed_ = fed_ || size > 0;
  if (started_) {
    Inflate(data, size, sink);
    return;
  }
  if (coding_ == TCoding::Gzip) {
    Start(16 + MAX_WBITS);
    Inflate(data, size, sink);
    return;
  }
  head_.insert(head_.end(), data, data + size);
  if (head_.size() < 2)
    return;
  // zlib's wrapper: compression method 8 and a header check that divides by 31.
  const auto b0 = static_cast<unsigned char>(head_[0]), b1 = static_cast<unsigned char>(head_[1]);
  Start((b0 & 0x0F) == 8 && (b0 << 8 | b1) % 31 == 0 ? MAX_WBITS : -MAX_WBITS);
  const std::vector<char> head = std::move(head_);
  head_.clear();
  Inflate(head.data(), head.size(), sink);
}

void TContentDecoder::Inflate(const char *data, std::size_t size, const TSink &sink) {
  z_stream &z = z_->Stream;
  while (size > 0) {
    if (ended_) {
      // gzip allows members one after the other; anything else after the
      // end is no part of the body.
      if (coding_ != TCoding::Gzip || static_cast<unsigned char>(data[0]) != 0x1F)
        return;
      inflateReset(&z);
      ended_ = false;
    }
    const uInt take = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    z.avail_in = take;
    do {
      z.next_out = reinterpret_cast<Bytef *>(out_.data());
      z.avail_out = static_cast<uInt>(out_.size());
      const int result = inflate(&z, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
        throw ETcpIpError(std::string("Corrupt compressed answer: ") +
                          (z.msg ? z.msg : "inflate failed"));
      const std::size_t produced = out_.size() - z.avail_out;
      if (produced > 0)
        sink(out_.data(), produced);
      if (result == Z_STREAM_END) {
        ended_ = true;
        break;
      }
      if (result == Z_BUF_ERROR && z.avail_out != 0)
        break;
    } while (z.avail_in > 0 || z.avail_out == 0);
    const std::size_t used = take - z.avail_in;
    data += used;
    size -= used;
  }
}

void TContentDecoder::Finish() const {
  if (fed_ && !ended_)
    throw ETcpIpError("Compressed answer cut short");
}

#include "tcpip/TContentDecoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

namespace {

// data compressed with zlib's own encoder: windowBits 15 is the zlib
// wrapper, -15 raw deflate, 31 gzip.
std::string Compressed(const std::string &data, int windowBits) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef *>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Decoded(std::string_view coding, const std::string &body, std::size_t piece) {
  auto decoder = TContentDecoder::For(coding);
  std::string out;
  for (std::size_t at = 0; at < body.size(); at += piece)
    decoder->Feed(body.data() + at, std::min(piece, body.size() - at),
                  [&out](const char *d, std::size_t n) { out.append(d, n); });
  decoder->Finish();
  return out;
}

// Every coding gives back what went in, however the bytes are cut: gzip
// (members one after the other too), deflate with and without zlib's wrapper.
TEST(TContentDecoder, DecodesWhateverTheCut) {
  std::string text;
  for (int i = 0; i < 5000; ++i)
    text += "line " + std::to_string(i) + "\n";
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{100000}}) {
    EXPECT_EQ(Decoded("gzip", Compressed(text, 31), piece), text);
    EXPECT_EQ(Decoded(" X-GZip ", Compressed(text, 31), piece), text);
    EXPECT_EQ(Decoded("deflate", Compressed(text, 15), piece), text);
    EXPECT_EQ(Decoded("deflate", Compressed(text, -15), piece), text);
    EXPECT_EQ(Decoded("gzip", Compressed("one ", 31) + Compressed("two", 31), piece), "one two");
  }
  EXPECT_EQ(Decoded("gzip", "", 1), "");
  EXPECT_EQ(TContentDecoder::For("identity"), nullptr);
  EXPECT_EQ(TContentDecoder::For("br"), nullptr);
}

// Damaged or cut data is a failure; a body that grows huge arrives in
// pieces, so whoever keeps it can stop it early.
TEST(TContentDecoder, FailuresAndBombs) {
  const std::string gz = Compressed(std::string(1000, 'a'), 31);
  EXPECT_THROW(Decoded("gzip", gz.substr(0, gz.size() - 5), 3), ETcpIpError);
  std::string broken = gz;
  broken[12] = static_cast<char>(broken[12] ^ 0x55);
  EXPECT_THROW(Decoded("gzip", broken, 4096), ETcpIpError);
  EXPECT_THROW(Decoded("deflate", "not compressed at all", 4096), ETcpIpError);

  const std::string bomb = Compressed(std::string(64 << 20, '\0'), 31);
  ASSERT_LT(bomb.size(), 100000u);
  TContentDecoder decoder(TContentDecoder::TCoding::Gzip);
  std::size_t kept = 0, largest = 0;
  struct TFull {};
  EXPECT_THROW(decoder.Feed(bomb.data(), bomb.size(),
                            [&](const char *, std::size_t n) {
                              largest = std::max(largest, n);
                              if ((kept += n) > (1 << 20))
                                throw TFull{};
                            }),
               TFull);
  EXPECT_LE(largest, 64u * 1024);
}

} // namespace

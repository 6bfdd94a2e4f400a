#include "ip_misc/Md5.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Per-step shift amounts and the constants floor(abs(sin(i + 1)) * 2^32).
constexpr int Shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
constexpr std::uint32_t Sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

} // namespace

void TMd5::Reset() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  length_ = 0;
  pendingSize_ = 0;
}

void TMd5::Block(const unsigned char *block) {
  // Words are little-endian whatever the machine is.
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i)
    m[i] = std::uint32_t(block[4 * i]) | std::uint32_t(block[4 * i + 1]) << 8 |
           std::uint32_t(block[4 * i + 2]) << 16 | std::uint32_t(block[4 * i + 3]) << 24;
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    const std::uint32_t next = b + RotateLeft(a + f + Sines[i] + m[g], Shifts[i]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void TMd5::Update(std::string_view data) {
  const auto *p = reinterpret_cast<const unsigned char *>(data.data());
  std::size_t left = data.size();
  length_ += left;
  if (pendingSize_ > 0) {
    const std::size_t take = std::min(left, sizeof pending_ - pendingSize_);
    std::memcpy(pending_ + pendingSize_, p, take);
    pendingSize_ += take;
    p += take;
    left -= take;
    if (pendingSize_ < sizeof pending_)
      return;
    Block(pending_);
    pendingSize_ = 0;
  }
  for (; left >= 64; p += 64, left -= 64)
    Block(p);
  std::memcpy(pending_, p, left);
  pendingSize_ = left;
}

TMd5Digest TMd5::Final() {
  const std::uint64_t bits = length_ * 8;
  // A one bit, zeros up to 56 bytes into a block, then the length in bits.
  static const unsigned char Padding[64] = {0x80};
  Update(std::string_view(reinterpret_cast<const char *>(Padding),
                          pendingSize_ < 56 ? 56 - pendingSize_ : 120 - pendingSize_));
  unsigned char tail[8];
  for (int i = 0; i < 8; ++i)
    tail[i] = static_cast<unsigned char>(bits >> (8 * i));
  Update(std::string_view(reinterpret_cast<const char *>(tail), 8));
  TMd5Digest digest;
  for (std::size_t i = 0; i < 16; ++i)
    digest[i] = static_cast<unsigned char>(state_[i / 4] >> (8 * (i % 4)));
  Reset();
  return digest;
}

TMd5Digest Md5(std::string_view data) {
  TMd5 md5;
  md5.Update(data);
  return md5.Final();
}

TMd5Digest HmacMd5(std::string_view key, std::string_view data) {
  constexpr std::size_t BlockSize = 64;
  // A key longer than a block is first hashed down to a digest.
  std::string k;
  if (key.size() > BlockSize) {
    const TMd5Digest hashed = Md5(key);
    k.assign(reinterpret_cast<const char *>(hashed.data()), hashed.size());
  } else {
    k.assign(key);
  }
  k.resize(BlockSize, '\0');
  std::string inner(k), outer(k);
  for (std::size_t i = 0; i < BlockSize; ++i) {
    inner[i] = static_cast<char>(inner[i] ^ 0x36);
    outer[i] = static_cast<char>(outer[i] ^ 0x5c);
  }
  TMd5 md5;
  md5.Update(inner);
  md5.Update(data);
  const TMd5Digest innerDigest = md5.Final();
  md5.Update(outer);
  md5.Update(
      std::string_view(reinterpret_cast<const char *>(innerDigest.data()), innerDigest.size()));
  return md5.Final();
}

std::string DigestHex(const TMd5Digest &digest) {
  static const char Hex[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digest.size());
  for (unsigned char b : digest) {
    text += Hex[b >> 4];
    text += Hex[b & 15];
  }
  return text;
}

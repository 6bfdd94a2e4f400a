#pragma once
// MD5 (RFC 1321) and HMAC-MD5 (RFC 2104) for the mail logins that still use
// them (CRAM-MD5, APOP). Written here rather than taken from a TLS library,
// so that every build has them, the Windows one included. Not for anything
// that needs a strong hash.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using TMd5Digest = std::array<unsigned char, 16>;

class TMd5 {
public:
  TMd5() { Reset(); }
  void Reset();
  void Update(std::string_view data);
  // The digest of everything given since the last Reset; the object is then
  // reset for the next message.
  TMd5Digest Final();

private:
  void Block(const unsigned char *block);

  std::uint32_t state_[4];
  std::uint64_t length_ = 0; // bytes given so far
  unsigned char pending_[64];
  std::size_t pendingSize_ = 0;
};

TMd5Digest Md5(std::string_view data);
TMd5Digest HmacMd5(std::string_view key, std::string_view data);
// Lower-case hexadecimal, as the mail protocols send a digest.
std::string DigestHex(const TMd5Digest &digest);

#include "ip_misc/Md5.h"

#include <gtest/gtest.h>

TEST(Md5, GivesTheDigestsOfItsDefinition) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto &[input, digest] : vectors)
    EXPECT_EQ(DigestHex(Md5(input)), digest) << input;
}

TEST(Md5, PiecesOfAnyLengthGiveTheDigestOfTheWhole) {
  // Lengths around the padding's edges (55, 56, 64 bytes) and over blocks.
  std::string text;
  for (int i = 0; i < 300; ++i)
    text += static_cast<char>(i * 7 + 3);
  for (std::size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    const std::string whole = text.substr(0, length);
    const TMd5Digest expected = Md5(whole);
    for (std::size_t cut : {1u, 7u, 55u, 64u}) {
      TMd5 md5;
      for (std::size_t at = 0; at < length; at += cut)
        md5.Update(std::string_view(whole).substr(at, cut));
      EXPECT_EQ(md5.Final(), expected) << length << " in pieces of " << cut;
    }
  }
  // Final starts the next message afresh.
  TMd5 md5;
  md5.Update("x");
  md5.Final();
  md5.Update("abc");
  EXPECT_EQ(DigestHex(md5.Final()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(HmacMd5, GivesTheDigestsOfItsDefinition) {
  EXPECT_EQ(DigestHex(HmacMd5(std::string(16, '\x0b'), "Hi There")),
            "9294727a3638bb1c13f48ef8158bfc9d");
  EXPECT_EQ(DigestHex(HmacMd5("Jefe", "what do ya want for nothing?")),
            "750c783e6ab0b503eaa86e310a5db738");
  EXPECT_EQ(DigestHex(HmacMd5(std::string(16, '\xaa'), std::string(50, '\xdd'))),
            "56be34521d144c88dbb8c733f0e8b3f6");
  // A key longer than a block is hashed first.
  EXPECT_EQ(DigestHex(HmacMd5(std::string(80, '\xaa'),
                              "Test Using Larger Than Block-Size Key - Hash Key First")),
            "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
}

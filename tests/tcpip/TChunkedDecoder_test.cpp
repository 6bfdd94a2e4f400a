#include "tcpip/TChunkedDecoder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Feeds text in pieces of the given size; returns the body, or "FAILED: "
// and the message. used receives how much of the text belonged to the body.
std::string Decode(const std::string &text, std::size_t piece, std::size_t *used = nullptr,
                   bool *complete = nullptr) {
  TChunkedDecoder decoder;
  std::string body;
  std::size_t total = 0;
  try {
    for (std::size_t at = 0; at < text.size() && !decoder.Done(); at += piece)
      total += decoder.Feed(text.data() + at, std::min(piece, text.size() - at),
                            [&body](const char *data, std::size_t n) { body.append(data, n); });
  } catch (const ETcpIpError &e) {
    return std::string("FAILED: ") + e.what();
  }
  if (used)
    *used = total;
  if (complete)
    *complete = decoder.Complete();
  return body;
}

} // namespace

// Sizes in either case with extensions, bare LF line ends, a trailer: the
// body comes out whole however the bytes are cut, and nothing after the
// trailer's empty line is taken.
TEST(TChunkedDecoder, DecodesWhateverThePieces) {
  const std::string text = "5;name=\"v\"\r\nhello\r\n1A\r\nabcdefghijklmnopqrstuvwxyz\r\n"
                           "0003 \nxyz\n0\r\nExpires: never\r\n\r\nNEXT";
  for (std::size_t piece : {1, 2, 7, 1000}) {
    std::size_t used = 0;
    EXPECT_EQ(Decode(text, piece, &used), "helloabcdefghijklmnopqrstuvwxyzxyz") << piece;
    EXPECT_EQ(used, text.size() - 4) << piece;
  }
  // The last chunk read, the trailer cut short: the data is whole.
  bool complete = false;
  EXPECT_EQ(Decode("2\r\nab\r\n0\r\nX-Tra", 3, nullptr, &complete), "ab");
  EXPECT_TRUE(complete);
  EXPECT_EQ(Decode("2\r\nab\r\n", 3, nullptr, &complete), "ab");
  EXPECT_FALSE(complete);
}

TEST(TChunkedDecoder, MalformedChunksFail) {
  for (const char *bad : {"x\r\n", "\r\n", "5\r\nhelloX\r\n0\r\n\r\n", "5\rhello",
                          "FFFFFFFFFFFFFFFFF\r\n", "0\r\n\rX", "-1\r\n"})
    EXPECT_EQ(Decode(bad, 4).rfind("FAILED: Malformed chunked body", 0), 0u) << bad;
  EXPECT_EQ(Decode("5\r\nhelloX", 100), "FAILED: Malformed chunked body: line end after the "
                                        "chunk data expected, got 'X'");
  // After the size only blanks, then an extension or the line end.
  for (std::size_t piece : {1, 100}) {
    EXPECT_EQ(Decode("5 garbage\r\nhello\r\n0\r\n\r\n", piece),
              "FAILED: Malformed chunked body: ';' or line end after the chunk size expected, "
              "got 'g'");
    EXPECT_EQ(Decode("5 \t ; a=b\r\nhello\r\n0 \r\n\r\n", piece), "hello");
  }
  // Extensions and trailers are skipped, but not without end.
  const std::string endless(TChunkedDecoder::MaxSkipped + 1, 'e');
  EXPECT_NE(Decode("1;" + endless, 4096).find("extension too long"), std::string::npos);
  EXPECT_NE(Decode("0\r\n" + endless, 4096).find("trailer too long"), std::string::npos);
}

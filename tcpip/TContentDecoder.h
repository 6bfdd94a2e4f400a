#pragma once
// Undoes the content coding of a body (Content-Encoding gzip or deflate) as
// the bytes arrive, handing the decoded bytes on in pieces of bounded size:
// a small body that decodes to a huge one is seen growing piece by piece, so
// a cap on what is kept can stop it early.
#include "tcpip/TChunkedDecoder.h"

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

class TContentDecoder {
public:
  using TSink = TChunkedDecoder::TSink;
  enum class TCoding { Gzip, Deflate };

  // The decoder for a Content-Encoding value, or null when it names no
  // coding this decoder undoes (identity, or none at all).
  static std::unique_ptr<TContentDecoder> For(std::string_view contentEncoding);
  explicit TContentDecoder(TCoding coding);
  ~TContentDecoder();
  TContentDecoder(const TContentDecoder &) = delete;
  TContentDecoder &operator=(const TContentDecoder &) = delete;

  // Decodes size bytes; raises ETcpIpError for data that is not of the coding.
  void Feed(const char *data, std::size_t size, const TSink &sink);
  // The body has ended: raises ETcpIpError when the coded data was cut short
  // (an empty body is no coded data at all, and fine).
  void Finish() const;

private:
  void Start(int windowBits);
  void Inflate(const char *data, std::size_t size, const TSink &sink);
  struct TState;
  std::unique_ptr<TState> z_;
  TCoding coding_;
  // deflate is sent with zlib's wrapper or, by some servers, without: the
  // first two bytes tell.
  std::vector<char> head_;
  bool started_ = false;
  bool fed_ = false;
  bool ended_ = false;
  std::vector<char> out_;
};

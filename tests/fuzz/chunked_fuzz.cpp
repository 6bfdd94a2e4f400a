// The chunked-body decoder on any bytes a server could send, arriving in
// pieces of any size: it must end (body, or a clear failure) without
// crashing, hand out no more than it was given, and decode the same bytes to
// the same body and the same verdict however they are cut.
#include "tcpip/TChunkedDecoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

struct Outcome {
  std::string Body;
  std::size_t Used = 0;
  bool Failed = false;
  bool Done = false;
  bool Complete = false;
};

Outcome Decode(std::string_view input, std::size_t piece) {
  Outcome out;
  TChunkedDecoder decoder;
  const TChunkedDecoder::TSink sink = [&out](const char *data, std::size_t n) {
    out.Body.append(data, n);
  };
  try {
    for (std::size_t at = 0; at < input.size() && !decoder.Done(); at += piece) {
      const std::size_t n = std::min(piece, input.size() - at);
      const std::size_t used = decoder.Feed(input.data() + at, n, sink);
      out.Used += used;
      if (used < n && !decoder.Done())
        std::abort();
    }
  } catch (const ETcpIpError &) {
    out.Failed = true;
  }
  out.Done = decoder.Done();
  out.Complete = decoder.Complete();
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  // The first byte chooses the piece size; the rest is the stream.
  const std::size_t piece = 1 + data[0] % 64;
  const std::string_view input(reinterpret_cast<const char *>(data + 1), size - 1);
  const Outcome whole = Decode(input, input.size() + 1);
  const Outcome cut = Decode(input, piece);
  if (whole.Body.size() > input.size() || (whole.Done && !whole.Complete))
    std::abort();
  if (whole.Failed != cut.Failed || whole.Done != cut.Done || whole.Complete != cut.Complete)
    std::abort();
  // A failure may come after different amounts of data have been handed on,
  // but a verdict of success must be the same body.
  if (!whole.Failed && (whole.Body != cut.Body || whole.Used != cut.Used))
    std::abort();
  return 0;
}

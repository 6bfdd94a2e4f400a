// Relay framing: arbitrary bytes arriving in arbitrary pieces. The messages
// split off must be exactly what the stream holds between terminators, in
// order, whatever the pieces, and the route split must be lossless.
#include "commands/RelayRouter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<std::string> Reference(std::string_view all, std::string &rest) {
  std::vector<std::string> out;
  std::size_t start = 0, end;
  while ((end = all.find("\r\n", start)) != std::string_view::npos) {
    out.emplace_back(all.substr(start, end - start));
    start = end + 2;
  }
  rest = all.substr(start);
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  // The first byte chooses the piece size; the rest is the stream.
  const std::size_t piece = 1 + data[0] % 64;
  const std::string_view stream(reinterpret_cast<const char *>(data + 1), size - 1);

  std::string buffer;
  std::vector<std::string> got;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    const bool fits = RelayRouter::Receive([&] { return &buffer; }, stream.substr(at, piece),
                                           [&](std::string_view m) {
                                             got.emplace_back(m);
                                             return true;
                                           });
    if (!fits)
      std::abort();
  }
  std::string rest;
  const std::vector<std::string> want = Reference(stream, rest);
  if (got != want || buffer != rest)
    std::abort();

  // A routed message is its envelope, whatever its text holds.
  using TRoute = RelayRouter::TRoute;
  for (const std::string &m : got) {
    const RelayRouter::TMessage parsed = RelayRouter::Parse(m);
    const bool targeted = parsed.Which.Route == TRoute::Id || parsed.Which.Route == TRoute::Address;
    if (parsed.Which.Route == TRoute::None || (targeted && m.find(';') == std::string::npos))
      continue;
    if (RelayRouter::Envelope(parsed.Which, parsed.Text) != m + "\r\n")
      std::abort();
  }
  return 0;
}

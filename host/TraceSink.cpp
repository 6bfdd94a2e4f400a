#include "host/TraceSink.h"

#include <string_view>
#include <utility>

bool ParseTransferCount(std::string_view text, bool &sent, std::uint64_t &bytes,
                        std::string_view &where) {
  if (text.starts_with("Received "))
    sent = false;
  else if (text.starts_with("Sent "))
    sent = true;
  else
    return false;
  text.remove_prefix(text.find(' ') + 1);
  std::size_t digits = 0;
  bytes = 0;
  while (digits < text.size() && digits < 19 && text[digits] >= '0' && text[digits] <= '9')
    bytes = bytes * 10 + static_cast<std::uint64_t>(text[digits++] - '0');
  if (digits == 0 || !text.substr(digits).starts_with(" bytes"))
    return false;
  where = text.substr(digits + 6);
  return true;
}

namespace {

// The blank line that ends a header block is read without a trace.
constexpr std::uint64_t UntracedSlack = 2;

} // namespace

std::string MaskUrlPasswords(std::string text) {
  for (std::size_t at = text.find("://"); at != std::string::npos; at = text.find("://", at)) {
    at += 3;
    const std::size_t end = text.find_first_of("/?# ", at);
    const std::size_t atSign = text.rfind('@', end == std::string::npos ? text.size() : end);
    if (atSign == std::string::npos || atSign < at)
      continue;
    const std::size_t colon = text.find(':', at);
    if (colon < atSign && atSign - colon > 1)
      text.replace(colon + 1, atSign - colon - 1, "*****");
  }
  return text;
}

void TraceSink::SetProc(Proc proc, void *context) {
  Flush();
  proc_ = proc;
  context_ = context;
}

void TraceSink::Emit(TTraceLevel level, const std::string &text) const {
  if (proc_)
    proc_(context_, static_cast<int>(level), MaskUrlPasswords(text).c_str());
}

void TraceSink::Add(const std::string &text, TTraceLevel level) {
  if (!proc_)
    return;
  bool sent = false;
  std::uint64_t bytes = 0;
  std::string_view where;
  if (level == tlSocket && ParseTransferCount(text, sent, bytes, where)) {
    if (!run_.Open || run_.Sent != sent || run_.Where != where) {
      Flush();
      run_.Open = true;
      run_.Sent = sent;
      run_.Where = where;
    }
    run_.Bytes += bytes;
    run_.LastSend = sent ? bytes : 0;
    // A line end alone after the commands ends a header block.
    if (sent && bytes == 2 && std::exchange(run_.AfterCommand, false))
      run_.LineBytes += std::exchange(run_.LastSend, 0);
    return;
  }
  // A command is traced after its bytes were sent, a reply after its bytes
  // were read: each belongs to the run before it.
  const bool inRun =
      run_.Open && ((level == tlCommand && run_.Sent) || (level == tlReply && !run_.Sent));
  if (inRun) {
    run_.LineBytes += level == tlCommand ? std::exchange(run_.LastSend, 0) : text.size() + 2;
    run_.AfterCommand = level == tlCommand;
  } else
    Flush();
  Emit(level, text);
}

void TraceSink::Flush() {
  if (!run_.Open)
    return;
  const Run run = std::exchange(run_, Run{});
  if (run.Sent && run.Bytes > run.LineBytes)
    Emit(tlSocket, "Sent " + std::to_string(run.Bytes - run.LineBytes) + " bytes" + run.Where);
  else if (!run.Sent && run.Bytes > run.LineBytes + UntracedSlack)
    Emit(tlSocket, "Received " + std::to_string(run.Bytes) + " bytes" + run.Where);
}

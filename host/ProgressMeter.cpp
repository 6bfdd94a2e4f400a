#include "host/ProgressMeter.h"

#include "host/TraceSink.h"

#include <algorithm>
#include <utility>

namespace {

constexpr auto ReportInterval = std::chrono::milliseconds(100);

} // namespace

void ProgressMeter::SetProc(Proc proc, void *context) {
  proc_ = proc;
  context_ = context;
}

void ProgressMeter::Begin(std::string operation, bool sending, TotalFn total) {
  operation_ = std::move(operation);
  sending_ = sending;
  done_ = 0;
  // What the clients know of the size may still be their last transfer's.
  total_ = nullptr;
  Report();
  total_ = std::move(total);
}

void ProgressMeter::Add(const std::string &text, TTraceLevel level) {
  bool sent = false;
  std::uint64_t bytes = 0;
  std::string_view where;
  if (operation_.empty() || level != tlSocket || !ParseTransferCount(text, sent, bytes, where) ||
      sent != sending_)
    return;
  done_ += static_cast<std::int64_t>(bytes);
  if (std::chrono::steady_clock::now() - last_ >= ReportInterval)
    Report();
}

void ProgressMeter::End() {
  if (operation_.empty())
    return;
  Report();
  operation_.clear();
  total_ = nullptr;
}

void ProgressMeter::Report() {
  last_ = std::chrono::steady_clock::now();
  const std::int64_t total = total_ ? total_() : -1;
  // Commands and headers travel with the data: never more than the whole.
  const std::int64_t done = total >= 0 ? std::min(done_, total) : done_;
  if (proc_)
    proc_(context_, operation_.c_str(), done, total);
}

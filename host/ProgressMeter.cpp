#include "host/ProgressMeter.h"

#include <algorithm>
#include <utility>

namespace {

constexpr auto ReportInterval = std::chrono::milliseconds(100);

} // namespace

void ProgressMeter::SetProc(Proc proc, void *context) {
  proc_ = proc;
  context_ = context;
}

void ProgressMeter::Begin(std::string operation, TDirection direction, TByteCounts &counts) {
  End();
  if (!proc_)
    return;
  operation_ = std::move(operation);
  direction_ = direction;
  counts_ = &counts;
  // What the client knows of the size is still its last transfer's.
  counts.Expect(direction, 0);
  start_ = counts.Moved(direction);
  Report();
  counts.OnMoved = [this] { Moved(); };
}

void ProgressMeter::Moved() {
  if (std::chrono::steady_clock::now() - last_ >= ReportInterval)
    Report();
}

void ProgressMeter::End() {
  if (!counts_)
    return;
  counts_->OnMoved = nullptr;
  Report();
  counts_ = nullptr;
  operation_.clear();
}

void ProgressMeter::Report() {
  last_ = std::chrono::steady_clock::now();
  const std::int64_t total = counts_->Expected(direction_);
  // A size is the server's word: never more than the whole.
  const std::int64_t moved = counts_->Moved(direction_) - start_;
  const std::int64_t done = total >= 0 ? std::min(moved, total) : moved;
  if (proc_)
    proc_(context_, operation_.c_str(), done, total);
}

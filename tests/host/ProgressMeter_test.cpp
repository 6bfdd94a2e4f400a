#include "host/ProgressMeter.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> reports;

void Record(void *, const char *operation, std::int64_t done, std::int64_t total) {
  reports.push_back(std::string(operation) + " " + std::to_string(done) + " " +
                    std::to_string(total));
}

} // namespace

TEST(ProgressMeter, CountsTheTransfersDirectionAndReportsStartSpacedAndEnd) {
  ProgressMeter meter;
  meter.SetProc(Record, nullptr);
  TByteCounts counts;
  // Nothing is reported outside a transfer, and counts before it do not count.
  counts.Add(TDirection::Received, 10);
  meter.End();
  EXPECT_TRUE(reports.empty());

  counts.Expect(TDirection::Received, 99); // the last transfer's size, not this one's
  meter.Begin("DOWNLOAD", TDirection::Received, counts);
  counts.Add(TDirection::Sent, 12);   // a command
  counts.Add(TDirection::Received, 100); // within a tenth of a second
  counts.Expect(TDirection::Received, 500);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  counts.Add(TDirection::Received, 300);
  // Headers count with the data; the report never passes the size.
  counts.Add(TDirection::Received, 300);
  meter.End();
  meter.End();
  const std::vector<std::string> want = {"DOWNLOAD 0 -1", "DOWNLOAD 400 500", "DOWNLOAD 500 500"};
  EXPECT_EQ(reports, want);
  // The counts are let go of at the end.
  EXPECT_FALSE(counts.OnMoved);

  reports.clear();
  meter.Begin("SEND", TDirection::Sent, counts);
  counts.Add(TDirection::Sent, 7000);
  meter.SetProc(nullptr, nullptr);
  meter.End();
  EXPECT_EQ(reports, std::vector<std::string>{"SEND 0 -1"});
}

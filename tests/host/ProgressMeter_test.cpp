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
  std::int64_t total = 500;
  // Nothing is reported outside a transfer.
  meter.Add("Received 10 bytes on socket ID 5", tlSocket);
  meter.End();
  EXPECT_TRUE(reports.empty());

  total = 99; // the last transfer's size, not this one's
  meter.Begin("DOWNLOAD", false, [&total] { return total; });
  total = 500;
  meter.Add("Sent 12 bytes on socket ID 5", tlSocket);      // a command
  meter.Add("Received 100 bytes on socket ID 7", tlSocket); // within a tenth of a second
  meter.Add("226 Received 1000 bytes on socket ID 7", tlReply);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  meter.Add("Received 300 bytes on socket ID 7", tlSocket);
  // Headers count with the data; the report never passes the size.
  meter.Add("Received 300 bytes on socket ID 7", tlSocket);
  meter.End();
  meter.End();
  const std::vector<std::string> want = {"DOWNLOAD 0 -1", "DOWNLOAD 400 500", "DOWNLOAD 500 500"};
  EXPECT_EQ(reports, want);

  reports.clear();
  meter.Begin("SEND", true, nullptr);
  meter.Add("Sent 7000 bytes on socket ID 5", tlSocket);
  meter.SetProc(nullptr, nullptr);
  meter.End();
  EXPECT_EQ(reports, std::vector<std::string>{"SEND 0 -1"});
}

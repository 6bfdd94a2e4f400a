// The host loop of bench/jobs.sh: a host that calls ProcessMessages(10) in a
// loop, as nethost's net.wait does, and how long it waits between two of its
// turns, with background jobs downloading and without any. Prints the
// number of turns and the median, 99th percentile and largest gap in
// milliseconds; with jobs, also their ends.
//
//   jobs_loop_bench SECONDS                 the loop alone for SECONDS
//   jobs_loop_bench 0 URL FILE [URL FILE]…   the loop while every URL downloads
//                                           as a job into its FILE, until all
//                                           have ended
#include "host/Library.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int events = 0;

void OnEvent(const char *) { ++events; }

std::vector<char> Block(const std::vector<std::string> &texts) {
  std::vector<char> block(65536, '\0');
  std::size_t at = 0;
  for (const std::string &t : texts) {
    std::memcpy(block.data() + at, t.data(), t.size());
    at += t.size() + 1;
  }
  return block;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2 || (argc > 2 && argc % 2 != 0)) {
    std::fprintf(stderr, "usage: jobs_loop_bench SECONDS | jobs_loop_bench 0 URL FILE...\n");
    return 2;
  }
  using Clock = std::chrono::steady_clock;
  Library lib(0, OnEvent);
  int jobs = 0;
  for (int k = 2; k + 1 < argc; k += 2) {
    const std::string id = lib.FuncProc(Block({"JOB", "START", "HTTP", "DOWNLOAD", argv[k], argv[k + 1]}).data());
    if (id.empty()) {
      std::fprintf(stderr, "JOB START failed: %d\n", lib.StatProc());
      return 1;
    }
    ++jobs;
  }
  const auto until = Clock::now() + std::chrono::seconds(std::atoi(argv[1]));
  std::vector<double> gaps;
  int ended = 0, failed = 0;
  auto last = Clock::now();
  while (jobs > 0 ? ended < jobs : Clock::now() < until) {
    lib.ProcessMessages(10);
    for (std::string record; !(record = lib.FuncProc(Block({"JOB", "EVENT"}).data())).empty();) {
      if (record.find(" RUNNING ") != std::string::npos)
        continue;
      ++ended;
      failed += record.find(" DONE ") == std::string::npos;
    }
    const auto now = Clock::now();
    gaps.push_back(std::chrono::duration<double, std::milli>(now - last).count());
    last = now;
  }
  std::sort(gaps.begin(), gaps.end());
  const auto at = [&](double q) { return gaps[std::min(gaps.size() - 1, static_cast<std::size_t>(q * static_cast<double>(gaps.size())))]; };
  std::printf("turns %zu median %.1f p99 %.1f max %.1f events %d failed %d\n", gaps.size(), at(0.5),
              at(0.99), gaps.back(), events, failed);
  return failed == 0 ? 0 : 1;
}

#pragma once
// A folder of the test's own under the system's temporary folder, removed
// with all it holds when the test is done. A file named in the shared
// temporary folder meets what other runs left there or write at the same
// time: several runs of the suites on one machine, a run that was killed,
// an older build whose test failed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace testsupport {

class TempFolder {
public:
  TempFolder() {
    std::mt19937_64 random(std::random_device{}() ^
                           static_cast<std::uint64_t>(
                               std::chrono::steady_clock::now().time_since_epoch().count()));
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = base / ("scriptnet_test_" + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(path_, ec))
        return;
    }
    ADD_FAILURE() << "no temporary folder of its own under " << base;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;

  // The path of name inside the folder.
  std::string operator/(const std::string &name) const { return (path_ / name).string(); }
  std::string Path() const { return path_.string(); }

private:
  std::filesystem::path path_;
};

} // namespace testsupport

#pragma once
// What the suites need from the system and name differently on POSIX and
// Windows (where they run under Wine): the environment and a private folder.
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace testsupport {

inline void SetEnv(const char *name, const std::string &value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

// On Windows an empty value removes the variable.
inline void UnsetEnv(const char *name) {
#ifdef _WIN32
  _putenv_s(name, "");
#else
  unsetenv(name);
#endif
}

// A new empty folder under the system's temporary folder; empty on failure.
inline std::string MakeTempDir(const std::string &prefix) {
  std::random_device random;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path dir = base / (prefix + std::to_string(random()));
    std::error_code ec;
    if (std::filesystem::create_directory(dir, ec))
      return dir.string();
  }
  return {};
}

} // namespace testsupport

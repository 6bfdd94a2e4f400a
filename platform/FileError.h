#pragma once
// A local file that could not be read or written: "Cannot open file "NAME":
// reason".
#include <stdexcept>
#include <string>

namespace platform {

class EFileError : public std::runtime_error {
public:
  explicit EFileError(const std::string &msg) : std::runtime_error(msg) {}
};

} // namespace platform

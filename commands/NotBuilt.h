#pragma once
// Temporary: subcommands whose objects are still being built answer with
// host code 250 and say so through IPERROR.
#include <stdexcept>
#include <string>

[[noreturn]] inline void NotBuiltYet(const std::string &what) {
  throw std::runtime_error(what + " is not available in this build");
}

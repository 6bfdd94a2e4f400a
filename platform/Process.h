#pragma once
// The running process as other parts see it.
#include <cstdint>

namespace platform {

// The operating system's number for this process.
std::int64_t CurrentProcessId();

} // namespace platform

#pragma once
// The running process as other parts see it.
#include <cstdint>
#include <string>

namespace platform {

// The operating system's number for this process.
std::int64_t CurrentProcessId();
// Runs program in place of this process with the arguments argv (ended by
// a null pointer) and the environment as it is now; returns only when that
// failed.
void ReplaceProcess(const std::string &program, char **argv);

} // namespace platform

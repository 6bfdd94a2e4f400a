#include "platform/Process.h"

#include <unistd.h>

namespace platform {

std::int64_t CurrentProcessId() { return static_cast<std::int64_t>(getpid()); }

void ReplaceProcess(const std::string &program, char **argv) { ::execv(program.c_str(), argv); }

} // namespace platform

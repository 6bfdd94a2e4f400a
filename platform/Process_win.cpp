#include "platform/Process.h"

#include <windows.h>

#include <process.h>

namespace platform {

std::int64_t CurrentProcessId() { return static_cast<std::int64_t>(::GetCurrentProcessId()); }

void ReplaceProcess(const std::string &program, char **argv) { ::_execv(program.c_str(), argv); }

} // namespace platform

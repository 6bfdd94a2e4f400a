#include "platform/Process.h"

#include <windows.h>

namespace platform {

std::int64_t CurrentProcessId() { return static_cast<std::int64_t>(::GetCurrentProcessId()); }

} // namespace platform

#include "platform/Process.h"

#include <unistd.h>

namespace platform {

std::int64_t CurrentProcessId() { return static_cast<std::int64_t>(getpid()); }

} // namespace platform

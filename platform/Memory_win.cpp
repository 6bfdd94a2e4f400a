#include "platform/Memory.h"

namespace platform {

// Windows has no advice to give on large pages of ordinary memory.
void PrepareLargeWrite(void *, std::size_t) {}
void PrepareNetworkFill(void *, std::size_t) {}

} // namespace platform

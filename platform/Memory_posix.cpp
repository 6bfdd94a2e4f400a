#include "platform/Memory.h"

#include <cstdint>
#include <sys/mman.h>

namespace platform {

void PrepareLargeWrite(void *data, std::size_t size) {
#if defined(MADV_HUGEPAGE)
  constexpr std::size_t Threshold = std::size_t(8) << 20;
  constexpr std::uintptr_t Page = 4096;
  if (!data || size < Threshold)
    return;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + Page - 1) & ~(Page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(Page - 1);
  if (end > begin)
    ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

} // namespace platform

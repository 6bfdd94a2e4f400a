#include "platform/Memory.h"

#include <cstdint>
#include <sys/mman.h>

namespace platform {

namespace {

// The whole pages of a large buffer given the advice; small buffers are
// left alone.
void Advise(void *data, std::size_t size, int advice) {
  constexpr std::size_t Threshold = std::size_t(8) << 20;
  constexpr std::uintptr_t Page = 4096;
  if (!data || size < Threshold)
    return;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + Page - 1) & ~(Page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(Page - 1);
  if (end > begin)
    ::madvise(reinterpret_cast<void *>(begin), end - begin, advice);
}

} // namespace

void PrepareLargeWrite(void *data, std::size_t size) { Advise(data, size, MADV_HUGEPAGE); }

void PrepareNetworkFill(void *data, std::size_t size) { Advise(data, size, MADV_NOHUGEPAGE); }

} // namespace platform

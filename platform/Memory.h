#pragma once
// Hints to the system about large buffers.
#include <cstddef>

namespace platform {

// Says that the size bytes at data, just reserved, are about to be written
// whole. For buffers of several megabytes the system is asked to back them
// with huge pages, which saves one page fault per 4 KiB; small buffers and
// systems without such pages are left alone. Never fails.
void PrepareLargeWrite(void *data, std::size_t size);
// Says that the size bytes at data, just reserved, will be filled as the
// network delivers them: ordinary pages, even where the heap is asked to use
// huge ones. A huge page is worth its cost only to work that is bound by
// page faults; a fresh one may take the system tens of milliseconds to find
// and clear, longer than the network takes to fill it. Never fails.
void PrepareNetworkFill(void *data, std::size_t size);

} // namespace platform

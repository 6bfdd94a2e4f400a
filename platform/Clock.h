#pragma once
// The system clock and time-zone data.
#include <cstdint>

namespace platform {

struct LocalClock {
  // Seconds since 1970-01-01 00:00 read on the local clock (UTC plus the
  // zone's current offset), and the microseconds within that second.
  std::int64_t LocalSeconds;
  std::int64_t Microseconds;
};
LocalClock LocalNow();

// Minutes to add to local time to obtain UTC, as the zone data gives it now
// (daylight saving time included): -60 one hour east of UTC.
int TimeZoneBiasMinutes();

} // namespace platform

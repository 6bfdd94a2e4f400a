#include "platform/Clock.h"

#include <windows.h>

namespace platform {

namespace {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t UnixEpoch = 116444736000000000LL;

std::int64_t Ticks(const FILETIME &ft) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                   ft.dwLowDateTime);
}

// Local time minus UTC at the moment utc, in 100-nanosecond intervals, with
// daylight saving time as it applies then.
std::int64_t LocalOffset(const FILETIME &utc) {
  SYSTEMTIME u{}, l{};
  FILETIME local{};
  if (!::FileTimeToSystemTime(&utc, &u) || !::SystemTimeToTzSpecificLocalTime(nullptr, &u, &l) ||
      !::SystemTimeToFileTime(&l, &local))
    return 0;
  // Whole seconds: the conversion drops what is below a millisecond.
  return (Ticks(local) - Ticks(utc)) / 10000000 * 10000000;
}

} // namespace

LocalClock LocalNow() {
  FILETIME utc{};
  ::GetSystemTimePreciseAsFileTime(&utc);
  const std::int64_t since = Ticks(utc) - UnixEpoch;
  return {since / 10000000 + LocalOffset(utc) / 10000000, since % 10000000 / 10};
}

int TimeZoneBiasMinutes() {
  FILETIME utc{};
  ::GetSystemTimeAsFileTime(&utc);
  return static_cast<int>(-LocalOffset(utc) / 600000000);
}

} // namespace platform

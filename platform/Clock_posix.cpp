#include "platform/Clock.h"

#include <sys/time.h>
#include <time.h>

namespace platform {

LocalClock LocalNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  localtime_r(&tv.tv_sec, &local);
  return {static_cast<std::int64_t>(tv.tv_sec) + local.tm_gmtoff, tv.tv_usec};
}

int TimeZoneBiasMinutes() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return static_cast<int>(-local.tm_gmtoff / 60);
}

} // namespace platform

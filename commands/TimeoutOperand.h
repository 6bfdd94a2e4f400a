#pragma once
// The operands of the TIMEOUT subcommands (seconds, decimals allowed; 0 waits
// for ever) and of the LOWSPEED subcommands (the floor of a connection's
// rate).
#include "ip_misc/Errors.h"
#include "tcpip/TConnection.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

// The time-out in milliseconds (NoTimeout for 0). Raises EConvertError for
// anything but a number from 0 to a day.
inline int TimeoutMilliseconds(const std::string &operand) {
  constexpr double MaxSeconds = 86400;
  const char *start = operand.c_str();
  char *end = nullptr;
  const double seconds = std::strtod(start, &end);
  while (end && (*end == ' ' || *end == '\t'))
    ++end;
  if (end == start || !end || *end != '\0' || !std::isfinite(seconds) || seconds < 0 ||
      seconds > MaxSeconds)
    throw EConvertError("'" + operand + "' is not a time-out in seconds from 0 to 86400");
  if (seconds == 0)
    return NoTimeout;
  // A positive time-out never rounds down to none at all.
  return std::max(1, static_cast<int>(std::lround(seconds * 1000)));
}

// The floor of LOWSPEED: rate in bytes per second, a whole number from 0 (no
// floor) to 1e9, and the seconds of waiting it is measured over, as a
// time-out but above 0, 60 when left empty. Raises EConvertError otherwise.
inline TLowSpeed LowSpeedOperands(const std::string &rate, const std::string &seconds) {
  TLowSpeed floor;
  const bool digits = !rate.empty() && rate.size() <= 10 &&
                      std::all_of(rate.begin(), rate.end(), [](char c) { return c >= '0' && c <= '9'; });
  const long long value = digits ? std::stoll(rate) : -1;
  if (value < 0 || value > 1000000000)
    throw EConvertError("'" + rate + "' is not a rate in bytes per second from 0 to 1000000000");
  floor.BytesPerSecond = value;
  if (seconds.empty())
    return floor;
  floor.TimeMs = TimeoutMilliseconds(seconds);
  if (floor.TimeMs == NoTimeout)
    throw EConvertError("'" + seconds + "' is not a stretch in seconds above 0 up to 86400");
  return floor;
}

#pragma once
// The operand of the TIMEOUT subcommands: seconds, decimals allowed; 0 waits
// for ever.
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

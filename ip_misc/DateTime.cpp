#include "ip_misc/DateTime.h"

#include "ip_misc/Errors.h"
#include "platform/Clock.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr std::int64_t kUnixEpochDay = 25569; // 1970-01-01 as a day number

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int &y, int &m, int &d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

} // namespace

TDateTime EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    throw EConvertError("Invalid argument to date encode");
  return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                           static_cast<unsigned>(day)) +
                             kUnixEpochDay);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    throw EConvertError("Invalid argument to time encode");
  return ((hour * 3600.0 + minute * 60.0 + second) * 1000.0 + millisecond) / 86400000.0;
}

DateParts DecodeDateTime(TDateTime t) {
  // Round to the millisecond first so that 14:05 does not read 14:04:59.999.
  const auto ms = static_cast<std::int64_t>(std::llround(t * 86400000.0));
  std::int64_t day = ms / 86400000;
  std::int64_t rest = ms % 86400000;
  if (rest < 0) {
    rest += 86400000;
    --day;
  }
  DateParts p{};
  CivilFromDays(day - kUnixEpochDay, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(rest / 3600000);
  p.Minute = static_cast<int>(rest / 60000 % 60);
  p.Second = static_cast<int>(rest / 1000 % 60);
  p.Millisecond = static_cast<int>(rest % 1000);
  // Day 0 (30 December 1899) was a Saturday.
  p.DayOfWeek = static_cast<int>(((day + 6) % 7 + 7) % 7);
  return p;
}

std::int64_t DateTimeToUnix(TDateTime t) {
  return std::llround((t - static_cast<double>(kUnixEpochDay)) * 86400.0);
}

TDateTime UnixToDateTime(std::int64_t seconds) {
  return static_cast<double>(kUnixEpochDay) + static_cast<double>(seconds) / 86400.0;
}

TDateTime Now() {
  const platform::LocalClock c = platform::LocalNow();
  return UnixToDateTime(c.LocalSeconds) + static_cast<double>(c.Microseconds) / 86400e6;
}

std::string DateTimeToStr(TDateTime t) {
  const DateParts p = DecodeDateTime(t);
  char buf[64];
  if (p.Hour == 0 && p.Minute == 0 && p.Second == 0)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day,
                  p.Hour, p.Minute, p.Second);
  return buf;
}

std::string FloatToStr(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  return buf;
}

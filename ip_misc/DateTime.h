#pragma once
// Date-times as day numbers: days since 30 December 1899 00:00, the time of
// day as the fraction. Scripts see them as numbers and as text.
#include <cstdint>
#include <string>

using TDateTime = double;

// Raise EConvertError for an impossible date or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);

struct DateParts {
  int Year, Month, Day, Hour, Minute, Second, Millisecond, DayOfWeek; // 0 = Sunday
};
DateParts DecodeDateTime(TDateTime t);

// Seconds since 1970-01-01 00:00 on the same clock as t.
std::int64_t DateTimeToUnix(TDateTime t);
TDateTime UnixToDateTime(std::int64_t seconds);

// The local clock now.
TDateTime Now();

// "yyyy-mm-dd hh:nn:ss", the time left out when it is exactly midnight.
std::string DateTimeToStr(TDateTime t);
// Shortest general form with up to 15 significant digits: 37636.5.
std::string FloatToStr(double value);

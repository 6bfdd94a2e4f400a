#include "tcpip/FtpListParser.h"

#include "ip_misc/Errors.h"

#include <array>
#include <optional>
#include <vector>

namespace {

struct Token {
  std::size_t Start, End;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::vector<Token> Tokens(std::string_view line) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i]))
      ++i;
    if (i == line.size())
      break;
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i]))
      ++i;
    tokens.push_back({start, i});
  }
  return tokens;
}

bool AllDigits(std::string_view s, std::size_t minLength, std::size_t maxLength) {
  if (s.size() < minLength || s.size() > maxLength)
    return false;
  for (char c : s)
    if (!IsDigit(c))
      return false;
  return true;
}

int SmallNumber(std::string_view digits) {
  int n = 0;
  for (char c : digits)
    n = n * 10 + (c - '0');
  return n;
}

// A size column; nothing for a number too large for 64 bits.
std::optional<std::int64_t> SizeNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 18)
    return std::nullopt;
  std::int64_t n = 0;
  for (char c : digits) {
    if (!IsDigit(c))
      return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

// "h:mm" or "hh:mm", optionally followed by AM or PM; hour and minute out.
bool ReadClock(std::string_view s, int &hour, int &minute, bool allowMeridiem) {
  std::string_view meridiem;
  if (allowMeridiem && s.size() > 2) {
    const std::string_view tail = s.substr(s.size() - 2);
    if (tail == "AM" || tail == "PM" || tail == "am" || tail == "pm") {
      meridiem = tail;
      s.remove_suffix(2);
    }
  }
  const std::size_t colon = s.find(':');
  if (colon == std::string_view::npos || !AllDigits(s.substr(0, colon), 1, 2) ||
      !AllDigits(s.substr(colon + 1), 2, 2))
    return false;
  hour = SmallNumber(s.substr(0, colon));
  minute = SmallNumber(s.substr(colon + 1));
  if (!meridiem.empty()) {
    const bool pm = meridiem[0] == 'P' || meridiem[0] == 'p';
    if (hour == 12)
      hour = 0;
    if (pm)
      hour += 12;
  }
  return true;
}

// The day number of a listed moment, 0 when the listing gives an
// impossible one (servers do print hours of 30 and days of 36).
TDateTime DayNumber(int year, int month, int day, int hour, int minute) {
  try {
    // Some servers write midnight at the end of a day as 24:00.
    if (hour == 24 && minute == 0)
      return EncodeDate(year, month, day) + 1;
    return EncodeDate(year, month, day) + EncodeTime(hour, minute, 0, 0);
  } catch (const EConvertError &) {
    return 0;
  }
}

std::string_view WithoutLineEnd(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// Year-less dates are at most a few months old, so the latest year that
// does not put the moment after now is the right one. A day of grace keeps
// a server whose clock or zone runs ahead of ours from moving a file written
// a moment ago into last year.
int YearOfYearless(int month, int day, int hour, int minute, TDateTime now) {
  const int thisYear = DecodeDateTime(now).Year;
  for (int year = thisYear; year > thisYear - 8; --year) {
    const TDateTime t = DayNumber(year, month, day, hour, minute);
    if (t != 0 && t <= now + 1)
      return year;
  }
  return thisYear;
}

} // namespace

int MonthIndex(std::string_view text) {
  static constexpr std::array<std::string_view, 12> names = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == text)
      return static_cast<int>(i) + 1;
  return 0;
}

t_filedata ParseUnixLine(std::string_view line, TDateTime now) {
  line = WithoutLineEnd(line);
  t_filedata rec;
  const std::vector<Token> tokens = Tokens(line);
  const auto text = [&](std::size_t i) {
    return line.substr(tokens[i].Start, tokens[i].End - tokens[i].Start);
  };
  // The date is the first "size month day year-or-time" run followed by a
  // name; finding it by shape rather than by column copes with missing
  // owner or group columns and with owners, groups and names that hold
  // blanks.
  for (std::size_t i = 2; i + 3 < tokens.size(); ++i) {
    const int month = MonthIndex(text(i));
    if (month == 0 || !AllDigits(text(i - 1), 1, 64) || !AllDigits(text(i + 1), 1, 2))
      continue;
    const std::string_view stamp = text(i + 2);
    int year = 0, hour = 0, minute = 0;
    const bool hasYear = AllDigits(stamp, 4, 4);
    if (hasYear)
      year = SmallNumber(stamp);
    else if (!ReadClock(stamp, hour, minute, false))
      continue;
    const std::optional<std::int64_t> size = SizeNumber(text(i - 1));
    if (!size)
      return rec;
    const int day = SmallNumber(text(i + 1));
    if (!hasYear)
      year = YearOfYearless(month, day, hour, minute, now);

    std::string_view name = line.substr(tokens[i + 3].Start);
    switch (line[0]) {
    case 'd': rec.Kind = fkDirectory; break;
    case 'l': rec.Kind = fkLink; break;
    default: rec.Kind = fkFile; break;
    }
    if (rec.Kind == fkLink) {
      const std::size_t arrow = name.find(" -> ");
      if (arrow != std::string_view::npos)
        name = name.substr(0, arrow);
    }
    rec.Name = std::string(name);
    rec.Size = *size;
    rec.Date = DayNumber(year, month, day, hour, minute);
    return rec;
  }
  return rec;
}

t_filedata ParseDosLine(std::string_view line) {
  line = WithoutLineEnd(line);
  t_filedata rec;
  const std::vector<Token> tokens = Tokens(line);
  if (tokens.size() < 4)
    return rec;
  const auto text = [&](std::size_t i) {
    return line.substr(tokens[i].Start, tokens[i].End - tokens[i].Start);
  };

  // mm-dd-yy or mm-dd-yyyy ("/" is seen too).
  const std::string_view date = text(0);
  const std::size_t s1 = date.find_first_of("-/");
  const std::size_t s2 = s1 == std::string_view::npos ? s1 : date.find_first_of("-/", s1 + 1);
  if (s2 == std::string_view::npos)
    return rec;
  const std::string_view mm = date.substr(0, s1), dd = date.substr(s1 + 1, s2 - s1 - 1),
                         yy = date.substr(s2 + 1);
  if (!AllDigits(mm, 1, 2) || !AllDigits(dd, 1, 2) || !(AllDigits(yy, 2, 2) || AllDigits(yy, 4, 4)))
    return rec;
  int hour = 0, minute = 0;
  if (!ReadClock(text(1), hour, minute, true))
    return rec;

  const std::string_view column = text(2);
  if (column == "<DIR>") {
    rec.Kind = fkDirectory;
  } else {
    const std::optional<std::int64_t> size = SizeNumber(column);
    if (!size)
      return rec;
    rec.Kind = fkFile;
    rec.Size = *size;
  }
  int year = SmallNumber(yy);
  // Two-digit years: 70 to 99 are the 1900s, the rest this century.
  if (yy.size() == 2)
    year += year >= 70 ? 1900 : 2000;
  rec.Name = std::string(line.substr(tokens[3].Start));
  rec.Date = DayNumber(year, SmallNumber(mm), SmallNumber(dd), hour, minute);
  return rec;
}

t_filedata ParseDirLine(std::string_view line, TDateTime now) {
  if (line.substr(0, 5) == "total" || line.empty())
    return {};
  switch (line[0]) {
  case '-':
  case 'd':
  case 'l':
  case 's':
    return ParseUnixLine(line, now);
  default:
    return IsDigit(line[0]) ? ParseDosLine(line) : t_filedata{};
  }
}

t_filedata ParseDirLine(std::string_view line) { return ParseDirLine(line, Now()); }

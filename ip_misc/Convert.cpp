#include "ip_misc/Convert.h"

#include "ip_misc/Errors.h"

#include <limits>

namespace {

[[noreturn]] void NotAnInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

int DigitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9')
    v = c - '0';
  else if (c >= 'a' && c <= 'f')
    v = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F')
    v = c - 'A' + 10;
  return v < base ? v : -1;
}

// Nothing when text is no number of the range.
std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t min,
                                         std::int64_t max) {
  std::size_t i = 0, end = text.size();
  while (i < end && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t'))
    --end;
  bool negative = false;
  if (i < end && (text[i] == '-' || text[i] == '+'))
    negative = text[i++] == '-';
  int base = 10;
  if (i < end && text[i] == '$') {
    base = 16;
    ++i;
  } else if (end - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= end)
    return std::nullopt;
  // Accumulate as a negative number so that the minimum value fits.
  std::int64_t value = 0;
  const std::int64_t limit = negative ? min : -max;
  for (; i < end; ++i) {
    const int d = DigitValue(text[i], base);
    if (d < 0 || value < (limit + d) / base)
      return std::nullopt;
    value = value * base - d;
  }
  return negative ? value : -value;
}

template <typename Int> Int ParseOrRaise(std::string_view text) {
  const std::optional<std::int64_t> value =
      ParseInteger(text, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max());
  if (!value)
    NotAnInteger(text);
  return static_cast<Int>(*value);
}

} // namespace

std::int32_t StrToInt(std::string_view text) { return ParseOrRaise<std::int32_t>(text); }

std::int64_t StrToInt64(std::string_view text) { return ParseOrRaise<std::int64_t>(text); }

std::optional<std::int64_t> TryStrToInt64(std::string_view text) {
  return ParseInteger(text, std::numeric_limits<std::int64_t>::min(),
                      std::numeric_limits<std::int64_t>::max());
}

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

std::string UpperCase(std::string_view text) {
  std::string s(text);
  for (char &c : s)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string LowerCase(std::string_view text) {
  std::string s(text);
  for (char &c : s)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
    ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
    --e;
  return std::string(text.substr(b, e - b));
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty())
    return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos)
      break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

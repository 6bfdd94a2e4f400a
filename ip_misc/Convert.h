#pragma once
// Text conversions shared by the clients and the script families. Number
// conversions raise EConvertError for a text that is not a number.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Decimal, optionally signed, surrounding blanks allowed; a leading "$" or
// "0x" reads hexadecimal.
std::int32_t StrToInt(std::string_view text);
std::int64_t StrToInt64(std::string_view text);
// The same without raising: nothing for a text that is not a number.
std::optional<std::int64_t> TryStrToInt64(std::string_view text);

std::string IntToStr(std::int64_t value);

// ASCII letters a to z only; every other byte is kept.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

// Removes leading and trailing blanks and control characters (bytes up to 32).
std::string Trim(std::string_view text);

// A switch operand: missing or blank means off, any other text means on.
inline bool SwitchOn(std::string_view text) { return !Trim(text).empty(); }

// Every occurrence of from replaced by to, left to right, without rescanning
// replaced parts; an empty from leaves the text unchanged.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

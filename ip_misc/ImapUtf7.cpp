#include "ip_misc/ImapUtf7.h"

#include "ip_misc/MailText.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace {

constexpr std::string_view Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int AlphabetValue(char c) {
  const std::size_t at = Alphabet.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

bool Printable(char32_t c) { return c >= 0x20 && c <= 0x7E; }

// The code points of valid UTF-8.
std::vector<char32_t> CodePoints(std::string_view utf8) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const int extra = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    char32_t c = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
    out.push_back(c);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

// The base64 run between "&" and "-" as UTF-8; nothing when it is not
// UTF-16 in the shortest form the encoding allows.
std::optional<std::string> DecodeRun(std::string_view run) {
  std::vector<char16_t> units;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : run) {
    const int v = AlphabetValue(c);
    if (v < 0)
      return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 16) {
      count -= 16;
      units.push_back(static_cast<char16_t>((bits >> count) & 0xFFFF));
    }
  }
  // Only zero bits may be left over, fewer than six of them.
  if (units.empty() || count >= 6 || (bits & ((1u << count) - 1)) != 0)
    return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
        return std::nullopt;
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if ((c >= 0xDC00 && c <= 0xDFFF) || Printable(c)) {
      // A lone low surrogate, or ASCII that should have stood for itself.
      return std::nullopt;
    }
    AppendUtf8(out, c);
  }
  return out;
}

} // namespace

std::string EncodeImapUtf7(std::string_view name) {
  const std::string utf8 = IsUtf8(name) ? std::string(name) : ToUtf8(name, "windows-1252");
  std::string out;
  std::vector<char16_t> run;
  const auto flush = [&] {
    if (run.empty())
      return;
    out += '&';
    std::uint32_t bits = 0;
    int count = 0;
    for (const char16_t u : run) {
      bits = (bits << 16) | u;
      count += 16;
      while (count >= 6) {
        count -= 6;
        out += Alphabet[(bits >> count) & 0x3F];
      }
    }
    if (count > 0)
      out += Alphabet[(bits << (6 - count)) & 0x3F];
    out += '-';
    run.clear();
  };
  for (const char32_t c : CodePoints(utf8)) {
    if (Printable(c)) {
      flush();
      out += c == '&' ? "&-" : std::string(1, static_cast<char>(c));
    } else if (c >= 0x10000) {
      run.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      run.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      run.push_back(static_cast<char16_t>(c));
    }
  }
  flush();
  return out;
}

std::string DecodeImapUtf7(std::string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (static_cast<unsigned char>(c) >= 0x80)
      return std::string(name);
    if (c != '&') {
      out += c;
      continue;
    }
    const std::size_t end = name.find('-', i + 1);
    if (end == std::string_view::npos)
      return std::string(name);
    if (end == i + 1) {
      out += '&';
    } else {
      const std::optional<std::string> run = DecodeRun(name.substr(i + 1, end - i - 1));
      if (!run)
        return std::string(name);
      out += *run;
    }
    i = end;
  }
  return out;
}

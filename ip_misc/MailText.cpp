#include "ip_misc/MailText.h"

#include "ip_misc/Convert.h"
#include "ip_misc/ip_misc.h"
#include "platform/Charset.h"

#include <cstdint>
#include <cstring>
#include <map>

namespace {

// Encoded words are at most 75 characters and lines that hold them at most
// 76.
constexpr std::size_t MaxWord = 75;
constexpr std::size_t MaxLine = 76;

// What Windows-1252 puts at 128 to 159; the five places it leaves empty
// keep their Latin-1 meaning.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    AppendUtf8(out, c >= 0x80 && c < 0xA0 ? Cp1252High[c - 0x80] : c);
  }
  return out;
}

// "%XX" to the byte XX; a "%" without two digits stays.
std::string PercentDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) << 4 | HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The bytes of the text of a "Q" encoded word.
std::string QDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      out += ' ';
    } else if (text[i] == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) << 4 | HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool IsBlankOrBreak(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A header being written: tokens are added after a blank, on a new folded
// line when the current one has no room for them.
struct Folder {
  std::string Out;
  std::size_t LineStart = 0;
  // Tokens added to the current line.
  int Tokens = 0;
  std::size_t LineLength() const { return Out.size() - LineStart; }
  void Break() {
    Out += "\r\n";
    LineStart = Out.size();
    Tokens = 0;
  }
  void Add(std::string_view token) {
    if (LineLength() > 0 && LineLength() + 1 + token.size() > MaxLine)
      Break();
    Out += ' ';
    Out += token;
    ++Tokens;
  }
  // The text as encoded words in charset, each filling what its line has
  // left; before and after stick to the first and the last word. A UTF-8
  // character is never split between two words.
  void AddWords(std::string_view text, std::string_view charset, std::string_view before = {},
                std::string_view after = {}) {
    const std::string prefix = "=?" + std::string(charset) + "?B?";
    const std::size_t overhead = prefix.size() + 2 + after.size();
    const bool utf8 = charset == "UTF-8";
    std::size_t at = 0;
    bool fresh = false;
    while (at < text.size()) {
      const std::string_view lead = at == 0 ? before : std::string_view();
      const auto capacity = [&](std::size_t lineLength) {
        std::size_t room = lineLength + 1 < MaxLine ? MaxLine - lineLength - 1 : 0;
        room = std::min(room, MaxWord + lead.size() + after.size());
        return room > overhead + lead.size() ? (room - overhead - lead.size()) / 4 * 3 : 0;
      };
      std::size_t bytes = std::min(capacity(LineLength()), text.size() - at);
      // What one word on a line of its own would hold is not split (some
      // readers join the pieces of a name with a blank).
      if (bytes < text.size() - at && Tokens > 0 && text.size() - at <= capacity(0)) {
        Break();
        continue;
      }
      while (utf8 && bytes > 0 && at + bytes < text.size() &&
             (static_cast<unsigned char>(text[at + bytes]) & 0xC0) == 0x80)
        --bytes;
      if (bytes == 0 && !fresh) {
        Break();
        fresh = true;
        continue;
      }
      if (bytes == 0) // a charset name too long for any line: one byte a word
        bytes = 1;
      fresh = false;
      std::string token(lead);
      token += prefix;
      token += Base64Encode(text.substr(at, bytes));
      token += "?=";
      at += bytes;
      if (at == text.size())
        token += after;
      Add(token);
    }
  }
};

std::string Unquote(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"')
    return std::string(text);
  std::string out;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '\\' && i + 2 < text.size())
      ++i;
    out += text[i];
  }
  return out;
}

// The characters an RFC 2231 value may hold without "%".
bool IsAttributeChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         (c != 0 && std::strchr("!#$&+-.^_`|~", c) != nullptr);
}

} // namespace

void AppendUtf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsAscii(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  return true;
}

namespace {

// The length of the valid UTF-8 sequence at s[i], 0 when there is none.
std::size_t Utf8SequenceAt(const unsigned char *s, std::size_t i, std::size_t n) {
  const unsigned char c = s[i];
  if (c < 0x80)
    return 1;
  std::size_t len;
  char32_t cp, min;
  if ((c & 0xE0) == 0xC0) {
    len = 2, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > n)
    return 0;
  for (std::size_t k = 1; k < len; ++k) {
    if ((s[i + k] & 0xC0) != 0x80)
      return 0;
    cp = cp << 6 | (s[i + k] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

// UTF-8 with every byte that begins no valid sequence replaced by U+FFFD.
std::string RepairUtf8(std::string_view text) {
  const auto *s = reinterpret_cast<const unsigned char *>(text.data());
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = Utf8SequenceAt(s, i, text.size());
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text.substr(i, len));
      i += len;
    }
  }
  return out;
}

} // namespace

bool IsUtf8(std::string_view text) {
  const auto *s = reinterpret_cast<const unsigned char *>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = Utf8SequenceAt(s, i, text.size());
    if (len == 0)
      return false;
    i += len;
  }
  return true;
}

std::string_view ScriptCharset(std::string_view text) {
  return IsUtf8(text) ? "UTF-8" : "windows-1252";
}

std::string ToUtf8(std::string_view text, std::string_view charset) {
  std::string cs = LowerCase(Trim(charset.substr(0, charset.find('*'))));
  if (cs.empty())
    return IsUtf8(text) ? std::string(text) : Cp1252ToUtf8(text);
  if (cs == "utf-8" || cs == "utf8" || cs == "us-ascii" || cs == "ascii")
    return RepairUtf8(text);
  // Latin-1 text from Windows holds Windows-1252's characters at 128 to
  // 159, where Latin-1 has only control codes: readers take the one for the
  // other.
  if (cs == "iso-8859-1" || cs == "latin1" || cs == "windows-1252" || cs == "cp1252")
    return Cp1252ToUtf8(text);
  std::string out;
  if (platform::AppendAsUtf8(cs, text, out))
    return out;
  return RepairUtf8(text);
}

namespace {

// A search forward through one text whose starting points never go back:
// the place last found answers every later search that starts at or before
// it, so all the searches together read the text about once.
class NextFinder {
public:
  using Search = std::size_t (*)(std::string_view text, std::size_t at);
  NextFinder(std::string_view text, Search search) : text_(text), search_(search) {}
  std::size_t operator()(std::size_t at) const {
    if (!searched_ || at > found_) {
      found_ = search_(text_, at);
      searched_ = true;
    }
    return found_;
  }

private:
  std::string_view text_;
  Search search_;
  mutable std::size_t found_ = 0;
  mutable bool searched_ = false;
};

} // namespace

std::string DecodeWords(std::string_view text) {
  std::string out, pendingBytes, pendingCharset;
  const auto flush = [&] {
    if (!pendingBytes.empty())
      out += ToUtf8(pendingBytes, pendingCharset);
    pendingBytes.clear();
  };
  // Every candidate "=?" asks where the next "?", "?=" and blank are; the
  // places found serve the candidates after it too, whose searches start no
  // earlier. Searched afresh each time, a text of many "=?" and no "?=" would
  // cost the square of its length.
  const NextFinder question(text, [](std::string_view t, std::size_t at) { return t.find('?', at); });
  const NextFinder closing(text, [](std::string_view t, std::size_t at) { return t.find("?=", at); });
  const NextFinder unsafe(text, [](std::string_view t, std::size_t at) {
    while (at < t.size() && static_cast<unsigned char>(t[at]) > 32)
      ++at;
    return at < t.size() ? at : std::string_view::npos;
  });
  std::size_t plainStart = 0, from = 0;
  bool afterWord = false;
  while (from < text.size()) {
    const std::size_t p = text.find("=?", from);
    if (p == std::string_view::npos)
      break;
    const std::size_t q = question(p + 2);
    const std::size_t end =
        q == std::string_view::npos || q + 3 >= text.size() ? std::string_view::npos : closing(q + 3);
    // No end after this one: none after any later one either.
    if (end == std::string_view::npos)
      break;
    if (q == p + 2 || text[q + 2] != '?' || text[q + 1] == '\0' ||
        std::strchr("BbQq", text[q + 1]) == nullptr) {
      from = p + 2;
      continue;
    }
    const std::string_view charset = text.substr(p + 2, q - p - 2);
    const std::string_view encoded = text.substr(q + 3, end - q - 3);
    // Neither the character set (it ends at the first "?") nor the encoded
    // text may hold a blank or a control character.
    if (unsafe(p + 2) < end) {
      from = p + 2;
      continue;
    }
    // Blanks between two encoded words are no part of the text.
    const std::string_view gap = text.substr(plainStart, p - plainStart);
    bool blank = true;
    for (const char c : gap)
      blank = blank && IsBlankOrBreak(c);
    if (!(afterWord && blank)) {
      flush();
      out += ToUtf8(gap, "");
    }
    // Pieces of one character set are joined before conversion: some
    // writers split a character between two words.
    const std::string cs = LowerCase(charset);
    if (cs != pendingCharset)
      flush();
    pendingCharset = cs;
    pendingBytes +=
        text[q + 1] == 'B' || text[q + 1] == 'b' ? Base64DecodeText(encoded) : QDecode(encoded);
    afterWord = true;
    plainStart = from = end + 2;
  }
  flush();
  out += ToUtf8(text.substr(plainStart), "");
  return out;
}

std::string TextHeader(std::string_view name, std::string_view value) {
  if (IsAscii(value))
    return std::string(name) + ": " + std::string(value);
  Folder f{std::string(name) + ":"};
  f.AddWords(value, ScriptCharset(value));
  return f.Out;
}

std::string AddressHeader(std::string_view name, std::string_view value) {
  if (IsAscii(value))
    return std::string(name) + ": " + std::string(value);
  Folder f{std::string(name) + ":"};
  // Mailboxes end at a comma or semicolon outside quotes, angle brackets
  // and comments.
  std::size_t start = 0;
  bool quoted = false;
  int angle = 0, comment = 0;
  for (std::size_t i = 0; i <= value.size(); ++i) {
    const char c = i < value.size() ? value[i] : ',';
    if (quoted) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        quoted = false;
      continue;
    }
    if (c == '"')
      quoted = true;
    else if (c == '<')
      ++angle;
    else if (c == '>' && angle > 0)
      --angle;
    else if (c == '(')
      ++comment;
    else if (c == ')' && comment > 0)
      --comment;
    if (i < value.size() && (angle > 0 || comment > 0 || (c != ',' && c != ';')))
      continue;
    const std::string separator = i < value.size() ? std::string(1, c) : std::string();
    const std::string_view item = value.substr(start, i - start);
    start = i + 1;
    std::size_t lt = std::string_view::npos;
    bool inQuotes = false;
    for (std::size_t k = 0; k < item.size() && lt == std::string_view::npos; ++k) {
      if (item[k] == '"')
        inQuotes = !inQuotes;
      else if (item[k] == '\\' && inQuotes)
        ++k;
      else if (item[k] == '<' && !inQuotes)
        lt = k;
    }
    const std::string phrase = Trim(item.substr(0, lt == std::string_view::npos ? 0 : lt));
    if (lt != std::string_view::npos && !IsAscii(phrase)) {
      const std::string text = Unquote(phrase);
      f.AddWords(text, ScriptCharset(text));
      f.Add(Trim(item.substr(lt)) + separator);
    } else if (!Trim(item).empty() || !separator.empty()) {
      f.Add(Trim(item) + separator);
    }
  }
  return f.Out;
}

std::vector<HeaderParam> HeaderParams(std::string_view value) {
  std::vector<HeaderParam> params;
  std::size_t at = value.find(';');
  while (at != std::string_view::npos && at < value.size()) {
    ++at;
    const std::size_t eq = value.find_first_of("=;", at);
    if (eq == std::string_view::npos)
      break;
    if (value[eq] == ';') { // a parameter without a value
      at = eq;
      continue;
    }
    HeaderParam p;
    p.Name = LowerCase(Trim(value.substr(at, eq - at)));
    std::size_t v = eq + 1;
    while (v < value.size() && static_cast<unsigned char>(value[v]) <= 32)
      ++v;
    if (v < value.size() && value[v] == '"') {
      std::size_t k = v + 1;
      for (; k < value.size() && value[k] != '"'; ++k) {
        if (value[k] == '\\' && k + 1 < value.size())
          ++k;
        p.Value += value[k];
      }
      at = value.find(';', k);
    } else {
      at = value.find(';', v);
      p.Value = Trim(value.substr(v, at == std::string_view::npos ? at : at - v));
    }
    params.push_back(std::move(p));
  }
  return params;
}

std::string ParamText(std::string_view value, std::string_view name) {
  const std::vector<HeaderParam> params = HeaderParams(value);
  const std::string extended = std::string(name) + "*";
  const HeaderParam *plain = nullptr, *whole = nullptr;
  // Pieces by number: the text and whether it is percent-encoded.
  std::map<int, std::pair<std::string_view, bool>> pieces;
  for (const HeaderParam &p : params) {
    if (p.Name == name) {
      plain = plain ? plain : &p;
    } else if (p.Name == extended) {
      whole = whole ? whole : &p;
    } else if (p.Name.starts_with(extended)) {
      std::string_view number = std::string_view(p.Name).substr(extended.size());
      const bool encoded = number.ends_with('*');
      if (encoded)
        number.remove_suffix(1);
      if (number.empty() || number.size() > 4 ||
          number.find_first_not_of("0123456789") != std::string_view::npos)
        continue;
      pieces.emplace(std::stoi(std::string(number)),
                     std::make_pair(std::string_view(p.Value), encoded));
    }
  }
  if (whole || pieces.contains(0)) {
    std::string charset, bytes;
    const auto add = [&](std::string_view text, bool encoded, bool first) {
      if (encoded && first) {
        // charset'language'text; the language is of no use here.
        const std::size_t q1 = text.find('\'');
        const std::size_t q2 = q1 == std::string_view::npos ? q1 : text.find('\'', q1 + 1);
        if (q2 != std::string_view::npos) {
          charset = text.substr(0, q1);
          text.remove_prefix(q2 + 1);
        }
      }
      bytes += encoded ? PercentDecode(text) : std::string(text);
    };
    if (whole) {
      add(whole->Value, true, true);
    } else {
      // The pieces in order up to the first one missing.
      for (int n = 0; pieces.contains(n); ++n)
        add(pieces[n].first, pieces[n].second, n == 0);
    }
    return ToUtf8(bytes, charset);
  }
  return plain ? DecodeWords(plain->Value) : std::string();
}

void FilePartHeaders(std::string_view fileName, std::string &contentType,
                     std::string &disposition) {
  contentType = "application/octet-stream";
  if (IsAscii(fileName)) {
    std::string quoted;
    for (const char c : fileName) {
      if (c == '"' || c == '\\')
        quoted += '\\';
      quoted += c;
    }
    disposition = "attachment; filename=\"" + quoted + "\"";
    return;
  }
  const std::string_view charset = ScriptCharset(fileName);
  std::string encoded = std::string(charset) + "''";
  for (const char ch : fileName) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsAttributeChar(c)) {
      encoded += ch;
    } else {
      encoded += '%';
      encoded += "0123456789ABCDEF"[c >> 4];
      encoded += "0123456789ABCDEF"[c & 15];
    }
  }
  const std::string dispositionHead = "Content-Disposition:";
  Folder d{dispositionHead + " attachment;"};
  d.Break();
  if (encoded.size() + std::strlen(" filename*=") <= MaxLine) {
    d.Add("filename*=" + encoded);
  } else {
    // Pieces that each fill a line, never splitting a "%XX".
    std::size_t at = 0;
    for (int n = 0; at < encoded.size(); ++n) {
      const std::string head = "filename*" + std::to_string(n) + "*=";
      std::size_t take = std::min(encoded.size() - at, MaxLine - 2 - head.size() - 1);
      if (at + take < encoded.size()) {
        if (encoded[at + take - 1] == '%')
          take -= 1;
        else if (take >= 2 && encoded[at + take - 2] == '%')
          take -= 2;
      }
      const bool last = at + take == encoded.size();
      d.Add(head + encoded.substr(at, take) + (last ? "" : ";"));
      at += take;
    }
  }
  disposition = d.Out.substr(dispositionHead.size() + 1);
  const std::string typeHead = "Content-Type:";
  Folder t{typeHead + " " + contentType + ";"};
  t.Break();
  t.AddWords(fileName, charset, "name=\"", "\"");
  contentType = t.Out.substr(typeHead.size() + 1);
}

namespace {

// The names Windows gives its devices: a file of that name, with any
// extension, opens the device instead (trailing blanks before the extension
// ignored, letters in any case; COM and LPT with a digit, or superscript
// one to three).
bool IsDeviceName(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ')
    stem.remove_suffix(1);
  std::string upper(stem);
  for (char &c : upper)
    c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" ||
      upper == "CONIN$" || upper == "CONOUT$")
    return true;
  if (!upper.starts_with("COM") && !upper.starts_with("LPT"))
    return false;
  const std::string_view number = std::string_view(upper).substr(3);
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') ||
         number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

} // namespace

std::string SafeFileName(std::string_view name) {
  const std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos)
    name.remove_prefix(slash + 1);
  std::string out;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    out += c < 32 || c == 127 || std::strchr("/\\:*?\"<>|", c) ? '_' : ch;
  }
  out = Trim(out);
  if (!out.empty() && out.find_first_not_of('.') == std::string::npos)
    out.assign(out.size(), '_');
  // Saved under such a name on Windows the content would go to a device.
  if (IsDeviceName(out))
    out.insert(0, "_");
  if (out.size() > 255) {
    std::size_t n = 255;
    while (n > 0 && (static_cast<unsigned char>(out[n]) & 0xC0) == 0x80)
      --n;
    out.resize(n);
  }
  return out;
}

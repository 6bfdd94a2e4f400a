#include "tcpip/TImapResponse.h"

#include "ip_misc/Convert.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Characters that end an atom (RFC 3501 atom-specials, brackets aside).
bool EndsAtom(char c) {
  return c == ' ' || c == '(' || c == ')' || c == '{' || c == '"' || c == '\0' ||
         static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

constexpr std::string_view StatusKinds[] = {"OK", "NO", "BAD", "BYE", "PREAUTH"};

bool IsStatus(std::string_view kind) {
  for (const std::string_view s : StatusKinds)
    if (kind == s)
      return true;
  return false;
}

// The first word of text and where it ends.
std::string_view FirstWord(std::string_view text) { return text.substr(0, text.find(' ')); }

} // namespace

void TImapResponse::Clear() {
  Tag.clear();
  Text.clear();
  Literals.clear();
}

std::string TImapResponse::Kind() const {
  std::string_view text = Text;
  if (!text.empty() && IsDigit(text[0])) {
    const std::size_t space = text.find(' ');
    text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
  }
  return UpperCase(FirstWord(text));
}

std::uint32_t TImapResponse::Number() const {
  std::uint64_t n = 0;
  std::size_t i = 0;
  for (; i < Text.size() && IsDigit(Text[i]) && n <= 0xFFFFFFFFu; ++i)
    n = n * 10 + static_cast<std::uint64_t>(Text[i] - '0');
  return i > 0 && n <= 0xFFFFFFFFu ? static_cast<std::uint32_t>(n) : 0;
}

std::string TImapResponse::Code() const {
  const std::size_t space = Text.find(' ');
  if (space == std::string::npos || space + 1 >= Text.size() || Text[space + 1] != '[')
    return {};
  const std::size_t close = Text.find(']', space + 2);
  if (close == std::string::npos)
    return {};
  return Text.substr(space + 2, close - space - 2);
}

std::string TImapResponse::StatusText() const {
  const std::size_t space = Text.find(' ');
  if (space == std::string::npos)
    return {};
  std::string_view rest = std::string_view(Text).substr(space + 1);
  if (rest.starts_with('[')) {
    const std::size_t close = rest.find(']');
    rest = close == std::string_view::npos ? std::string_view() : rest.substr(close + 1);
  }
  return Trim(rest);
}

bool TImapResponse::MayHoldLiterals(std::string_view tag, std::string_view line) {
  if (tag != "*")
    return false;
  std::string_view rest = line;
  if (!rest.empty() && IsDigit(rest[0])) {
    const std::size_t space = rest.find(' ');
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
  }
  return !IsStatus(UpperCase(FirstWord(rest)));
}

bool TImapResponse::LiteralAtEnd(std::string_view line, std::uint64_t &size) {
  if (!line.ends_with('}'))
    return false;
  std::size_t end = line.size() - 1;
  if (end > 0 && line[end - 1] == '+')
    --end;
  std::size_t start = end;
  while (start > 0 && IsDigit(line[start - 1]))
    --start;
  // Twenty digits or more are no size (and would overflow).
  if (start == end || start == 0 || line[start - 1] != '{' || end - start > 19)
    return false;
  size = 0;
  for (std::size_t i = start; i < end; ++i)
    size = size * 10 + static_cast<std::uint64_t>(line[i] - '0');
  return true;
}

TImapResponse::Reader TImapResponse::Reader::AfterKind(const TImapResponse &response) {
  Reader r(response);
  r.SkipKind();
  return r;
}

bool TImapResponse::Reader::ListOf(std::string_view kind) {
  if (response_.Kind() != kind)
    return false;
  SkipKind();
  return Open();
}

void TImapResponse::Reader::SkipKind() {
  std::uint64_t number;
  Number(number);
  std::string kind;
  Word(kind);
}

void TImapResponse::Reader::Blanks() {
  while (at_ < response_.Text.size() && response_.Text[at_] == ' ')
    ++at_;
}

bool TImapResponse::Reader::AtEnd() {
  Blanks();
  return at_ >= response_.Text.size();
}

bool TImapResponse::Reader::Open() {
  Blanks();
  if (at_ >= response_.Text.size() || response_.Text[at_] != '(')
    return false;
  ++at_;
  return true;
}

bool TImapResponse::Reader::Close() {
  Blanks();
  if (at_ >= response_.Text.size() || response_.Text[at_] != ')')
    return false;
  ++at_;
  return true;
}

bool TImapResponse::Reader::Word(std::string &word) {
  Blanks();
  const std::string &text = response_.Text;
  std::size_t i = at_;
  int depth = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (depth == 0 ? EndsAtom(c) : static_cast<unsigned char>(c) < 0x20)
      break;
    if (c == '[')
      ++depth;
    else if (c == ']' && depth > 0)
      --depth;
  }
  if (i == at_ || depth > 0)
    return false;
  word.assign(text, at_, i - at_);
  at_ = i;
  return true;
}

bool TImapResponse::Reader::Number(std::uint64_t &value) {
  Blanks();
  const std::string &text = response_.Text;
  std::size_t i = at_;
  std::uint64_t n = 0;
  while (i < text.size() && IsDigit(text[i]) && i - at_ < 19)
    n = n * 10 + static_cast<std::uint64_t>(text[i++] - '0');
  if (i == at_ || (i < text.size() && !EndsAtom(text[i]) && text[i] != ']'))
    return false;
  value = n;
  at_ = i;
  return true;
}

bool TImapResponse::Reader::Literal(std::string &text) {
  // The size was the wire reader's to check: a literal it did not keep
  // (a retrieved message) stands here as an empty text.
  const std::string &t = response_.Text;
  std::size_t i = at_ + 1;
  while (i < t.size() && IsDigit(t[i]))
    ++i;
  if (i < t.size() && t[i] == '+')
    ++i;
  if (i == at_ + 1 || i >= t.size() || t[i] != '}' || literal_ >= response_.Literals.size())
    return false;
  text = response_.Literals[literal_++];
  at_ = i + 1;
  return true;
}

bool TImapResponse::Reader::String(std::string &text, bool *nil) {
  Blanks();
  if (nil)
    *nil = false;
  const std::string &t = response_.Text;
  if (at_ >= t.size())
    return false;
  if (t[at_] == '{')
    return Literal(text);
  if (t[at_] == '"') {
    std::string out;
    for (std::size_t i = at_ + 1; i < t.size(); ++i) {
      if (t[i] == '"') {
        text = std::move(out);
        at_ = i + 1;
        return true;
      }
      if (t[i] == '\\' && i + 1 < t.size())
        ++i;
      out += t[i];
    }
    return false;
  }
  std::size_t end = at_;
  while (end < t.size() && !EndsAtom(t[end]))
    ++end;
  if (end == at_)
    return false;
  text.assign(t, at_, end - at_);
  at_ = end;
  if (nil && UpperCase(text) == "NIL") {
    *nil = true;
    text.clear();
  }
  return true;
}

bool TImapResponse::Reader::Skip() {
  Blanks();
  if (Open()) {
    while (!Close())
      if (!Skip())
        return false;
    return true;
  }
  std::string ignored;
  return String(ignored) || Word(ignored);
}

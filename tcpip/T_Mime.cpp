#include "tcpip/T_Mime.h"

#include "ip_misc/Convert.h"
#include "ip_misc/MailText.h"
#include "ip_misc/ip_misc.h"
#include "platform/Files.h"
#include "tcpip/T_Mail.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

using Lines = T_Mime::Lines;

namespace {

// The three header lines that make the message a multipart one.
constexpr int MimeHeaderCount = 3;

// Eight hexadecimal digits of the local address that set this host's
// boundaries apart from other hosts': an IPv4 address's bytes, last first
// (an IPv6 one's last four, its most host-specific part).
std::string AddressHex(const platform::SocketAddress &address) {
  const unsigned char *bytes =
      address.Bytes.data() + (address.Family == platform::SocketAddress::V6 ? 12 : 0);
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (int b = 3; b >= 0; --b) {
    hex += digits[bytes[b] >> 4];
    hex += digits[bytes[b] & 15];
  }
  return hex;
}

bool IsHeaderLine(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0)
    return false;
  for (const char c : line.substr(0, colon)) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 32 || u >= 127)
      return false;
  }
  return true;
}

enum class Delimiter { None, Part, Close };

// "--boundary" starts the next part, "--boundary--" ends the last one;
// either may carry trailing blanks.
Delimiter DelimiterOf(std::string_view line, std::string_view boundary) {
  if (line.size() < boundary.size() + 2 || line[0] != '-' || line[1] != '-' ||
      line.compare(2, boundary.size(), boundary) != 0)
    return Delimiter::None;
  std::string_view rest = line.substr(2 + boundary.size());
  const bool close = rest.starts_with("--");
  if (close)
    rest.remove_prefix(2);
  for (const char c : rest)
    if (static_cast<unsigned char>(c) > 32)
      return Delimiter::None;
  return close ? Delimiter::Close : Delimiter::Part;
}

} // namespace

struct T_Mime::PartHeader {
  std::string ContentType;
  std::string Disposition;
  std::uint8_t Encoding = T_Attachment::EncodingNone;
  bool Present = false;
};

namespace {

// Reads a header block from line i on, joining folded lines (those that
// begin with a space or a tab). Stops after the empty line that ends it, or
// at the first line that cannot be a header or that IsDelimiter takes for a
// boundary line (left for the body).
template <typename Header, typename IsDelimiter>
void ReadHeader(const Lines &lines, std::size_t &i, std::size_t end, Header &h,
                IsDelimiter &&isDelimiter) {
  std::string name, value;
  bool have = false;
  const auto apply = [&] {
    if (!have)
      return;
    std::string v = Trim(value);
    if (name == "content-type") {
      h.ContentType = std::move(v);
    } else if (name == "content-disposition") {
      h.Disposition = std::move(v);
    } else if (name == "content-transfer-encoding") {
      const std::string e = LowerCase(v);
      h.Encoding = e == "base64"             ? T_Attachment::EncodingBase64
                   : e == "quoted-printable" ? T_Attachment::EncodingQuotedPrintable
                                             : T_Attachment::EncodingNone;
    }
  };
  while (i < end) {
    const std::string_view line = lines[i];
    if (line.empty()) {
      ++i;
      break;
    }
    if (line[0] == ' ' || line[0] == '\t') {
      if (have)
        value += line;
      ++i;
      continue;
    }
    if (!IsHeaderLine(line) || isDelimiter(line))
      break;
    apply();
    const std::size_t colon = line.find(':');
    name = LowerCase(std::string_view(line).substr(0, colon));
    value = line.substr(colon + 1);
    have = true;
    h.Present = true;
    ++i;
  }
  apply();
}

} // namespace

void T_Mime::SplitHeader(std::string_view line, std::string &name, std::string &value) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    name.clear();
    value.clear();
    return;
  }
  name = LowerCase(line.substr(0, colon));
  value = Trim(line.substr(colon + 1));
}

std::string T_Mime::BoundaryOf(std::string_view contentType) {
  if (!LowerCase(Trim(contentType.substr(0, contentType.find(';')))).starts_with("multipart/"))
    return {};
  for (HeaderParam &p : HeaderParams(contentType))
    if (p.Name == "boundary")
      return std::move(p.Value);
  return {};
}

int T_Mime::AddFile(const std::string &fileName) {
  auto a = std::make_unique<T_Attachment>();
  a->Data.Assign(platform::ReadWholeFile(fileName));
  FilePartHeaders(PathFileName(fileName), a->ContentType, a->Disposition);
  a->Encoding = T_Attachment::EncodingBase64;
  Attachments.push_back(std::move(a));
  return Count() - 1;
}

int T_Mime::AddText(const TStringList &lines) {
  auto a = std::make_unique<T_Attachment>();
  a->ContentType = "text/plain";
  a->Encoding = T_Attachment::EncodingQuotedPrintable;
  a->SetLines(lines);
  Attachments.push_back(std::move(a));
  return Count() - 1;
}

void T_Mime::Delete(int index) {
  if (index >= 0 && index < Count())
    Attachments.erase(Attachments.begin() + index);
}

T_Mime::T_Mime(const T_Mime &other) : Mail(other.Mail), Boundary(other.Boundary) {
  Attachments.reserve(other.Attachments.size());
  for (const auto &part : other.Attachments)
    Attachments.push_back(std::make_unique<T_Attachment>(*part));
}

T_Attachment *T_Mime::GetAttachment(int index) const {
  if (index < 0 || index >= Count())
    return nullptr;
  return Attachments[static_cast<std::size_t>(index)].get();
}

void T_Mime::Send() {
  if (!Mail)
    return;
  T_MailNews &mail = *Mail;
  Boundary = IntToStr(T_MailNews::LocalSeconds()) + T_MailNews::UniqueSuffix() +
             AddressHex(LocalAddress()) + "==";

  // Whatever the submission does, the message and the attachment list are
  // left as the script made them, ready for the next send.
  struct Restore {
    T_Mime &mime;
    T_MailNews &mail;
    std::size_t headerSize;
    TStringList body;
    int textIndex = -1;
    ~Restore() {
      if (mail.Header.size() >= headerSize)
        mail.Header.erase(mail.Header.begin() + static_cast<std::ptrdiff_t>(headerSize),
                          mail.Header.end());
      mail.Body = std::move(body);
      mail.ConsumeBody = false;
      mail.Base64Body.clear();
      mime.Delete(textIndex);
    }
  } restore{*this, mail, mail.Header.size(), mail.Body};

  mail.Header.push_back("MIME-Version: 1.0");
  mail.Header.push_back("Content-Type: multipart/mixed; boundary=\"" + Boundary + "\"");
  mail.Header.push_back("Content-Transfer-Encoding: 7bit");
  static_assert(MimeHeaderCount == 3);

  if (!restore.body.empty()) {
    mail.Body.clear();
    restore.textIndex = AddText(restore.body);
  }
  TStringList &body = mail.Body;
  const bool stream = dynamic_cast<T_Mail *>(&mail) != nullptr;
  std::size_t lineCount = 2;
  for (const auto &a : Attachments)
    lineCount += 8 + (a->Encoding == T_Attachment::EncodingBase64 ? 0 : a->Lines.size() * 2);
  body.reserve(lineCount);
  for (const auto &a : Attachments) {
    body.emplace_back();
    body.push_back("--" + Boundary);
    body.push_back("Content-Type: " + a->ContentType);
    if (!a->Disposition.empty())
      body.push_back("Content-Disposition: " + a->Disposition);
    if (a->Encoding == T_Attachment::EncodingBase64)
      body.push_back("Content-Transfer-Encoding: base64");
    else if (a->Encoding == T_Attachment::EncodingQuotedPrintable)
      body.push_back("Content-Transfer-Encoding: quoted-printable");
    body.emplace_back();
    if (a->Encoding == T_Attachment::EncodingBase64) {
      // A large attachment is hundreds of thousands of lines: the SMTP
      // client codes them while it sends them, in place of an empty line;
      // a message that is only composed gets them as one text joined by CR
      // LF instead of as a string each.
      if (a->Data.Size() > 0 && stream) {
        mail.Base64Body.emplace_back(body.size(), a->Data.Bytes());
        body.emplace_back();
      } else if (a->Data.Size() > 0) {
        body.push_back(Base64EncodeLines(a->Data.Bytes()));
      }
    } else {
      for (const std::string &line : a->Lines) {
        TStringList encoded = QPEncode(line);
        body.insert(body.end(), std::make_move_iterator(encoded.begin()),
                    std::make_move_iterator(encoded.end()));
      }
    }
  }
  body.emplace_back();
  body.push_back("--" + Boundary + "--");
  mail.ConsumeBody = true;
  mail.Compose();
}

std::string T_Mime::Lines::DecodeBase64(std::size_t first, std::size_t last) const {
  if (list_)
    return Base64DecodePart(std::span(*list_).subspan(first, last - first));
  return Base64DecodePart(*text_, first, last);
}

void T_Mime::AddPart(const PartHeader &header, const Lines &lines, std::size_t start,
                     std::size_t end) {
  auto a = std::make_unique<T_Attachment>();
  a->ContentType = header.ContentType;
  a->Disposition = header.Disposition;
  a->Encoding = header.Encoding;
  TStringList partLines;
  if (a->Encoding != T_Attachment::EncodingBase64) {
    partLines.reserve(end - start);
    for (std::size_t k = start; k < end; ++k)
      partLines.emplace_back(lines[k]);
  }
  switch (a->Encoding) {
  case T_Attachment::EncodingBase64:
    a->Data.Assign(lines.DecodeBase64(start, end));
    break;
  case T_Attachment::EncodingQuotedPrintable:
    a->Lines = QPDecodeLines(partLines);
    break;
  default:
    a->Lines = std::move(partLines);
    break;
  }
  Attachments.push_back(std::move(a));
}

void T_Mime::Parse(const TStringList &lines) { ParseLines(Lines(lines)); }

void T_Mime::ParseText(const TLineText &text) { ParseLines(Lines(text)); }


void T_Mime::ParseLines(const Lines &lines) {
  Boundary.clear();
  Clear();
  std::size_t i = 0;
  const std::size_t n = lines.size();
  // A mailbox's separator line is not a header.
  if (n > 0 && lines[0].starts_with("From "))
    i = 1;
  PartHeader main;
  ReadHeader(lines, i, n, main, [](std::string_view) { return false; });
  Boundary = BoundaryOf(main.ContentType);
  if (Boundary.empty()) {
    AddPart(main, lines, i, n);
    return;
  }

  // One pass over the lines with the boundaries of the multiparts still
  // open, outermost first: a hostile message nested without end costs no
  // stack and no rescanning, and one nested deeper than MaxNesting stays a
  // part holding its lines. A boundary line of an outer multipart also ends
  // every multipart opened inside it.
  std::vector<std::string> open{Boundary};
  const auto delimiter = [&open](std::string_view line, std::size_t &level) {
    if (line.size() < 2 || line[0] != '-' || line[1] != '-')
      return Delimiter::None;
    for (level = 0; level < open.size(); ++level)
      if (const Delimiter d = DelimiterOf(line, open[level]); d != Delimiter::None)
        return d;
    return Delimiter::None;
  };
  const auto isDelimiter = [&](std::string_view line) {
    std::size_t level;
    return delimiter(line, level) != Delimiter::None;
  };

  // What the lines since start are: the preamble of the message (a part
  // when it holds more than blanks), the content of a part, or text that is
  // dropped (preambles and epilogues of nested multiparts, epilogues).
  enum class Segment { Preamble, Part, Dropped } segment = Segment::Preamble;
  PartHeader header;
  std::size_t start = i;
  const auto finish = [&](std::size_t end) {
    // The line break before a boundary line belongs to it, so an empty
    // last line is no content.
    if (end < n && end > start && lines[end - 1].empty())
      --end;
    if (segment == Segment::Part) {
      if (header.Present || end > start)
        AddPart(header, lines, start, end);
    } else if (segment == Segment::Preamble) {
      bool blank = true;
      for (std::size_t k = start; k < end && blank; ++k)
        blank = Trim(lines[k]).empty();
      if (!blank)
        AddPart(PartHeader{}, lines, start, end);
    }
  };

  while (i < n) {
    std::size_t level = 0;
    const Delimiter d = delimiter(lines[i], level);
    if (d == Delimiter::None) {
      ++i;
      continue;
    }
    finish(i);
    ++i;
    open.resize(d == Delimiter::Close ? level : level + 1);
    if (open.empty())
      return;
    if (d == Delimiter::Close) {
      segment = Segment::Dropped;
      start = i;
      continue;
    }
    header = PartHeader{};
    ReadHeader(lines, i, n, header, isDelimiter);
    start = i;
    std::string inner = BoundaryOf(header.ContentType);
    // A part that names a boundary already in use cannot be told from its
    // parent's lines: it stays one part, as does one nested too deep.
    if (!inner.empty() && open.size() < MaxNesting &&
        std::find(open.begin(), open.end(), inner) == open.end()) {
      open.push_back(std::move(inner));
      segment = Segment::Dropped;
    } else {
      segment = Segment::Part;
    }
  }
  finish(n);
}

#include "tcpip/T_Mime.h"

#include "ip_misc/Convert.h"
#include "ip_misc/MailText.h"
#include "ip_misc/ip_misc.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "tcpip/T_Mail.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>
#include <utility>
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

// Which boundary of those open the line is one of, the outermost first;
// level receives its place.
Delimiter DelimiterAt(std::string_view line, const std::vector<std::string> &open,
                      std::size_t &level) {
  if (line.size() < 2 || line[0] != '-' || line[1] != '-')
    return Delimiter::None;
  for (level = 0; level < open.size(); ++level)
    if (const Delimiter d = DelimiterOf(line, open[level]); d != Delimiter::None)
      return d;
  return Delimiter::None;
}

} // namespace

struct T_Mime::PartHeader {
  std::string ContentType;
  std::string Disposition;
  std::uint8_t Encoding = T_Attachment::EncodingNone;
  bool Present = false;
};

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

void T_Mime::Lines::DecodeBase64(std::size_t first, std::size_t last, TBase64LineDecoder &decoder,
                                 std::string &out) const {
  if (list_)
    decoder.Decode(std::span(*list_).subspan(first, last - first), out);
  else
    decoder.Decode(*text_, first, last, out);
}

std::size_t T_Mime::Lines::Bytes(std::size_t first, std::size_t last) const {
  if (text_)
    return text_->Range(first, last).size();
  std::size_t bytes = 0;
  for (std::size_t i = first; i < last; ++i)
    bytes += (*list_)[i].size();
  return bytes;
}

void T_Mime::AddPart(const PartHeader &header, const Lines &lines, std::size_t start,
                     std::size_t end, Base64Parts base64) {
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
    if (base64 == Base64Parts::LeftEncoded) {
      a->Encoded = T_Attachment::TLineRange{start, end};
    } else {
      std::string decoded;
      decoded.reserve(3 * (lines.Bytes(start, end) / 4) + 3);
      platform::PrepareLargeWrite(decoded.data(), decoded.capacity());
      TBase64LineDecoder decoder;
      lines.DecodeBase64(start, end, decoder, decoded);
      a->Data.Assign(std::move(decoded));
    }
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

void T_Mime::Parse(const TStringList &lines) {
  Parser parser(*this);
  parser.End(Lines(lines));
}

void T_Mime::ParseText(const TLineText &text) {
  Parser parser(*this);
  parser.End(text);
}

void T_Mime::TakeParts(T_Mime &other) {
  Boundary = std::exchange(other.Boundary, {});
  Attachments = std::exchange(other.Attachments, {});
}

// The header being read: the last field seen, which folded lines may still
// lengthen, so it takes effect only when the next one starts or the header
// ends.
struct T_Mime::Parser::HeaderReading {
  std::string Name, Value;
  bool Have = false;

  void Apply(PartHeader &h) {
    if (!Have)
      return;
    Have = false;
    std::string v = Trim(Value);
    if (Name == "content-type") {
      h.ContentType = std::move(v);
    } else if (Name == "content-disposition") {
      h.Disposition = std::move(v);
    } else if (Name == "content-transfer-encoding") {
      const std::string e = LowerCase(v);
      h.Encoding = e == "base64"             ? T_Attachment::EncodingBase64
                   : e == "quoted-printable" ? T_Attachment::EncodingQuotedPrintable
                                             : T_Attachment::EncodingNone;
    }
  }
};

T_Mime::Parser::Parser(T_Mime &into, Base64Parts base64)
    : mime_(into), base64_(base64), main_(std::make_unique<PartHeader>()),
      header_(std::make_unique<PartHeader>()), reading_(std::make_unique<HeaderReading>()) {
  Restart();
}

T_Mime::Parser::~Parser() = default;

void T_Mime::Parser::Restart() {
  mime_.Boundary.clear();
  mime_.Clear();
  stage_ = Stage::MainHeader;
  next_ = 0;
  *main_ = PartHeader{};
  *header_ = PartHeader{};
  *reading_ = HeaderReading{};
  open_.clear();
  segment_ = Segment::Preamble;
  start_ = 0;
}

void T_Mime::Parser::More(const Lines &lines) {
  if (lines.size() < next_)
    Restart();
  // A line that ends a header is read again as the first line after it.
  const std::size_t n = lines.size();
  while (next_ < n) {
    if (stage_ == Stage::Single || stage_ == Stage::Done) {
      next_ = n;
      break;
    }
    // Most lines of a body cannot be boundary lines: passed over at once.
    if (stage_ == Stage::Body) {
      const std::string_view line = lines[next_];
      if (line.size() < 2 || line[0] != '-' || line[1] != '-') {
        ++next_;
        continue;
      }
    }
    if (Take(lines, next_))
      ++next_;
  }
}

void T_Mime::Parser::End(const Lines &lines) {
  More(lines);
  const std::size_t n = lines.size();
  if (stage_ == Stage::MainHeader || stage_ == Stage::PartHeader)
    HeaderEnded(n);
  if (stage_ == Stage::Single) {
    mime_.AddPart(*main_, lines, start_, n, base64_);
  } else if (stage_ == Stage::Body) {
    Finish(lines, n, false);
  }
  stage_ = Stage::Done;
}

// One pass over the lines with the boundaries of the multiparts still
// open, outermost first: a hostile message nested without end costs no
// stack and no rescanning, and one nested deeper than MaxNesting stays a
// part holding its lines. A boundary line of an outer multipart also ends
// every multipart opened inside it.
bool T_Mime::Parser::Take(const Lines &lines, std::size_t i) {
  const std::string_view line = lines[i];
  switch (stage_) {
  case Stage::MainHeader:
  case Stage::PartHeader: {
    // A mailbox's separator line is not a header.
    if (stage_ == Stage::MainHeader && i == 0 && line.starts_with("From "))
      return true;
    PartHeader &header = stage_ == Stage::MainHeader ? *main_ : *header_;
    if (TakeHeaderLine(line, header, stage_ == Stage::PartHeader))
      return true;
    // The empty line that ends a header is its own; a line that cannot be
    // a header is the body's first.
    const bool taken = line.empty();
    HeaderEnded(taken ? i + 1 : i);
    return taken;
  }
  case Stage::Single:
  case Stage::Done: return true;
  case Stage::Body: break;
  }
  std::size_t level = 0;
  const Delimiter d = DelimiterAt(line, open_, level);
  if (d == Delimiter::None)
    return true;
  Finish(lines, i, true);
  open_.resize(d == Delimiter::Close ? level : level + 1);
  if (open_.empty()) {
    // Whatever follows the end of the message's multipart is no part.
    stage_ = Stage::Done;
  } else if (d == Delimiter::Close) {
    segment_ = Segment::Dropped;
    start_ = i + 1;
  } else {
    *header_ = PartHeader{};
    stage_ = Stage::PartHeader;
  }
  return true;
}

// Folded lines (those that begin with a space or a tab) go on with the
// field before. The header ends at an empty line, and at the first line
// that cannot be a header or (in a part's header) is a boundary line, which
// is left for the body.
bool T_Mime::Parser::TakeHeaderLine(std::string_view line, PartHeader &header, bool delimiters) {
  if (line.empty())
    return false;
  if (line[0] == ' ' || line[0] == '\t') {
    if (reading_->Have)
      reading_->Value += line;
    return true;
  }
  std::size_t level;
  if (!IsHeaderLine(line) || (delimiters && DelimiterAt(line, open_, level) != Delimiter::None))
    return false;
  reading_->Apply(header);
  const std::size_t colon = line.find(':');
  reading_->Name = LowerCase(line.substr(0, colon));
  reading_->Value = line.substr(colon + 1);
  reading_->Have = true;
  header.Present = true;
  return true;
}

void T_Mime::Parser::HeaderEnded(std::size_t next) {
  start_ = next;
  if (stage_ == Stage::MainHeader) {
    reading_->Apply(*main_);
    mime_.Boundary = BoundaryOf(main_->ContentType);
    if (mime_.Boundary.empty()) {
      stage_ = Stage::Single;
      return;
    }
    open_.assign(1, mime_.Boundary);
    segment_ = Segment::Preamble;
    stage_ = Stage::Body;
    return;
  }
  reading_->Apply(*header_);
  stage_ = Stage::Body;
  std::string inner = BoundaryOf(header_->ContentType);
  // A part that names a boundary already in use cannot be told from its
  // parent's lines: it stays one part, as does one nested too deep.
  if (!inner.empty() && open_.size() < MaxNesting &&
      std::find(open_.begin(), open_.end(), inner) == open_.end()) {
    open_.push_back(std::move(inner));
    segment_ = Segment::Dropped;
    return;
  }
  segment_ = Segment::Part;
}

// What the lines since start_ are: the preamble of the message (a part when
// it holds more than blanks), the content of a part, or text that is
// dropped (preambles and epilogues of nested multiparts, epilogues).
void T_Mime::Parser::Finish(const Lines &lines, std::size_t end, bool atDelimiter) {
  // The line break before a boundary line belongs to it, so an empty last
  // line is no content.
  if (atDelimiter && end > start_ && lines[end - 1].empty())
    --end;
  if (segment_ == Segment::Part) {
    if (!header_->Present && end <= start_)
      return;
    mime_.AddPart(*header_, lines, start_, end, base64_);
  } else if (segment_ == Segment::Preamble) {
    bool blank = true;
    for (std::size_t k = start_; k < end && blank; ++k)
      blank = Trim(lines[k]).empty();
    if (!blank)
      mime_.AddPart(PartHeader{}, lines, start_, end, base64_);
  }
}

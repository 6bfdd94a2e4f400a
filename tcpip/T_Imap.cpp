#include "tcpip/T_Imap.h"

#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "ip_misc/ImapUtf7.h"
#include "ip_misc/MailText.h"
#include "tcpip/MailAuth.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr std::string_view Protocol = "IMAP";
constexpr std::string_view Mask = "*****";
// LITERAL- lets literals up to this size go without waiting (RFC 7888).
constexpr std::size_t LiteralMinusBytes = 4096;
// A UID set longer than this is asked for in several commands: servers
// limit the length of a command line (dovecot to 64 KiB).
constexpr std::size_t MaxSetText = 8000;
constexpr std::string_view SpecialUses[] = {"\\Sent",    "\\Trash", "\\Drafts", "\\Junk",
                                            "\\Archive", "\\All",   "\\Flagged"};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && UpperCase(a) == UpperCase(b);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A flag as STORE and APPEND take it: "\Seen" or a keyword ("$Label").
bool IsFlag(std::string_view flag) {
  std::string_view atom = flag.starts_with('\\') ? flag.substr(1) : flag;
  if (atom.empty())
    return false;
  for (const char c : atom) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || std::string_view("(){%*\"\\]").find(c) != std::string_view::npos)
      return false;
  }
  return true;
}

// The blank-separated words of text.
std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
      ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t')
      ++i;
    if (i > start)
      words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

std::string FlagList(const std::vector<std::string> &flags) {
  std::string out;
  for (const std::string &f : flags)
    out += (out.empty() ? "" : " ") + f;
  return out;
}

// A set of UIDs as IMAP writes it ("1,5,9:12", "*" for the last).
bool IsUidSet(std::string_view set) {
  if (set.empty())
    return false;
  bool wantNumber = true;
  for (const char c : set) {
    if (IsDigit(c) || c == '*') {
      wantNumber = false;
    } else if ((c == ',' || c == ':') && !wantNumber) {
      wantNumber = true;
    } else {
      return false;
    }
  }
  return !wantNumber;
}

// UIDs as a set, runs of consecutive ones as ranges.
std::string Compress(std::vector<std::uint32_t> uids) {
  std::sort(uids.begin(), uids.end());
  uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
  std::string out;
  for (std::size_t i = 0; i < uids.size();) {
    std::size_t j = i;
    while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1)
      ++j;
    out += (out.empty() ? "" : ",") + std::to_string(uids[i]);
    if (j > i)
      out += ":" + std::to_string(uids[j]);
    i = j + 1;
  }
  return out;
}

// The set cut at commas into pieces of at most MaxSetText characters.
std::vector<std::string> SplitSet(const std::string &set) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start < set.size()) {
    std::size_t end = set.size();
    if (end - start > MaxSetText) {
      end = set.rfind(',', start + MaxSetText);
      if (end == std::string::npos || end <= start)
        end = set.find(',', start + 1);
      if (end == std::string::npos)
        end = set.size();
    }
    pieces.push_back(set.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

// Every UID of a sequence set of numbers ("2,10:11"), in order, into out;
// false when it is not one or holds more than room.
bool ExpandSet(std::string_view set, std::vector<std::uint32_t> &out, std::size_t room) {
  for (std::size_t i = 0; i <= set.size();) {
    std::size_t end = set.find(',', i);
    if (end == std::string_view::npos)
      end = set.size();
    const std::string_view item = set.substr(i, end - i);
    const std::size_t colon = item.find(':');
    std::uint64_t first = 0, last = 0;
    const auto number = [](std::string_view t, std::uint64_t &v) {
      if (t.empty() || t.size() > 10)
        return false;
      v = 0;
      for (const char c : t) {
        if (!IsDigit(c))
          return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
      }
      return v <= 0xFFFFFFFFu;
    };
    if (!number(item.substr(0, colon), first) ||
        !number(colon == std::string_view::npos ? item : item.substr(colon + 1), last))
      return false;
    const std::uint64_t low = std::min(first, last), high = std::max(first, last);
    if (high - low + 1 > room - std::min(room, out.size()))
      return false;
    for (std::uint64_t u = low; u <= high; ++u)
      out.push_back(static_cast<std::uint32_t>(u));
    i = end + 1;
  }
  return true;
}

// The value of a header field in a block of header lines, folded lines
// joined; the last one when it stands there twice.
std::string HeaderField(std::string_view header, std::string_view name) {
  std::string value;
  bool in = false;
  std::size_t i = 0;
  while (i < header.size()) {
    std::size_t end = header.find('\n', i);
    if (end == std::string_view::npos)
      end = header.size();
    std::string_view line = header.substr(i, end - i);
    if (line.ends_with('\r'))
      line.remove_suffix(1);
    i = end + 1;
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      if (in)
        value += line;
      continue;
    }
    const std::size_t colon = line.find(':');
    in = colon != std::string_view::npos && EqualsNoCase(Trim(line.substr(0, colon)), name);
    if (in)
      value = line.substr(colon + 1);
  }
  return Trim(value);
}

// Line breaks of a message file made CR LF, as IMAP has them.
std::string WithCrLf(std::string message) {
  std::size_t bare = 0;
  for (std::size_t i = 0; i < message.size(); ++i)
    if (message[i] == '\n' && (i == 0 || message[i - 1] != '\r'))
      ++bare;
  if (bare == 0)
    return message;
  std::string out;
  out.reserve(message.size() + bare);
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\n' && (i == 0 || message[i - 1] != '\r'))
      out += '\r';
    out += message[i];
  }
  return out;
}

// What a listing in the server's answer finds, up to its cap: past it
// nothing is kept (a part would pass for the whole), and KeepIn fails.
template <typename T> class TFound {
public:
  TFound(std::size_t cap, std::string_view what) : cap_(cap), what_(what) {}
  // False when the cap is passed.
  bool Add(T item) {
    if (items_.size() >= cap_)
      over_ = true;
    else
      items_.push_back(std::move(item));
    return !over_;
  }
  std::vector<T> &Items() { return items_; }
  void Overflowed() { over_ = true; }
  void KeepIn(std::vector<T> &kept) {
    if (over_) {
      kept.clear();
      throw ETcpIpError("More than " + std::to_string(cap_) + " " + std::string(what_) +
                        " in the IMAP server's answer; none were kept");
    }
    kept = std::move(items_);
  }

private:
  std::vector<T> items_;
  std::size_t cap_;
  std::string_view what_;
  bool over_ = false;
};

// The UID a FETCH response names; 0 for one that names none, and for any
// other response.
std::uint64_t FetchedUid(const TImapResponse &r) {
  TImapResponse::Reader in(r);
  if (!in.ListOf("FETCH"))
    return 0;
  std::string item;
  std::uint64_t number = 0;
  while (in.Word(item)) {
    if (EqualsNoCase(item, "UID") && in.Number(number))
      return number;
    if (!in.Skip())
      break;
  }
  return 0;
}

std::uint64_t UidValue(const std::string &code, std::string_view name) {
  if (!code.starts_with(name) || code.size() <= name.size() + 1)
    return 0;
  const std::string digits = code.substr(name.size() + 1);
  std::uint64_t v = 0;
  for (const char c : digits) {
    if (!IsDigit(c) || v > 0xFFFFFFFFu)
      break;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return v > 0xFFFFFFFFu ? 0 : v;
}

} // namespace

// A command as it goes out: text, with strings quoted where they can be and
// sent as literals where they cannot.
class T_Imap::TCommand {
public:
  explicit TCommand(std::string_view text) { Add(text); }
  TCommand &Add(std::string_view text) {
    if (Pieces.empty() || Pieces.back().Literal || Pieces.back().Secret)
      Pieces.push_back({});
    Pieces.back().Text += text;
    return *this;
  }
  // An astring: quoted when it is short printable ASCII, else a literal.
  TCommand &String(std::string_view text, bool secret = false) {
    bool quotable = text.size() <= 1000;
    for (const char c : text)
      quotable = quotable && c >= 0x20 && c < 0x7F;
    if (!quotable) {
      Pieces.push_back({std::string(text), true, false});
      return *this;
    }
    std::string quoted = "\"";
    for (const char c : text) {
      if (c == '"' || c == '\\')
        quoted += '\\';
      quoted += c;
    }
    quoted += '"';
    if (!secret)
      return Add(quoted);
    Pieces.push_back({std::move(quoted), false, true});
    return *this;
  }
  TCommand &Literal(std::string text) {
    Pieces.push_back({std::move(text), true, false});
    return *this;
  }
  std::vector<TPiece> Pieces;
};

T_Imap::T_Imap() { RemotePort = DefaultPort; }

T_Imap::~T_Imap() { LogoutQuietly(); }

bool T_Imap::Offers(std::string_view capability) const {
  return std::find(Capabilities.begin(), Capabilities.end(), capability) != Capabilities.end();
}

void T_Imap::Fail(const std::string &message, std::uint16_t code) const {
  throw EProtocolError(std::string(Protocol), message, code);
}

void T_Imap::OutOfStep(const TImapResponse &response) {
  // Whatever comes after it would be taken for the wrong answer.
  T_TcpIp::Logout();
  ClearSelection();
  Fail("Answer out of step: " + response.Tag + " " + response.Text);
}

void T_Imap::ClearSelection() {
  Selected.clear();
  Exists = UidValidity = UidNext = Unseen = 0;
  newMail_ = changed_ = false;
}

void T_Imap::RequireSelected() const {
  if (!Connected)
    throw ETcpIpError("Not logged on to an IMAP server (LOGON first)");
  if (Selected.empty())
    throw ETcpIpError("No IMAP folder selected (SELECT first)");
}

void T_Imap::Login() {
  LogoutQuietly();
  T_TcpIp::Login();
  nextTag_ = 0;
  bye_.clear();
  Capabilities.clear();
  ClearSelection();
  try {
    if (Security == TSecurity::Implicit)
      StartTls(Connection, Hostname);
    answerBytes_ = 0;
    TImapResponse greeting;
    ReadResponse(greeting);
    const std::string kind = greeting.Kind();
    if (!greeting.Untagged() || (kind != "OK" && kind != "PREAUTH"))
      Fail(kind == "BYE" ? "BYE " + greeting.StatusText()
                         : "No IMAP greeting: " + greeting.Tag + " " + greeting.Text);
    const bool preauth = kind == "PREAUTH";
    CapabilitiesFrom(greeting);
    if (Security == TSecurity::StartTls) {
      // A connection that is logged on already can no longer be secured;
      // going on would send everything in clear.
      if (preauth)
        Fail("The IMAP server greeted with PREAUTH, so the connection cannot be secured with "
             "STARTTLS");
      const TImapResponse done = Exchange(TCommand("STARTTLS"), nullptr);
      if (done.Kind() != "OK")
        throw ETcpIpError("The IMAP server does not offer STARTTLS: " + done.Text);
      StartTls(Connection, Hostname);
      // What the server offered in clear may have been forged.
      Capabilities.clear();
      Run(TCommand("CAPABILITY"));
    }
    if (!preauth)
      Authenticate();
    List();
  } catch (...) {
    T_TcpIp::Logout();
    throw;
  }
}

void T_Imap::Logout() {
  struct Close {
    T_Imap &imap;
    ~Close() {
      imap.T_TcpIp::Logout();
      imap.ClearSelection();
    }
  } close{*this};
  if (!Connected)
    return;
  try {
    Run(TCommand("LOGOUT"));
  } catch (const ETcpIpError &) {
    // A server that said goodbye may close before it confirms.
    if (bye_.empty())
      throw;
  }
}

void T_Imap::TakeCapabilities(std::string_view list) {
  Capabilities.clear();
  for (const std::string &word : Words(list))
    Capabilities.push_back(UpperCase(word));
}

void T_Imap::CapabilitiesFrom(const TImapResponse &response) {
  // Servers offer more once logged on; most say so in the completion.
  const std::string code = response.Code();
  if (UpperCase(code).starts_with("CAPABILITY ")) {
    TakeCapabilities(std::string_view(code).substr(11));
    return;
  }
  Capabilities.clear();
  Run(TCommand("CAPABILITY"));
}

void T_Imap::Authenticate() {
  TImapResponse done;
  if (Mechanism.empty()) {
    if (Offers("LOGINDISABLED"))
      throw ETcpIpError("The IMAP server refuses LOGIN over this connection (LOGINDISABLED); "
                        "SECURE STARTTLS or TLS secures it first");
    done = Run(TCommand("LOGIN ").String(UserName).Add(" ").String(Password, true));
  } else if (Mechanism == MechanismPlain) {
    SaslLogin(Mechanism, PlainResponse(UserName, Password));
    return;
  } else if (Mechanism == MechanismXOAuth2) {
    SaslLogin(Mechanism, XOAuth2Response(UserName, Password));
    return;
  } else {
    Fail("Unknown login mechanism " + Mechanism);
  }
  CapabilitiesFrom(done);
}

void T_Imap::SaslLogin(const std::string &mechanism, const std::string &response) {
  const std::string tag = "A" + std::to_string(++nextTag_);
  answerBytes_ = 0;
  alerts_.clear();
  TImapResponse r;
  const std::string command = tag + " AUTHENTICATE " + mechanism;
  if (Offers("SASL-IR")) {
    Connection.SendSecret(command + " ", response, Mask);
  } else {
    SendCommand(command);
    if (!Await(tag, r, nullptr, true))
      return Check(r);
    Connection.SendSecret("", response, Mask);
  }
  for (;;) {
    ReadResponse(r);
    if (r.Tag == tag)
      break;
    if (r.Continuation()) {
      // More is asked than the mechanism has to say: with XOAUTH2 the
      // challenge is the reason for a refusal, which an empty answer
      // fetches; any other exchange is cancelled.
      SendCommand(mechanism == MechanismXOAuth2 ? "" : "*");
    } else if (r.Untagged()) {
      Note(r);
    } else {
      OutOfStep(r);
    }
  }
  Check(r);
  CapabilitiesFrom(r);
}

TImapResponse T_Imap::Run(const TCommand &command, const THandler &handler) {
  TImapResponse done = Exchange(command, handler);
  Check(done);
  return done;
}

TImapResponse T_Imap::Exchange(const TCommand &command, const THandler &handler) {
  if (!Connected)
    throw ETcpIpError("Not logged on to an IMAP server (LOGON first)");
  const std::string tag = "A" + std::to_string(++nextTag_);
  answerBytes_ = 0;
  alerts_.clear();
  TImapResponse done;
  std::string line = tag + " ";
  for (const TPiece &piece : command.Pieces) {
    if (piece.Secret) {
      Connection.SendSecret(line, piece.Text, Mask);
      line.clear();
      continue;
    }
    if (!piece.Literal) {
      line += piece.Text;
      continue;
    }
    const bool wait =
        !Offers("LITERAL+") && !(Offers("LITERAL-") && piece.Text.size() <= LiteralMinusBytes);
    line += "{" + std::to_string(piece.Text.size()) + (wait ? "}" : "+}");
    SendCommand(line);
    line.clear();
    // The server may refuse the literal (too big) before it is sent.
    if (wait && !Await(tag, done, handler, true))
      return done;
    Connection.Send(piece.Text);
  }
  if (!command.Pieces.empty() && command.Pieces.back().Secret)
    line.clear();
  else
    SendCommand(line);
  Await(tag, done, handler, false);
  return done;
}

bool T_Imap::Await(const std::string &tag, TImapResponse &response, const THandler &handler,
                   bool continuation) {
  for (;;) {
    ReadResponse(response);
    if (continuation && response.Continuation())
      return true;
    if (response.Tag == tag)
      return false;
    if (!response.Untagged())
      OutOfStep(response);
    if (!handler || !handler(response))
      Note(response);
  }
}

void T_Imap::Check(const TImapResponse &completion) const {
  const std::string kind = completion.Kind();
  if (kind == "OK")
    return;
  std::string message = completion.Text;
  for (const std::string &alert : alerts_)
    if (message.find(alert) == std::string::npos)
      message += " [ALERT] " + alert;
  Fail(message, kind == "NO" || kind == "BAD" ? 500 : 999);
}

void T_Imap::Closed() const { Fail(bye_.empty() ? "Connection closed by server" : "BYE " + bye_); }

void T_Imap::CountAnswer(std::uint64_t bytes) {
  answerBytes_ += bytes;
  if (answerBytes_ > MaxAnswerBytes)
    throw ETcpIpError("The IMAP server's answer to one command passed " +
                      std::to_string(MaxAnswerBytes >> 20) + " MiB; the connection was closed");
}

void T_Imap::ReadResponse(TImapResponse &response) {
  response.Clear();
  std::string &text = response.Text;
  try {
    if (!Connection.ReadLineAppend(text))
      Closed();
    CountAnswer(text.size() + 2);
    const std::size_t space = text.find(' ');
    response.Tag = text.substr(0, space);
    text.erase(0, space == std::string::npos ? text.size() : space + 1);
    std::uint64_t size = 0;
    // Only the piece read last can end in a literal's marker.
    for (std::size_t piece = 0;
         TImapResponse::MayHoldLiterals(response.Tag, text) &&
         TImapResponse::LiteralAtEnd(std::string_view(text).substr(piece), size);) {
      ReadLiteral(response, size);
      piece = text.size();
      if (!Connection.ReadLineAppend(text))
        Closed();
      CountAnswer(text.size() - piece + 2);
    }
  } catch (...) {
    // Whatever comes next would be out of step.
    T_TcpIp::Logout();
    ClearSelection();
    throw;
  }
  if (Tracing())
    Trace(response.Tag + " " + text, tlReply);
}

void T_Imap::ReadLiteral(TImapResponse &response, std::uint64_t size) {
  const std::string &text = response.Text;
  const std::size_t marker = text.rfind('{');
  if (body_ && !bodyTaken_ && marker >= 7 &&
      UpperCase(std::string_view(text).substr(marker - 7, 7)) == "BODY[] " &&
      response.Kind() == "FETCH") {
    response.Literals.emplace_back();
    return ReadBody(size);
  }
  if (size > MaxLiteralBytes)
    throw ETcpIpError("The IMAP server announced " + std::to_string(size) +
                      " bytes where at most " + std::to_string(MaxLiteralBytes) +
                      " are taken; the connection was closed");
  CountAnswer(size);
  std::string &literal = response.Literals.emplace_back(static_cast<std::size_t>(size), '\0');
  for (std::size_t got = 0; got < literal.size();) {
    const std::size_t n = Connection.Receive(literal.data() + got, literal.size() - got);
    if (n == 0)
      Closed();
    got += n;
  }
}

void T_Imap::ReadBody(std::uint64_t size) {
  MessageSize = static_cast<std::int64_t>(size);
  Counts.Expect(TDirection::Received, MessageSize);
  const auto tooLarge = [this] {
    return ETcpIpError("The message is larger than " + std::to_string(MaxMessageBytes >> 20) +
                       " MiB; it was not retrieved");
  };
  if (MessageSize > MaxMessageBytes)
    throw tooLarge();
  TLineText &lines = *body_;
  const TLinesArrived &arrived = *bodyArrived_;
  // A body that came before was another message's.
  lines.Clear();
  if (arrived)
    arrived(lines);
  lines.Reserve(static_cast<std::size_t>(size));
  // Each line costs its length and the place where it ends.
  const auto check = [&] {
    if (static_cast<std::int64_t>(lines.Bytes() + lines.Count() * sizeof(std::size_t)) >
        MaxMessageBytes)
      throw tooLarge();
  };
  // A message of tens of megabytes in reads of up to 256 KiB: a few hundred
  // calls to the system rather than thousands.
  std::vector<char> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(size, 256 * 1024)));
  for (std::uint64_t left = size; left > 0;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
    const std::size_t n = Connection.Receive(chunk.data(), want);
    if (n == 0)
      Closed();
    left -= n;
    lines.AppendReceived(std::string_view(chunk.data(), n));
    check();
    if (arrived)
      arrived(lines);
  }
  lines.CloseReceived();
  check();
  bodyTaken_ = true;
}

void T_Imap::Note(const TImapResponse &response) {
  const std::string kind = response.Kind();
  if (kind == "EXISTS") {
    const std::uint32_t n = response.Number();
    if (n > Exists)
      newMail_ = changed_ = true;
    Exists = n;
  } else if (kind == "EXPUNGE" || kind == "VANISHED") {
    if (kind == "EXPUNGE" && Exists > 0)
      --Exists;
    changed_ = true;
  } else if (kind == "FETCH") {
    // Flags that changed, told without being asked.
    changed_ = true;
  } else if (kind == "CAPABILITY") {
    TakeCapabilities(
        std::string_view(response.Text).substr(std::min(response.Text.size(), kind.size() + 1)));
  } else if (kind == "OK" || kind == "NO" || kind == "BAD") {
    const std::string code = UpperCase(response.Code());
    if (code == "ALERT")
      alerts_.push_back(response.StatusText());
    else if (code.starts_with("CAPABILITY "))
      TakeCapabilities(std::string_view(response.Code()).substr(11));
  } else if (kind == "BYE") {
    bye_ = response.StatusText();
    if (bye_.empty())
      bye_ = "(the server ends the connection)";
  }
}

void T_Imap::List() {
  TFound<TImapFolder> folders(MaxFolders, "folders");
  Run(TCommand("LIST \"\" \"*\""), [&](const TImapResponse &r) {
    TImapResponse::Reader in(r);
    if (!in.ListOf("LIST"))
      return false;
    TImapFolder folder;
    std::string attribute, delimiter, name;
    while (!in.Close()) {
      if (!in.String(attribute))
        return true;
      for (const std::string_view use : SpecialUses)
        if (EqualsNoCase(attribute, use))
          folder.SpecialUse = use;
    }
    bool nil = false;
    if (!in.String(delimiter, &nil) || !in.String(name))
      return true;
    folder.Name = DecodeImapUtf7(name);
    folder.WireName = std::move(name);
    folders.Add(std::move(folder));
    return true;
  });
  folders.KeepIn(Folders);
}

std::string T_Imap::WireName(const std::string &folder) const {
  if (folder.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
    throw EConvertError("A folder name cannot hold a line break or NUL");
  for (const TImapFolder &f : Folders)
    if (f.Name == folder)
      return f.WireName;
  return EncodeImapUtf7(folder);
}

void T_Imap::Select(const std::string &folder) {
  if (!Connected)
    throw ETcpIpError("Not logged on to an IMAP server (LOGON first)");
  const std::string wire = WireName(folder);
  ClearSelection();
  std::uint32_t unseen = 0;
  // STATUS first: asked of the selected folder, servers may answer late.
  Run(TCommand("STATUS ").String(wire).Add(" (UNSEEN)"), [&](const TImapResponse &r) {
    if (r.Kind() != "STATUS")
      return false;
    TImapResponse::Reader in = TImapResponse::Reader::AfterKind(r);
    std::string name, item;
    std::uint64_t value = 0;
    if (!in.String(name) || !in.Open())
      return true;
    while (in.Word(item) && in.Number(value))
      if (EqualsNoCase(item, "UNSEEN"))
        unseen = static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFFu));
    return true;
  });
  std::uint64_t validity = 0, next = 0;
  Run(TCommand("SELECT ").String(wire), [&](const TImapResponse &r) {
    const std::string code = UpperCase(r.Code());
    if (r.Kind() == "OK" && code.starts_with("UIDVALIDITY "))
      validity = UidValue(code, "UIDVALIDITY");
    else if (r.Kind() == "OK" && code.starts_with("UIDNEXT "))
      next = UidValue(code, "UIDNEXT");
    return false;
  });
  Selected = folder;
  Unseen = unseen;
  UidValidity = static_cast<std::uint32_t>(validity);
  UidNext = static_cast<std::uint32_t>(next);
  newMail_ = false;
}

void T_Imap::Search(const std::string &criteria) {
  if (criteria.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
    throw EConvertError("Search criteria cannot hold a line break or NUL");
  const std::string keys = Trim(IsUtf8(criteria) ? criteria : ToUtf8(criteria, "windows-1252"));
  // The keys as they go: ASCII as written, strings that are not ASCII as
  // literals.
  std::vector<TPiece> pieces(1);
  bool wide = false;
  for (std::size_t i = 0; i < keys.size();) {
    const char c = keys[i];
    if (c == '{')
      throw EConvertError("Search criteria cannot hold \"{\" outside a quoted string");
    std::size_t end = i + 1;
    std::string value;
    if (c == '"') {
      for (; end < keys.size() && keys[end] != '"'; ++end) {
        if (keys[end] == '\\' && end + 1 < keys.size())
          ++end;
        value += keys[end];
      }
      if (end >= keys.size())
        throw EConvertError("Search criteria with a quoted string left open: " + keys);
      ++end;
    } else if (c != ' ' && c != '(' && c != ')') {
      while (end < keys.size() &&
             std::string_view(" ()\"{").find(keys[end]) == std::string_view::npos)
        ++end;
      value = keys.substr(i, end - i);
    }
    if (!value.empty() && !IsAscii(value)) {
      wide = true;
      pieces.push_back({std::move(value), true, false});
      pieces.push_back({});
    } else {
      pieces.back().Text.append(keys, i, end - i);
    }
    i = end;
  }
  RequireSelected();
  TCommand command("UID SEARCH ");
  const bool extended = Offers("ESEARCH");
  if (extended)
    command.Add("RETURN (ALL) ");
  if (wide)
    command.Add("CHARSET UTF-8 ");
  if (keys.empty())
    command.Add("ALL");
  for (TPiece &piece : pieces)
    piece.Literal ? command.Literal(std::move(piece.Text)) : command.Add(piece.Text);

  TFound<std::uint32_t> found(MaxSearchResults, "messages found");
  const std::string tag = "A" + std::to_string(nextTag_ + 1);
  Run(command, [&](const TImapResponse &r) {
    const std::string kind = r.Kind();
    TImapResponse::Reader in = TImapResponse::Reader::AfterKind(r);
    if (kind == "SEARCH") {
      std::uint64_t uid = 0;
      while (in.Number(uid) &&
             found.Add(static_cast<std::uint32_t>(std::min<std::uint64_t>(uid, 0xFFFFFFFFu)))) {
      }
      return true;
    }
    if (kind != "ESEARCH")
      return false;
    std::string word, correlator;
    // (TAG "A5"): the answer to another command is not this one's.
    if (in.Open()) {
      if (!in.Word(word) || !in.String(correlator) || !in.Close() || correlator != tag)
        return true;
    }
    while (in.Word(word)) {
      if (EqualsNoCase(word, "UID"))
        continue;
      std::string value;
      if (!in.String(value))
        break;
      if (EqualsNoCase(word, "ALL") && !ExpandSet(value, found.Items(), MaxSearchResults))
        found.Overflowed();
    }
    return true;
  });
  found.KeepIn(SearchResults);
}

void T_Imap::CheckSummaries(const std::string &uids) const {
  RequireSelected();
  const std::string set = Trim(uids);
  if (set.empty() && SearchResults.size() > MaxSummaries)
    throw ETcpIpError("The last search found " + std::to_string(SearchResults.size()) +
                      " messages; summaries are made of at most " + std::to_string(MaxSummaries) +
                      " at a time");
  if (!set.empty() && !IsUidSet(set))
    throw EConvertError("'" + uids + "' is no set of UIDs (such as 1,5,9:12)");
}

void T_Imap::FetchSummaries(const std::string &uids) {
  CheckSummaries(uids);
  std::string set = Trim(uids);
  if (set.empty())
    set = Compress(SearchResults);
  TFound<TImapSummary> summaries(MaxSummaries, "summaries");
  const THandler take = [&](const TImapResponse &r) {
    TImapResponse::Reader in(r);
    if (!in.ListOf("FETCH"))
      return false;
    TImapSummary s;
    bool header = false;
    std::string item, value;
    std::uint64_t number = 0;
    while (in.Word(item)) {
      const std::string name = UpperCase(item);
      if (name == "UID" && in.Number(number)) {
        s.Uid = static_cast<std::uint32_t>(std::min<std::uint64_t>(number, 0xFFFFFFFFu));
      } else if (name == "RFC822.SIZE" && in.Number(number)) {
        s.Size = static_cast<std::int64_t>(number);
      } else if (name == "FLAGS" && in.Open()) {
        while (!in.Close() && in.String(value))
          s.Flags += (s.Flags.empty() ? "" : " ") + value;
      } else if (name.starts_with("BODY[HEADER.FIELDS") && in.String(value)) {
        header = true;
        s.From = HeaderField(value, "From");
        s.Subject = HeaderField(value, "Subject");
        s.Date = HeaderField(value, "Date");
      } else if (!in.Skip()) {
        break;
      }
    }
    // Without its header it is news of flags changed, not a summary.
    if (!header || s.Uid == 0)
      return false;
    summaries.Add(std::move(s));
    return true;
  };
  for (const std::string &piece : SplitSet(set))
    Run(TCommand("UID FETCH " + piece +
                 " (UID FLAGS RFC822.SIZE BODY.PEEK[HEADER.FIELDS (FROM SUBJECT DATE)])"),
        take);
  summaries.KeepIn(Summaries);
}

void T_Imap::FetchMessage(std::uint32_t uid, TLineText &lines, const TLinesArrived &arrived) {
  RequireSelected();
  lines.Clear();
  MessageSize = -1;
  struct Done {
    T_Imap &imap;
    ~Done() {
      imap.body_ = nullptr;
      imap.bodyArrived_ = nullptr;
    }
  } done{*this};
  body_ = &lines;
  bodyArrived_ = &arrived;
  bodyTaken_ = false;
  bool found = false;
  try {
    Run(TCommand("UID FETCH " + std::to_string(uid) + " BODY.PEEK[]"), [&](const TImapResponse &r) {
      if (r.Kind() != "FETCH" || !bodyTaken_ || found)
        return false;
      found = FetchedUid(r) == uid;
      // A body the server sent for another message is not this one.
      if (!found) {
        lines.Clear();
        bodyTaken_ = false;
      }
      return true;
    });
  } catch (...) {
    lines.Clear();
    throw;
  }
  if (!found)
    throw ETcpIpError("No message with UID " + std::to_string(uid) + " in " + Selected);
}

void T_Imap::Store(std::uint32_t uid, const std::string &changes) {
  std::vector<std::string> adds, removes;
  for (const std::string &word : Words(changes)) {
    if ((word[0] != '+' && word[0] != '-') || !IsFlag(std::string_view(word).substr(1)))
      throw EConvertError("'" + word + "' is no flag change (such as +\\Seen or -$Label)");
    (word[0] == '+' ? adds : removes).push_back(word.substr(1));
  }
  if (adds.empty() && removes.empty())
    throw EConvertError("No flag change given (such as +\\Seen or -$Label)");
  RequireSelected();
  bool seen = false;
  const THandler echo = [&](const TImapResponse &r) {
    if (FetchedUid(r) != uid)
      return false;
    seen = true;
    return true;
  };
  const std::string head = "UID STORE " + std::to_string(uid);
  if (!adds.empty())
    Run(TCommand(head + " +FLAGS (" + FlagList(adds) + ")"), echo);
  if (!removes.empty())
    Run(TCommand(head + " -FLAGS (" + FlagList(removes) + ")"), echo);
  // Servers tell only of flags that changed: whether the message is there
  // at all is asked when nothing was told.
  if (!seen)
    Run(TCommand("UID FETCH " + std::to_string(uid) + " (UID)"), echo);
  if (!seen)
    throw ETcpIpError("No message with UID " + std::to_string(uid) + " in " + Selected);
}

void T_Imap::ExpungeOne(std::uint32_t uid, bool &expunged) {
  Run(TCommand("UID EXPUNGE " + std::to_string(uid)), [&](const TImapResponse &r) {
    expunged = expunged || r.Kind() == "EXPUNGE" || r.Kind() == "VANISHED";
    return false;
  });
}

void T_Imap::Move(std::uint32_t uid, const std::string &folder) {
  RequireSelected();
  const std::string wire = WireName(folder);
  const std::string number = std::to_string(uid);
  bool moved = false;
  if (Offers("MOVE")) {
    Run(TCommand("UID MOVE " + number + " ").String(wire), [&](const TImapResponse &r) {
      moved = moved || r.Kind() == "EXPUNGE" || r.Kind() == "VANISHED";
      return false;
    });
  } else if (Offers("UIDPLUS")) {
    // The copy comes first: whatever fails later, the message is kept.
    const TImapResponse copied = Run(TCommand("UID COPY " + number + " ").String(wire));
    if (UpperCase(copied.Code()).starts_with("COPYUID ")) {
      Run(TCommand("UID STORE " + number + " +FLAGS.SILENT (\\Deleted)"));
      ExpungeOne(uid, moved);
    }
  } else {
    throw ETcpIpError("The IMAP server has neither MOVE nor UIDPLUS, so a message cannot be "
                      "moved alone; nothing was moved");
  }
  if (!moved)
    throw ETcpIpError("No message with UID " + number + " in " + Selected);
}

void T_Imap::Delete(std::uint32_t uid) {
  RequireSelected();
  if (!Offers("UIDPLUS"))
    throw ETcpIpError("The IMAP server has no UIDPLUS, so a message cannot be deleted alone (an "
                      "EXPUNGE would take every message marked \\Deleted); nothing was deleted");
  const std::string number = std::to_string(uid);
  Run(TCommand("UID STORE " + number + " +FLAGS.SILENT (\\Deleted)"));
  bool expunged = false;
  ExpungeOne(uid, expunged);
  if (!expunged)
    throw ETcpIpError("No message with UID " + number + " in " + Selected);
}

void T_Imap::Append(const std::string &folder, std::string message, const std::string &flags) {
  const std::vector<std::string> list = Words(flags);
  for (const std::string &flag : list)
    if (!IsFlag(flag))
      throw EConvertError("'" + flag + "' is no flag (such as \\Seen or $Label)");
  const std::string wire = WireName(folder);
  TCommand command("APPEND ");
  command.String(wire);
  if (!list.empty())
    command.Add(" (" + FlagList(list) + ")");
  command.Add(" ").Literal(WithCrLf(std::move(message)));
  Run(command);
}

void T_Imap::CreateFolder(const std::string &folder) {
  Run(TCommand("CREATE ").String(WireName(folder)));
  List();
}

void T_Imap::DeleteFolder(const std::string &folder) {
  Run(TCommand("DELETE ").String(WireName(folder)));
  if (folder == Selected)
    ClearSelection();
  List();
}

void T_Imap::Idle(int timeoutMs) {
  RequireSelected();
  Changed = false;
  if (newMail_) {
    newMail_ = false;
    Changed = true;
    return;
  }
  using Clock = std::chrono::steady_clock;
  const int wait = timeoutMs == NoTimeout ? MaxIdleMs : std::clamp(timeoutMs, 0, MaxIdleMs);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wait);
  const auto left = [&] {
    return static_cast<int>(std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
  };
  changed_ = false;
  if (!Offers("IDLE")) {
    // Servers without IDLE tell of news in the answer to a command.
    for (;;) {
      Run(TCommand("NOOP"));
      if (changed_ || left() == 0)
        break;
      if (Connection.AwaitData(std::min(left(), PollMs))) {
        // Only a goodbye comes unasked; the read reports the close after it.
        TImapResponse r;
        ReadResponse(r);
        if (!r.Untagged())
          OutOfStep(r);
        Note(r);
      }
    }
  } else {
    const std::string tag = "A" + std::to_string(++nextTag_);
    answerBytes_ = 0;
    alerts_.clear();
    SendCommand(tag + " IDLE");
    TImapResponse r;
    if (!Await(tag, r, nullptr, true))
      return Check(r);
    bool ended = false;
    while (!changed_ && left() > 0 && Connection.AwaitData(left())) {
      ReadResponse(r);
      if (r.Tag == tag) {
        // The server ended the wait itself.
        ended = true;
        break;
      }
      if (r.Untagged())
        Note(r);
      else if (!r.Continuation())
        OutOfStep(r);
    }
    if (!ended) {
      SendCommand("DONE");
      Await(tag, r, nullptr, false);
    }
    Check(r);
  }
  Changed = changed_;
  newMail_ = false;
}

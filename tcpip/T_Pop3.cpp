#include "tcpip/T_Pop3.h"

#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "platform/Memory.h"
#include "tcpip/MailAuth.h"

#include <algorithm>
#include <unordered_map>

namespace {

constexpr std::string_view Protocol = "POP3";
constexpr std::string_view Mask = "*****";

bool IsContinuation(const std::string &line) { return line == "+" || line.starts_with("+ "); }

// Whether a CAPA answer names the capability (the first word of a line, in
// any letter case).
bool Offers(const TStringList &capabilities, std::string_view name) {
  for (const std::string &line : capabilities) {
    const std::string_view word = std::string_view(line).substr(0, line.find(' '));
    if (word.size() == name.size() &&
        std::equal(word.begin(), word.end(), name.begin(),
                   [](char a, char b) { return (a >= 'a' && a <= 'z' ? a - 32 : a) == b; }))
      return true;
  }
  return false;
}

[[noreturn]] void RefusedWith(const std::string &line) {
  throw EProtocolError(std::string(Protocol), line, line.starts_with("-ERR") ? 500 : 999);
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// A folded line joined to the trimmed field it continues, as trimming the
// two joined would give, but without copying the field again: a header
// folded over many lines stays linear.
void AppendFolded(std::string &field, std::string_view line) {
  if (field.empty())
    while (!line.empty() && IsBlank(line.front()))
      line.remove_prefix(1);
  field += line;
  while (!field.empty() && IsBlank(field.back()))
    field.pop_back();
}

} // namespace

T_Pop3::T_Pop3() { RemotePort = DefaultPort; }

// The base class cannot run this class's Logout from its destructor.
T_Pop3::~T_Pop3() { LogoutQuietly(); }

std::string T_Pop3::ReadReply() {
  std::string line = Connection.ReadReplyLine(Protocol);
  if (!line.starts_with("+OK"))
    RefusedWith(line);
  return line;
}

t_reply T_Pop3::ParseListLine(std::string_view line) {
  t_reply r;
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos)
    throw EConvertError("'" + std::string(line) + "' is not a mailbox listing line");
  r.Number = StrToInt(line.substr(0, space));
  std::string_view size = line.substr(space + 1);
  size = size.substr(0, size.find(' '));
  r.Size = StrToInt64(size);
  return r;
}

void T_Pop3::Login() {
  // The next log-on is not held up by the last.
  LogoutQuietly();
  T_TcpIp::Login();
  uniqueIdsAsked_ = false;
  if (Security == TSecurity::Implicit)
    StartTls(Connection, Hostname);
  const std::string greeting = ReadReply();
  AskCapabilities();
  if (Security == TSecurity::StartTls) {
    SendCommand("STLS");
    try {
      ReadReply();
    } catch (const EProtocolError &e) {
      throw ETcpIpError(std::string("The POP3 server does not offer STLS: ") + e.what());
    }
    StartTls(Connection, Hostname);
    // What the server offers may differ once the connection is private.
    AskCapabilities();
  }
  Authenticate(greeting);
  SendCommand("LIST");
  ReadReply();
  MessageList.clear();
  Connection.ReadDotTerminated("POP3", false, [this](std::string &line) {
    if (MessageList.size() >= MaxListEntries)
      Overrun("The mailbox listing names more than " + std::to_string(MaxListEntries) +
              " messages");
    MessageList.push_back(ParseListLine(line));
  });
}

void T_Pop3::Overrun(const std::string &message) {
  T_TcpIp::Logout();
  // The memory goes back now, not at the next log-on.
  std::vector<t_reply>().swap(MessageList);
  throw ETcpIpError(message);
}

void T_Pop3::AskCapabilities() {
  Capabilities.clear();
  CapabilitiesKnown = false;
  SendCommand("CAPA");
  // A server from before CAPA refuses it; that is no failure.
  if (!Connection.ReadReplyLine(Protocol).starts_with("+OK"))
    return;
  std::size_t kept = 0;
  Connection.ReadDotTerminated(Protocol, true, [&](std::string &line) {
    kept += line.size() + PerLineCost;
    if (kept > MaxCapabilityBytes) {
      TStringList().swap(Capabilities);
      Overrun("The POP3 server's CAPA answer is longer than " +
              std::to_string(MaxCapabilityBytes) + " bytes");
    }
    Capabilities.push_back(std::move(line));
  });
  CapabilitiesKnown = true;
}

void T_Pop3::Authenticate(const std::string &greeting) {
  if (Mechanism.empty()) {
    SendCommand("USER " + UserName);
    ReadReply();
    Connection.SendSecret("PASS ", Password, Mask);
    ReadReply();
  } else if (Mechanism == "APOP") {
    const std::string stamp = GreetingTimestamp(greeting);
    if (stamp.empty())
      throw EProtocolError(std::string(Protocol),
                           "The server offers no APOP (its greeting has no time stamp)", 999);
    // The digest stands for the password: whoever sees it may try
    // passwords against it at leisure.
    Connection.SendSecret("APOP " + UserName + " ", ApopDigest(stamp, Password), Mask);
    ReadReply();
  } else if (Mechanism == "PLAIN") {
    SaslLogin(Mechanism, PlainResponse(UserName, Password));
  } else if (Mechanism == "XOAUTH2") {
    SaslLogin(Mechanism, XOAuth2Response(UserName, Password));
  } else {
    throw EProtocolError(std::string(Protocol), "Unknown login mechanism " + Mechanism, 999);
  }
}

void T_Pop3::SaslLogin(std::string_view mechanism, const std::string &response) {
  SendCommand("AUTH " + std::string(mechanism));
  std::string line = Connection.ReadReplyLine(Protocol);
  if (!IsContinuation(line))
    RefusedWith(line);
  Connection.SendSecret("", response, Mask);
  line = Connection.ReadReplyLine(Protocol);
  if (IsContinuation(line)) {
    // More is asked than the mechanism has to say: with XOAUTH2 the
    // challenge is the reason for a refusal, which an empty answer fetches;
    // any other exchange is cancelled.
    SendCommand(mechanism == "XOAUTH2" ? "" : "*");
    line = Connection.ReadReplyLine(Protocol);
  }
  if (!line.starts_with("+OK"))
    RefusedWith(line);
}

std::string T_Pop3::UniqueId(std::size_t index) {
  if (index >= MessageList.size())
    return {};
  // A server that answered CAPA without UIDL is not asked; one from before
  // CAPA may still know it.
  const bool offered = !CapabilitiesKnown || Offers(Capabilities, "UIDL");
  if (!uniqueIdsAsked_ && offered && Connected) {
    uniqueIdsAsked_ = true;
    SendCommand("UIDL");
    const std::string status = Connection.ReadReplyLine(Protocol);
    if (status.starts_with("-ERR"))
      return {};
    if (!status.starts_with("+OK"))
      RefusedWith(status);
    std::size_t next = 0, lines = 0;
    // Where each message number stands, for the answers out of order.
    std::unordered_map<std::int32_t, std::size_t> place;
    Connection.ReadDotTerminated(Protocol, false, [&](std::string &line) {
      if (++lines > MaxListEntries)
        Overrun("The UIDL answer has more than " + std::to_string(MaxListEntries) + " lines");
      // "number id"; a line that is not is skipped rather than taken for
      // another message's id.
      const std::size_t space = line.find(' ');
      if (space == std::string::npos)
        return;
      std::int32_t number;
      try {
        number = StrToInt(std::string_view(line).substr(0, space));
      } catch (const EConvertError &) {
        return;
      }
      // The ids come in the order of the listing; a look-up is the
      // fall-back for a server that skips or reorders (or names messages
      // that are not listed, however many lines it sends).
      if (next >= MessageList.size() || MessageList[next].Number != number) {
        if (place.empty())
          for (std::size_t i = MessageList.size(); i-- > 0;)
            place[MessageList[i].Number] = i;
        const auto it = place.find(number);
        if (it == place.end())
          return;
        next = it->second;
      }
      std::string id = Trim(std::string_view(line).substr(space + 1));
      if (id.size() > MaxUniqueIdLength)
        id.clear();
      MessageList[next++].UniqueId = std::move(id);
    });
  }
  return MessageList[index].UniqueId;
}

void T_Pop3::AdoptListing(std::vector<t_reply> list) {
  MessageList = std::move(list);
  uniqueIdsAsked_ = true;
}

void T_Pop3::Logout() {
  struct Close {
    T_Pop3 &pop;
    ~Close() {
      pop.T_TcpIp::Logout();
      pop.MessageList.clear();
    }
  } close{*this};
  if (Connected) {
    SendCommand("QUIT");
    ReadReply();
  }
}

void T_Pop3::Action() {
  Login();
  if (!MessageList.empty())
    GetMail(1);
  Logout();
}

void T_Pop3::GetHeaders() {
  MailLines.clear();
  MailLines.resize(MessageList.size());
  std::int64_t held = 0;
  const auto cost = [](const t_reply &e) {
    return 2 * static_cast<std::int64_t>(e.From.size() + e.Subject.size()) + 64;
  };
  for (std::size_t k = MessageList.size(); k-- > 0;) {
    t_reply &e = MessageList[k];
    SendCommand("TOP " + IntToStr(e.Number) + " 1");
    try {
      ReadReply();
      bool inHeader = true;
      std::string *last = nullptr;
      Connection.ReadDotTerminated("POP3", true, [&](std::string &line) {
        if (!inHeader)
          return;
        if (held + cost(e) + static_cast<std::int64_t>(line.size()) > MaxSummaryBytes) {
          TStringList().swap(MailLines);
          Overrun("The summaries of the messages are larger than " +
                  std::to_string(MaxSummaryBytes) + " bytes");
        }
        if (line.empty()) {
          inHeader = false;
        } else if (line[0] == ' ' || line[0] == '\t') {
          // A folded From or Subject goes on on this line.
          if (last)
            AppendFolded(*last, line);
        } else if (line.starts_with("From:")) {
          e.From = Trim(std::string_view(line).substr(5));
          last = &e.From;
        } else if (line.starts_with("Subject:")) {
          e.Subject = Trim(std::string_view(line).substr(8));
          last = &e.Subject;
        } else {
          last = nullptr;
        }
      });
      MailLines[k] = e.Subject.empty() ? e.From : e.From + '\x07' + e.Subject;
      held += cost(e);
    } catch (const EProtocolError &) {
      // A refusal of this one message; a connection that has ended is the
      // end of the whole listing.
      if (Connection.Ended())
        throw;
      MailLines[k] = IntToStr(e.Number);
    }
  }
}

std::int64_t T_Pop3::StartRetrieval(int n) {
  if (!Connected)
    Login();
  SendCommand("RETR " + IntToStr(n));
  ReadReply();
  for (const t_reply &e : MessageList)
    if (e.Number == n) {
      Counts.Expect(TDirection::Received, e.Size);
      return e.Size;
    }
  return 0;
}

void T_Pop3::GetMail(int n) {
  const std::int64_t size = StartRetrieval(n);
  MailLines.clear();
  // The listed size tells roughly how many lines are coming. Room for more
  // than will come costs address space only, while growing the list later
  // copies it whole: lines of base64 are 62 bytes, most text lines shorter.
  if (size > 0)
    MailLines.reserve(static_cast<std::size_t>(std::min<std::int64_t>(size / 32 + 16, 1 << 22)));
  platform::PrepareLargeWrite(MailLines.data(), MailLines.capacity() * sizeof(std::string));
  try {
    // Each line costs its length and the place kept for it.
    std::int64_t held = 0;
    Connection.ReadDotTerminated(Protocol, true, [&](std::string &line) {
      held += static_cast<std::int64_t>(line.size() + sizeof(std::string));
      if (held > MaxMessageBytes)
        TooLarge(n);
      MailLines.push_back(std::move(line));
    });
  } catch (...) {
    TStringList().swap(MailLines);
    throw;
  }
}

void T_Pop3::GetMailText(int n, TLineText &lines, const TLinesArrived &arrived) {
  const std::int64_t size = StartRetrieval(n);
  lines.Clear();
  if (arrived)
    arrived(lines);
  // The size is the server's word: a hint, bounded, never a promise.
  if (size > 0)
    lines.Reserve(static_cast<std::size_t>(std::min<std::int64_t>(size, MaxMessageBytes)));
  Connection.ReadDotTerminated(Protocol, lines, [&](const TLineText &text) {
    // Each line costs its length and the place where it ends; the reading
    // stops within a few tens of kilobytes of the cap.
    if (static_cast<std::int64_t>(text.Bytes() + text.Count() * sizeof(std::size_t)) >
        MaxMessageBytes)
      TooLarge(n);
    if (arrived)
      arrived(text);
  });
}

void T_Pop3::TooLarge(int n) {
  // Leaves the mailbox as it was rather than half changed.
  Overrun("Message " + IntToStr(n) + " is larger than " +
          IntToStr(static_cast<std::int32_t>(MaxMessageBytes >> 20)) +
          " MiB; it was not retrieved");
}

void T_Pop3::DeleteMail(int n) {
  if (!Connected)
    Login();
  SendCommand("DELE " + IntToStr(n));
  ReadReply();
}

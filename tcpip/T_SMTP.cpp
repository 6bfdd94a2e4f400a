#include "tcpip/T_SMTP.h"

#include "ip_misc/ip_misc.h"
#include "tcpip/MailAuth.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// The server's prompt for the next step of a login.
constexpr int Continue = 334;

} // namespace

T_SMTP::T_SMTP() { RemotePort = DefaultPort; }

T_SMTP::~T_SMTP() = default;

void T_SMTP::ReadReply(TStringList *more) {
  const TReply reply = Connection.ReadNumberedReply("SMTP", more);
  // Only a three-digit code is a reply; anything else is garbage.
  ReplyCode = reply.Code >= 100 && reply.Code <= 999 ? reply.Code : 999;
  ReplyText = reply.Text;
}

void T_SMTP::SendMessageLines() {
  // One write per line would cost a system call per 60 bytes of a large
  // attachment; lines are gathered into writes of about the buffer's size.
  std::string chunk;
  chunk.reserve(BufferSize + 1024);
  auto coded = Base64Entries.begin();
  for (std::size_t k = 0; k < MessageText.size(); ++k) {
    const std::string &text = MessageText[k];
    if (coded != Base64Entries.end() && coded->first == k) {
      // Pieces of whole lines, each about one write; base64 lines never
      // begin with ".".
      constexpr std::size_t Piece = BufferSize / 62 * 45;
      const std::string_view data = coded->second;
      for (std::size_t at = 0; at < data.size(); at += Piece) {
        if (at > 0)
          chunk += "\r\n";
        Base64AppendLines(data.substr(at, Piece), chunk);
        if (chunk.size() >= BufferSize) {
          Connection.Send(chunk);
          chunk.clear();
        }
      }
      ++coded;
    }
    // An entry may hold several lines joined by CR LF (the MIME composer
    // keeps an attachment's encoded lines so). Every line that begins with
    // "." gets one more in front, which the server takes away again, so that
    // no line can end the message early.
    std::size_t at = 0;
    for (;;) {
      if (at < text.size() && text[at] == '.')
        chunk += '.';
      const auto *lf = static_cast<const char *>(std::memchr(text.data() + at, '\n', text.size() - at));
      const std::size_t next = lf ? static_cast<std::size_t>(lf - text.data()) + 1 : text.size();
      chunk.append(text, at, next - at);
      if (chunk.size() >= BufferSize) {
        Connection.Send(chunk);
        chunk.clear();
      }
      if (!lf)
        break;
      at = next;
    }
    chunk += "\r\n";
  }
  chunk += ".\r\n";
  Connection.Send(chunk);
}

void T_SMTP::Action() {
  if (RcptList.empty() || MessageText.empty() || MailFrom.empty())
    return;
  Login();
  LocalName = LocalHostName();
  if (Security == TSecurity::Implicit)
    StartTls(Connection, Hostname);
  ReadReply();
  Hello();
  if (Security == TSecurity::StartTls && ReplyCode < 300) {
    SendCommand("STARTTLS");
    ReadReply();
    if (ReplyCode != 220)
      throw ETcpIpError("The SMTP server does not offer STARTTLS: " + std::to_string(ReplyCode) +
                        " " + ReplyText);
    StartTls(Connection, Hostname);
    // What the server offers may differ once the connection is private.
    Hello();
  }
  if (ReplyCode < 300 && !UserName.empty())
    Authenticate();
  if (ReplyCode < 300) {
    SendCommand("MAIL FROM: <" + ExtractAddress(MailFrom, 1) + ">");
    ReadReply();
    if (ReplyCode < 300) {
      // A refused recipient does not stop the send; the server decides at
      // DATA whether anyone is left to receive the message.
      for (const std::string &line : RcptList) {
        for (int n = 1;; ++n) {
          const std::string address = ExtractAddress(line, n);
          if (address.empty())
            break;
          SendCommand("RCPT TO: <" + address + ">");
          ReadReply();
        }
      }
      SendCommand("DATA");
      ReadReply();
      if (ReplyCode == 354) {
        SendMessageLines();
        ReadReply();
      } else if (ReplyCode < 300) {
        // Only 354 asks for the message: any other yes leaves it unsent.
        throw EProtocolError("SMTP",
                             "The server answered DATA with " + std::to_string(ReplyCode) +
                                 " instead of 354; the message was not sent (" + ReplyText + ")",
                             static_cast<std::uint16_t>(ReplyCode));
      }
    }
  }
  if (ReplyCode >= 300)
    Refused();
}

void T_SMTP::Refused() const {
  throw EProtocolError("SMTP", ReplyText, static_cast<std::uint16_t>(ReplyCode));
}

void T_SMTP::Hello() {
  Capabilities.clear();
  SendCommand("EHLO " + LocalName);
  TStringList keywords;
  ReadReply(&keywords);
  if (ReplyCode < 300) {
    Capabilities = std::move(keywords);
    return;
  }
  // A server from before the extensions answers that it does not know the
  // command; one that is unwilling for another reason (421) is not asked
  // again.
  if (ReplyCode >= 500 && ReplyCode <= 599) {
    SendCommand("HELO " + LocalName);
    ReadReply();
  }
}

std::string T_SMTP::ChooseMechanism() const {
  if (!Mechanism.empty())
    return Mechanism;
  const TStringList offered = OfferedMechanisms(Capabilities);
  if (offered.empty())
    throw EProtocolError("SMTP", "The server offers no login (no AUTH in its EHLO reply)", 999);
  const bool secure = Connection.Secure();
  for (const std::string_view best : {MechanismCramMd5, MechanismPlain, MechanismLogin}) {
    if (!secure && best != MechanismCramMd5)
      continue;
    if (std::find(offered.begin(), offered.end(), best) != offered.end())
      return std::string(best);
  }
  std::string list;
  for (const std::string &m : offered)
    list += (list.empty() ? "" : " ") + m;
  throw EProtocolError("SMTP",
                       secure ? "The server offers no login mechanism known here (it offers " +
                                    list + ")"
                              : "The server offers no login mechanism that keeps the password "
                                "secret over clear text (it offers " +
                                    list + "); name one with SMTP AUTH to use it all the same",
                       999);
}

void T_SMTP::Authenticate() {
  const std::string mechanism = ChooseMechanism();
  // Every base64 line of the exchange carries the password or stands for
  // it, so none of them reaches a trace.
  const std::string_view mask = "*****";
  if (mechanism == MechanismPlain) {
    Connection.SendSecret("AUTH PLAIN ", PlainResponse(UserName, Password), mask);
    ReadReply();
  } else if (mechanism == MechanismXOAuth2) {
    Connection.SendSecret("AUTH XOAUTH2 ", XOAuth2Response(UserName, Password), mask);
    ReadReply();
  } else if (mechanism == MechanismLogin) {
    // Each answer waits for its prompt: a server that has already decided
    // is not sent the password.
    SendCommand("AUTH LOGIN");
    ReadReply();
    for (const std::string &answer : {UserName, Password}) {
      if (ReplyCode != Continue)
        break;
      Connection.SendSecret("", Base64Encode(answer), mask);
      ReadReply();
    }
  } else if (mechanism == MechanismCramMd5) {
    SendCommand("AUTH CRAM-MD5");
    ReadReply();
    if (ReplyCode == Continue) {
      Connection.SendSecret("", CramMd5Response(UserName, Password, ReplyText), mask);
      ReadReply();
    }
  } else {
    throw EProtocolError("SMTP", "Unknown login mechanism " + mechanism, 999);
  }
  if (ReplyCode == Continue) {
    // The server asks for more than the mechanism has to say: with XOAUTH2
    // its challenge is the reason for a refusal, and an empty answer fetches
    // the refusal itself; any other exchange is cancelled.
    SendCommand(mechanism == MechanismXOAuth2 ? "" : "*");
    ReadReply();
    if (ReplyCode == Continue)
      ReplyCode = 999;
  }
  if (ReplyCode >= 300)
    Refused();
}

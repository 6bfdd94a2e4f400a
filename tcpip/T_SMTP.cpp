#include "tcpip/T_SMTP.h"

#include "ip_misc/ip_misc.h"

#include <cstring>
#include <string>

T_SMTP::T_SMTP() { RemotePort = DefaultPort; }

T_SMTP::~T_SMTP() = default;

void T_SMTP::ReadReply() {
  const TReply reply = Connection.ReadNumberedReply("SMTP");
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
  ReadReply();
  SendCommand("HELO " + LocalName);
  ReadReply();
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
    throw EProtocolError("SMTP", ReplyText, static_cast<std::uint16_t>(ReplyCode));
}

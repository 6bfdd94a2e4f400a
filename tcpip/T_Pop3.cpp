#include "tcpip/T_Pop3.h"

#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "platform/Memory.h"

#include <algorithm>

T_Pop3::T_Pop3() { RemotePort = DefaultPort; }

T_Pop3::~T_Pop3() {
  // The base class cannot run this class's Logout from its destructor.
  if (Connected) {
    try {
      Logout();
    } catch (...) {
    }
  }
}

void T_Pop3::ReadReply() {
  const std::string line = Connection.ReadReplyLine("POP3");
  if (line.starts_with("+OK"))
    return;
  throw EProtocolError("POP3", line, line.starts_with("-ERR") ? 500 : 999);
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
  if (Connected) {
    // A connection the server has dropped cannot say QUIT any more; it is
    // closed all the same, so the next log-on is not held up by the last.
    try {
      Logout();
    } catch (const ETcpIpError &) {
    }
  }
  T_TcpIp::Login();
  ReadReply();
  SendCommand("USER " + UserName);
  ReadReply();
  Connection.SendSecret("PASS ", Password, "*****");
  ReadReply();
  SendCommand("LIST");
  ReadReply();
  MessageList.clear();
  Connection.ReadDotTerminated("POP3", false,
                    [this](std::string &line) { MessageList.push_back(ParseListLine(line)); });
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
        if (line.empty()) {
          inHeader = false;
        } else if (line[0] == ' ' || line[0] == '\t') {
          // A folded From or Subject goes on on this line.
          if (last)
            *last = Trim(*last + line);
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
    if (e.Number == n)
      return e.Size;
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
    ReadMessage(n, sizeof(std::string),
                [this](std::string &line) { MailLines.push_back(std::move(line)); });
  } catch (...) {
    TStringList().swap(MailLines);
    throw;
  }
}

void T_Pop3::GetMailText(int n, TLineText &lines) {
  const std::int64_t size = StartRetrieval(n);
  lines.Clear();
  // The size is the server's word: a hint, bounded, never a promise.
  if (size > 0)
    lines.Reserve(static_cast<std::size_t>(std::min<std::int64_t>(size, MaxMessageBytes)));
  ReadMessage(n, sizeof(std::size_t), [&lines](std::string &line) { lines.Append(line); });
}

void T_Pop3::ReadMessage(int n, std::size_t lineCost,
                         const std::function<void(std::string &)> &keep) {
  std::int64_t held = 0;
  Connection.ReadDotTerminated("POP3", true, [&](std::string &line) {
    held += static_cast<std::int64_t>(line.size() + lineCost);
    if (held > MaxMessageBytes) {
      // The rest of the message is still on its way, so the dialogue cannot
      // go on: the connection ends without QUIT, which leaves the mailbox as
      // it was rather than half changed.
      T_TcpIp::Logout();
      MessageList.clear();
      throw ETcpIpError("Message " + IntToStr(n) + " is larger than " +
                        IntToStr(static_cast<std::int32_t>(MaxMessageBytes >> 20)) +
                        " MiB; it was not retrieved");
    }
    keep(line);
  });
}

void T_Pop3::DeleteMail(int n) {
  if (!Connected)
    Login();
  SendCommand("DELE " + IntToStr(n));
  ReadReply();
}

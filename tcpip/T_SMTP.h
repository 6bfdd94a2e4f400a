#pragma once
// Hands one message at a time to a mail server over SMTP: HELO, MAIL FROM,
// RCPT TO for every recipient, DATA, the message lines and the final ".".
// The message itself is built by T_Mail, which fills the fields below.
#include "ip_misc/TStringList.h"
#include "tcpip/T_TcpIp.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class T_SMTP : public T_TcpIp {
public:
  static constexpr std::uint16_t DefaultPort = 25;

  T_SMTP();
  ~T_SMTP() override;

  // The first address in this text is the envelope sender.
  std::string MailFrom;
  // Sent with HELO; set afresh at every send.
  std::string LocalName;
  int ReplyCode = 0;
  std::string ReplyText;
  // Recipient lines; one line may hold several addresses.
  TStringList RcptList;
  // Headers, empty line and body, one line per entry.
  TStringList MessageText;
  // Attachments coded while they are sent instead of before: for each, the
  // index of an empty entry of MessageText and the bytes whose base64 lines
  // (those of Base64EncodeLines) go out in its place, in the order of the
  // indexes. The bytes must stay until the send ends.
  std::vector<std::pair<std::size_t, std::string_view>> Base64Entries;

  // Sends the message held in the fields. Returns at once, sending nothing,
  // when RcptList, MessageText or MailFrom is empty. Raises EProtocolError
  // ("SMTP", the reply text, the reply code) when the server refuses HELO,
  // MAIL FROM, DATA or the message, answers DATA with a success other than
  // 354 (the message then goes unsent), or closes the connection in the
  // middle of the dialogue; the connection failures of Login pass through. The
  // connection stays open afterwards and is closed by the next send.
  void Action() override;

  // Reads one complete reply (continuation lines included) into ReplyCode
  // and ReplyText. A reply that does not start with a number gives code 999.
  void ReadReply();

private:
  // Sends the message lines, dot-stuffed, in large writes.
  void SendMessageLines();
};

#pragma once
// Hands one message at a time to a mail server over SMTP: EHLO (HELO when
// the server does not know it), a login when a user name is set, MAIL FROM,
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
  // A new client with the settings of other, not connected.
  T_SMTP(const T_SMTP &other) = default;
  ~T_SMTP() override;

  // The first address in this text is the envelope sender.
  std::string MailFrom;
  // Sent with EHLO or HELO; set afresh at every send.
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
  // With a user name, every send logs on before MAIL FROM. Mechanism:
  // "CRAM-MD5", "PLAIN", "LOGIN" or "XOAUTH2" (the password is then the
  // bearer token); empty: the best of CRAM-MD5, PLAIN and LOGIN that the
  // server offers, where PLAIN and LOGIN count only on a secure connection
  // (over clear text they give the password away to anyone listening).
  std::string UserName;
  // Never traced.
  std::string Password;
  std::string Mechanism;
  // The keyword lines of the last EHLO reply ("AUTH PLAIN LOGIN", "SIZE
  // 1000000", ...); empty after a HELO.
  TStringList Capabilities;

  // Sends the message held in the fields. Returns at once, sending nothing,
  // when RcptList, MessageText or MailFrom is empty. Raises EProtocolError
  // ("SMTP", the reply text, the reply code) when the server refuses HELO,
  // the login, MAIL FROM, DATA or the message, answers DATA with a success
  // other than 354 (the message then goes unsent), or closes the connection
  // in the middle of the dialogue, and when it offers no login mechanism
  // that may be used; the connection failures of Login pass through. The
  // connection stays open afterwards and is closed by the next send.
  void Action() override;

  // Reads one complete reply (continuation lines included) into ReplyCode
  // and ReplyText. A reply that does not start with a number gives code 999.
  // When more is given, it receives the text of every line after the first.
  void ReadReply(TStringList *more = nullptr);

private:
  // EHLO, and HELO when the server refuses EHLO as unknown.
  void Hello();
  // Logs on with Mechanism; raises when the server refuses.
  void Authenticate();
  // The mechanism to use: the one set, else the best one offered.
  std::string ChooseMechanism() const;
  void Refused() const;
  // Sends the message lines, dot-stuffed, in large writes.
  void SendMessageLines();
};

#pragma once
// An outgoing message: sender texts, subject, extra header lines and body
// lines, and the composition of the full message text with a generated
// Message-ID and Date.
#include "ip_misc/TStringList.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class T_MailNews {
public:
  virtual ~T_MailNews() = default;

  std::string From;
  // Optional "Sender:" value; also preferred as envelope sender.
  std::string Sender;
  std::string Subject;
  TStringList Body;
  // Complete header lines (name, colon, value), inserted unchanged.
  TStringList Header;
  // The composed text; empty between sends.
  TStringList Composed;
  std::string References;
  std::string ReplyTo;
  // When set, Compose moves the Body lines into Composed instead of copying
  // them and leaves Body empty: for a composer that puts Body back itself
  // and whose body may be tens of megabytes.
  bool ConsumeBody = false;
  // Body lines that stand for base64 attachments coded while they are sent
  // (T_SMTP::Base64Entries): the index of an empty Body line and the bytes.
  // Only T_Mail sends them so.
  std::vector<std::pair<std::size_t, std::string_view>> Base64Body;

  // Puts From, Message-ID, Date and Subject in front of what Composed holds,
  // then appends Sender, References, Reply-To, the Header lines, an empty
  // line and the Body lines. Raises nothing of its own.
  virtual void Compose();

  // "<digits@host>": the local clock's seconds since 1970 followed by the
  // process id and a per-process count, so that two messages never share one.
  static std::string NewMessageId();
  // Seconds since 1970-01-01 00:00 on the local clock, rounded.
  static std::int64_t LocalSeconds();
  // The process id (7 digits) and the next value of a per-process counter.
  static std::string UniqueSuffix();
};

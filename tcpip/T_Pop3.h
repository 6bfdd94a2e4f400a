#pragma once
// Reads and deletes mail on a POP3 server: asks for its capabilities
// (CAPA), logs on with USER and PASS, APOP or a SASL mechanism, lists the
// mailbox at every log-on, and offers summaries of every message (TOP), the
// retrieval of one message (RETR), its unique id (UIDL) and its deletion
// (DELE).
#include "ip_misc/TLineText.h"
#include "ip_misc/TStringList.h"
#include "tcpip/T_TcpIp.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One message of the mailbox as LIST gives it, with its From and Subject
// once GetHeaders has read them, and its unique id once asked for.
struct t_reply {
  std::int32_t Number = 0;
  std::int64_t Size = 0;
  std::string From;
  std::string Subject;
  std::string UniqueId;
};

class T_Pop3 : public T_TcpIp {
public:
  static constexpr std::uint16_t DefaultPort = 110;
  // The most one retrieved message may hold in memory unless set otherwise:
  // its text and, for every line, the place kept for it.
  static constexpr std::int64_t DefaultMaxMessageBytes = std::int64_t(256) << 20;
  // The most messages the list may hold (each entry about 120 bytes, so
  // about 120 MiB), and the most lines a LIST or UIDL answer may have.
  static constexpr std::size_t DefaultMaxListEntries = std::size_t(1) << 20;
  // The most the summaries of GetHeaders may hold: the From and Subject of
  // every message, each counted twice (the summary line repeats them) and
  // with 64 bytes more for the entry.
  static constexpr std::int64_t DefaultMaxSummaryBytes = std::int64_t(64) << 20;
  // A unique id is 1 to 70 characters (RFC 1939); a longer one is not taken.
  static constexpr std::size_t MaxUniqueIdLength = 70;

  T_Pop3();
  // A new client with the settings of other, not connected.
  T_Pop3(const T_Pop3 &other) = default;
  ~T_Pop3() override;

  std::string UserName;
  // Never traced.
  std::string Password;
  // How to log on: empty for USER and PASS; "APOP" (the digest of the
  // greeting's time stamp and the password: the password itself never goes
  // out); "PLAIN"; "XOAUTH2" (the password is then the bearer token).
  std::string Mechanism;
  // The lines of the server's answer to CAPA at the last log-on; empty when
  // it refused CAPA (CapabilitiesKnown is then false).
  TStringList Capabilities;
  bool CapabilitiesKnown = false;
  // Filled by Login, emptied by Logout.
  std::vector<t_reply> MessageList;
  // The result of the last GetHeaders or GetMail.
  TStringList MailLines;
  // A message that would hold more is not retrieved (see GetMail).
  std::int64_t MaxMessageBytes = DefaultMaxMessageBytes;
  std::size_t MaxListEntries = DefaultMaxListEntries;
  std::int64_t MaxSummaryBytes = DefaultMaxSummaryBytes;

  // Ends an open connection (QUIT, as far as the server still answers),
  // connects, logs on and lists the mailbox. Raises EProtocolError ("POP3",
  // the status line, 500 for "-ERR" and 999 for anything else or a closed
  // connection), EConvertError for a LIST line that is not two numbers, and
  // the connection failures of T_TcpIp::Login. A listing of more than
  // MaxListEntries messages, or a CAPA answer past MaxCapabilityBytes,
  // raises ETcpIpError and ends the connection.
  void Login() override;
  // QUIT when connected, so that deletions take effect; the connection is
  // closed and the list emptied even when the server refuses QUIT (that
  // failure is raised afterwards).
  void Logout() override;
  // Login, GetMail of message 1 when there is one, Logout.
  void Action() override;
  // One summary line per listed message, in mailbox order: From, then the
  // character 7 and Subject when there is one; the message's number when
  // the server refuses TOP for it. A connection that ends raises; summaries
  // past MaxSummaryBytes raise ETcpIpError, end the connection without
  // QUIT and leave MailLines empty.
  void GetHeaders();
  // The lines of message n (the server's dot-stuffing undone); logs on
  // first when not connected. A message past MaxMessageBytes raises
  // ETcpIpError and ends the connection without QUIT (the rest of it is
  // still coming), so deletions marked in that log-on are not carried out;
  // MailLines is then empty.
  void GetMail(int n);
  // As GetMail, but into lines instead of MailLines (which stays as it
  // was): a message of tens of megabytes is one buffer, not a string a line.
  // arrived hears of the lines as they come.
  void GetMailText(int n, TLineText &lines, const TLinesArrived &arrived = {});
  // Marks message n deleted (effective at QUIT); logs on first when not
  // connected.
  void DeleteMail(int n);
  // The unique id of the listed message at index (from 0); empty when the
  // index names none, the server has none for it (or one longer than
  // MaxUniqueIdLength) or knows no UIDL. The ids of the whole mailbox are
  // asked for once per log-on; an answer of more than MaxListEntries lines
  // raises ETcpIpError and ends the connection without QUIT.
  std::string UniqueId(std::size_t index);
  // Takes the listing of another logon to the same mailbox (a background
  // job's), its unique ids asked for already: UniqueId answers from it.
  void AdoptListing(std::vector<t_reply> list);
  // Reads one status line and returns it; raises unless it begins with
  // "+OK".
  std::string ReadReply();

  // One line of a LIST reply: the message number and its size. Raises
  // EConvertError when either is not a number.
  static t_reply ParseListLine(std::string_view line);

private:
  // Sends CAPA and keeps the answer.
  void AskCapabilities();
  // Logs on by Mechanism; greeting is the server's first status line.
  void Authenticate(const std::string &greeting);
  // AUTH mechanism, then the response once the server asks for it.
  void SaslLogin(std::string_view mechanism, const std::string &response);
  // Logs on when needed and asks for message n; returns its listed size,
  // 0 when the list does not name it.
  std::int64_t StartRetrieval(int n);
  // A peer's answer past a bound: the rest of it is still coming, so the
  // dialogue cannot go on. The connection ends without QUIT (deletions
  // marked in this log-on are not carried out) and ETcpIpError is raised.
  [[noreturn]] void Overrun(const std::string &message);
  // Overrun for message n, larger than MaxMessageBytes.
  [[noreturn]] void TooLarge(int n);

  bool uniqueIdsAsked_ = false;
};

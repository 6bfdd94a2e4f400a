#pragma once
// Reads, searches, flags, moves and files mail where it lives, on an IMAP
// server (RFC 3501, with MOVE, UIDPLUS, IDLE, ESEARCH, LITERAL+ and
// SPECIAL-USE where the server has them). Messages are named by their UIDs
// only, so nothing another client does to the folder meanwhile changes which
// message a command reaches. Untagged data may come at any time and is taken
// wherever it comes: new mail and expunges keep the folder's count, an alert
// joins the text of a failure, BYE explains the end of the connection.
//
// Every answer is bounded: lists and literals have caps below, and one
// command's answer as a whole (its retrieved message aside) MaxAnswerBytes.
#include "ip_misc/TLineText.h"
#include "ip_misc/TStringList.h"
#include "tcpip/TImapResponse.h"
#include "tcpip/T_TcpIp.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A folder of the last listing.
struct TImapFolder {
  // In UTF-8.
  std::string Name;
  // As the server wrote it (modified UTF-7): what names it in commands.
  std::string WireName;
  // "\Sent", "\Trash", "\Drafts", "\Junk", "\Archive", "\All" or
  // "\Flagged"; empty for none.
  std::string SpecialUse;
};

// The summary of one message.
struct TImapSummary {
  std::uint32_t Uid = 0;
  // The header fields as the server has them (encoded words not decoded),
  // folded lines joined.
  std::string From;
  std::string Subject;
  std::string Date;
  // The flags, blank-separated ("\Seen \Flagged $Label").
  std::string Flags;
  std::int64_t Size = 0;
};

class T_Imap : public T_TcpIp {
public:
  static constexpr std::uint16_t DefaultPort = 143;
  static constexpr std::uint16_t SecurePort = 993;
  // Caps of what one command keeps; past them the command fails (the
  // answer is read to its end, so the connection stays usable) and keeps
  // nothing.
  static constexpr std::size_t MaxFolders = 10000;
  static constexpr std::size_t MaxSearchResults = 100000;
  static constexpr std::size_t MaxSummaries = 10000;
  // A literal other than a retrieved message (a folder name, a header).
  static constexpr std::uint64_t MaxLiteralBytes = 1 << 20;
  // Everything one command's answer holds but a retrieved message: a
  // server that sends untagged lines without end is cut off here.
  static constexpr std::uint64_t MaxAnswerBytes = std::uint64_t(16) << 20;
  // The most one retrieved message may hold (its text and 8 bytes a line),
  // as for POP3.
  static constexpr std::int64_t DefaultMaxMessageBytes = std::int64_t(256) << 20;
  // RFC 2177: an IDLE is renewed within 29 minutes, or servers may end it.
  static constexpr int MaxIdleMs = 29 * 60 * 1000;
  // Without IDLE, a NOOP this often tells of new mail.
  static constexpr int PollMs = 15000;

  T_Imap();
  // A new client with the settings of other (its folders, selection and
  // last results too), not connected.
  T_Imap(const T_Imap &other) = default;
  ~T_Imap() override;

  std::string UserName;
  // Never traced. The bearer token for XOAUTH2.
  std::string Password;
  // Empty for LOGIN (refused in clear text when the server says
  // LOGINDISABLED), "PLAIN" or "XOAUTH2".
  std::string Mechanism;
  // The server's capabilities, upper-cased, as it told them last.
  TStringList Capabilities;
  // The last listing (at log-on and after a folder is made or deleted).
  std::vector<TImapFolder> Folders;
  // The folder SELECT chose (UTF-8); empty when none is.
  std::string Selected;
  // Of the selected folder: its messages (kept up to date as the server
  // reports new mail and expunges), UIDVALIDITY, UIDNEXT and unseen
  // messages at the time it was selected.
  std::uint32_t Exists = 0;
  std::uint32_t UidValidity = 0;
  std::uint32_t UidNext = 0;
  std::uint32_t Unseen = 0;
  // The UIDs the last Search found, in the server's order.
  std::vector<std::uint32_t> SearchResults;
  // The last FetchSummaries, in the server's order.
  std::vector<TImapSummary> Summaries;
  // After Idle: the server reported a change.
  bool Changed = false;
  std::int64_t MaxMessageBytes = DefaultMaxMessageBytes;
  // The size the server announced for the message being retrieved (-1
  // before it has).
  std::int64_t MessageSize = -1;

  // Ends an open connection (LOGOUT as far as the server still answers),
  // connects, greets, asks for the capabilities, secures the connection as
  // Security says, logs on by Mechanism and lists the folders. Raises
  // EProtocolError ("IMAP", the server's status and text) for a refusal,
  // ETcpIpError for what the server cannot do, and the connection failures
  // of T_TcpIp::Login.
  void Login() override;
  // LOGOUT when connected; the connection is closed and no folder selected
  // even when the server does not answer.
  void Logout() override;
  // Lists every folder (LIST "" "*").
  void List();
  // Selects folder (read-write) and reads its status. A refusal leaves
  // none selected.
  void Select(const std::string &folder);
  // UID SEARCH with criteria as IMAP search keys; strings that are not
  // ASCII go as literals, with CHARSET UTF-8. Raises EConvertError, sending
  // nothing, for CR, LF or NUL, a "{" outside a quoted string, or a quote
  // left open.
  void Search(const std::string &criteria);
  // Summaries of the messages of uids ("1,5,9:12"); empty: those of the
  // last Search. Raises EConvertError for a set that is not one.
  void FetchSummaries(const std::string &uids);
  // The whole message (BODY.PEEK[]: it is not marked seen) into lines, its
  // line breaks removed. Past MaxMessageBytes it raises and ends the
  // connection (the rest of the message is still coming); lines are then
  // empty. arrived hears of the lines as they come.
  void FetchMessage(std::uint32_t uid, TLineText &lines, const TLinesArrived &arrived = {});
  // Changes the flags of a message: changes is a blank-separated list of
  // "+flag" and "-flag". Raises EConvertError for another form.
  void Store(std::uint32_t uid, const std::string &changes);
  // Moves a message: UID MOVE, or where the server has none, UID COPY,
  // \Deleted and UID EXPUNGE of that message alone (UIDPLUS). A server with
  // neither is a failure, and nothing is moved.
  void Move(std::uint32_t uid, const std::string &folder);
  // Removes a message: \Deleted and UID EXPUNGE of it alone, so messages
  // another client marked \Deleted stay. Needs UIDPLUS.
  void Delete(std::uint32_t uid);
  // Stores message (its line breaks made CR LF) in folder with flags
  // (blank-separated, no signs).
  void Append(const std::string &folder, std::string message, const std::string &flags);
  void CreateFolder(const std::string &folder);
  void DeleteFolder(const std::string &folder);
  // Waits until the server reports a change to the selected folder (new
  // mail, an expunge, flags) or timeoutMs pass (at most MaxIdleMs), and
  // sets Changed. New mail reported while other commands ran since the
  // last Idle counts, so no arrival is missed between two waits.
  void Idle(int timeoutMs);

  // Whether the server named the capability.
  bool Offers(std::string_view capability) const;
  // Raise what the commands that need a selected folder raise before they
  // send anything: ETcpIpError when not logged on or no folder is selected;
  // for FetchSummaries also EConvertError for uids that are no set.
  void RequireSelected() const;
  void CheckSummaries(const std::string &uids) const;

private:
  struct TPiece {
    std::string Text;
    bool Literal = false;
    bool Secret = false;
  };
  // A command as pieces of text and literals.
  class TCommand;
  // Takes the untagged data of a command before the bookkeeping does;
  // returns true when it used the response.
  using THandler = std::function<bool(const TImapResponse &)>;

  // Sends a command and reads its answer up to its tagged completion;
  // raises unless that is OK. Returns the completion.
  TImapResponse Run(const TCommand &command, const THandler &handler = nullptr);
  // The same, returning a refusal instead of raising it.
  TImapResponse Exchange(const TCommand &command, const THandler &handler);
  // Reads one response; literals beyond the caps end the connection.
  void ReadResponse(TImapResponse &response);
  // Reads the literal of size bytes; a message body goes to body_.
  void ReadLiteral(TImapResponse &response, std::uint64_t size);
  void ReadBody(std::uint64_t size);
  // What untagged data says of the connection and the folder.
  void Note(const TImapResponse &response);
  // Reads responses up to the completion of tag (false) or, when asked
  // for, a continuation request (true); untagged ones go to the handler
  // and then to Note.
  bool Await(const std::string &tag, TImapResponse &response, const THandler &handler,
             bool continuation);
  // Raises for a completion that is not OK.
  void Check(const TImapResponse &completion) const;
  [[noreturn]] void Fail(const std::string &message, std::uint16_t code = 999) const;
  // The connection ended: with the server's goodbye when it said one.
  [[noreturn]] void Closed() const;
  // Counts bytes of the answer in progress against MaxAnswerBytes.
  void CountAnswer(std::uint64_t bytes);
  // An answer that fits no command: the connection is closed.
  [[noreturn]] void OutOfStep(const TImapResponse &response);
  // The capabilities of a response's [CAPABILITY] code, else asked for.
  void CapabilitiesFrom(const TImapResponse &response);
  void TakeCapabilities(std::string_view list);
  void Authenticate();
  void SaslLogin(const std::string &mechanism, const std::string &response);
  // The name folder has on the wire.
  std::string WireName(const std::string &folder) const;
  // UID EXPUNGE of uid; raises when no message went.
  void ExpungeOne(std::uint32_t uid, bool &expunged);
  void ClearSelection();

  std::uint32_t nextTag_ = 0;
  // What the command in progress has read, against MaxAnswerBytes.
  std::uint64_t answerBytes_ = 0;
  // Alerts of the command in progress, and the last BYE.
  std::vector<std::string> alerts_;
  std::string bye_;
  // Where a retrieved message's body goes while FetchMessage runs.
  TLineText *body_ = nullptr;
  const TLinesArrived *bodyArrived_ = nullptr;
  bool bodyTaken_ = false;
  // Something changed in the selected folder: new mail since the last
  // Idle, anything during one.
  bool newMail_ = false;
  bool changed_ = false;
};

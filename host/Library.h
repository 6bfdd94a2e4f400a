#pragma once
// The loaded library: the call frame of the entry points (argument block,
// error number, result buffer, last error text), the long-lived objects that
// every command works on, and the script families. Init creates one; it
// lives until the library is unloaded.
#include "host/ArgumentBlock.h"
#include "host/ProgressMeter.h"
#include "host/TEventQueue.h"
#include "host/TraceSink.h"
#include "scriptnet.h"
#include "ip_misc/TLineText.h"
#include "ip_misc/TPageLines.h"
#include "ip_misc/TStringList.h"
#include "platform/Socket.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace platform {
class NotificationLoop;
}
class T_HTTP;
class T_FTP;
class T_Pop3;
class T_SMTP;
class T_Mail;
class T_Mime;
class T_Time;
class T_Imap;
class TTCPServer;
class TTCPClient;
class HttpFamily;
class FtpFamily;
class Pop3Family;
class SmtpFamily;
class NetcFamily;
class SocketFamily;
class HtmlFamily;
class CgiFamily;
class TimeFamily;
class TlsFamily;
class ImapFamily;
class JobFamily;
class TJobTable;
class TJobWork;

// The host's event routine: called with one NUL-terminated event name; its
// result is ignored.
using TEventProc = ScriptnetEventProc;

class Library {
public:
  static constexpr std::int32_t BlockSize = static_cast<std::int32_t>(ArgumentBlock::BlockSize);
  static constexpr const char *Version = "2.6";

  // Creates the long-lived objects in their fixed order.
  Library(std::int32_t hostValue, TEventProc eventProc);
  // Releases the long-lived objects in creation order, each once.
  ~Library();
  Library(const Library &) = delete;
  Library &operator=(const Library &) = delete;

  // The entry points. Nothing raised inside them ever leaves them.
  std::int32_t CommandProc(const char *block);
  const char *FuncProc(const char *block);
  std::int32_t StatProc() const { return error_; }
  int ProcessMessages(int timeoutMs);
  int MessageFd() const;

  // For the families: operands, keyword lookups, errors and events.
  std::string NextArgument() { return arguments_.Next(); }
  int LookupNext(std::string_view keywords);
  void SetError(std::int32_t internal) { error_ = internal; }
  std::int32_t Error() const { return error_; }
  const std::string &LastErrorText() const { return lastErrorText_; }
  void SetLastErrorText(std::string text) { lastErrorText_ = std::move(text); }
  void RaiseEvent(const char *name) const;
  void SetEventProc(TEventProc proc) { eventProc_ = proc; }
  std::int32_t HostValue() const { return hostValue_; }
  // Connects the protocol clients' traces to the host's routine; null ends
  // tracing, so that clients build no trace texts at all.
  void SetTraceProc(TraceSink::Proc proc, void *context);
  // Reports how far each transfer has come; null: no reports.
  void SetProgressProc(ProgressMeter::Proc proc, void *context);
  // For the families: a transfer of the running command begins on a
  // client; its progress is reported until the command returns.
  void BeginProgress(const char *operation, TDirection direction, TByteCounts &counts);
  // For JOB START: the family named by the next operand makes the work of
  // its subcommand, with the operands that follow; null, with the error
  // set, when there is no such family or the subcommand cannot be a job.
  std::unique_ptr<TJobWork> PrepareJob();

  // The long-lived objects, in creation order.
  T_HTTP &Http() { return *http_; }
  // The last page GET fetched, read line by line by the HTTP function.
  TPageLines &PageLines() { return *pageLines_; }
  T_FTP &Ftp() { return *ftp_; }
  // What every secured connection of the library trusts.
  platform::TlsSettings &Tls() { return tls_; }
  T_Pop3 &Pop3() { return *pop3_; }
  T_SMTP &Smtp() { return *smtp_; }
  T_Mail &Mail() { return *mail_; }
  T_Mime &OutgoingMime() { return *outgoingMime_; }
  T_Mime &IncomingMime() { return *incomingMime_; }
  T_Time &Time() { return *time_; }
  TStringList &Pop3Headers() { return *pop3Headers_; }
  // The lines of the last message GETMAIL retrieved.
  TLineText &Pop3Messages() { return *pop3Messages_; }
  TTCPServer &Server() { return *server_; }
  TTCPClient &Client() { return *client_; }
  TEventQueue &EventQueue() { return *eventQueue_; }
  TStringList &CgiNames() { return *cgiNames_; }
  TStringList &CgiValues() { return *cgiValues_; }
  platform::NotificationLoop &Loop() { return *loop_; }
  T_Imap &Imap() { return *imap_; }
  // The lines and the parts of the last message IMAP GETMAIL retrieved.
  TLineText &ImapMessage() { return *imapMessage_; }
  T_Mime &ImapMime() { return *imapMime_; }

  TJobTable &Jobs() { return *jobs_; }

  // The process is ending and the system has stopped every other thread
  // (Windows, before the DLL is told): the background jobs' workers are gone,
  // perhaps in the middle of a lock, so the job table is left as it is.
  void AbandonJobs();

  // Told the name of each long-lived object as it is released (for tests).
  std::function<void(std::string_view)> OnRelease;

private:
  void DispatchCommand();
  // The clients trace only while someone listens.
  void HookClients();
  void DispatchFunction(std::string &result);
  template <typename Body> void FailureFrame(Body &&body);
  // Raises an event "JOB" for every job record queued since the last time;
  // never inside a call, where the records wait for the call's end.
  int DeliverJobEvents();
  void CallEnded();

  std::int32_t hostValue_;
  TEventProc eventProc_;
  ArgumentBlock arguments_;
  std::int32_t error_ = 0;
  std::string lastErrorText_;
  std::array<char, ArgumentBlock::BlockSize> result_{};
  // What did not fit into the result buffer: the call that made it (its
  // name and operands as the block held them) gets it piece by piece.
  struct TRest {
    std::string Call;
    std::string Text;
    std::size_t At = 0;
    std::int32_t Code = 0;
  } rest_;
  // Hands out the next piece of the rest when the block asks for it again.
  bool TakeRest(std::string &result);
  // Cuts result to one piece, keeping the remainder for the same call.
  void KeepRest(std::string &result);
  int depth_ = 0;
  TraceSink trace_;
  ProgressMeter progress_;

  // The system's sockets stay usable until every object is gone, and the
  // notification loop outlives the sockets registered with it.
  platform::SocketSession sockets_;
  std::unique_ptr<platform::NotificationLoop> loop_;

  std::unique_ptr<T_HTTP> http_;
  std::unique_ptr<TPageLines> pageLines_;
  std::unique_ptr<T_FTP> ftp_;
  std::unique_ptr<T_Pop3> pop3_;
  std::unique_ptr<T_SMTP> smtp_;
  std::unique_ptr<T_Mail> mail_;
  std::unique_ptr<T_Mime> outgoingMime_;
  std::unique_ptr<T_Mime> incomingMime_;
  std::unique_ptr<T_Time> time_;
  std::unique_ptr<TStringList> pop3Headers_;
  std::unique_ptr<TLineText> pop3Messages_;
  std::unique_ptr<TTCPServer> server_;
  std::unique_ptr<TTCPClient> client_;
  std::unique_ptr<TEventQueue> eventQueue_;
  std::unique_ptr<TStringList> cgiNames_;
  std::unique_ptr<TStringList> cgiValues_;
  std::unique_ptr<T_Imap> imap_;
  std::unique_ptr<TLineText> imapMessage_;
  std::unique_ptr<T_Mime> imapMime_;

  std::unique_ptr<HttpFamily> httpFamily_;
  std::unique_ptr<FtpFamily> ftpFamily_;
  std::unique_ptr<Pop3Family> pop3Family_;
  std::unique_ptr<SmtpFamily> smtpFamily_;
  std::unique_ptr<NetcFamily> netcFamily_;
  std::unique_ptr<SocketFamily> socketFamily_;
  std::unique_ptr<HtmlFamily> htmlFamily_;
  std::unique_ptr<CgiFamily> cgiFamily_;
  std::unique_ptr<TimeFamily> timeFamily_;
  std::unique_ptr<TlsFamily> tlsFamily_;
  std::unique_ptr<ImapFamily> imapFamily_;
  platform::TlsSettings tls_;
  std::unique_ptr<TJobTable> jobs_;
  std::unique_ptr<JobFamily> jobFamily_;
  bool jobEventsDeferred_ = false;
};

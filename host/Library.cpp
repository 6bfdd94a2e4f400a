#include "host/Library.h"

#include "WSockets/TTCPClient.h"
#include "WSockets/TTCPServer.h"
#include "commands/CgiFamily.h"
#include "commands/FtpFamily.h"
#include "commands/HtmlFamily.h"
#include "commands/HttpFamily.h"
#include "commands/ImapFamily.h"
#include "commands/JobFamily.h"
#include "commands/NetcFamily.h"
#include "commands/Pop3Family.h"
#include "commands/SmtpFamily.h"
#include "commands/SocketFamily.h"
#include "commands/TimeFamily.h"
#include "commands/TlsFamily.h"
#include "host/ErrorCodes.h"
#include "host/Failures.h"
#include "host/KeywordLookup.h"
#include "host/TJobTable.h"
#include "ip_misc/Errors.h"
#include "platform/NotificationLoop.h"
#include "tcpip/ETcpIpError.h"
#include "tcpip/T_FTP.h"
#include "tcpip/T_HTTP.h"
#include "tcpip/T_Imap.h"
#include "tcpip/T_Mail.h"
#include "tcpip/T_Mime.h"
#include "tcpip/T_Pop3.h"
#include "tcpip/T_SMTP.h"
#include "tcpip/T_Time.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr std::string_view CommandKeywords = "|HTTP|FTP|POP3|SMTP|NETC|SOCKET|HTML|CGI|TLS|IMAP|JOB|";
constexpr int CmdHTTP = KeywordPosition(CommandKeywords, "HTTP");
constexpr int CmdFTP = KeywordPosition(CommandKeywords, "FTP");
constexpr int CmdPOP3 = KeywordPosition(CommandKeywords, "POP3");
constexpr int CmdSMTP = KeywordPosition(CommandKeywords, "SMTP");
constexpr int CmdNETC = KeywordPosition(CommandKeywords, "NETC");
constexpr int CmdSOCKET = KeywordPosition(CommandKeywords, "SOCKET");
constexpr int CmdHTML = KeywordPosition(CommandKeywords, "HTML");
constexpr int CmdCGI = KeywordPosition(CommandKeywords, "CGI");
constexpr int CmdTLS = KeywordPosition(CommandKeywords, "TLS");
constexpr int CmdIMAP = KeywordPosition(CommandKeywords, "IMAP");
constexpr int CmdJOB = KeywordPosition(CommandKeywords, "JOB");

constexpr std::string_view FunctionKeywords =
    "|VERSION|IPERROR|HTTP|FTP|POP3|TIME|HTML|SOCKET|CGI|IMAP|JOB|";
constexpr int FnVERSION = KeywordPosition(FunctionKeywords, "VERSION");
constexpr int FnIPERROR = KeywordPosition(FunctionKeywords, "IPERROR");
constexpr int FnHTTP = KeywordPosition(FunctionKeywords, "HTTP");
constexpr int FnFTP = KeywordPosition(FunctionKeywords, "FTP");
constexpr int FnPOP3 = KeywordPosition(FunctionKeywords, "POP3");
constexpr int FnTIME = KeywordPosition(FunctionKeywords, "TIME");
constexpr int FnHTML = KeywordPosition(FunctionKeywords, "HTML");
constexpr int FnSOCKET = KeywordPosition(FunctionKeywords, "SOCKET");
constexpr int FnCGI = KeywordPosition(FunctionKeywords, "CGI");
constexpr int FnIMAP = KeywordPosition(FunctionKeywords, "IMAP");
constexpr int FnJOB = KeywordPosition(FunctionKeywords, "JOB");

static_assert(CmdHTTP == 1 && CmdFTP == 6 && CmdPOP3 == 10 && CmdSMTP == 15 && CmdNETC == 20 &&
              CmdSOCKET == 25 && CmdHTML == 32 && CmdCGI == 37);
static_assert(FnVERSION == 1 && FnIPERROR == 9 && FnHTTP == 17 && FnFTP == 22 && FnPOP3 == 26 &&
              FnTIME == 31 && FnHTML == 36 && FnSOCKET == 41 && FnCGI == 48);

// A host may call back into the library from its event routine while a
// command is still running (a command that reports an event). The inner call
// gets a frame of its own; the outer one finds its operands and error number
// as it left them.
class CallFrame {
public:
  CallFrame(int &depth, ArgumentBlock &arguments, std::int32_t &error)
      : depth_(depth), arguments_(arguments), error_(error) {
    if (depth_++ > 0) {
      saved_ = std::make_unique<ArgumentBlock>(arguments_);
      savedError_ = error_;
    }
  }
  ~CallFrame() {
    --depth_;
    if (saved_) {
      arguments_ = *saved_;
      error_ = savedError_;
    }
  }
  CallFrame(const CallFrame &) = delete;
  CallFrame &operator=(const CallFrame &) = delete;

private:
  int &depth_;
  ArgumentBlock &arguments_;
  std::int32_t &error_;
  std::unique_ptr<ArgumentBlock> saved_;
  std::int32_t savedError_ = 0;
};

} // namespace

Library::Library(std::int32_t hostValue, TEventProc eventProc)
    : hostValue_(hostValue), eventProc_(eventProc),
      loop_(std::make_unique<platform::NotificationLoop>()) {
  http_ = std::make_unique<T_HTTP>();
  http_->NoCache = true;
  pageLines_ = std::make_unique<TPageLines>();
  ftp_ = std::make_unique<T_FTP>();
  pop3_ = std::make_unique<T_Pop3>();
  smtp_ = std::make_unique<T_SMTP>();
  mail_ = std::make_unique<T_Mail>();
  mail_->SMTP = smtp_.get();
  mail_->Header.push_back("X-Mailer: ZUDORUZ.DLL");
  outgoingMime_ = std::make_unique<T_Mime>();
  outgoingMime_->Mail = mail_.get();
  incomingMime_ = std::make_unique<T_Mime>();
  incomingMime_->Mail = mail_.get();
  time_ = std::make_unique<T_Time>();
  pop3Headers_ = std::make_unique<TStringList>();
  pop3Messages_ = std::make_unique<TLineText>();
  server_ = std::make_unique<TTCPServer>(*loop_);
  client_ = std::make_unique<TTCPClient>(*loop_);
  eventQueue_ = std::make_unique<TEventQueue>();
  cgiNames_ = std::make_unique<TStringList>();
  cgiValues_ = std::make_unique<TStringList>();
  imap_ = std::make_unique<T_Imap>();
  imapMessage_ = std::make_unique<TLineText>();
  imapMime_ = std::make_unique<T_Mime>();
  imapMime_->Mail = mail_.get();

  httpFamily_ = std::make_unique<HttpFamily>(*this);
  ftpFamily_ = std::make_unique<FtpFamily>(*this);
  pop3Family_ = std::make_unique<Pop3Family>(*this);
  smtpFamily_ = std::make_unique<SmtpFamily>(*this);
  netcFamily_ = std::make_unique<NetcFamily>(*this);
  // Wires the server's and the client's events to the service's handlers.
  socketFamily_ = std::make_unique<SocketFamily>(*this);
  htmlFamily_ = std::make_unique<HtmlFamily>(*this);
  cgiFamily_ = std::make_unique<CgiFamily>(*this);
  timeFamily_ = std::make_unique<TimeFamily>(*this);
  tlsFamily_ = std::make_unique<TlsFamily>(*this);
  imapFamily_ = std::make_unique<ImapFamily>(*this);
  // The contexts are the library's, shared by every secured connection it
  // makes, on whichever thread.
  tls_.Contexts = std::make_shared<platform::TlsContexts>();
  // Workers hand their records over through the loop, which runs the
  // delivery on this thread.
  jobs_ = std::make_unique<TJobTable>([loop = loop_.get()] { loop->WakeInbox(); });
  jobFamily_ = std::make_unique<JobFamily>(*this, *jobs_);
  loop_->SetInbox([this] { return DeliverJobEvents(); });
  for (T_TcpIp *client : {static_cast<T_TcpIp *>(http_.get()), static_cast<T_TcpIp *>(ftp_.get()),
                          static_cast<T_TcpIp *>(pop3_.get()), static_cast<T_TcpIp *>(smtp_.get()),
                          static_cast<T_TcpIp *>(imap_.get())})
    client->Tls = &tls_;
}

Library::~Library() {
  // The background jobs end first: their workers must be gone before any
  // object they could reach.
  jobs_.reset();
  // The objects go in the order they were made; families hold no resources
  // of their own and go last, after the handlers they own can no longer run.
  const auto release = [this](auto &object, std::string_view name) {
    object.reset();
    if (OnRelease)
      OnRelease(name);
  };
  release(http_, "HTTP client");
  release(pageLines_, "HTTP line list");
  release(ftp_, "FTP client");
  release(pop3_, "POP3 client");
  release(smtp_, "SMTP client");
  release(mail_, "Mail message");
  release(outgoingMime_, "Outgoing MIME composer");
  release(incomingMime_, "Incoming MIME parser");
  release(time_, "Time client");
  release(pop3Headers_, "POP3 header list");
  release(pop3Messages_, "POP3 message list");
  release(server_, "TCP server");
  release(client_, "TCP client");
  release(eventQueue_, "Event queue");
  release(cgiNames_, "CGI name list");
  release(cgiValues_, "CGI value list");
  release(imap_, "IMAP client");
  release(imapMessage_, "IMAP message lines");
  release(imapMime_, "IMAP MIME parser");
  imapFamily_.reset();
  jobFamily_.reset();
  tlsFamily_.reset();
  timeFamily_.reset();
  cgiFamily_.reset();
  htmlFamily_.reset();
  socketFamily_.reset();
  netcFamily_.reset();
  smtpFamily_.reset();
  pop3Family_.reset();
  ftpFamily_.reset();
  httpFamily_.reset();
  loop_.reset();
}

std::int32_t Library::CommandProc(const char *block) {
  std::int32_t code;
  {
    CallFrame frame(depth_, arguments_, error_);
    error_ = ErrNone;
    arguments_.Load(block);
    // A command changes what the functions read: the rest of an older result
    // no longer belongs to it.
    rest_ = {};
    DispatchCommand();
    progress_.End();
    trace_.Flush();
    code = TranslateError(error_);
    error_ = code;
  }
  CallEnded();
  return code;
}

const char *Library::FuncProc(const char *block) {
  {
    CallFrame frame(depth_, arguments_, error_);
    error_ = ErrNone;
    arguments_.Load(block);
    std::string result;
    if (!TakeRest(result)) {
      DispatchFunction(result);
      trace_.Flush();
      error_ = TranslateError(error_);
      // The host sees the text up to its first NUL.
      result.resize(std::min(result.find('\0'), result.size()));
      KeepRest(result);
    }
    std::memcpy(result_.data(), result.data(), result.size());
    result_[result.size()] = '\0';
  }
  CallEnded();
  return result_.data();
}

bool Library::TakeRest(std::string &result) {
  if (rest_.Call.empty() || !arguments_.BeginsWith(rest_.Call))
    return false;
  const std::size_t piece = std::min(rest_.Text.size() - rest_.At, result_.size() - 1);
  result.assign(rest_.Text, rest_.At, piece);
  rest_.At += piece;
  if (rest_.At < rest_.Text.size()) {
    error_ = ErrMoreFollows;
    return true;
  }
  error_ = rest_.Code;
  rest_ = {};
  return true;
}

void Library::KeepRest(std::string &result) {
  // A line longer than one result (a page line, a message line, a listing
  // entry) is not lost: the same call again goes on with it.
  const std::size_t piece = result_.size() - 1;
  if (result.size() <= piece)
    return;
  rest_.Call = arguments_.Read();
  rest_.Code = error_;
  rest_.At = piece;
  rest_.Text = std::move(result);
  result.assign(rest_.Text, 0, piece);
  error_ = ErrMoreFollows;
}

void Library::CallEnded() {
  // Job records that came while a call ran wait for the host's loop.
  if (depth_ == 0 && std::exchange(jobEventsDeferred_, false))
    loop_->WakeInbox();
}

int Library::DeliverJobEvents() {
  if (!jobs_)
    return 0;
  if (depth_ > 0) {
    jobEventsDeferred_ = true;
    return 0;
  }
  const int count = jobs_->TakeAnnouncements();
  for (int k = 0; k < count; ++k)
    RaiseEvent("JOB");
  return count;
}

void Library::AbandonJobs() {
  jobFamily_.reset();
  (void)jobs_.release();
}

std::unique_ptr<TJobWork> Library::PrepareJob() {
  std::unique_ptr<TJobWork> work;
  switch (LookupNext(CommandKeywords)) {
  case CmdHTTP: work = httpFamily_->Job(); break;
  case CmdFTP: work = ftpFamily_->Job(); break;
  case CmdPOP3: work = pop3Family_->Job(); break;
  case CmdSMTP: work = smtpFamily_->Job(); break;
  case CmdIMAP: work = imapFamily_->Job(); break;
  default: error_ = ErrUnknownSubcommand;
  }
  if (work)
    work->Tls = tls_;
  return work;
}

int Library::LookupNext(std::string_view keywords) {
  return KeywordLookup(keywords, arguments_.Next());
}

void Library::RaiseEvent(const char *name) const {
  if (eventProc_)
    eventProc_(name);
}

int Library::ProcessMessages(int timeoutMs) {
  const int count = loop_->Process(timeoutMs);
  trace_.Flush();
  return count;
}

void Library::SetTraceProc(TraceSink::Proc proc, void *context) {
  trace_.SetProc(proc, context);
  HookClients();
}

void Library::SetProgressProc(ProgressMeter::Proc proc, void *context) {
  progress_.SetProc(proc, context);
}

void Library::HookClients() {
  TTraceProc hook;
  if (trace_.Active())
    hook = [this](const std::string &text, TTraceLevel level) { trace_.Add(text, level); };
  for (T_TcpIp *client : std::initializer_list<T_TcpIp *>{http_.get(), ftp_.get(), pop3_.get(),
                                                          smtp_.get(), time_.get(), imap_.get()})
    client->OnTrace = hook;
}

void Library::BeginProgress(const char *operation, TDirection direction, TByteCounts &counts) {
  if (progress_.Active())
    progress_.Begin(operation, direction, counts);
}

int Library::MessageFd() const { return loop_->Fd(); }

// Whatever a family had done before it failed stays done.
template <typename Body> void Library::FailureFrame(Body &&body) {
  TFailure failure = CatchFailures(body);
  if (failure.Error == ErrNone)
    return;
  error_ = failure.Error;
  if (failure.Text)
    lastErrorText_ = std::move(*failure.Text);
}

void Library::DispatchCommand() {
  FailureFrame([this] {
    switch (LookupNext(CommandKeywords)) {
    case CmdHTTP: return httpFamily_->Command();
    case CmdFTP: return ftpFamily_->Command();
    case CmdPOP3: return pop3Family_->Command();
    case CmdSMTP: return smtpFamily_->Command();
    case CmdNETC: return netcFamily_->Command();
    case CmdSOCKET: return socketFamily_->Command();
    case CmdHTML: return htmlFamily_->Command();
    case CmdCGI: return cgiFamily_->Command();
    case CmdTLS: return tlsFamily_->Command();
    case CmdIMAP: return imapFamily_->Command();
    case CmdJOB: return jobFamily_->Command();
    default: error_ = ErrUnknownCommand;
    }
  });
}

void Library::DispatchFunction(std::string &result) {
  FailureFrame([this, &result] {
    switch (LookupNext(FunctionKeywords)) {
    case FnVERSION: result = Version; return;
    case FnIPERROR: result = lastErrorText_; return;
    case FnHTTP: return httpFamily_->Function(result);
    case FnFTP: return ftpFamily_->Function(result);
    case FnPOP3: return pop3Family_->Function(result);
    case FnTIME: return timeFamily_->Function(result);
    case FnHTML: return htmlFamily_->Function(result);
    case FnSOCKET: return socketFamily_->Function(result);
    case FnCGI: return cgiFamily_->Function(result);
    case FnIMAP: return imapFamily_->Function(result);
    case FnJOB: return jobFamily_->Function(result);
    default: error_ = ErrUnknownFunction;
    }
  });
}

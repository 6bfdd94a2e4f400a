#include "commands/HttpFamily.h"

#include "commands/TimeoutOperand.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "host/TJobWork.h"
#include "ip_misc/Convert.h"
#include "platform/FileStreams.h"
#include "platform/Files.h"
#include "tcpip/T_HTTP.h"

#include <ctime>

namespace {

std::string ReadAll(platform::FileReader &file) {
  std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t n = file.Read(bytes.data() + at, bytes.size() - at);
    if (n == 0)
      break;
    at += n;
  }
  bytes.resize(at);
  return bytes;
}

// GET, DOWNLOAD or UPLOAD on a copy of the family's client, as the blocking
// command runs them on the client itself.
class HttpJob final : public TJobWork {
public:
  HttpJob(const T_HTTP &client, int command) : Http(client), command_(command) {
    Watch(Http, command == HttpFamily::CmdUPLOAD    ? TDirection::Sent
                : command == HttpFamily::CmdREQUEST ? TDirection::Both
                                                    : TDirection::Received);
  }

  void Run() override {
    switch (command_) {
    case HttpFamily::CmdGET: return Http.Action();
    case HttpFamily::CmdDOWNLOAD:
      if (!ResumedPath.empty())
        return Http.ResumeDownload(ResumedPath);
      return Http.DownloadTo(*File);
    case HttpFamily::CmdUPLOAD:
      Http.Stream.Assign(ReadAll(*Source));
      Source.reset();
      Http.Post();
      // The answer is no result of UPLOAD.
      Http.Stream.Assign({});
      return;
    case HttpFamily::CmdREQUEST: return Http.RequestInto(Method, Url, File.get());
    }
  }
  void Commit() override {
    if (File)
      File->Commit();
    Http.CommitDownload();
  }
  void Take(Library &library) override {
    if (command_ == HttpFamily::CmdREQUEST)
      library.Http().TakeAnswer(Http);
    if (command_ == HttpFamily::CmdGET || (command_ == HttpFamily::CmdREQUEST && !File))
      library.PageLines().Assign(Http.Stream.Take());
  }

  T_HTTP Http;
  // Opened when the job starts, so that a file the blocking command could
  // not open is refused at once.
  std::unique_ptr<platform::FileWriter> File;
  std::unique_ptr<platform::FileReader> Source;
  // A resumed download's file: it grows in its part file, which a job that
  // does not end DONE leaves for the next try, as the blocking command does.
  std::string ResumedPath;
  // REQUEST's method and URL.
  std::string Method, Url;

private:
  int command_;
};

} // namespace

void HttpFamily::Command() {
  T_HTTP &http = lib_.Http();
  switch (lib_.LookupNext(Commands)) {
  case CmdGET:
    http.URL = lib_.NextArgument();
    http.Action();
    // The body moves into the page: it is held once, not once more as lines.
    lib_.PageLines().Assign(http.Stream.Take());
    return;
  case CmdDOWNLOAD: {
    lib_.BeginProgress("DOWNLOAD", TDirection::Received, http.Counts);
    http.URL = lib_.NextArgument();
    // Straight to the file: a large body is never held in memory.
    const std::string file = lib_.NextArgument();
    http.DownloadToFile(file, SwitchOn(lib_.NextArgument()));
    return;
  }
  case CmdUPLOAD: {
    lib_.BeginProgress("UPLOAD", TDirection::Sent, http.Counts);
    const std::string file = lib_.NextArgument();
    http.Stream.Assign(platform::ReadWholeFile(file));
    struct Release {
      T_HTTP &h;
      ~Release() { h.Stream.Assign({}); }
    } release{http};
    http.URL = lib_.NextArgument();
    http.Post();
    return;
  }
  case CmdPROXY: {
    http.Proxy = lib_.NextArgument();
    const std::string user = lib_.NextArgument();
    const std::string password = lib_.NextArgument();
    http.SetAuthorization(user, password);
    // A connection kept through the old proxy, or its credentials, is not the new way.
    http.CloseKeptConnections();
    return;
  }
  case CmdTIMEOUT: http.TimeoutMs = TimeoutMilliseconds(lib_.NextArgument()); return;
  case CmdLOWSPEED: {
    const std::string rate = lib_.NextArgument();
    http.LowSpeed = LowSpeedOperands(rate, lib_.NextArgument());
    return;
  }
  case CmdHEADER: return Header();
  case CmdBODY: return Body();
  case CmdFORM: return Form();
  case CmdREQUEST: {
    lib_.BeginProgress("REQUEST", TDirection::Both, http.Counts);
    const std::string method = lib_.NextArgument();
    const std::string url = lib_.NextArgument();
    const std::string file = lib_.NextArgument();
    http.Request(method, url, file);
    if (file.empty())
      lib_.PageLines().Assign(http.Stream.Take());
    return;
  }
  case CmdCOMPRESS: http.Compress = SwitchOn(lib_.NextArgument()); return;
  case CmdCOOKIES: http.Cookies.Open(lib_.NextArgument(), std::time(nullptr)); return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void HttpFamily::Header() {
  T_HTTP &http = lib_.Http();
  switch (lib_.LookupNext(HeaderOps)) {
  case HdrADD: http.AddRequestHeader(lib_.NextArgument()); return;
  case HdrCLEAR: http.RequestHeaders.clear(); return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void HttpFamily::Body() {
  TRequestBody &body = lib_.Http().Body;
  switch (lib_.LookupNext(BodyOps)) {
  case BodyTEXT: body.SetText(lib_.NextArgument()); return;
  case BodyADD: body.AddText(lib_.NextArgument()); return;
  case BodyFILE: body.SetFile(lib_.NextArgument()); return;
  case BodyCLEAR: body.Clear(); return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void HttpFamily::Form() {
  TFormData &form = lib_.Http().Form;
  switch (lib_.LookupNext(FormOps)) {
  case FormFIELD: {
    std::string name = lib_.NextArgument();
    form.AddField(std::move(name), lib_.NextArgument());
    return;
  }
  case FormFILE: {
    std::string name = lib_.NextArgument();
    const std::string path = lib_.NextArgument();
    form.AddFile(std::move(name), path, lib_.NextArgument());
    return;
  }
  case FormCLEAR: form.Clear(); return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

std::unique_ptr<TJobWork> HttpFamily::Job() {
  const int command = lib_.LookupNext(Commands);
  if (command != CmdGET && command != CmdDOWNLOAD && command != CmdUPLOAD &&
      command != CmdREQUEST) {
    lib_.SetError(ErrUnknownSubcommand);
    return nullptr;
  }
  auto job = std::make_unique<HttpJob>(lib_.Http(), command);
  if (command == CmdREQUEST) {
    // The body and form go with the job, as the blocking command uses them
    // once.
    struct TUsedOnce {
      T_HTTP &h;
      ~TUsedOnce() {
        h.Body.Clear();
        h.Form.Clear();
      }
    } usedOnce{lib_.Http()};
    job->Method = lib_.NextArgument();
    job->Url = lib_.NextArgument();
    const std::string file = lib_.NextArgument();
    job->Http.CheckRequest(job->Method, job->Url);
    if (!file.empty())
      job->File = std::make_unique<platform::FileWriter>(file);
    return job;
  }
  if (command == CmdUPLOAD)
    job->Source = std::make_unique<platform::FileReader>(lib_.NextArgument());
  job->Http.URL = lib_.NextArgument();
  if (command == CmdDOWNLOAD) {
    const std::string path = lib_.NextArgument();
    if (SwitchOn(lib_.NextArgument()))
      job->ResumedPath = path;
    else
      job->File = std::make_unique<platform::FileWriter>(path);
  }
  job->Http.CheckURL();
  return job;
}

void HttpFamily::Function(std::string &result) {
  const std::string sub = lib_.NextArgument();
  if (Trim(sub).empty()) {
    if (!lib_.PageLines().Next(result))
      result.assign(1, '\r');
    return;
  }
  const T_HTTP &http = lib_.Http();
  switch (KeywordLookup(Functions, sub)) {
  case FnSTATUS: result = std::to_string(http.StatusCode); return;
  case FnREASON: result = http.StatusText; return;
  case FnHEADER: result = http.ResponseHeader(lib_.NextArgument()); return;
  case FnHEADERS: result = std::to_string(http.ResponseHeaders.size()); return;
  case FnHEADERLINE: {
    const std::int32_t index = StrToInt(lib_.NextArgument());
    if (index >= 0 && static_cast<std::size_t>(index) < http.ResponseHeaders.size())
      result = http.ResponseHeaders[static_cast<std::size_t>(index)];
    return;
  }
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}

#include "commands/FtpFamily.h"

#include "commands/SecureOperand.h"
#include "commands/TimeoutOperand.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "host/TJobWork.h"
#include "ip_misc/Convert.h"
#include "ip_misc/DateTime.h"
#include "ip_misc/Errors.h"
#include "ip_misc/HostPort.h"
#include "platform/FileStreams.h"
#include "tcpip/T_FTP.h"

namespace {

const char *KindName(TFileKind kind) {
  switch (kind) {
  case fkDirectory: return "DIR|";
  case fkFile: return "FILE|";
  case fkLink: return "LINK|";
  case fkNone: return "";
  }
  return "";
}

// DOWNLOAD, UPLOAD or GETDIR on a logon of its own: a copy of the family's
// client logs on to the server of its last logon, with its user and
// password, and goes to its folder.
class FtpJob final : public TJobWork {
public:
  FtpJob(const T_FTP &client, int command) : Ftp(client), command_(command) {
    Watch(Ftp, command == FtpFamily::CmdUPLOAD ? TDirection::Sent : TDirection::Received);
  }

  void Run() override {
    struct Logoff {
      T_FTP &ftp;
      ~Logoff() { ftp.Logout(); }
    } logoff{Ftp};
    switch (command_) {
    case FtpFamily::CmdDOWNLOAD: return Ftp.DownloadTo(*File);
    case FtpFamily::CmdUPLOAD: return Ftp.UploadFrom(*Source);
    case FtpFamily::CmdGETDIR: return Ftp.List(Path);
    }
  }
  void Commit() override {
    if (File)
      File->Commit();
  }
  void Take(Library &library) override {
    if (command_ != FtpFamily::CmdGETDIR)
      return;
    library.Ftp().DirListing = std::move(Ftp.DirListing);
    library.Ftp().DirIndex = 0;
  }

  T_FTP Ftp;
  std::string Path;
  // Opened when the job starts, so that a file the blocking command could
  // not open is refused at once.
  std::unique_ptr<platform::FileWriter> File;
  std::unique_ptr<platform::FileReader> Source;

private:
  int command_;
};

} // namespace

std::unique_ptr<TJobWork> FtpFamily::Job() {
  const int command = lib_.LookupNext(Commands);
  if (command != CmdDOWNLOAD && command != CmdUPLOAD && command != CmdGETDIR) {
    lib_.SetError(ErrUnknownSubcommand);
    return nullptr;
  }
  auto job = std::make_unique<FtpJob>(lib_.Ftp(), command);
  switch (command) {
  case CmdDOWNLOAD:
    job->Ftp.URI = lib_.NextArgument();
    job->File = std::make_unique<platform::FileWriter>(lib_.NextArgument());
    break;
  case CmdUPLOAD:
    job->Source = std::make_unique<platform::FileReader>(lib_.NextArgument());
    job->Ftp.URI = lib_.NextArgument();
    break;
  default: job->Path = lib_.NextArgument();
  }
  return job;
}

void FtpFamily::Command() {
  T_FTP &ftp = lib_.Ftp();
  switch (lib_.LookupNext(Commands)) {
  case CmdLOGON: {
    THostPort server = SplitHostPort(lib_.NextArgument(), DefaultPort(ftp, 21, 990));
    ftp.Hostname = std::move(server.Host);
    ftp.Port = server.Port;
    ftp.Login();
    return;
  }
  case CmdLOGOFF: ftp.Logout(); return;
  case CmdUSERNAME: ftp.Username = lib_.NextArgument(); return;
  case CmdPASSWORD: ftp.Password = lib_.NextArgument(); return;
  // Files move between disk and network piece by piece, never whole in memory.
  case CmdDOWNLOAD:
    lib_.BeginProgress("DOWNLOAD", TDirection::Received, ftp.Counts);
    ftp.URI = lib_.NextArgument();
    ftp.DownloadToFile(lib_.NextArgument());
    return;
  case CmdUPLOAD: {
    lib_.BeginProgress("UPLOAD", TDirection::Sent, ftp.Counts);
    const std::string local = lib_.NextArgument();
    ftp.URI = lib_.NextArgument();
    ftp.UploadFromFile(local);
    return;
  }
  case CmdGETDIR: ftp.List(lib_.NextArgument()); return;
  case CmdCHANGEDIR: ftp.ChangeDir(lib_.NextArgument()); return;
  case CmdMAKEDIR: ftp.MakeDir(lib_.NextArgument()); return;
  case CmdDELDIR: ftp.RemoveDir(lib_.NextArgument()); return;
  case CmdRENFILE: {
    const std::string oldName = lib_.NextArgument();
    ftp.RenameFile(oldName, lib_.NextArgument());
    return;
  }
  case CmdDELFILE: ftp.DeleteFile(lib_.NextArgument()); return;
  case CmdTIMEOUT: ftp.TimeoutMs = TimeoutMilliseconds(lib_.NextArgument()); return;
  case CmdLOWSPEED: {
    const std::string rate = lib_.NextArgument();
    ftp.LowSpeed = LowSpeedOperands(rate, lib_.NextArgument());
    return;
  }
  case CmdSECURE: ftp.Security = SecurityMode(lib_.NextArgument()); return;
  // The server connects to us for the data (PORT, or EPRT over IPv6): for
  // a client behind nothing that a server's connect cannot pass.
  case CmdACTIVE: ftp.Passive = !SwitchOn(lib_.NextArgument()); return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void FtpFamily::Function(std::string &result) {
  switch (lib_.LookupNext(Functions)) {
  case FnDIRENTRY: {
    t_filedata rec;
    lib_.Ftp().GetDirEntry(rec);
    if (rec.Kind == fkNone)
      return;
    result = std::string(KindName(rec.Kind)) + rec.Name + "|" + std::to_string(rec.Size) + "|" +
             DateTimeToStr(rec.Date) + "|" + FloatToStr(rec.Date);
    return;
  }
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}

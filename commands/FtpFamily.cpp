#include "commands/FtpFamily.h"

#include "commands/SecureOperand.h"
#include "commands/TimeoutOperand.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "ip_misc/Convert.h"
#include "ip_misc/DateTime.h"
#include "ip_misc/Errors.h"
#include "ip_misc/HostPort.h"
#include "tcpip/T_FTP.h"

namespace {

const char *KindName(std::uint8_t kind) {
  switch (kind) {
  case fkDirectory: return "DIR|";
  case fkFile: return "FILE|";
  case fkLink: return "LINK|";
  default: return "";
  }
}

} // namespace

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
    ftp.URI = lib_.NextArgument();
    ftp.DownloadToFile(lib_.NextArgument());
    return;
  case CmdUPLOAD: {
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

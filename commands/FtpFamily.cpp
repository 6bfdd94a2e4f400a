#include "commands/FtpFamily.h"

#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "ip_misc/Convert.h"
#include "ip_misc/DateTime.h"
#include "ip_misc/Errors.h"
#include "platform/Files.h"
#include "tcpip/T_FTP.h"

namespace {

// Lets a downloaded or uploaded file's memory go once the command is done.
struct ReleaseStream {
  T_FTP &ftp;
  ~ReleaseStream() { ftp.Stream.Assign({}); }
};

const char *KindName(std::uint8_t kind) {
  switch (kind) {
  case fkDirectory: return "DIR|";
  case fkFile: return "FILE|";
  case fkLink: return "LINK|";
  default: return "";
  }
}

} // namespace

void FtpFamily::SplitHostPort(const std::string &operand, std::uint16_t defaultPort,
                              std::string &host, std::uint16_t &port) {
  const std::size_t colon = operand.rfind(':');
  // One colon: "host:port". None, or several (an IPv6 text), is a host alone.
  if (colon == std::string::npos || operand.find(':') != colon) {
    host = operand;
    port = defaultPort;
    return;
  }
  const std::string text = operand.substr(colon + 1);
  const std::int32_t number = StrToInt(text);
  if (number < 1 || number > 65535)
    throw EConvertError("'" + text + "' is not a valid port");
  host = operand.substr(0, colon);
  port = static_cast<std::uint16_t>(number);
}

void FtpFamily::Command() {
  T_FTP &ftp = lib_.Ftp();
  switch (lib_.LookupNext(Commands)) {
  case CmdLOGON:
    SplitHostPort(lib_.NextArgument(), 21, ftp.Hostname, ftp.Port);
    ftp.Login();
    return;
  case CmdLOGOFF: ftp.Logout(); return;
  case CmdUSERNAME: ftp.Username = lib_.NextArgument(); return;
  case CmdPASSWORD: ftp.Password = lib_.NextArgument(); return;
  case CmdDOWNLOAD: {
    ftp.URI = lib_.NextArgument();
    ReleaseStream release{ftp};
    ftp.Download();
    platform::WriteWholeFile(lib_.NextArgument(), ftp.Stream.Bytes());
    return;
  }
  case CmdUPLOAD: {
    ReleaseStream release{ftp};
    ftp.Stream.Assign(platform::ReadWholeFile(lib_.NextArgument()));
    ftp.URI = lib_.NextArgument();
    ftp.Upload();
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

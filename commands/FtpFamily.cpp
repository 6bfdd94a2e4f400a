#include "commands/FtpFamily.h"

#include "commands/NotBuilt.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"

void FtpFamily::Command() {
  switch (lib_.LookupNext(Commands)) {
  case CmdLOGON: NotBuiltYet("FTP LOGON");
  case CmdLOGOFF: NotBuiltYet("FTP LOGOFF");
  case CmdUSERNAME: NotBuiltYet("FTP USERNAME");
  case CmdPASSWORD: NotBuiltYet("FTP PASSWORD");
  case CmdDOWNLOAD: NotBuiltYet("FTP DOWNLOAD");
  case CmdUPLOAD: NotBuiltYet("FTP UPLOAD");
  case CmdGETDIR: NotBuiltYet("FTP GETDIR");
  case CmdCHANGEDIR: NotBuiltYet("FTP CHANGEDIR");
  case CmdMAKEDIR: NotBuiltYet("FTP MAKEDIR");
  case CmdDELDIR: NotBuiltYet("FTP DELDIR");
  case CmdRENFILE: NotBuiltYet("FTP RENFILE");
  case CmdDELFILE: NotBuiltYet("FTP DELFILE");
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void FtpFamily::Function(std::string &result) {
  (void)result;
  switch (lib_.LookupNext(Functions)) {
  case FnDIRENTRY: NotBuiltYet("FTP DIRENTRY");
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}

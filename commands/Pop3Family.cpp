#include "commands/Pop3Family.h"

#include "commands/NotBuilt.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"

void Pop3Family::Command() {
  switch (lib_.LookupNext(Commands)) {
  case CmdUSERNAME: NotBuiltYet("POP3 USERNAME");
  case CmdPASSWORD: NotBuiltYet("POP3 PASSWORD");
  case CmdLOGON: NotBuiltYet("POP3 LOGON");
  case CmdLOGOFF: NotBuiltYet("POP3 LOGOFF");
  case CmdGETHEADERS: NotBuiltYet("POP3 GETHEADERS");
  case CmdGETMAIL: NotBuiltYet("POP3 GETMAIL");
  case CmdDELMAIL: NotBuiltYet("POP3 DELMAIL");
  case CmdSAVEATTACHMENT: NotBuiltYet("POP3 SAVEATTACHMENT");
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void Pop3Family::Function(std::string &result) {
  (void)result;
  switch (lib_.LookupNext(Functions)) {
  case FnHEADER: NotBuiltYet("POP3 HEADER");
  case FnMAIL: NotBuiltYet("POP3 MAIL");
  case FnATTACHMENT:
    if (const int item = lib_.LookupNext(AttachmentItems); item != AttachmentCOUNT && item != AttachmentDISPOSITION && item != AttachmentKIND)
      return lib_.SetError(ErrUnknownSubfunction);
    NotBuiltYet("POP3 ATTACHMENT");
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}

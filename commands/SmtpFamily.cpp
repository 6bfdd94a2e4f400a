#include "commands/SmtpFamily.h"

#include "commands/NotBuilt.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"

void SmtpFamily::Command() {
  switch (lib_.LookupNext(Commands)) {
  case CmdRECIPIENTS:
    if (const int op = lib_.LookupNext(ListOps); op != OpCLEAR && op != OpADD)
      return lib_.SetError(ErrUnknownSubcommand);
    NotBuiltYet("SMTP RECIPIENTS");
  case CmdCC:
    if (const int op = lib_.LookupNext(ListOps); op != OpCLEAR && op != OpADD)
      return lib_.SetError(ErrUnknownSubcommand);
    NotBuiltYet("SMTP CC");
  case CmdBCC:
    if (const int op = lib_.LookupNext(ListOps); op != OpCLEAR && op != OpADD)
      return lib_.SetError(ErrUnknownSubcommand);
    NotBuiltYet("SMTP BCC");
  case CmdMESSAGE:
    if (const int op = lib_.LookupNext(ListOps); op != OpCLEAR && op != OpADD)
      return lib_.SetError(ErrUnknownSubcommand);
    NotBuiltYet("SMTP MESSAGE");
  case CmdHEADER:
    if (const int op = lib_.LookupNext(ListOps); op != OpCLEAR && op != OpADD)
      return lib_.SetError(ErrUnknownSubcommand);
    NotBuiltYet("SMTP HEADER");
  case CmdATTACHMENT:
    if (const int op = lib_.LookupNext(ListOps); op != OpCLEAR && op != OpADD)
      return lib_.SetError(ErrUnknownSubcommand);
    NotBuiltYet("SMTP ATTACHMENT");
  case CmdFROM: NotBuiltYet("SMTP FROM");
  case CmdREPLY: NotBuiltYet("SMTP REPLY");
  case CmdSUBJECT: NotBuiltYet("SMTP SUBJECT");
  case CmdDISCLOSE: NotBuiltYet("SMTP DISCLOSE");
  case CmdSEND: NotBuiltYet("SMTP SEND");
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

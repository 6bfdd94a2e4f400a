#include "commands/NetcFamily.h"

#include "commands/NotBuilt.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"

void NetcFamily::Command() {
  switch (lib_.LookupNext(Commands)) {
  case CmdLOCALNAME: NotBuiltYet("NETC LOCALNAME");
  case CmdREMOTENAME: NotBuiltYet("NETC REMOTENAME");
  case CmdRECONNECT: NotBuiltYet("NETC RECONNECT");
  case CmdUSERNAME: NotBuiltYet("NETC USERNAME");
  case CmdPASSWORD: NotBuiltYet("NETC PASSWORD");
  case CmdPROVIDER: NotBuiltYet("NETC PROVIDER");
  case CmdCONNECT: NotBuiltYet("NETC CONNECT");
  case CmdDISCONNECT: NotBuiltYet("NETC DISCONNECT");
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

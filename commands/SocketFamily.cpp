#include "commands/SocketFamily.h"

#include "commands/NotBuilt.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"

void SocketFamily::Command() {
  switch (lib_.LookupNext(Commands)) {
  case CmdAUTO: NotBuiltYet("SOCKET AUTO");
  case CmdADDR: NotBuiltYet("SOCKET ADDR");
  case CmdPORT: NotBuiltYet("SOCKET PORT");
  case CmdSERVER: NotBuiltYet("SOCKET SERVER");
  case CmdCLIENT: NotBuiltYet("SOCKET CLIENT");
  case CmdCLOSE: NotBuiltYet("SOCKET CLOSE");
  case CmdSENDALL: NotBuiltYet("SOCKET SENDALL");
  case CmdSENDSERVER: NotBuiltYet("SOCKET SENDSERVER");
  case CmdSENDID: NotBuiltYet("SOCKET SENDID");
  case CmdSENDADDR: NotBuiltYet("SOCKET SENDADDR");
  case CmdCLOSECID: NotBuiltYet("SOCKET CLOSECID");
  case CmdCLOSECADDR: NotBuiltYet("SOCKET CLOSECADDR");
  case CmdTOQEVENTS: NotBuiltYet("SOCKET TOQEVENTS");
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void SocketFamily::Function(std::string &result) {
  (void)result;
  switch (lib_.LookupNext(Functions)) {
  case FnERROR: NotBuiltYet("SOCKET ERROR");
  case FnSTATUS: NotBuiltYet("SOCKET STATUS");
  case FnCLIENTS: NotBuiltYet("SOCKET CLIENTS");
  case FnADDR: NotBuiltYet("SOCKET ADDR");
  case FnPORT: NotBuiltYet("SOCKET PORT");
  case FnSENDERADDR: NotBuiltYet("SOCKET SENDERADDR");
  case FnSENDERPORT: NotBuiltYet("SOCKET SENDERPORT");
  case FnSENDERID: NotBuiltYet("SOCKET SENDERID");
  case FnDATA: NotBuiltYet("SOCKET DATA");
  case FnEVENT: NotBuiltYet("SOCKET EVENT");
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}

#include "commands/HttpFamily.h"

#include "commands/NotBuilt.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"

void HttpFamily::Command() {
  switch (lib_.LookupNext(Commands)) {
  case CmdGET: NotBuiltYet("HTTP GET");
  case CmdDOWNLOAD: NotBuiltYet("HTTP DOWNLOAD");
  case CmdUPLOAD: NotBuiltYet("HTTP UPLOAD");
  case CmdPROXY: NotBuiltYet("HTTP PROXY");
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}
void HttpFamily::Function(std::string &result) {
  (void)result;
  NotBuiltYet("HTTP function");
}

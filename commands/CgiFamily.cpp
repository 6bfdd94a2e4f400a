#include "commands/CgiFamily.h"

#include "commands/NotBuilt.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"

void CgiFamily::Command() {
  switch (lib_.LookupNext(Commands)) {
  case CmdWRITE: NotBuiltYet("CGI WRITE");
  case CmdPARSE: NotBuiltYet("CGI PARSE");
  case CmdAUTOPARSE: NotBuiltYet("CGI AUTOPARSE");
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void CgiFamily::Function(std::string &result) {
  (void)result;
  switch (lib_.LookupNext(Functions)) {
  case FnREADL: NotBuiltYet("CGI READL");
  case FnREAD: NotBuiltYet("CGI READ");
  case FnCONVERT: NotBuiltYet("CGI CONVERT");
  case FnPARSE: NotBuiltYet("CGI PARSE");
  case FnREPLACE: NotBuiltYet("CGI REPLACE");
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}

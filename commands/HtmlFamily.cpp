#include "commands/HtmlFamily.h"

#include "commands/NotBuilt.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"

void HtmlFamily::Command() {
  switch (lib_.LookupNext(Commands)) {
  case CmdFIX: NotBuiltYet("HTML FIX");
  default: return; // any other subcommand does nothing and is no error
  }
}

void HtmlFamily::Function(std::string &result) {
  (void)result;
  NotBuiltYet("HTML function");
}

#include "commands/TimeFamily.h"

#include "commands/NotBuilt.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"

void TimeFamily::Function(std::string &result) {
  (void)result;
  switch (lib_.LookupNext(Functions)) {
  case FnTIME: NotBuiltYet("TIME TIME");
  case FnOFFSET: NotBuiltYet("TIME OFFSET");
  case FnBINARY: NotBuiltYet("TIME BINARY");
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}

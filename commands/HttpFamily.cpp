#include "commands/HttpFamily.h"

#include "host/ErrorCodes.h"
#include "commands/TimeoutOperand.h"
#include "host/Library.h"
#include "platform/Files.h"
#include "tcpip/T_HTTP.h"

void HttpFamily::Command() {
  T_HTTP &http = lib_.Http();
  switch (lib_.LookupNext(Commands)) {
  case CmdGET:
    http.URL = lib_.NextArgument();
    http.Action();
    // The body moves into the page: it is held once, not once more as lines.
    lib_.PageLines().Assign(http.Stream.Take());
    return;
  case CmdDOWNLOAD: {
    http.URL = lib_.NextArgument();
    // Straight to the file: a large body is never held in memory.
    http.DownloadToFile(lib_.NextArgument());
    return;
  }
  case CmdUPLOAD: {
    const std::string file = lib_.NextArgument();
    http.Stream.Assign(platform::ReadWholeFile(file));
    struct Release {
      T_HTTP &h;
      ~Release() { h.Stream.Assign({}); }
    } release{http};
    http.URL = lib_.NextArgument();
    http.Post();
    return;
  }
  case CmdPROXY: {
    http.Proxy = lib_.NextArgument();
    const std::string user = lib_.NextArgument();
    const std::string password = lib_.NextArgument();
    http.SetAuthorization(user, password);
    return;
  }
  case CmdTIMEOUT: http.TimeoutMs = TimeoutMilliseconds(lib_.NextArgument()); return;
  case CmdLOWSPEED: {
    const std::string rate = lib_.NextArgument();
    http.LowSpeed = LowSpeedOperands(rate, lib_.NextArgument());
    return;
  }
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void HttpFamily::Function(std::string &result) {
  if (!lib_.PageLines().Next(result))
    result.assign(1, '\r');
}

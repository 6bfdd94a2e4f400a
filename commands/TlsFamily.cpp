#include "commands/TlsFamily.h"

#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "ip_misc/Convert.h"
#include "tcpip/T_HTTP.h"

void TlsFamily::Command() {
  platform::TlsSettings &tls = lib_.Tls();
  // HTTP connections kept under the old trust are not the new one's.
  lib_.Http().CloseKeptConnections();
  switch (lib_.LookupNext(Commands)) {
  case CmdCAFILE: tls.CaFile = lib_.NextArgument(); return;
  // Blank or missing is off, as with every switch of the library; off is
  // for test servers only.
  case CmdVERIFY: tls.Verify = SwitchOn(lib_.NextArgument()); return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

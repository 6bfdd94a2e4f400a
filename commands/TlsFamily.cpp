#include "commands/TlsFamily.h"

#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "ip_misc/Convert.h"

void TlsFamily::Command() {
  platform::TlsSettings &tls = lib_.Tls();
  switch (lib_.LookupNext(Commands)) {
  case CmdCAFILE: tls.CaFile = lib_.NextArgument(); return;
  // Blank or missing is off, as with every switch of the library; off is
  // for test servers only.
  case CmdVERIFY: tls.Verify = SwitchOn(lib_.NextArgument()); return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

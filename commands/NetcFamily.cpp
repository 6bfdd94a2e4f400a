#include "commands/NetcFamily.h"

#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "ip_misc/Convert.h"
#include "platform/NetDrive.h"

namespace {

struct Translation {
  int NetError;
  std::int32_t Internal;
};

constexpr Translation Translations[] = {
    {5, 41},     {85, 42},    {66, 43},    {1200, 44},  {67, 45},   {53, 46},   {1206, 47},
    {1204, 48},  {170, 49},   {1223, 50},  {1205, 51},  {1202, 52}, {2404, 53}, {1208, 54},
    {86, 55},    {1203, 56},  {1222, 57},  {2250, 58},  {2401, 59}, {1326, 60},
};

} // namespace

NetcFamily::NetcFamily(Library &library) : lib_(library) {}

std::int32_t NetcFamily::Translate(int netError) {
  for (const Translation &t : Translations)
    if (t.NetError == netError)
      return t.Internal;
  return 61;
}

void NetcFamily::Command() {
  switch (lib_.LookupNext(Commands)) {
  // File names are case-sensitive here, so the names are kept as given
  // rather than upper-cased as Windows device names would be.
  case CmdLOCALNAME: localName_ = lib_.NextArgument(); return;
  case CmdREMOTENAME: remoteName_ = lib_.NextArgument(); return;
  case CmdRECONNECT: reconnect_ = SwitchOn(lib_.NextArgument()); return;
  case CmdUSERNAME: userName_ = lib_.NextArgument(); return;
  case CmdPASSWORD: password_ = lib_.NextArgument(); return;
  case CmdPROVIDER: provider_ = lib_.NextArgument(); return;
  case CmdCONNECT: return Connect();
  case CmdDISCONNECT: return Disconnect();
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void NetcFamily::Connect() {
  if (Trim(localName_).empty() || Trim(remoteName_).empty())
    return lib_.SetError(ErrNoConnectionName);
  platform::NetResource resource;
  resource.LocalName = localName_;
  resource.RemoteName = remoteName_;
  resource.Provider = provider_;
  resource.UserName = userName_;
  resource.Password = password_;
  resource.Remember = reconnect_;
  if (const int err = platform::AddConnection(resource); err != 0)
    lib_.SetError(Translate(err));
}

void NetcFamily::Disconnect() {
  if (Trim(localName_).empty())
    return lib_.SetError(ErrNoConnectionName);
  if (const int err = platform::CancelConnection(localName_); err != 0)
    lib_.SetError(Translate(err));
}

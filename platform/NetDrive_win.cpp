// Network drives on Windows: the system's own networking calls, whose error
// numbers are the ones the callers translate.
#include "platform/NetDrive.h"

#include <windows.h>
#include <winnetwk.h>

namespace platform {

int AddConnection(const NetResource &resource) {
  // Every text goes as given; an empty one is an empty text, not a default.
  std::string local = resource.LocalName, remote = resource.RemoteName,
              provider = resource.Provider;
  NETRESOURCEA description{};
  description.dwType = RESOURCETYPE_ANY;
  description.lpLocalName = local.data();
  description.lpRemoteName = remote.data();
  description.lpProvider = provider.data();
  const DWORD rc =
      ::WNetAddConnection2A(&description, resource.Password.c_str(), resource.UserName.c_str(),
                            resource.Remember ? CONNECT_UPDATE_PROFILE : 0);
  return rc == NO_ERROR ? 0 : static_cast<int>(rc);
}

int CancelConnection(const std::string &localName) {
  // A remembered connection is forgotten too, and open files do not keep it.
  const DWORD rc = ::WNetCancelConnection2A(localName.c_str(), CONNECT_UPDATE_PROFILE, TRUE);
  return rc == NO_ERROR ? 0 : static_cast<int>(rc);
}

} // namespace platform

#pragma once
// Network drives: a local name connected to a shared resource and cut off
// again. Windows uses its networking calls; elsewhere the system's mount
// facility stands in: the local name is a directory (the mount point), the
// provider names the kind of resource, and failures come back as the Windows
// networking error numbers the callers already know (5 access denied, 67
// network name not found, ...), so scripts see the same codes everywhere.
#include <string>

namespace platform {

struct NetResource {
  std::string LocalName;  // mount point
  std::string RemoteName; // //server/share, \\server\share, host:/path or a local folder
  std::string Provider;   // "bind", "cifs", "nfs"; empty: chosen from RemoteName
  std::string UserName;
  std::string Password;
  bool Remember = false;  // kept for Windows; mounts here are never restored at logon
};

// A failure that matches none of the Windows numbers the callers translate.
constexpr int NetOtherError = -1;

// 0 on success, else a Windows networking error number or NetOtherError.
int AddConnection(const NetResource &resource);
// Cuts the connection at localName even when files on it are open.
int CancelConnection(const std::string &localName);

// The provider that an empty provider text stands for: "cifs" for
// //server/share and \\server\share, "nfs" for host:/path, else "bind".
std::string ProviderFor(const std::string &remoteName);
// The Windows networking number for an errno of mount(2) or umount2(2).
int MountErrorToNet(int err, const std::string &provider);
int UnmountErrorToNet(int err);

} // namespace platform

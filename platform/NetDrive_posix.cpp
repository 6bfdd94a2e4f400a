#include "platform/NetDrive.h"

#include "platform/Socket.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>

namespace platform {

namespace {

// Windows networking error numbers.
enum : int {
  AccessDenied = 5,
  NetworkPathNotFound = 53,
  WrongDeviceType = 66,
  NetworkNameNotFound = 67,
  DeviceInUse = 85,
  InvalidPassword = 86,
  ResourceBusy = 170,
  BadDevice = 1200,
  BadProvider = 1204,
  NoNetwork = 1222,
  LogonFailure = 1326,
  NotConnected = 2250,
  OpenFiles = 2401,
};

std::string LowerAscii(std::string text) {
  for (char &c : text)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string RealPath(const std::string &path) {
  char buffer[PATH_MAX];
  return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

// Undoes the octal escapes of /proc/self/mountinfo (\040 for a blank, ...).
std::string Unescape(const std::string &field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string digits = field.substr(i + 1, 3);
      if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::strtol(digits.c_str(), nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

bool IsMountPoint(const std::string &path) {
  std::ifstream info("/proc/self/mountinfo");
  std::string line;
  while (std::getline(info, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    if (fields >> id >> parent >> device >> root >> point && Unescape(point) == path)
      return true;
  }
  return false;
}

// cifs reads a comma inside an option value as two commas.
std::string CifsValue(const std::string &text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == ',')
      out += ',';
  }
  return out;
}

int ResolveServer(const std::string &server, std::string &address) {
  HostEntry entry;
  int error = 0;
  if (server.empty() || !LookupHost(server, entry, error))
    return NetworkPathNotFound;
  // The mount helpers take either family; IPv4 first, as before IPv6 came.
  address = entry.Addresses.empty() ? FormatAddress(entry.All.front())
                                    : FormatAddress(SocketAddress::FromV4(entry.Addresses.front()));
  return 0;
}

} // namespace

std::string ProviderFor(const std::string &remoteName) {
  if (remoteName.rfind("//", 0) == 0 || remoteName.rfind("\\\\", 0) == 0)
    return "cifs";
  const std::size_t colon = remoteName.find(":/");
  if (colon != std::string::npos && colon > 0 && remoteName[0] != '/')
    return "nfs";
  return "bind";
}

int MountErrorToNet(int err, const std::string &provider) {
  switch (err) {
  case 0: return 0;
  case EPERM: return AccessDenied;
  case EACCES: return provider == "cifs" ? InvalidPassword : AccessDenied;
#ifdef EKEYREJECTED
  case EKEYREJECTED:
  case EKEYEXPIRED: return LogonFailure;
#endif
  case EBUSY: return DeviceInUse;
  case ENOENT: return NetworkNameNotFound;
  case ENOTDIR: return WrongDeviceType;
  case ENODEV:
  case ENOPROTOOPT: return BadProvider;
  case ECONNREFUSED:
  case EHOSTUNREACH:
  case EHOSTDOWN:
  case ETIMEDOUT:
  case ENXIO: return NetworkPathNotFound;
  case ENETUNREACH:
  case ENETDOWN: return NoNetwork;
  case EAGAIN: return ResourceBusy;
  default: return NetOtherError;
  }
}

int UnmountErrorToNet(int err) {
  switch (err) {
  case 0: return 0;
  case EINVAL:
  case ENOENT: return NotConnected;
  case EPERM:
  case EACCES: return AccessDenied;
  case EBUSY: return OpenFiles;
  case ENOTDIR:
  case ENAMETOOLONG: return BadDevice;
  default: return NetOtherError;
  }
}

int AddConnection(const NetResource &resource) {
  const std::string provider =
      resource.Provider.empty() ? ProviderFor(resource.RemoteName) : LowerAscii(resource.Provider);
  if (provider != "bind" && provider != "cifs" && provider != "nfs")
    return BadProvider;

  struct stat local {};
  if (::stat(resource.LocalName.c_str(), &local) != 0)
    return BadDevice;
  if (!S_ISDIR(local.st_mode) && provider != "bind")
    return WrongDeviceType;
  if (IsMountPoint(RealPath(resource.LocalName)))
    return DeviceInUse;

  int rc;
  if (provider == "bind") {
    struct stat remote {};
    if (::stat(resource.RemoteName.c_str(), &remote) != 0)
      return NetworkNameNotFound;
    if (S_ISDIR(remote.st_mode) != S_ISDIR(local.st_mode))
      return WrongDeviceType;
    rc = ::mount(resource.RemoteName.c_str(), resource.LocalName.c_str(), nullptr, MS_BIND,
                 nullptr);
  } else if (provider == "cifs") {
    std::string unc = resource.RemoteName;
    for (char &c : unc)
      if (c == '\\')
        c = '/';
    const std::size_t slash = unc.find('/', 2);
    const std::string server = unc.substr(2, slash == std::string::npos ? slash : slash - 2);
    if (slash == std::string::npos || slash + 1 >= unc.size())
      return NetworkNameNotFound;
    std::string address;
    if (const int e = ResolveServer(server, address))
      return e;
    std::string options = "ip=" + address + ",unc=" + CifsValue(unc);
    if (!resource.UserName.empty())
      options += ",username=" + CifsValue(resource.UserName);
    options += ",password=" + CifsValue(resource.Password);
    rc = ::mount(unc.c_str(), resource.LocalName.c_str(), "cifs", 0, options.c_str());
  } else {
    const std::size_t colon = resource.RemoteName.find(':');
    if (colon == std::string::npos)
      return NetworkNameNotFound;
    std::string address;
    if (const int e = ResolveServer(resource.RemoteName.substr(0, colon), address))
      return e;
    const std::string options = "vers=4,soft,addr=" + address;
    rc = ::mount(resource.RemoteName.c_str(), resource.LocalName.c_str(), "nfs4", 0,
                 options.c_str());
  }
  return rc == 0 ? 0 : MountErrorToNet(errno, provider);
}

int CancelConnection(const std::string &localName) {
  // Forced: detached even while files on it are open, as the Windows call
  // with force does.
  return ::umount2(localName.c_str(), MNT_DETACH) == 0 ? 0 : UnmountErrorToNet(errno);
}

} // namespace platform

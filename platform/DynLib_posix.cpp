#include "platform/DynLib.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

DynLib::~DynLib() { Close(); }

bool DynLib::Open(const std::string &path) {
  Close();
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char *e = ::dlerror();
    error_ = e ? e : "cannot load " + path;
  }
  return handle_ != nullptr;
}

void DynLib::Close() {
  if (handle_)
    ::dlclose(handle_);
  handle_ = nullptr;
}

void *DynLib::Symbol(const char *name) const { return handle_ ? ::dlsym(handle_, name) : nullptr; }

namespace {

std::string FolderOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

std::string ProgramPath() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0)
    return {};
  return std::string(path, static_cast<std::size_t>(n));
}

std::string ProgramFolder() { return FolderOf(ProgramPath()); }

std::string ModuleFolder(const void *address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || !info.dli_fname)
    return {};
  // A module found through a relative search path (Lua's "./?.so") has a
  // relative name; the full one stays right wherever it is used.
  char resolved[PATH_MAX];
  if (!::realpath(info.dli_fname, resolved))
    return FolderOf(info.dli_fname);
  return FolderOf(resolved);
}

bool PathExists(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

} // namespace platform

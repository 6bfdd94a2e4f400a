#include "platform/DynLib.h"

#include <climits>
#include <dlfcn.h>
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

std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0)
    return {};
  std::string p(path, static_cast<std::size_t>(n));
  const std::size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

} // namespace platform

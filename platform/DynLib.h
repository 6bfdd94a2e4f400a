#pragma once
// Loading a shared library and finding its entry points by name.
#include <string>

namespace platform {

class DynLib {
public:
  DynLib() = default;
  ~DynLib();
  DynLib(const DynLib &) = delete;
  DynLib &operator=(const DynLib &) = delete;

  // False with Error() telling why.
  bool Open(const std::string &path);
  void Close();
  void *Symbol(const char *name) const;
  const std::string &Error() const { return error_; }

private:
  void *handle_ = nullptr;
  std::string error_;
};

// The path of the running program; empty if unknown.
std::string ProgramPath();
// The folder of the running program, with a trailing "/"; empty if unknown.
std::string ProgramFolder();
// The folder of the loaded program or shared library that holds address,
// with a trailing "/"; empty if unknown.
std::string ModuleFolder(const void *address);
// True when path names something that exists.
bool PathExists(const std::string &path);

} // namespace platform

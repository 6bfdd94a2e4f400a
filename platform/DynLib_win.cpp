#include "platform/DynLib.h"

#include <windows.h>

namespace platform {

namespace {

std::string SystemMessage(DWORD code) {
  char *text = nullptr;
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string message = n && text ? std::string(text, n) : "error " + std::to_string(code);
  ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
    message.pop_back();
  return message;
}

} // namespace

DynLib::~DynLib() { Close(); }

bool DynLib::Open(const std::string &path) {
  Close();
  handle_ = ::LoadLibraryA(path.c_str());
  if (!handle_)
    error_ = path + ": " + SystemMessage(::GetLastError());
  return handle_ != nullptr;
}

void DynLib::Close() {
  if (handle_)
    ::FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

void *DynLib::Symbol(const char *name) const {
  return handle_ ? reinterpret_cast<void *>(::GetProcAddress(static_cast<HMODULE>(handle_), name))
                 : nullptr;
}

namespace {

std::string PathOfModule(HMODULE module) {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(module, path, sizeof path);
  if (n == 0 || n >= sizeof path)
    return {};
  return std::string(path, n);
}

std::string FolderOfModule(HMODULE module) {
  const std::string p = PathOfModule(module);
  const std::size_t slash = p.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

} // namespace

std::string ProgramPath() { return PathOfModule(nullptr); }

std::string ProgramFolder() { return FolderOfModule(nullptr); }

std::string ModuleFolder(const void *address) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module))
    return {};
  return FolderOfModule(module);
}

bool PathExists(const std::string &path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace platform

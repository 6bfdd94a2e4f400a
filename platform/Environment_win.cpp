// The environment and the standard streams on Windows. The streams are the
// process's own handles, read and written with ReadFile and WriteFile: no C
// runtime stands between, so a CGI body passes unchanged (no CR LF
// translation, no end at a Ctrl-Z) whatever mode the host's runtime, or the
// one this library is linked with, keeps for its descriptors.
#include "platform/Environment.h"

#include <windows.h>
// windows.h names its own function so; ours is meant below.
#undef GetEnvironmentVariable

#include <io.h>

namespace platform {

namespace {

DWORD Chunk(std::size_t count) {
  return count > (1u << 30) ? DWORD{1} << 30 : static_cast<DWORD>(count);
}

} // namespace

// Read whole, however long the value is.
std::optional<std::string> GetEnvironmentVariable(const char *name) {
  std::string value(256, '\0');
  for (;;) {
    ::SetLastError(0);
    const DWORD n = ::GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return std::nullopt;
      return std::string();
    }
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);
  }
}

bool PutEnvironmentVariable(const char *name, const char *value) {
  return ::SetEnvironmentVariableA(name, value) != 0;
}

void RemoveEnvironmentVariable(const char *name) { ::SetEnvironmentVariableA(name, nullptr); }

long native::ReadInput(char *buffer, std::size_t size) {
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  if (in == INVALID_HANDLE_VALUE || in == nullptr)
    return -1;
  DWORD got = 0;
  if (::ReadFile(in, buffer, Chunk(size), &got, nullptr))
    return static_cast<long>(got);
  // The writing end of a pipe has closed: the end of the input.
  return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

long native::WriteOutput(const char *data, std::size_t size) {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == INVALID_HANDLE_VALUE || out == nullptr)
    return -1;
  DWORD put = 0;
  if (!::WriteFile(out, data, Chunk(size), &put, nullptr))
    return -1;
  return static_cast<long>(put);
}

bool StandardErrorIsTerminal() { return ::_isatty(2) != 0; }

} // namespace platform

#include "platform/Environment.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace platform {

std::optional<std::string> GetEnvironmentVariable(const char *name) {
  const char *v = std::getenv(name);
  if (!v)
    return std::nullopt;
  return std::string(v);
}

bool PutEnvironmentVariable(const char *name, const char *value) {
  return ::setenv(name, value, 1) == 0;
}

void RemoveEnvironmentVariable(const char *name) { ::unsetenv(name); }

// Standard input is read with read(2) directly, never through a buffer of
// our own.
long native::ReadInput(char *buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, size);
    if (n >= 0 || errno != EINTR)
      return n < 0 ? -1 : static_cast<long>(n);
  }
}

long native::WriteOutput(const char *data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::write(STDOUT_FILENO, data, size);
    if (n >= 0 || errno != EINTR)
      return n < 0 ? -1 : static_cast<long>(n);
  }
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

} // namespace platform

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

// Standard input is read with read(2) directly, never through a buffer of
// our own, so that a host script that reads the rest of the input itself
// finds every byte we did not ask for still there.
StreamResult ReadStandardInput(std::size_t count, std::string &out) {
  out.clear();
  out.resize(count);
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = ::read(STDIN_FILENO, out.data() + got, count - got);
    if (n == 0)
      break;
    if (n < 0) {
      if (errno == EINTR)
        continue;
      out.resize(got);
      return StreamResult::Failed;
    }
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return got == count ? StreamResult::Ok : StreamResult::EndOfInput;
}

StreamResult ReadStandardInputLine(std::string &out) {
  out.clear();
  bool any = false;
  for (;;) {
    char c;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n == 0)
      return any ? StreamResult::Ok : StreamResult::EndOfInput;
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return StreamResult::Failed;
    }
    any = true;
    if (c == '\n')
      break;
    out.push_back(c);
  }
  if (!out.empty() && out.back() == '\r')
    out.pop_back();
  return StreamResult::Ok;
}

StreamResult WriteStandardOutput(std::string_view data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return StreamResult::Failed;
    }
    done += static_cast<std::size_t>(n);
  }
  return StreamResult::Ok;
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

} // namespace platform

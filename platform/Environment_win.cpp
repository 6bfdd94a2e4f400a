// The environment and the standard streams on Windows. The streams are
// switched to binary mode, so that a CGI body passes unchanged (no CR LF
// translation, no end at a Ctrl-Z), as it does elsewhere.
#include "platform/Environment.h"

#include <windows.h>
// windows.h names its own function so; ours is meant below.
#undef GetEnvironmentVariable

#include <fcntl.h>
#include <io.h>

namespace platform {

namespace {

constexpr int StdIn = 0;
constexpr int StdOut = 1;

void BinaryStreams() {
  static const bool done = [] {
    ::_setmode(StdIn, _O_BINARY);
    ::_setmode(StdOut, _O_BINARY);
    return true;
  }();
  (void)done;
}

unsigned Chunk(std::size_t count) {
  return count > (1u << 30) ? 1u << 30 : static_cast<unsigned>(count);
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

// Standard input is read directly, never through a buffer of our own, so
// that a host script that reads the rest of the input itself finds every
// byte we did not ask for still there.
StreamResult ReadStandardInput(std::size_t count, std::string &out) {
  BinaryStreams();
  out.clear();
  out.resize(count);
  std::size_t got = 0;
  while (got < count) {
    const int n = ::_read(StdIn, out.data() + got, Chunk(count - got));
    if (n == 0)
      break;
    if (n < 0) {
      out.resize(got);
      return StreamResult::Failed;
    }
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return got == count ? StreamResult::Ok : StreamResult::EndOfInput;
}

StreamResult ReadStandardInputLine(std::string &out) {
  BinaryStreams();
  out.clear();
  bool any = false;
  for (;;) {
    char c;
    const int n = ::_read(StdIn, &c, 1);
    if (n == 0)
      return any ? StreamResult::Ok : StreamResult::EndOfInput;
    if (n < 0)
      return StreamResult::Failed;
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
  BinaryStreams();
  std::size_t done = 0;
  while (done < data.size()) {
    const int n = ::_write(StdOut, data.data() + done, Chunk(data.size() - done));
    if (n < 0)
      return StreamResult::Failed;
    done += static_cast<std::size_t>(n);
  }
  return StreamResult::Ok;
}

bool StandardErrorIsTerminal() { return ::_isatty(2) != 0; }

} // namespace platform

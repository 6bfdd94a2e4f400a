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

// Up to size bytes of standard input: 0 at its end, -1 on failure.
long ReadInput(char *buffer, std::size_t size) {
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  if (in == INVALID_HANDLE_VALUE || in == nullptr)
    return -1;
  DWORD got = 0;
  if (::ReadFile(in, buffer, Chunk(size), &got, nullptr))
    return static_cast<long>(got);
  // The writing end of a pipe has closed: the end of the input.
  return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
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
  out.clear();
  out.resize(count);
  std::size_t got = 0;
  while (got < count) {
    const long n = ReadInput(out.data() + got, count - got);
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
  out.clear();
  bool any = false;
  for (;;) {
    char c;
    const long n = ReadInput(&c, 1);
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
  const HANDLE stdOut = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (stdOut == INVALID_HANDLE_VALUE || stdOut == nullptr)
    return StreamResult::Failed;
  std::size_t done = 0;
  while (done < data.size()) {
    DWORD put = 0;
    if (!::WriteFile(stdOut, data.data() + done, Chunk(data.size() - done), &put, nullptr))
      return StreamResult::Failed;
    done += put;
  }
  return StreamResult::Ok;
}

bool StandardErrorIsTerminal() { return ::_isatty(2) != 0; }

} // namespace platform

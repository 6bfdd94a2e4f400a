// The standard streams as a CGI program uses them, the same on every
// system over each system's ReadInput and WriteOutput.
#include "platform/Environment.h"

namespace platform {

StreamResult ReadStandardInput(std::size_t count, std::string &out) {
  out.clear();
  out.resize(count);
  std::size_t got = 0;
  while (got < count) {
    const long n = native::ReadInput(out.data() + got, count - got);
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
    const long n = native::ReadInput(&c, 1);
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
  std::size_t done = 0;
  while (done < data.size()) {
    const long n = native::WriteOutput(data.data() + done, data.size() - done);
    if (n < 0)
      return StreamResult::Failed;
    done += static_cast<std::size_t>(n);
  }
  return StreamResult::Ok;
}

} // namespace platform

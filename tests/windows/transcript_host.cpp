// A small Windows script host for the end-to-end tests: it loads the DLL
// with LoadLibrary, calls the entry points as a host does, and receives the
// events through a window-message loop of its own (GetMessage), as the host
// the library is made for. It runs a transcript script (transcript.lua runs
// the same one in nethost) and prints what a script would see, so the two
// outputs can be compared line for line. The step "serve SECONDS" makes it
// the relay server of bench/wine.sh, as bench/relay_server.lua in nethost.
// With OUTPUT the transcript goes to that file and standard output is left
// to what the script writes there (CGI).
//
//   transcript_host DLL SCRIPT [OUTPUT]
#include "scriptnet.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

ScriptnetCommandFn commandProc;
ScriptnetFuncFn funcProc;
ScriptnetStatFn statProc;
std::vector<std::string> events;

std::vector<char> Block(const std::vector<std::string> &texts) {
  std::vector<char> block(SCRIPTNET_BLOCK_SIZE, '\0');
  std::size_t at = 0;
  for (const std::string &t : texts) {
    std::memcpy(block.data() + at, t.data(), t.size());
    at += t.size() + 1;
  }
  return block;
}

// While a serve step runs, events are not kept: every new connection is
// greeted with its id the moment it comes, and the rest pass.
bool serving = false;

void SCRIPTNET_CALL OnEvent(const char *name) {
  if (!serving) {
    events.emplace_back(name);
  } else if (std::strcmp(name, "ACCEPT") == 0) {
    const std::string id = funcProc(Block({"SOCKET", "SENDERID"}).data());
    commandProc(Block({"SOCKET", "SENDID", id, "id:" + id}).data());
  }
}

std::string Escape(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 32 || c > 126) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Join(const std::vector<std::string> &texts, std::size_t from) {
  std::string out;
  for (std::size_t i = from; i < texts.size(); ++i)
    out += (i > from ? " " : "") + texts[i];
  return out;
}

// Pumps the thread's messages, as the host's own loop does, until count
// events have come or the time is up.
void Pump(std::size_t count, unsigned ms) {
  const UINT_PTR timer = ::SetTimer(nullptr, 0, ms, nullptr);
  MSG msg;
  while (events.size() < count && ::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.wParam == timer)
      break;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  ::KillTimer(nullptr, timer);
}

// GetProcAddress's type says nothing; the entry point's is in scriptnet.h.
template <typename Fn> Fn Entry(HMODULE dll, const char *name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void *>(::GetProcAddress(dll, name)));
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: transcript_host DLL SCRIPT [OUTPUT]\n");
    return 2;
  }
  std::ofstream transcript;
  if (argc == 4)
    transcript.open(argv[3], std::ios::binary);
  std::ostream &out = argc == 4 ? transcript : std::cout;
  const HMODULE dll = ::LoadLibraryA(argv[1]);
  if (!dll) {
    std::fprintf(stderr, "cannot load %s: error %lu\n", argv[1], ::GetLastError());
    return 2;
  }
  const auto init = Entry<ScriptnetInitFn>(dll, "Init");
  commandProc = Entry<ScriptnetCommandFn>(dll, "CommandProc");
  funcProc = Entry<ScriptnetFuncFn>(dll, "FuncProc");
  statProc = Entry<ScriptnetStatFn>(dll, "StatProc");
  if (!init || !commandProc || !funcProc || !statProc) {
    std::fprintf(stderr, "entry points missing\n");
    return 2;
  }
  std::int32_t out1 = 0, out2 = 0;
  const char *prefix = init(0, OnEvent, "", &out1, &out2);
  out << "init " << prefix << " " << out1 << " " << out2 << "\n";

  std::ifstream script(argv[2], std::ios::binary);
  std::string line;
  while (std::getline(script, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty() || line[0] == '#')
      continue;
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string x; std::getline(fields, x, '\t');)
      f.push_back(x);
    const std::string &op = f[0];
    // The host's own runtime keeps its standard streams in text mode, the
    // default of every Windows program, whatever the library did before:
    // what the library reads and writes there must not depend on it.
    if (argc == 4) {
      ::_setmode(_fileno(stdin), _O_TEXT);
      ::_setmode(_fileno(stdout), _O_TEXT);
    }
    if (op == "command" || op == "netfailure") {
      const std::vector<char> block = Block({f.begin() + 1, f.end()});
      const std::int32_t code = commandProc(block.data());
      out << op << " " << Join(f, 1) << " = ";
      // The network-drive errors (211 to 231) differ between systems with
      // their networks; that the call got as far as one is the same.
      if (op == "netfailure" && code >= 211 && code <= 231)
        out << "a network-drive error\n";
      else
        out << code << "\n";
    } else if (op == "func" || op == "shape" || op == "reason") {
      const std::vector<char> block = Block({f.begin() + 1, f.end()});
      std::string result = funcProc(block.data());
      if (op == "shape")
        std::replace_if(
            result.begin(), result.end(), [](char c) { return c >= '0' && c <= '9'; }, 'N');
      if (op == "reason")
        result = result.substr(0, result.find(" ("));
      out << op << " " << Join(f, 1) << " = \"" << Escape(result) << "\" " << statProc()
                << "\n";
    } else if (op == "wait" || op == "waitset") {
      events.clear();
      Pump(std::stoul(f[1]), static_cast<unsigned>(std::stoul(f[2])));
      if (op == "waitset")
        std::sort(events.begin(), events.end());
      out << op << " " << f[1] << " =";
      for (const std::string &e : events)
        out << " " << e;
      out << "\n";
    } else if (op == "size") {
      std::ifstream file(f[1], std::ios::binary | std::ios::ate);
      out << "size " << f[1] << " = " << (file ? static_cast<long long>(file.tellg()) : -1)
                << "\n";
    } else if (op == "serve") {
      serving = true;
      Pump(SIZE_MAX, static_cast<unsigned>(std::stoul(f[1]) * 1000));
      serving = false;
    } else {
      out << "unknown step " << op << "\n";
    }
    // Whoever reads the transcript may act on a step while the next runs.
    out.flush();
  }
  out.flush();
  ::FreeLibrary(dll);
  return 0;
}

// nethost: a small script host. It loads the library through its C entry
// points, exactly as any script host would, and gives Lua scripts the table
// `net` to call commands and functions and to receive events.
//
//   nethost SCRIPT.lua [ARGS...]    run a script; ARGS are in the table arg
//   nethost -e 'LUA CODE'           run a chunk
//   nethost --lib PATH ...          load another build of the library
#include "platform/DynLib.h"

#include <lua5.4/lua.hpp>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using InitFn = const char *(*)(std::int32_t, void (*)(const char *), const char *, std::int32_t *,
                               std::int32_t *);
using CommandFn = std::int32_t (*)(const char *);
using FuncFn = const char *(*)(const char *);
using StatFn = std::int32_t (*)();
using ProcessFn = int (*)(int);

struct Entries {
  CommandFn Command = nullptr;
  FuncFn Func = nullptr;
  StatFn Stat = nullptr;
  ProcessFn Process = nullptr;
};

Entries entries;
std::int32_t blockSize = 65536;
std::vector<char> block;
// Event names the library raised, in order, not yet handed to the script.
std::vector<std::string> pendingEvents;
bool stopRequested = false;
// While net.wait runs, the script's state, so that net.onevent can be called
// the moment the library raises an event: the details the script reads
// (SOCKET SENDERID, DATA, ...) are then those of that very event.
lua_State *waitingState = nullptr;
std::string callbackError;

// The library may call this at any time on this thread, also in the middle of
// a command; outside net.wait, or without net.onevent, the script sees the
// events when it waits.
void OnLibraryEvent(const char *name) {
  lua_State *L = waitingState;
  if (L && callbackError.empty()) {
    lua_getglobal(L, "net");
    lua_getfield(L, -1, "onevent");
    lua_remove(L, -2);
    if (lua_isfunction(L, -1)) {
      lua_pushstring(L, name ? name : "");
      // Errors must not unwind through the library's frames: keep the
      // message and raise it once the library has returned.
      if (lua_pcall(L, 1, 0, 0) != LUA_OK) {
        const char *msg = lua_tostring(L, -1);
        callbackError = msg ? msg : "error in net.onevent";
        lua_pop(L, 1);
        stopRequested = true;
      }
      return;
    }
    lua_pop(L, 1);
  }
  pendingEvents.emplace_back(name ? name : "");
}

// Lays the call's texts (the name, then every further Lua argument) into the
// block, NUL-terminated and end to end; the rest of the block is zero.
void FillBlock(lua_State *L, int first) {
  std::fill(block.begin(), block.end(), '\0');
  std::size_t at = 0;
  const int top = lua_gettop(L);
  for (int i = first; i <= top; ++i) {
    std::size_t length = 0;
    const char *text = luaL_tolstring(L, i, &length);
    lua_pop(L, 1);
    if (length + 1 > block.size() - at)
      luaL_error(L, "arguments do not fit the %d-byte argument block", blockSize);
    std::memcpy(block.data() + at, text, length);
    at += length + 1;
  }
}

void FlushOutput() { std::fflush(stdout); }

int NetCommand(lua_State *L) {
  luaL_checkany(L, 1);
  FillBlock(L, 1);
  FlushOutput();
  lua_pushinteger(L, entries.Command(block.data()));
  return 1;
}

int NetFunc(lua_State *L) {
  luaL_checkany(L, 1);
  FillBlock(L, 1);
  FlushOutput();
  const char *result = entries.Func(block.data());
  lua_pushstring(L, result ? result : "");
  lua_pushinteger(L, entries.Stat());
  return 2;
}

int NetStatus(lua_State *L) {
  lua_pushinteger(L, entries.Stat());
  return 1;
}

int NetError(lua_State *L) {
  std::fill(block.begin(), block.end(), '\0');
  std::memcpy(block.data(), "IPERROR", 7);
  const char *result = entries.Func(block.data());
  lua_pushstring(L, result ? result : "");
  return 1;
}

int NetStop(lua_State *) {
  stopRequested = true;
  return 0;
}

// Hands the pending events to net.onevent, or appends them to the table at
// index `list` when the script has not set one. An error raised by the
// handler is passed on only after this function's own objects are gone.
void DeliverEvents(lua_State *L, int list) {
  bool failed = false;
  {
    std::vector<std::string> batch;
    while (!failed && !pendingEvents.empty()) {
      batch.clear();
      batch.swap(pendingEvents);
      for (std::size_t k = 0; k < batch.size(); ++k) {
        const std::string &name = batch[k];
        lua_getglobal(L, "net");
        if (lua_istable(L, -1))
          lua_getfield(L, -1, "onevent");
        else
          lua_pushnil(L);
        lua_remove(L, -2);
        if (lua_isfunction(L, -1)) {
          lua_pushlstring(L, name.data(), name.size());
          if (lua_pcall(L, 1, 0, 0) != LUA_OK) {
            // Events after the failing one stay pending for the next wait.
            pendingEvents.insert(pendingEvents.begin(), batch.begin() + static_cast<std::ptrdiff_t>(k + 1),
                                 batch.end());
            failed = true;
            break;
          }
        } else {
          lua_pop(L, 1);
          lua_pushlstring(L, name.data(), name.size());
          lua_rawseti(L, list, static_cast<lua_Integer>(lua_rawlen(L, list) + 1));
        }
      }
    }
  }
  if (failed)
    lua_error(L); // the handler's error object is on the top
}

int NetWait(lua_State *L) {
  const double seconds = luaL_optnumber(L, 1, 0);
  using Clock = std::chrono::steady_clock;
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  stopRequested = false;
  lua_newtable(L);
  const int list = lua_gettop(L);
  DeliverEvents(L, list);
  lua_State *const outer = waitingState;
  waitingState = L;
  const auto process = [&](int timeoutMs) {
    entries.Process(timeoutMs);
    if (!callbackError.empty()) {
      waitingState = outer;
      lua_pushlstring(L, callbackError.data(), callbackError.size());
      callbackError.clear();
      lua_error(L);
    }
  };
  while (!stopRequested) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
      break;
    FlushOutput();
    process(static_cast<int>(left));
    DeliverEvents(L, list);
  }
  // Whatever is already pending is still dispatched once, without waiting.
  if (!stopRequested) {
    process(0);
    DeliverEvents(L, list);
  }
  waitingState = outer;
  return 1;
}

// Iterator over a function that returns one line per call and a lone
// carriage return at the end. For POP3 (MAIL) the line index is supplied.
int LinesNext(lua_State *L) {
  const int n = static_cast<int>(lua_tointeger(L, lua_upvalueindex(1)));
  const bool indexed = lua_toboolean(L, lua_upvalueindex(2));
  const int argc = static_cast<int>(lua_tointeger(L, lua_upvalueindex(3)));
  lua_settop(L, 0);
  for (int i = 1; i <= argc; ++i)
    lua_pushvalue(L, lua_upvalueindex(3 + i));
  if (indexed)
    lua_pushinteger(L, n);
  FillBlock(L, 1);
  FlushOutput();
  const char *result = entries.Func(block.data());
  const std::int32_t status = entries.Stat();
  if (status != 0)
    return luaL_error(L, "line function failed with code %d", static_cast<int>(status));
  if (!result || std::strcmp(result, "\r") == 0)
    return 0;
  lua_pushinteger(L, n + 1);
  lua_replace(L, lua_upvalueindex(1));
  lua_pushstring(L, result);
  return 1;
}

int NetLines(lua_State *L) {
  const int argc = lua_gettop(L);
  const char *given = luaL_checkstring(L, 1);
  if (argc > 200)
    return luaL_error(L, "too many arguments");
  bool pop3 = std::strlen(given) == 4;
  for (int k = 0; pop3 && k < 4; ++k) {
    const char c = given[k] >= 'a' && given[k] <= 'z' ? static_cast<char>(given[k] - 32) : given[k];
    pop3 = c == "POP3"[k];
  }
  luaL_checkstack(L, argc + 4, "too many arguments");
  lua_pushinteger(L, 0);
  lua_pushboolean(L, pop3);
  lua_pushinteger(L, argc);
  for (int i = 1; i <= argc; ++i)
    lua_pushvalue(L, i);
  lua_pushcclosure(L, LinesNext, 3 + argc);
  return 1;
}

int NetEvents(lua_State *L) {
  lua_newtable(L);
  const int list = lua_gettop(L);
  for (const std::string &name : pendingEvents) {
    lua_pushlstring(L, name.data(), name.size());
    lua_rawseti(L, list, static_cast<lua_Integer>(lua_rawlen(L, list) + 1));
  }
  pendingEvents.clear();
  return 1;
}

void OpenNet(lua_State *L) {
  static const luaL_Reg functions[] = {
      {"command", NetCommand}, {"func", NetFunc},   {"status", NetStatus},
      {"error", NetError},     {"wait", NetWait},   {"stop", NetStop},
      {"lines", NetLines},     {"events", NetEvents}, {nullptr, nullptr}};
  luaL_newlib(L, functions);
  lua_setglobal(L, "net");
}

int Traceback(lua_State *L) {
  const char *msg = lua_tostring(L, 1);
  luaL_traceback(L, L, msg ? msg : "(error object is not a string)", 1);
  return 1;
}

int RunChunk(lua_State *L, int loadStatus) {
  if (loadStatus == LUA_OK) {
    lua_pushcfunction(L, Traceback);
    lua_insert(L, -2);
    loadStatus = lua_pcall(L, 0, 0, -2);
  }
  if (loadStatus != LUA_OK) {
    const char *msg = lua_tostring(L, -1);
    std::fflush(stdout);
    std::fprintf(stderr, "nethost: %s\n", msg ? msg : "error");
    return 1;
  }
  return 0;
}

int Usage() {
  std::fprintf(stderr, "usage: nethost [--lib PATH] SCRIPT.lua [ARGS...]\n"
                       "       nethost [--lib PATH] -e 'LUA CODE'\n");
  return 2;
}

} // namespace

// Scripts move messages and files of tens of megabytes through lists of
// lines, hundreds of thousands of small strings. Where every 4 KiB page
// fault is dear, glibc backing the heap with transparent huge pages makes
// such jobs up to twice as fast. glibc reads the setting only at start, so
// nethost starts itself once more with it; a GLIBC_TUNABLES of the user's is
// left alone, and the scripts' own child processes see the environment as
// it was.
static void UseHugePagesForHeap(char **argv) {
#if defined(__linux__) && defined(__GLIBC__)
  static constexpr const char *Marker = "NETHOST_HEAP_TUNED";
  if (std::getenv(Marker)) {
    ::unsetenv(Marker);
    ::unsetenv("GLIBC_TUNABLES");
    return;
  }
  if (std::getenv("GLIBC_TUNABLES"))
    return;
  // By its own path, not /proc/self/exe, so the process keeps its name.
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof self - 1)
    return;
  self[n] = '\0';
  ::setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1", 1);
  ::setenv(Marker, "1", 1);
  ::execv(self, argv);
  // Not started again: run as we are.
  ::unsetenv(Marker);
  ::unsetenv("GLIBC_TUNABLES");
#else
  (void)argv;
#endif
}

int main(int argc, char **argv) {
  UseHugePagesForHeap(argv);
  // A CGI client that goes away must give a write error, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::string libraryPath = platform::ProgramFolder() + SCRIPTNET_DEFAULT_LIB;
  int i = 1;
  if (i + 1 < argc && std::strcmp(argv[i], "--lib") == 0) {
    libraryPath = argv[i + 1];
    i += 2;
  }
  if (i >= argc)
    return Usage();
  const bool inlineCode = std::strcmp(argv[i], "-e") == 0;
  if (inlineCode && i + 1 >= argc)
    return Usage();

  platform::DynLib library;
  if (!library.Open(libraryPath)) {
    std::fprintf(stderr, "nethost: cannot load %s: %s\n", libraryPath.c_str(), library.Error().c_str());
    return 1;
  }
  const auto init = reinterpret_cast<InitFn>(library.Symbol("Init"));
  entries.Command = reinterpret_cast<CommandFn>(library.Symbol("CommandProc"));
  entries.Func = reinterpret_cast<FuncFn>(library.Symbol("FuncProc"));
  entries.Stat = reinterpret_cast<StatFn>(library.Symbol("StatProc"));
  entries.Process = reinterpret_cast<ProcessFn>(library.Symbol("ProcessMessages"));
  if (!init || !entries.Command || !entries.Func || !entries.Stat || !entries.Process) {
    std::fprintf(stderr, "nethost: %s lacks the library's entry points\n", libraryPath.c_str());
    return 1;
  }
  std::int32_t unused = 0;
  const char *prefix = init(0, OnLibraryEvent, "", &unused, &blockSize);
  if (!prefix || blockSize <= 0) {
    std::fprintf(stderr, "nethost: the library did not initialise\n");
    return 1;
  }
  block.assign(static_cast<std::size_t>(blockSize), '\0');

  lua_State *L = luaL_newstate();
  if (!L) {
    std::fprintf(stderr, "nethost: out of memory\n");
    return 1;
  }
  luaL_openlibs(L);
  OpenNet(L);

  // arg[0] is the script, arg[1..] its arguments, as in the standard interpreter.
  lua_newtable(L);
  const int scriptIndex = inlineCode ? i + 1 : i;
  for (int a = 0; a < argc; ++a) {
    lua_pushstring(L, argv[a]);
    lua_rawseti(L, -2, a - scriptIndex);
  }
  lua_setglobal(L, "arg");

  const int status = inlineCode ? RunChunk(L, luaL_loadstring(L, argv[i + 1]))
                                : RunChunk(L, luaL_loadfile(L, argv[i]));
  lua_close(L);
  std::fflush(stdout);
  return status;
}

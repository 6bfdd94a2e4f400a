#include "nethost/NetTable.h"

#include "platform/DynLib.h"
#include "platform/Environment.h"
#include "scriptnet.h"

#include <lua5.4/lua.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Entries {
  ScriptnetCommandFn Command = nullptr;
  ScriptnetFuncFn Func = nullptr;
  ScriptnetStatFn Stat = nullptr;
  ScriptnetProcessFn Process = nullptr;
  // Missing in builds of the library from before tracing and progress.
  ScriptnetSetTraceFn SetTrace = nullptr;
  ScriptnetSetProgressFn SetProgress = nullptr;
};

// Loaded once for the process, and unloaded when the last Lua state that
// uses it is closed.
platform::DynLib *library = nullptr;
ScriptnetInitFn initEntry = nullptr;
Entries entries;
int states = 0;
std::int32_t blockSize = 65536;
// What the library's callbacks touch is never destroyed: a script that ends
// with os.exit leaves the library to be destroyed among the static objects,
// which may be after those of this code, and it may report events then.
std::vector<char> &block = *new std::vector<char>;
// Event names the library raised, in order, not yet handed to the script.
std::vector<std::string> &pendingEvents = *new std::vector<std::string>;
bool stopRequested = false;
// While net.wait runs, the script's state, so that net.onevent can be called
// the moment the library raises an event: the details the script reads
// (SOCKET SENDERID, DATA, ...) are then those of that very event.
lua_State *waitingState = nullptr;
std::string &callbackError = *new std::string;
// While net.command runs, the script's state, for net.onprogress; the first
// error it raised, passed on when the command has returned.
lua_State *commandState = nullptr;
std::string &progressError = *new std::string;
// The progress routine the library has now (null: none), and whether a
// meter line stands on standard error, not yet ended.
ScriptnetProgressProc progressNow = nullptr;
bool meterShown = false;
// Asked once: a person watches standard error.
bool stderrWatched = false;
std::chrono::steady_clock::time_point meterStart;
// The registry key of the table net.
const char netKey = 0;

// Pushes net.onevent (nil when the script has not set a function).
void PushOnEvent(lua_State *L) {
  lua_rawgetp(L, LUA_REGISTRYINDEX, &netKey);
  if (lua_istable(L, -1))
    lua_getfield(L, -1, "onevent");
  else
    lua_pushnil(L);
  lua_remove(L, -2);
}

// Room for a callback's values on the stack of the state it calls into: a
// Lua error cannot be raised through the library's frames, so a stack that
// cannot grow is told to the caller instead.
constexpr int CallbackSlots = 8;

// The block of JOB EVENT, asked while an event is delivered: the block of a
// call may still be in use then.
std::vector<char> &jobBlock = *new std::vector<char>;

// For an event "JOB" when the script has set net.onjob: reads the record
// the event stands for (JOB EVENT) and calls net.onjob(id, state, done,
// total, code) with it. Returns -1 when there is no net.onjob (the event
// goes on as any other), else the outcome of the call, the error on the
// top of the stack when it failed.
int CallOnJob(lua_State *L) {
  lua_rawgetp(L, LUA_REGISTRYINDEX, &netKey);
  if (lua_istable(L, -1))
    lua_getfield(L, -1, "onjob");
  else
    lua_pushnil(L);
  lua_remove(L, -2);
  if (!lua_isfunction(L, -1)) {
    lua_pop(L, 1);
    return -1;
  }
  if (jobBlock.size() != block.size())
    jobBlock.assign(block.size(), '\0');
  std::memcpy(jobBlock.data(), "JOB\0EVENT\0", 10);
  const char *record = entries.Func(jobBlock.data());
  unsigned long long id = 0;
  char state[16] = {};
  long long done = 0, total = 0, code = 0;
  // A record taken or closed meanwhile is gone: nothing to tell.
  if (!record || std::sscanf(record, "%llu %15s %lld %lld %lld", &id, state, &done, &total, &code) != 5) {
    lua_pop(L, 1);
    return LUA_OK;
  }
  lua_pushinteger(L, static_cast<lua_Integer>(id));
  lua_pushstring(L, state);
  lua_pushinteger(L, done);
  lua_pushinteger(L, total);
  lua_pushinteger(L, code);
  return lua_pcall(L, 5, 0, 0);
}

// The library may call this at any time on this thread, also in the middle of
// a command; outside net.wait, or without net.onevent, the script sees the
// events when it waits.
void OnLibraryEvent(const char *name) {
  lua_State *L = waitingState;
  if (L && callbackError.empty() && lua_checkstack(L, CallbackSlots)) {
    if (name && std::strcmp(name, "JOB") == 0) {
      const int status = CallOnJob(L);
      if (status == LUA_OK)
        return;
      if (status != -1) {
        const char *msg = lua_tostring(L, -1);
        callbackError = msg ? msg : "error in net.onjob";
        lua_pop(L, 1);
        stopRequested = true;
        return;
      }
    }
    PushOnEvent(L);
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

// Ends a progress meter line, so that what follows starts a line of its own.
void EndMeterLine() {
  if (meterShown)
    std::fputc('\n', stderr);
  meterShown = false;
}

std::string Size(std::int64_t bytes) {
  static constexpr const char *Units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, Units[unit]);
  return text;
}

// One line, drawn over itself: how much, how fast, and how long still.
void DrawMeter(const char *operation, std::int64_t done, std::int64_t total) {
  const auto now = std::chrono::steady_clock::now();
  if (!meterShown)
    meterStart = now;
  const double seconds = std::chrono::duration<double>(now - meterStart).count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  std::string line = std::string(operation) + " " + Size(done);
  if (total >= 0)
    line +=
        " of " + Size(total) + " (" + std::to_string(total > 0 ? done * 100 / total : 100) + "%)";
  if (rate > 0)
    line += ", " + Size(static_cast<std::int64_t>(rate)) + "/s";
  if (total > done && rate > 0) {
    const auto left = static_cast<long long>(static_cast<double>(total - done) / rate + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, ", %lld:%02lld left", left / 60, left % 60);
    line += text;
  }
  std::fprintf(stderr, "\r%-72s", line.c_str());
  std::fflush(stderr);
  meterShown = true;
}

void OnProgress(void *, const char *operation, std::int64_t done, std::int64_t total) {
  lua_State *L = commandState;
  if (L && lua_checkstack(L, CallbackSlots)) {
    lua_rawgetp(L, LUA_REGISTRYINDEX, &netKey);
    lua_getfield(L, -1, "onprogress");
    lua_remove(L, -2);
    if (lua_isfunction(L, -1)) {
      lua_pushstring(L, operation);
      lua_pushinteger(L, done);
      lua_pushinteger(L, total);
      // The transfer goes on; the error is raised once the library has
      // returned, never through its frames.
      if (lua_pcall(L, 3, 0, 0) != LUA_OK) {
        if (progressError.empty()) {
          const char *msg = lua_tostring(L, -1);
          progressError = msg ? msg : "error in net.onprogress";
        }
        lua_pop(L, 1);
      }
      return;
    }
    lua_pop(L, 1);
  }
  if (stderrWatched)
    DrawMeter(operation, done, total);
}

// The library reports progress while the script has net.onprogress or a
// person watches standard error.
void ChooseProgress(lua_State *L) {
  if (!entries.SetProgress)
    return;
  lua_rawgetp(L, LUA_REGISTRYINDEX, &netKey);
  lua_getfield(L, -1, "onprogress");
  const bool wanted = lua_isfunction(L, -1) || stderrWatched;
  lua_pop(L, 2);
  const ScriptnetProgressProc proc = wanted ? OnProgress : nullptr;
  if (proc != progressNow)
    entries.SetProgress(proc, nullptr);
  progressNow = proc;
}

int NetCommand(lua_State *L) {
  luaL_checkany(L, 1);
  FillBlock(L, 1);
  FlushOutput();
  ChooseProgress(L);
  lua_State *const outer = commandState;
  commandState = L;
  const std::int32_t code = entries.Command(block.data());
  commandState = outer;
  EndMeterLine();
  if (!progressError.empty()) {
    lua_pushlstring(L, progressError.data(), progressError.size());
    progressError.clear();
    return lua_error(L);
  }
  lua_pushinteger(L, code);
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

// JOB START with the texts: the new job's id, or nil and the host code.
int NetJob(lua_State *L) {
  luaL_checkany(L, 1);
  luaL_checkstack(L, 2, "too many arguments");
  lua_pushliteral(L, "START");
  lua_insert(L, 1);
  lua_pushliteral(L, "JOB");
  lua_insert(L, 1);
  FillBlock(L, 1);
  FlushOutput();
  const char *result = entries.Func(block.data());
  const std::int32_t code = entries.Stat();
  if (code == 0 && result && *result) {
    lua_pushinteger(L, static_cast<lua_Integer>(std::strtoll(result, nullptr, 10)));
    return 1;
  }
  lua_pushnil(L);
  lua_pushinteger(L, code);
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
        const int job = name == "JOB" ? CallOnJob(L) : -1;
        if (job != -1 && job != LUA_OK) {
          pendingEvents.insert(pendingEvents.begin(),
                               batch.begin() + static_cast<std::ptrdiff_t>(k + 1), batch.end());
          failed = true;
          break;
        }
        if (job == LUA_OK)
          continue;
        PushOnEvent(L);
        if (lua_isfunction(L, -1)) {
          lua_pushlstring(L, name.data(), name.size());
          if (lua_pcall(L, 1, 0, 0) != LUA_OK) {
            // Events after the failing one stay pending for the next wait.
            pendingEvents.insert(pendingEvents.begin(),
                                 batch.begin() + static_cast<std::ptrdiff_t>(k + 1), batch.end());
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

// When a wait of the given seconds ends: NaN and anything not above zero
// only look at what is pending; a wait longer than the clock can count lasts
// as long as it can.
std::chrono::steady_clock::time_point WaitDeadline(double seconds) {
  using Clock = std::chrono::steady_clock;
  const auto now = Clock::now();
  if (!(seconds > 0))
    return now;
  const double room = std::chrono::duration<double>(Clock::time_point::max() - now).count();
  if (seconds >= room / 2)
    return Clock::time_point::max();
  return now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int NetWait(lua_State *L) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = WaitDeadline(luaL_optnumber(L, 1, 0));
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
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
      break;
    FlushOutput();
    process(static_cast<int>(std::min<long long>(left, std::numeric_limits<int>::max())));
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
  // A C function is sure of 20 slots only; a fresh coroutine has no more.
  luaL_checkstack(L, argc + 2, "too many arguments");
  for (int i = 1; i <= argc; ++i)
    lua_pushvalue(L, lua_upvalueindex(3 + i));
  if (indexed)
    lua_pushinteger(L, n);
  FillBlock(L, 1);
  FlushOutput();
  const char *result = entries.Func(block.data());
  std::int32_t status = entries.Stat();
  // A line longer than one result comes in pieces, each asked for by the
  // same call, all but the last with code 242.
  std::string line = result ? result : "";
  while (status == 242) {
    result = entries.Func(block.data());
    status = entries.Stat();
    line += result ? result : "";
  }
  if (status != 0)
    return luaL_error(L, "line function failed with code %d", static_cast<int>(status));
  if (!result || line == "\r")
    return 0;
  lua_pushinteger(L, n + 1);
  lua_replace(L, lua_upvalueindex(1));
  lua_pushlstring(L, line.data(), line.size());
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

void PrintTrace(void *, int kind, const char *text) {
  EndMeterLine();
  const char mark = kind == SCRIPTNET_TRACE_SENT       ? '>'
                    : kind == SCRIPTNET_TRACE_RECEIVED ? '<'
                                                       : '*';
  std::fprintf(stderr, "%c %s\n", mark, text ? text : "");
}

// Lua closes a state before it unloads the C modules it loaded.
int CloseState(lua_State *) {
  if (--states == 0)
    nethost::UnloadLibrary();
  return 0;
}

int NetTrace(lua_State *L) {
  if (!nethost::SetTrace(lua_toboolean(L, 1)))
    return luaL_error(L, "this build of the library cannot trace");
  return 0;
}

} // namespace

namespace nethost {

std::string FindLibrary(const std::string &folder, const char *installed) {
  const std::string beside = folder + "libscriptnet.so";
  if (platform::PathExists(beside) || !installed || !platform::PathExists(folder + installed))
    return beside;
  return folder + installed;
}

bool LoadLibrary(const std::string &path, std::string &error) {
  if (library)
    return true;
  auto loaded = std::make_unique<platform::DynLib>();
  if (!loaded->Open(path)) {
    error = "cannot load " + path + ": " + loaded->Error();
    return false;
  }
  const auto init = reinterpret_cast<ScriptnetInitFn>(loaded->Symbol("Init"));
  Entries found;
  found.Command = reinterpret_cast<ScriptnetCommandFn>(loaded->Symbol("CommandProc"));
  found.Func = reinterpret_cast<ScriptnetFuncFn>(loaded->Symbol("FuncProc"));
  found.Stat = reinterpret_cast<ScriptnetStatFn>(loaded->Symbol("StatProc"));
  found.Process = reinterpret_cast<ScriptnetProcessFn>(loaded->Symbol("ProcessMessages"));
  found.SetTrace = reinterpret_cast<ScriptnetSetTraceFn>(loaded->Symbol("SetTraceProc"));
  found.SetProgress = reinterpret_cast<ScriptnetSetProgressFn>(loaded->Symbol("SetProgressProc"));
  if (!init || !found.Command || !found.Func || !found.Stat || !found.Process) {
    error = path + " lacks the library's entry points";
    return false;
  }
  std::int32_t unused = 0;
  const char *prefix = init(0, OnLibraryEvent, "", &unused, &blockSize);
  if (!prefix || blockSize <= 0) {
    error = "the library did not initialise";
    return false;
  }
  block.assign(static_cast<std::size_t>(blockSize), '\0');
  stderrWatched = platform::StandardErrorIsTerminal();
  entries = found;
  initEntry = init;
  library = loaded.release();
  // A CGI client that goes away must give a write error, not end the
  // process; a host that handles SIGPIPE itself keeps its handler.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  if (previous != SIG_DFL && previous != SIG_ERR)
    std::signal(SIGPIPE, previous);
  return true;
}

void UnloadLibrary() {
  if (!library)
    return;
  // Whatever the library reports while it shuts down has nowhere to go.
  SetTrace(false);
  if (entries.SetProgress)
    entries.SetProgress(nullptr, nullptr);
  progressNow = nullptr;
  std::int32_t unused = 0;
  initEntry(0, nullptr, "", &unused, &unused);
  delete library;
  library = nullptr;
  entries = Entries{};
}

void PushNet(lua_State *L) {
  lua_rawgetp(L, LUA_REGISTRYINDEX, &netKey);
  if (lua_istable(L, -1))
    return;
  lua_pop(L, 1);
  static const luaL_Reg functions[] = {
      {"command", NetCommand}, {"func", NetFunc}, {"status", NetStatus}, {"error", NetError},
      {"wait", NetWait},       {"stop", NetStop}, {"lines", NetLines},   {"events", NetEvents},
      {"trace", NetTrace},     {"job", NetJob},     {nullptr, nullptr}};
  luaL_newlib(L, functions);
  lua_pushvalue(L, -1);
  lua_rawsetp(L, LUA_REGISTRYINDEX, &netKey);
  // A value of the registry whose finaliser runs when the state is closed.
  lua_newuserdatauv(L, 0, 0);
  lua_createtable(L, 0, 1);
  lua_pushcfunction(L, CloseState);
  lua_setfield(L, -2, "__gc");
  lua_setmetatable(L, -2);
  luaL_ref(L, LUA_REGISTRYINDEX);
  ++states;
}

bool SetTrace(bool on) {
  if (!entries.SetTrace)
    return !on;
  std::fflush(stdout);
  entries.SetTrace(on ? PrintTrace : nullptr, nullptr);
  return true;
}

} // namespace nethost

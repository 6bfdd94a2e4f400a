// nethost: a small script host. It loads the library through its C entry
// points, exactly as any script host would, and gives Lua scripts the table
// `net` to call commands and functions and to receive events (see
// --help and nethost(1)).
#include "nethost/NetTable.h"
#include "platform/DynLib.h"
#include "platform/Environment.h"
#include "platform/Process.h"

#include <lua5.4/lua.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

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

constexpr const char *UsageText = "usage: nethost [OPTIONS] SCRIPT.lua [ARGS...]\n"
                                  "       nethost [OPTIONS] -e 'LUA CODE' [ARGS...]\n";

int Usage() {
  std::fputs(UsageText, stderr);
  return 2;
}

int Help() {
  std::fputs(UsageText, stdout);
  std::fputs("\n"
             "Runs a Lua 5.4 script with the table net of the scriptnet library.\n"
             "\n"
             "  -e CODE       run CODE instead of a script file\n"
             "  -v            print the protocol dialogue on standard error (as net.trace(true))\n"
             "  --lib PATH    load this build of libscriptnet.so instead of the installed one\n"
             "  -h, --help    print this text\n"
             "  --            end of options: the next argument is the script\n"
             "\n"
             "The script's arguments are in the table arg. See nethost(1): man nethost.\n",
             stdout);
  return 0;
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
  if (platform::GetEnvironmentVariable(Marker)) {
    platform::RemoveEnvironmentVariable(Marker);
    platform::RemoveEnvironmentVariable("GLIBC_TUNABLES");
    return;
  }
  if (platform::GetEnvironmentVariable("GLIBC_TUNABLES"))
    return;
  // By its own path, not /proc/self/exe, so the process keeps its name.
  const std::string self = platform::ProgramPath();
  if (self.empty())
    return;
  platform::PutEnvironmentVariable("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1");
  platform::PutEnvironmentVariable(Marker, "1");
  platform::ReplaceProcess(self, argv);
  // Not started again: run as we are.
  platform::RemoveEnvironmentVariable(Marker);
  platform::RemoveEnvironmentVariable("GLIBC_TUNABLES");
#else
  (void)argv;
#endif
}

int main(int argc, char **argv) {
  UseHugePagesForHeap(argv);
  std::string libraryPath;
  bool trace = false;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string option = argv[i];
    if (option == "--lib" && i + 1 < argc)
      libraryPath = argv[++i];
    else if (option == "-v")
      trace = true;
    else if (option == "-h" || option == "--help")
      return Help();
    else if (option == "--") {
      ++i;
      break;
    } else if (option != "-e")
      return Usage();
    else
      break;
  }
  if (i >= argc)
    return Usage();
  const bool inlineCode = std::strcmp(argv[i], "-e") == 0;
  if (inlineCode && i + 1 >= argc)
    return Usage();

  if (libraryPath.empty())
    libraryPath = nethost::FindLibrary(platform::ProgramFolder(), SCRIPTNET_INSTALLED_LIB);
  std::string error;
  if (!nethost::LoadLibrary(libraryPath, error)) {
    std::fprintf(stderr, "nethost: %s\n", error.c_str());
    return 1;
  }
  if (trace && !nethost::SetTrace(true)) {
    std::fprintf(stderr, "nethost: %s cannot trace\n", libraryPath.c_str());
    return 1;
  }

  lua_State *L = luaL_newstate();
  if (!L) {
    std::fprintf(stderr, "nethost: out of memory\n");
    return 1;
  }
  luaL_openlibs(L);
  nethost::PushNet(L);
  lua_setglobal(L, "net");

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
  // Closing the state unloads the library.
  lua_close(L);
  std::fflush(stdout);
  return status;
}

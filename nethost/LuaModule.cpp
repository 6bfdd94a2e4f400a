// The Lua module scriptnet: `local net = require "scriptnet"` in a stock
// Lua 5.4 interpreter gives the table net that nethost gives its scripts.
// The module loads the library through its C entry points, found beside the
// module (a build tree) or where an install puts it relative to the module.
#include "nethost/NetTable.h"
#include "platform/DynLib.h"

#include <lua5.4/lua.hpp>

#include <string>

extern "C" __attribute__((visibility("default"))) int luaopen_scriptnet(lua_State *L) {
  bool loaded = false;
  {
    const std::string path = nethost::FindLibrary(
        platform::ModuleFolder(reinterpret_cast<const void *>(&luaopen_scriptnet)),
        SCRIPTNET_INSTALLED_LIB);
    std::string error;
    loaded = nethost::LoadLibrary(path, error);
    if (!loaded)
      lua_pushfstring(L, "scriptnet: %s", error.c_str());
  }
  // Raised only once the texts above are gone: a Lua error does not unwind
  // C++ frames.
  if (!loaded)
    return lua_error(L);
  nethost::PushNet(L);
  return 1;
}

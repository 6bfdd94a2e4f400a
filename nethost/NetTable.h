#pragma once
// The table `net` that Lua scripts use, one implementation for nethost and
// for the Lua module `scriptnet`: both load the library through its C entry
// points, as any script host would, and turn Lua calls into argument blocks.
#include <string>

struct lua_State;

namespace nethost {

// Where the library is: beside the program or module in folder (a build
// tree), else at installed, a path relative to folder that an install lays
// out. The first that exists; the one beside when neither does.
std::string FindLibrary(const std::string &folder, const char *installed);
// Loads the library and initialises it; false with the reason in error. A
// library already loaded stays.
bool LoadLibrary(const std::string &path, std::string &error);
void UnloadLibrary();
// Pushes the table net, the same one for every call on a state. When the
// last state with a table net is closed, the library is unloaded.
void PushNet(lua_State *L);
// The protocol dialogue on standard error, as lines "> sent", "< received"
// and "* what happened"; false when the library cannot trace.
bool SetTrace(bool on);

} // namespace nethost

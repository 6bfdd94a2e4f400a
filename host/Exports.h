#pragma once
// The library's C entry points, as a script host calls them.
#include <cstdint>

#if defined(_WIN32)
#define SCRIPTNET_EXPORT __declspec(dllexport)
#else
#define SCRIPTNET_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
// Stores the host value and the event routine, writes 13 and the block size
// 65536 to the two out-places, creates the long-lived objects and returns
// "NET", the prefix under which the host routes commands to the library.
SCRIPTNET_EXPORT const char *Init(std::int32_t hostValue, void (*eventProc)(const char *),
                                  const char *text, std::int32_t *out1, std::int32_t *out2);
// Runs a command from a 65536-byte block of NUL-terminated texts; returns
// the host error code (0 = success).
SCRIPTNET_EXPORT std::int32_t CommandProc(const char *block);
// Runs a function; returns its NUL-terminated result, valid until the next call.
SCRIPTNET_EXPORT const char *FuncProc(const char *block);
// The error code of the last CommandProc or FuncProc call.
SCRIPTNET_EXPORT std::int32_t StatProc();
// For hosts without window messages: waits up to timeoutMs for socket
// notifications and dispatches every pending one; returns how many.
SCRIPTNET_EXPORT int ProcessMessages(int timeoutMs);
// A descriptor that is readable while notifications are pending; -1 when none.
SCRIPTNET_EXPORT int MessageFd();
}

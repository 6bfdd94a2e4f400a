/* scriptnet: the library's C entry points, as a script host calls them.
 *
 * A host loads libscriptnet.so (with dlopen, or by linking it), calls Init
 * once, then runs commands and functions from 65536-byte blocks of
 * NUL-terminated texts (name, subcommand, operands). The codes are those of
 * the scriptnet README and man page nethost(1). Plain C; C++ may include it
 * too. */
#ifndef SCRIPTNET_H
#define SCRIPTNET_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(SCRIPTNET_BUILDING)
#define SCRIPTNET_EXPORT __declspec(dllexport)
#else
#define SCRIPTNET_EXPORT __declspec(dllimport)
#endif
#else
#define SCRIPTNET_EXPORT __attribute__((visibility("default")))
#endif

/* The size of the argument block and of a function result with its NUL. */
#define SCRIPTNET_BLOCK_SIZE 65536

/* What a trace line tells (the second argument of a trace routine). */
#define SCRIPTNET_TRACE_SENT 0     /* a command or header line sent */
#define SCRIPTNET_TRACE_RECEIVED 1 /* a reply or header line received */
#define SCRIPTNET_TRACE_INFO 2     /* a connection opened or closed, data moved (sizes only) */

#ifdef __cplusplus
extern "C" {
#endif

/* Stores the host value and the event routine, writes 13 and the block size
 * 65536 to the two out-places, creates the long-lived objects and returns
 * "NET", the prefix under which the host routes commands to the library. A
 * second call only replaces the event routine. */
SCRIPTNET_EXPORT const char *Init(int32_t hostValue, void (*eventProc)(const char *),
                                  const char *text, int32_t *out1, int32_t *out2);
/* Runs a command from a 65536-byte block of NUL-terminated texts; returns
 * the host code (0 = success). */
SCRIPTNET_EXPORT int32_t CommandProc(const char *block);
/* Runs a function; returns its NUL-terminated result, valid until the next
 * call. */
SCRIPTNET_EXPORT const char *FuncProc(const char *block);
/* The code of the last CommandProc or FuncProc call; 0 before any. */
SCRIPTNET_EXPORT int32_t StatProc(void);
/* For hosts without window messages: waits up to timeoutMs for socket
 * notifications and dispatches every pending one; returns how many. */
SCRIPTNET_EXPORT int ProcessMessages(int timeoutMs);
/* A descriptor that is readable while notifications are pending; -1 when
 * there is none. */
SCRIPTNET_EXPORT int MessageFd(void);
/* While traceProc is set, the protocol clients report their dialogue to it,
 * one line a call, on the thread that runs the command: commands sent,
 * replies received, connections and data moved. Passwords and credentials
 * are masked; transferred data is summarised by its size, never shown. A
 * null traceProc ends tracing. context is handed back unchanged. A routine
 * set before Init takes effect when Init has created the objects. */
SCRIPTNET_EXPORT void SetTraceProc(void (*traceProc)(void *context, int kind, const char *text),
                                   void *context);

/* The entry points' types, for hosts that load the library with dlopen. */
typedef const char *(*ScriptnetInitFn)(int32_t, void (*)(const char *), const char *, int32_t *,
                                       int32_t *);
typedef int32_t (*ScriptnetCommandFn)(const char *);
typedef const char *(*ScriptnetFuncFn)(const char *);
typedef int32_t (*ScriptnetStatFn)(void);
typedef int (*ScriptnetProcessFn)(int);
typedef int (*ScriptnetMessageFdFn)(void);
typedef void (*ScriptnetSetTraceFn)(void (*)(void *, int, const char *), void *);

#ifdef __cplusplus
}
#endif

#endif

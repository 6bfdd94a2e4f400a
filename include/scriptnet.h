/* scriptnet: the library's C entry points, as a script host calls them.
 *
 * A host loads libscriptnet.so (with dlopen, or by linking it), calls Init
 * once, then runs commands and functions from 65536-byte blocks of
 * NUL-terminated texts (name, subcommand, operands). The codes are listed in
 * docs/scripting/README.md, the entry points in docs/embedding.md. Plain C;
 * C++ may include it too. */
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

/* The Windows API convention on 32-bit Windows, where the callee removes its
 * arguments; the DLL exports the names without decoration. Every other
 * system has only one convention. */
#if defined(_WIN32) && !defined(_WIN64)
#define SCRIPTNET_CALL __stdcall
#else
#define SCRIPTNET_CALL
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

/* The host's routine that receives each event name. */
typedef void(SCRIPTNET_CALL *ScriptnetEventProc)(const char *name);
/* The routine that receives trace lines (SetTraceProc). */
typedef void(SCRIPTNET_CALL *ScriptnetTraceProc)(void *context, int kind, const char *text);
/* The routine that receives progress reports (SetProgressProc). */
typedef void(SCRIPTNET_CALL *ScriptnetProgressProc)(void *context, const char *operation,
                                                    int64_t done, int64_t total);

/* Stores the host value and the event routine, writes 13 and the block size
 * 65536 to the two out-places, creates the long-lived objects and returns
 * "NET", the prefix under which the host routes commands to the library. A
 * second call only replaces the event routine. */
SCRIPTNET_EXPORT const char *SCRIPTNET_CALL Init(int32_t hostValue, ScriptnetEventProc eventProc,
                                                 const char *text, int32_t *out1, int32_t *out2);
/* Runs a command from a 65536-byte block of NUL-terminated texts; returns
 * the host code (0 = success). */
SCRIPTNET_EXPORT int32_t SCRIPTNET_CALL CommandProc(const char *block);
/* Runs a function; returns its NUL-terminated result, valid until the next
 * call. */
SCRIPTNET_EXPORT const char *SCRIPTNET_CALL FuncProc(const char *block);
/* The code of the last CommandProc or FuncProc call; 0 before any. */
SCRIPTNET_EXPORT int32_t SCRIPTNET_CALL StatProc(void);
/* For hosts without window messages: waits up to timeoutMs for socket
 * notifications and background jobs' records (the event "JOB") and
 * dispatches every pending one; returns how many. Events come only from
 * here (or, on Windows, from the host's message loop), on the host's thread,
 * never from a thread of the library's. */
SCRIPTNET_EXPORT int SCRIPTNET_CALL ProcessMessages(int timeoutMs);
/* A descriptor that is readable while notifications are pending; -1 when
 * there is none. */
SCRIPTNET_EXPORT int SCRIPTNET_CALL MessageFd(void);
/* While traceProc is set, the protocol clients report their dialogue to it,
 * one line a call, on the thread that runs the command: commands sent,
 * replies received, connections and data moved. Passwords and credentials
 * are masked; transferred data is summarised by its size, never shown. A
 * null traceProc ends tracing. context is handed back unchanged. A routine
 * set before Init takes effect when Init has created the objects. */
SCRIPTNET_EXPORT void SCRIPTNET_CALL SetTraceProc(ScriptnetTraceProc traceProc, void *context);

/* While progressProc is set, every transfer (HTTP and FTP DOWNLOAD and
 * UPLOAD, POP3 GETMAIL, SMTP SEND) reports how far it has come, on the thread
 * that runs the command: its subcommand name, the bytes moved so far and the
 * whole size, -1 while that is not known. A report when it starts, at most one
 * every tenth of a second, and one when the command ends (also when it
 * failed). A null progressProc ends the reports; one set before Init takes
 * effect when Init has created the objects. */
SCRIPTNET_EXPORT void SCRIPTNET_CALL SetProgressProc(ScriptnetProgressProc progressProc,
                                                     void *context);

/* The entry points' types, for hosts that load the library with dlopen. */
typedef const char *(SCRIPTNET_CALL *ScriptnetInitFn)(int32_t, ScriptnetEventProc, const char *,
                                                      int32_t *, int32_t *);
typedef int32_t(SCRIPTNET_CALL *ScriptnetCommandFn)(const char *);
typedef const char *(SCRIPTNET_CALL *ScriptnetFuncFn)(const char *);
typedef int32_t(SCRIPTNET_CALL *ScriptnetStatFn)(void);
typedef int(SCRIPTNET_CALL *ScriptnetProcessFn)(int);
typedef int(SCRIPTNET_CALL *ScriptnetMessageFdFn)(void);
typedef void(SCRIPTNET_CALL *ScriptnetSetTraceFn)(ScriptnetTraceProc, void *);
typedef void(SCRIPTNET_CALL *ScriptnetSetProgressFn)(ScriptnetProgressProc, void *);

#ifdef __cplusplus
}
#endif

#endif

#pragma once
// The process environment and its standard streams, as a CGI program sees them.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The whole value of a variable, or nothing when it is not set.
std::optional<std::string> GetEnvironmentVariable(const char *name);
// Sets a variable of this process, seen by the programs it starts; false
// when the system refuses.
bool PutEnvironmentVariable(const char *name, const char *value);
void RemoveEnvironmentVariable(const char *name);

enum class StreamResult { Ok, EndOfInput, Failed };
// Reads exactly count bytes of standard input (less only at its end or on failure).
StreamResult ReadStandardInput(std::size_t count, std::string &out);
// Reads one line of standard input without its line end (LF or CR LF).
StreamResult ReadStandardInputLine(std::string &out);
StreamResult WriteStandardOutput(std::string_view data);
// True when standard error is a terminal (a person watches it).
bool StandardErrorIsTerminal();

// What each system's file supplies to the streams above, which read input
// unbuffered (a host script that reads the rest of the input itself finds
// every byte not asked for still there).
namespace native {
// Up to size bytes of standard input: 0 at its end, -1 on failure. An
// interrupted read is tried again.
long ReadInput(char *buffer, std::size_t size);
// Writes some of data to standard output: how much, -1 on failure.
long WriteOutput(const char *data, std::size_t size);
} // namespace native

} // namespace platform

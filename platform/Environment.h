#pragma once
// The process environment and its standard streams, as a CGI program sees them.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The whole value of a variable, or nothing when it is not set.
std::optional<std::string> GetEnvironmentVariable(const char *name);

enum class StreamResult { Ok, EndOfInput, Failed };
// Reads exactly count bytes of standard input (less only at its end or on failure).
StreamResult ReadStandardInput(std::size_t count, std::string &out);
// Reads one line of standard input without its line end (LF or CR LF).
StreamResult ReadStandardInputLine(std::string &out);
StreamResult WriteStandardOutput(std::string_view data);
// True when standard error is a terminal (a person watches it).
bool StandardErrorIsTerminal();

} // namespace platform

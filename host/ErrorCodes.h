#pragma once
// Internal error numbers, set while a command or function runs, and their
// translation into the code the host sees.
#include <cstdint>

enum InternalError : std::int32_t {
  ErrNone = 0,
  ErrUnknownCommand = 1,     // host 14
  ErrUnknownSubcommand = 2,  // host 14
  ErrUnknownFunction = 3,    // host 13
  ErrUnknownSubfunction = 4, // host 13
  ErrConversion = 18,        // host 25
  ErrProtocol = 31,          // host 206
  ErrNoConnectionName = 32,  // host 232
  ErrNetFirst = 41,          // 41..61: host 211..231
  ErrNetLast = 61,
  ErrBadRequestMethod = 207, // unchanged
  ErrEndOfInput = 208,       // unchanged: standard input ended before what was asked for
  ErrStreamFailed = 209,     // unchanged: standard input or output failed
  ErrLocalFile = 240,        // unchanged: a local file could not be read or written
  ErrNoSuchEntry = 241,      // unchanged: an index that names no entry of a list
  ErrMoreFollows = 242,      // unchanged: a piece of a result too long for one; the same call gives the next
  ErrJobNotEnded = 243,      // unchanged: a background job taken before it has ended
  ErrTooManyJobs = 244,      // unchanged: a job started while too many are known
  ErrInternal = 250,         // unchanged: any other failure
};

constexpr std::int32_t TranslateError(std::int32_t internal) {
  switch (internal) {
  case ErrUnknownCommand:
  case ErrUnknownSubcommand:
    return 14;
  case ErrUnknownFunction:
  case ErrUnknownSubfunction:
    return 13;
  case ErrConversion:
    return 25;
  case ErrProtocol:
    return 206;
  case ErrNoConnectionName:
    return 232;
  default:
    return internal >= ErrNetFirst && internal <= ErrNetLast ? internal + 170 : internal;
  }
}

#pragma once
// Failures of local work that the dispatchers turn into host codes: a text
// that had to be a number (EConvertError) and a local file that could not be
// read or written (EFileError). Network failures are the ETcpIpError family.
#include <cstdint>
#include "platform/FileError.h"

#include <stdexcept>
#include <string>

class EConvertError : public std::runtime_error {
public:
  explicit EConvertError(const std::string &msg) : std::runtime_error(msg) {}
};

using EFileError = platform::EFileError;

// Something asked for at the wrong time or past a limit (a background job
// taken before it has ended, too many jobs): Code is the internal error
// number that says which.
class EStateError : public std::runtime_error {
public:
  EStateError(std::int32_t code, const std::string &msg) : std::runtime_error(msg), Code(code) {}
  std::int32_t Code;
};

// An index that names no entry of a list (an attachment of the last message
// read, for example).
class EListIndexError : public std::runtime_error {
public:
  explicit EListIndexError(const std::string &msg) : std::runtime_error(msg) {}
};

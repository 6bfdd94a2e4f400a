#pragma once
// Failures of local work that the dispatchers turn into host codes: a text
// that had to be a number (EConvertError) and a local file that could not be
// read or written (EFileError). Network failures are the ETcpIpError family.
#include <stdexcept>
#include <string>

class EConvertError : public std::runtime_error {
public:
  explicit EConvertError(const std::string &msg) : std::runtime_error(msg) {}
};

class EFileError : public std::runtime_error {
public:
  explicit EFileError(const std::string &msg) : std::runtime_error(msg) {}
};

// An index that names no entry of a list (an attachment of the last message
// read, for example).
class EListIndexError : public std::runtime_error {
public:
  explicit EListIndexError(const std::string &msg) : std::runtime_error(msg) {}
};

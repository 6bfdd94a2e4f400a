#pragma once
// The body of a request as pieces of text and local files, sent one after
// the other. Files are read as the body goes out, never held in memory, and
// can be read again when a redirection asks for the body once more.
#include "platform/FileStreams.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TConnection;

class TRequestBody {
public:
  // The body is this text alone.
  void SetText(std::string text);
  // Appends text (to the last piece when that is text).
  void AddText(std::string_view text);
  // The body is this file alone. Raises EFileError when it cannot be read.
  void SetFile(const std::string &path);
  // Appends a file. Raises EFileError when it cannot be read.
  void AddFile(const std::string &path);
  void Clear() { pieces_.clear(); }
  // Something was set, perhaps an empty text.
  bool IsSet() const { return !pieces_.empty(); }
  // Takes each file's size as it is now, for the Content-Length sent before
  // the body. Raises EFileError for a file that can no longer be read.
  void Measure();
  std::int64_t Size() const;
  // Text alone, no larger than size: it can go out with the header.
  bool TextNoLargerThan(std::int64_t size) const;
  // Sends every piece, each file up to the size Measure took. Raises
  // EFileError when a file cannot be read, ETcpIpError when one has shrunk
  // meanwhile (the peer would wait for bytes that never come).
  void SendTo(TConnection &conn) const;

private:
  struct TPiece {
    std::string Text;
    std::string Path; // empty for text
    std::int64_t Size = 0;
  };
  std::vector<TPiece> pieces_;
};

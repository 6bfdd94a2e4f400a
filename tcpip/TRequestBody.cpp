#include "tcpip/TRequestBody.h"

#include "tcpip/TConnection.h"

#include <algorithm>

void TRequestBody::SetText(std::string text) {
  pieces_.clear();
  pieces_.push_back({std::move(text), {}, 0});
}

void TRequestBody::AddText(std::string_view text) {
  if (pieces_.empty() || !pieces_.back().Path.empty())
    pieces_.push_back({});
  pieces_.back().Text += text;
}

void TRequestBody::SetFile(const std::string &path) {
  std::vector<TPiece> previous = std::move(pieces_);
  pieces_.clear();
  try {
    AddFile(path);
  } catch (...) {
    pieces_ = std::move(previous);
    throw;
  }
}

void TRequestBody::AddFile(const std::string &path) {
  const platform::FileReader file(path);
  pieces_.push_back({{}, path, file.Size()});
}

void TRequestBody::Measure() {
  for (TPiece &piece : pieces_)
    if (!piece.Path.empty())
      piece.Size = platform::FileReader(piece.Path).Size();
}

std::int64_t TRequestBody::Size() const {
  std::int64_t size = 0;
  for (const TPiece &piece : pieces_)
    size += piece.Path.empty() ? static_cast<std::int64_t>(piece.Text.size()) : piece.Size;
  return size;
}

bool TRequestBody::TextNoLargerThan(std::int64_t size) const {
  return std::all_of(pieces_.begin(), pieces_.end(),
                     [](const TPiece &piece) { return piece.Path.empty(); }) &&
         Size() <= size;
}

void TRequestBody::SendTo(TConnection &conn) const {
  // Files move in large pieces: fewer system calls on both sides.
  std::vector<char> buffer;
  for (const TPiece &piece : pieces_) {
    if (piece.Path.empty()) {
      conn.Send(piece.Text);
      continue;
    }
    platform::FileReader file(piece.Path);
    buffer.resize(256 * 1024);
    for (std::int64_t left = piece.Size; left > 0;) {
      const std::size_t n =
          file.Read(buffer.data(), static_cast<std::size_t>(
                                       std::min<std::int64_t>(left, std::ssize(buffer))));
      if (n == 0)
        throw ETcpIpError("File \"" + piece.Path + "\" became shorter while it was sent");
      conn.Send(buffer.data(), n);
      left -= static_cast<std::int64_t>(n);
    }
  }
}

#pragma once
// Local files read and written piece by piece, for transfers too large to
// hold in memory. Failures raise EFileError "Cannot open file "NAME": reason",
// as the whole-file functions do.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Writes into a temporary file beside the target; Commit renames it into
// place. Destroyed without Commit, it removes the temporary file, so a
// failed transfer never leaves anything under the target's name.
class FileWriter {
public:
  // How a part file already there is taken: started afresh or continued.
  enum TMode { Replace, Append };

  explicit FileWriter(const std::string &path);
  // Writes into partPath itself, from its start or after what it holds.
  // Destroyed without Commit, the writer leaves it as it is, for a broken
  // transfer to be resumed later; Commit renames it to path.
  FileWriter(const std::string &path, const std::string &partPath, TMode mode);
  ~FileWriter();
  FileWriter(const FileWriter &) = delete;
  FileWriter &operator=(const FileWriter &) = delete;

  void Write(const void *data, std::size_t count);
  void Commit();
  std::int64_t Written() const { return written_; }

private:
  std::string path_, temp_;
  int fd_ = -1;
  std::int64_t written_ = 0;
  bool keep_ = false;
};

class FileReader {
public:
  explicit FileReader(const std::string &path);
  ~FileReader();
  FileReader(const FileReader &) = delete;
  FileReader &operator=(const FileReader &) = delete;

  // Up to count bytes; 0 at the end.
  std::size_t Read(void *buffer, std::size_t count);
  std::int64_t Size() const { return size_; }

private:
  std::string path_;
  int fd_ = -1;
  std::int64_t size_ = 0;
};

} // namespace platform

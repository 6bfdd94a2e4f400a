// The file writer and reader of every system over each system's few file
// calls (FileStreamsNative.h).
#include "platform/FileStreams.h"

#include "platform/FileError.h"
#include "platform/FileStreamsNative.h"

#include <cstring>

namespace platform {

namespace {

[[noreturn]] void Fail(const std::string &path, int err) {
  throw EFileError("Cannot open file \"" + path + "\": " + std::strerror(err));
}

} // namespace

FileWriter::FileWriter(const std::string &path) : path_(path) {
  if (const int err = native::CreateBeside(path_, temp_, fd_))
    Fail(path_, err);
}

FileWriter::FileWriter(const std::string &path, const std::string &partPath, TMode mode)
    : path_(path), temp_(partPath), keep_(true) {
  if (const int err = native::OpenPart(partPath, mode, fd_))
    Fail(partPath, err);
}

FileWriter::~FileWriter() {
  if (fd_ >= 0) {
    native::CloseFile(fd_);
    if (!keep_)
      native::RemoveQuietly(temp_);
  }
}

void FileWriter::Write(const void *data, std::size_t count) {
  const char *p = static_cast<const char *>(data);
  while (count > 0) {
    const long n = native::WriteSome(fd_, p, count);
    if (n < 0)
      Fail(path_, static_cast<int>(-n));
    p += n;
    count -= static_cast<std::size_t>(n);
    written_ += n;
  }
}

void FileWriter::Commit() {
  const int err = native::CloseAndReplace(fd_, temp_, path_);
  fd_ = -1;
  if (err != 0) {
    if (!keep_)
      native::RemoveQuietly(temp_);
    Fail(path_, err);
  }
}

FileReader::FileReader(const std::string &path) : path_(path) {
  int err = native::OpenForReading(path_, fd_);
  if (err == 0 && (err = native::SizeOf(fd_, size_)) != 0) {
    native::CloseFile(fd_);
    fd_ = -1;
  }
  if (err != 0)
    Fail(path_, err);
}

FileReader::~FileReader() {
  if (fd_ >= 0)
    native::CloseFile(fd_);
}

std::size_t FileReader::Read(void *buffer, std::size_t count) {
  const long n = native::ReadSome(fd_, buffer, count);
  if (n < 0)
    Fail(path_, static_cast<int>(-n));
  return static_cast<std::size_t>(n);
}

} // namespace platform

// Files on Windows through the C library's descriptors: binary, not
// inherited, 64-bit sizes, names in the host's 8-bit code page as given.
#include "platform/FileStreams.h"

#include "platform/FileError.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace platform {

namespace {

[[noreturn]] void Fail(const std::string &path, int err) {
  throw EFileError("Cannot open file \"" + path + "\": " + std::strerror(err));
}

unsigned Chunk(std::size_t count) {
  return count > (1u << 30) ? 1u << 30 : static_cast<unsigned>(count);
}

// The C library's number for a failed Windows call, for the same texts as
// elsewhere.
int ErrnoOf(DWORD code) {
  switch (code) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND: return ENOENT;
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL: return ENOSPC;
  case ERROR_NOT_ENOUGH_MEMORY: return ENOMEM;
  default: return EACCES;
  }
}

} // namespace

FileWriter::FileWriter(const std::string &path) : path_(path) {
  // A name beside the target, made unique by trying: Commit replaces the
  // target with it whole, so a failed download leaves no half file.
  for (unsigned attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temp_ = path_ + ".part" + std::to_string(::GetCurrentProcessId()) + "_" +
            std::to_string(::GetTickCount64() % 1000000 + attempt);
    fd_ = ::_open(temp_.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
    if (fd_ < 0 && errno != EEXIST)
      Fail(path_, errno);
  }
  if (fd_ < 0)
    Fail(path_, EEXIST);
}

FileWriter::FileWriter(const std::string &path, const std::string &partPath, bool append)
    : path_(path), temp_(partPath), keep_(true) {
  fd_ = ::_open(partPath.c_str(),
                _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT | (append ? _O_APPEND : _O_TRUNC),
                _S_IREAD | _S_IWRITE);
  if (fd_ < 0)
    Fail(partPath, errno);
}

FileWriter::~FileWriter() {
  if (fd_ >= 0) {
    ::_close(fd_);
    if (!keep_)
      ::DeleteFileA(temp_.c_str());
  }
}

void FileWriter::Write(const void *data, std::size_t count) {
  const char *p = static_cast<const char *>(data);
  while (count > 0) {
    const int n = ::_write(fd_, p, Chunk(count));
    if (n < 0)
      Fail(path_, errno);
    p += n;
    count -= static_cast<std::size_t>(n);
    written_ += n;
  }
}

void FileWriter::Commit() {
  int err = ::_close(fd_) != 0 ? errno : 0;
  fd_ = -1;
  if (err == 0 && !::MoveFileExA(temp_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING))
    err = ErrnoOf(::GetLastError());
  if (err != 0) {
    if (!keep_)
      ::DeleteFileA(temp_.c_str());
    Fail(path_, err);
  }
}

FileReader::FileReader(const std::string &path) : path_(path) {
  fd_ = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd_ < 0) {
    // Windows refuses to open a folder with EACCES; say what it is.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    const bool folder =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    Fail(path_, folder ? EISDIR : errno);
  }
  struct _stati64 st {};
  if (::_fstati64(fd_, &st) != 0) {
    const int err = errno;
    ::_close(fd_);
    fd_ = -1;
    Fail(path_, err);
  }
  size_ = st.st_size;
}

FileReader::~FileReader() {
  if (fd_ >= 0)
    ::_close(fd_);
}

std::size_t FileReader::Read(void *buffer, std::size_t count) {
  const int n = ::_read(fd_, buffer, Chunk(count));
  if (n < 0)
    Fail(path_, errno);
  return static_cast<std::size_t>(n);
}

} // namespace platform

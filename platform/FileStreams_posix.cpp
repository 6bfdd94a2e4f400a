#include "platform/FileStreams.h"

#include "platform/FileError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

[[noreturn]] void Fail(const std::string &path, int err) {
  throw EFileError("Cannot open file \"" + path + "\": " + std::strerror(err));
}

} // namespace

FileWriter::FileWriter(const std::string &path) : path_(path), temp_(path + ".partXXXXXX") {
  fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ < 0)
    Fail(path_, errno);
}

FileWriter::FileWriter(const std::string &path, const std::string &partPath, bool append)
    : path_(path), temp_(partPath), keep_(true) {
  fd_ = ::open(partPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC),
               0666);
  if (fd_ < 0)
    Fail(partPath, errno);
}

FileWriter::~FileWriter() {
  if (fd_ >= 0) {
    ::close(fd_);
    if (!keep_)
      ::unlink(temp_.c_str());
  }
}

void FileWriter::Write(const void *data, std::size_t count) {
  const char *p = static_cast<const char *>(data);
  while (count > 0) {
    const ssize_t n = ::write(fd_, p, count);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      Fail(path_, errno);
    }
    p += n;
    count -= static_cast<std::size_t>(n);
    written_ += n;
  }
}

void FileWriter::Commit() {
  // New files get the usual permissions (mkostemp creates them 0600).
  const mode_t mask = ::umask(0);
  ::umask(mask);
  int err = 0;
  if (::fchmod(fd_, 0666 & ~mask) != 0)
    err = errno;
  if (::close(fd_) != 0 && err == 0)
    err = errno;
  fd_ = -1;
  if (err == 0 && ::rename(temp_.c_str(), path_.c_str()) != 0)
    err = errno;
  if (err != 0) {
    if (!keep_)
      ::unlink(temp_.c_str());
    Fail(path_, err);
  }
}

FileReader::FileReader(const std::string &path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0)
    Fail(path_, errno);
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd_);
    fd_ = -1;
    Fail(path_, err);
  }
  size_ = st.st_size;
}

FileReader::~FileReader() {
  if (fd_ >= 0)
    ::close(fd_);
}

std::size_t FileReader::Read(void *buffer, std::size_t count) {
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, count);
    if (n >= 0)
      return static_cast<std::size_t>(n);
    if (errno != EINTR)
      Fail(path_, errno);
  }
}

} // namespace platform

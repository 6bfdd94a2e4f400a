#include "platform/FileStreamsNative.h"

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::native {

int CreateBeside(const std::string &path, std::string &temp, int &fd) {
  temp = path + ".partXXXXXX";
  fd = ::mkostemp(temp.data(), O_CLOEXEC);
  return fd < 0 ? errno : 0;
}

int OpenPart(const std::string &partPath, FileWriter::TMode mode, int &fd) {
  fd = ::open(partPath.c_str(),
              O_WRONLY | O_CREAT | O_CLOEXEC | (mode == FileWriter::Append ? O_APPEND : O_TRUNC), 0666);
  return fd < 0 ? errno : 0;
}

int OpenForReading(const std::string &path, int &fd) {
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd < 0 ? errno : 0;
}

int SizeOf(int fd, std::int64_t &size) {
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    return errno;
  if (S_ISDIR(st.st_mode))
    return EISDIR;
  size = st.st_size;
  return 0;
}

namespace {

// A read or write, again while a signal interrupts it.
template <typename Call> long Retried(Call call) {
  for (;;) {
    const ssize_t n = call();
    if (n >= 0)
      return n;
    if (errno != EINTR)
      return -errno;
  }
}

} // namespace

long WriteSome(int fd, const char *data, std::size_t count) {
  return Retried([&] { return ::write(fd, data, count); });
}

long ReadSome(int fd, void *buffer, std::size_t count) {
  return Retried([&] { return ::read(fd, buffer, count); });
}

void CloseFile(int fd) { ::close(fd); }

int CloseAndReplace(int fd, const std::string &temp, const std::string &path) {
  // New files get the usual permissions (mkostemp creates them 0600).
  const mode_t mask = ::umask(0);
  ::umask(mask);
  int err = 0;
  if (::fchmod(fd, 0666 & ~mask) != 0)
    err = errno;
  if (::close(fd) != 0 && err == 0)
    err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
    err = errno;
  return err;
}

void RemoveQuietly(const std::string &path) { ::unlink(path.c_str()); }

} // namespace platform::native

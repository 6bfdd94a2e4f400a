#include "platform/Files.h"

#include "platform/FileError.h"
#include "platform/Memory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

[[noreturn]] void Fail(const std::string &path, int err) {
  throw EFileError("Cannot open file \"" + path + "\": " + std::strerror(err));
}

} // namespace

std::string ReadWholeFile(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    Fail(path, errno);
  struct stat st{};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    Fail(path, EISDIR);
  }
  std::string data;
  if (st.st_size > 0) {
    data.reserve(static_cast<std::size_t>(st.st_size));
    PrepareLargeWrite(data.data(), data.capacity());
  }
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0)
      break;
    if (n < 0) {
      if (errno == EINTR)
        continue;
      const int err = errno;
      ::close(fd);
      Fail(path, err);
    }
    data.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return data;
}

void WriteWholeFile(const std::string &path, std::string_view data) {
  std::string temp = path + ".partXXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0)
    Fail(path, errno);
  std::size_t done = 0;
  int err = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      err = errno;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  // New files get the usual permissions (mkostemp creates them 0600).
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (err == 0 && ::fchmod(fd, 0666 & ~mask) != 0)
    err = errno;
  if (::close(fd) != 0 && err == 0)
    err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
    err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    Fail(path, err);
  }
}

void RemoveFile(const std::string &path) { ::unlink(path.c_str()); }

std::string SystemPublicSuffixList() { return "/usr/share/publicsuffix/public_suffix_list.dat"; }

} // namespace platform

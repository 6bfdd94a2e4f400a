// Files on Windows through the C library's descriptors: binary, not
// inherited, 64-bit sizes, names in the host's 8-bit code page as given.
#include "platform/FileStreamsNative.h"

#include <windows.h>

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace platform::native {

namespace {

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

int CreateBeside(const std::string &path, std::string &temp, int &fd) {
  // A name made unique by trying: the C library has no mkstemp here.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    temp = path + ".part" + std::to_string(::GetCurrentProcessId()) + "_" +
           std::to_string(::GetTickCount64() % 1000000 + attempt);
    fd = ::_open(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
    if (fd >= 0)
      return 0;
    if (errno != EEXIST)
      return errno;
  }
  return EEXIST;
}

int OpenPart(const std::string &partPath, FileWriter::TMode mode, int &fd) {
  fd = ::_open(partPath.c_str(),
               _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT |
                   (mode == FileWriter::Append ? _O_APPEND : _O_TRUNC),
               _S_IREAD | _S_IWRITE);
  return fd < 0 ? errno : 0;
}

int OpenForReading(const std::string &path, int &fd) {
  fd = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd >= 0)
    return 0;
  // Windows refuses to open a folder with EACCES; say what it is.
  const int err = errno;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  const bool folder =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  return folder ? EISDIR : err;
}

int SizeOf(int fd, std::int64_t &size) {
  struct _stati64 st {};
  if (::_fstati64(fd, &st) != 0)
    return errno;
  size = st.st_size;
  return 0;
}

long WriteSome(int fd, const char *data, std::size_t count) {
  const int n = ::_write(fd, data, Chunk(count));
  return n < 0 ? -errno : n;
}

long ReadSome(int fd, void *buffer, std::size_t count) {
  const int n = ::_read(fd, buffer, Chunk(count));
  return n < 0 ? -errno : n;
}

void CloseFile(int fd) { ::_close(fd); }

int CloseAndReplace(int fd, const std::string &temp, const std::string &path) {
  if (::_close(fd) != 0)
    return errno;
  if (!::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
    return ErrnoOf(::GetLastError());
  return 0;
}

void RemoveQuietly(const std::string &path) { ::DeleteFileA(path.c_str()); }

} // namespace platform::native

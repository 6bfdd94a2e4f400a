#pragma once
// The few file calls each system's FileStreams file supplies; what the
// writer and reader do with them is in FileStreams.cpp. Each returns 0 or
// the C library's number (errno) of what failed, for the same texts on
// every system. Included by the FileStreams files of platform/ alone.
#include "platform/FileStreams.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::native {

// A new file beside path, under a name no other file has (path + ".part"
// and something unique), which goes into temp.
int CreateBeside(const std::string &path, std::string &temp, int &fd);
int OpenPart(const std::string &partPath, FileWriter::TMode mode, int &fd);
int OpenForReading(const std::string &path, int &fd);
// The size of the file open as fd; EISDIR for a folder.
int SizeOf(int fd, std::int64_t &size);
// The bytes moved (0 at a file's end when reading), or minus the error.
long WriteSome(int fd, const char *data, std::size_t count);
long ReadSome(int fd, void *buffer, std::size_t count);
void CloseFile(int fd);
// Closes fd and puts temp in place of path, replacing what is there.
int CloseAndReplace(int fd, const std::string &temp, const std::string &path);
void RemoveQuietly(const std::string &path);

} // namespace platform::native

// Whole files on Windows, through the same reader and writer as streamed
// ones: binary, 64-bit sizes, the target replaced only when all is written.
#include "platform/Files.h"

#include "platform/FileStreams.h"

#include <windows.h>

namespace platform {

std::string ReadWholeFile(const std::string &path) {
  FileReader reader(path);
  std::string data;
  if (reader.Size() > 0)
    data.reserve(static_cast<std::size_t>(reader.Size()));
  char buf[65536];
  while (const std::size_t n = reader.Read(buf, sizeof buf))
    data.append(buf, n);
  return data;
}

void WriteWholeFile(const std::string &path, std::string_view data) {
  FileWriter writer(path);
  writer.Write(data.data(), data.size());
  writer.Commit();
}

void RemoveFile(const std::string &path) { ::DeleteFileA(path.c_str()); }

std::string SystemPublicSuffixList() { return {}; }

} // namespace platform

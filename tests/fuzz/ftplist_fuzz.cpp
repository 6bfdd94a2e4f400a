// The listing parser on any line, and GetDirEntry on any listing: no crash,
// and every entry it reports has a name and a kind it knows.
#include "ip_misc/TStringList.h"
#include "tcpip/FtpListParser.h"
#include "tcpip/T_FTP.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  // A fixed "now", so a finding replays the same way.
  const TDateTime now = 46364.5;
  for (const std::string &line : SplitLines(text)) {
    const t_filedata rec = ParseDirLine(line, now);
    if (rec.Kind > fkLink || (rec.Kind != fkNone && rec.Name.empty()) || rec.Size < 0)
      std::abort();
  }
  static T_FTP ftp;
  ftp.DirListing = SplitLines(text);
  ftp.DirIndex = 0;
  t_filedata rec;
  for (std::size_t guard = 0; guard <= ftp.DirListing.size(); ++guard) {
    ftp.GetDirEntry(rec);
    if (rec.Kind == fkNone)
      break;
    if (rec.Name == "." || rec.Name == "..")
      std::abort();
  }
  return 0;
}

#pragma once
// Local files read and written whole. Failures raise EFileError with the
// message "Cannot open file "NAME": reason".
#include <string>
#include <string_view>

namespace platform {

std::string ReadWholeFile(const std::string &path);
// Writes to a temporary file beside the target and renames it into place, so
// a failed write never leaves a half-written file under the target's name.
void WriteWholeFile(const std::string &path, std::string_view data);
// Removes a file if it is there; never raises.
void RemoveFile(const std::string &path);
// The system's copy of the public-suffix list (Debian's publicsuffix
// package); empty where the system keeps none.
std::string SystemPublicSuffixList();

} // namespace platform

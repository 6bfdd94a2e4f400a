#pragma once
// Conversion of text in a named character set to UTF-8, by the system's
// converter.
#include <string>
#include <string_view>

namespace platform {

// Appends text, written in charset (a MIME name such as "ISO-2022-JP" or
// "koi8-r"), to utf8 as UTF-8; a byte sequence that is not valid in the set
// becomes U+FFFD. False, appending nothing, when the system does not know
// the set.
bool AppendAsUtf8(std::string_view charset, std::string_view text, std::string &utf8);

} // namespace platform

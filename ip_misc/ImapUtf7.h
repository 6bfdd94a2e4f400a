#pragma once
// Folder names on the IMAP wire: modified UTF-7 (RFC 3501, 5.1.3), where
// printable ASCII stands for itself, "&" is written "&-", and everything
// else is UTF-16 in base64 (with "," for "/") between "&" and "-".
#include <string>
#include <string_view>

// A script's folder name (UTF-8; a text that is not is read as
// Windows-1252, as every script text is) in modified UTF-7.
std::string EncodeImapUtf7(std::string_view name);
// A name off the wire in UTF-8. A name that is not well-formed modified
// UTF-7 (a server that sends UTF-8 itself, or stray "&") comes back as it
// stands, so nothing of it is lost.
std::string DecodeImapUtf7(std::string_view name);

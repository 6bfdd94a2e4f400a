#pragma once
// Text in mail headers beyond ASCII: character sets, encoded words
// (RFC 2047), parameters with continuations and character sets (RFC 2231),
// and file names a received part may be saved under.
//
// The texts a script gives are taken to be UTF-8; a text that is not valid
// UTF-8 is taken to be Windows-1252 (Latin-1 with the printable characters
// Windows puts at 128 to 159), so that nothing a script writes is lost.
#include <string>
#include <string_view>
#include <vector>

bool IsAscii(std::string_view text);
// Appends the character c (up to U+10FFFF) in UTF-8.
void AppendUtf8(std::string &out, char32_t c);
bool IsUtf8(std::string_view text);
// The MIME name of the set a script's text is taken to be in: "UTF-8" or
// "windows-1252".
std::string_view ScriptCharset(std::string_view text);
// Text written in charset (any case, an RFC 2231 language suffix allowed)
// as UTF-8. Text of no named set is taken as a script's text is; in a set
// the system does not know, and in UTF-8 or ASCII, a byte that begins no
// valid UTF-8 character becomes U+FFFD, as Python's email package has it.
std::string ToUtf8(std::string_view text, std::string_view charset);

// Every encoded word ("=?charset?B?...?=" or "?Q?") decoded and the whole
// text given in UTF-8 (text outside the words taken as a script's text);
// blanks between two encoded words dropped, words that are not well formed
// kept as they stand.
std::string DecodeWords(std::string_view text);

// "Name: value" for a header of free text (Subject): unchanged when the
// value is ASCII, otherwise the value as encoded words of at most 75
// characters, folded so that no line passes 76 characters.
std::string TextHeader(std::string_view name, std::string_view value);
// The same for a header of addresses (From, To, CC, Reply-To): only the
// display names that are not ASCII are encoded; addresses stay as written.
std::string AddressHeader(std::string_view name, std::string_view value);

// One parameter of a header value such as
// `attachment; filename="a.txt"` or `text/plain; charset=utf-8`.
struct HeaderParam {
  std::string Name; // lower case
  std::string Value; // quotes and escapes removed
};
// The parameters after the first ";" of a header value, in order.
std::vector<HeaderParam> HeaderParams(std::string_view value);
// The value of parameter name (lower case) in UTF-8: from the RFC 2231
// form (name*, or the pieces name*0, name*1*, ... with the character set of
// the first) when there is one, else from the plain form with its encoded
// words decoded; empty when the value has neither.
std::string ParamText(std::string_view value, std::string_view name);
// The Content-Type and Content-Disposition values of an outgoing file part
// named fileName (no folder): the forms used so far for an ASCII name; for
// any other, filename* (RFC 2231, in pieces on folded lines when long) and,
// for readers that know no RFC 2231, an encoded-word name on the type.
void FilePartHeaders(std::string_view fileName, std::string &contentType,
                     std::string &disposition);

// A received part's name made fit to save: any folder part removed,
// characters that are not allowed or not safe in a file name (control
// characters, / \ : * ? " < > |) replaced by "_", a name of dots only made
// of "_", a name Windows keeps for a device (CON, NUL.txt, COM1, ...) given a
// leading "_", and cut at 255 bytes on a character boundary.
std::string SafeFileName(std::string_view name);

#pragma once
// Stateless coders and text helpers shared by the protocol clients: base64
// and quoted-printable, mail dates and zones, address extraction, text
// positions, and the local host's name and address. Positions are 1-based,
// 0 meaning "not found".
#include "ip_misc/DateTime.h"
#include "ip_misc/TLineText.h"
#include "ip_misc/TMemoryStream.h"
#include "ip_misc/TStringList.h"
#include "platform/Socket.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// n > 0: position of the last character of the n-th occurrence of pattern
// (occurrences counted from the start, without overlap); greater than the
// length of text when there are fewer than n. n = -1: position of the start
// of the last occurrence, 0 when there is none.
std::size_t PosN(std::string_view pattern, std::string_view text, int n);

// The text after the last "\" or "/", else after the last ":", else the whole path.
std::string PathFileName(std::string_view path);

// The value of a hexadecimal digit in either case; -1 for any other character.
int HexValue(char c);

// Base64 (RFC 2045) of count bytes, count 0 to 45, padded with "=".
std::string EncodeLine(const unsigned char *bytes, std::size_t count);
// The whole stream from its start, 45 bytes to a line of 60 characters.
TStringList EncodeBase64Lines(TMemoryStream &stream);
// One line on its own; characters outside the alphabet are skipped and the
// first "=" ends the data.
std::string DecodeLine(std::string_view text);
// The lines decoded and appended to out; the position is left at the end.
// Line ends are ignored (a group of four characters may be split over two
// lines), and "=" ends the data of its line: lines of whole groups are each
// decoded on their own, and padded pieces one after another all decode.
void DecodeBase64Lines(const TStringList &lines, TMemoryStream &out);
// Whole buffers at once, for bodies and attachments. Base64Encode adds no
// line breaks; Base64DecodeText gives what DecodeBase64Lines gives for the
// text split at its line ends (CR LF, LF or CR).
std::string Base64Encode(std::string_view data);
std::string Base64DecodeText(std::string_view text);
// The 60-character lines of EncodeBase64Lines as one text, joined by CR LF
// (none after the last): a large attachment in one buffer instead of a
// string per line.
std::string Base64EncodeLines(std::string_view data);
// The same lines appended to out, for a coder that sends a large
// attachment piece by piece: pieces of whole lines (multiples of 45 bytes)
// joined by CR LF give what the whole gives.
void Base64AppendLines(std::string_view data, std::string &out);
// The lines of a base64 part decoded into one buffer, as DecodeBase64Lines
// decodes them: a group may run on over a line end, characters outside the
// alphabet are skipped, and "=" ends the data of its line, so that a part
// whose lines are each padded decodes every line.
std::string Base64DecodePart(std::span<const std::string> lines);
// Lines [first, last) of a text.
std::string Base64DecodePart(const TLineText &text, std::size_t first, std::size_t last);

// The same decoding of a part in pieces, as its lines come: each call
// decodes more of its lines onto the end of out, going on with the group
// the last call left unfinished, so that the pieces give what the whole
// part gives.
class TBase64LineDecoder {
public:
  void Decode(std::span<const std::string> lines, std::string &out);
  void Decode(const TLineText &text, std::size_t first, std::size_t last, std::string &out);

private:
  std::uint32_t bits_ = 0;
  int count_ = 0;
};

// Quoted-printable (RFC 2045) of one text line: "=", bytes of 128 and more,
// control characters other than TAB, and trailing blanks escaped, broken into lines of at
// most 76 characters with soft line breaks ("=" at the end of a line).
TStringList QPEncode(std::string_view line);
// A whole text, its lines split at LF or CR LF, encoded line by line; line
// ends and soft line breaks are written as CR LF.
std::string QPEncodeText(std::string_view text);
// One encoded line: blanks at its end (added in transport) dropped, escapes
// decoded (either letter case); a malformed escape keeps its "=". A final "="
// (soft line break) is kept; QPDecodeLines joins such lines.
std::string QPDecode(std::string_view line);
// Encoded lines to text lines: escapes decoded and every line that ends in a
// soft line break joined with the next.
TStringList QPDecodeLines(const TStringList &lines);

// Form data decoding in one pass: "+" is a blank and "%XX" the byte XX
// (either letter case; a single digit at the very end counts too), so
// "%2525" is "%25". Raises EConvertError for a "%" followed by characters
// that are not hexadecimal digits, or by nothing.
std::string UrlDecode(std::string_view text);

// The n-th mail address (n >= 1) of a text of addresses separated by
// blanks, commas or semicolons, without quotes, brackets or parentheses
// around it; empty when there is none.
std::string ExtractAddress(std::string_view text, int n);

// The canonical name of the local host ("127.0.0.1" when it has none).
std::string LocalHostName();
// The first IPv4 address of the local host name, network byte order;
// 127.0.0.1 when the name does not resolve.
std::uint32_t LocalIPAddress();
// An address in network byte order as dotted decimal text.
std::string DottedAddress(std::uint32_t address);
// A dotted address or a host name to an address in network byte order; all
// 32 bits set when neither gives one.
std::uint32_t ResolveHost(std::string_view host);
constexpr std::uint32_t INADDR_NONE_VALUE = 0xFFFFFFFFu;
// Every address of a host, in the order to try them: a numeric IPv4 or
// IPv6 address (brackets around it allowed) alone, else what the name
// service gives, IPv6 and IPv4. Empty when there is none.
std::vector<platform::SocketAddress> ResolveAddresses(std::string_view host);
// The local host's address: its name's first IPv4 address, else its first
// IPv6 one; 127.0.0.1 when the name does not resolve.
platform::SocketAddress LocalAddress();

// Minutes to add to local time to obtain UTC.
int TimeZoneBias();
std::string ZeroPad(std::int64_t value, int width);
// "GMT", or "+hhmm" east of UTC, "-hhmm" west of it.
std::string ZoneText();
// "Tue, 8 Dec 2026 04:38:41 +0100".
std::string MailDate(TDateTime t);

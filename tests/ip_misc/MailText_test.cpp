#include "ip_misc/MailText.h"

#include "ip_misc/ip_misc.h"

#include <gtest/gtest.h>

namespace {

// The header's value as a reader sees it: folds undone, encoded words
// decoded; and every line no longer than 76 characters.
std::string ReadBack(const std::string &header) {
  std::string unfolded;
  std::size_t at = 0;
  for (;;) {
    const std::size_t end = header.find("\r\n", at);
    const std::string line = header.substr(at, end == std::string::npos ? end : end - at);
    EXPECT_LE(line.size(), 76u) << line;
    unfolded += line;
    if (end == std::string::npos)
      break;
    at = end + 2;
  }
  return DecodeWords(unfolded.substr(unfolded.find(':') + 2));
}

} // namespace

TEST(MailText, EncodedWordsDecodeToUtf8) {
  // The examples of RFC 2047: blanks between two words vanish, others stay.
  EXPECT_EQ(DecodeWords("(=?ISO-8859-1?Q?a?= b)"), "(a b)");
  EXPECT_EQ(DecodeWords("(=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=)"), "(ab)");
  EXPECT_EQ(DecodeWords("(=?ISO-8859-1?Q?a?=\r\n    =?ISO-8859-1?Q?b?=)"), "(ab)");
  EXPECT_EQ(DecodeWords("(=?ISO-8859-1?Q?a_b?=)"), "(a b)");
  EXPECT_EQ(DecodeWords("=?US-ASCII*EN?Q?Keith_Moore?= <moore@cs.utk.edu>"),
            "Keith Moore <moore@cs.utk.edu>");
  EXPECT_EQ(DecodeWords("=?ISO-8859-1?Q?Andr=E9?= Pirard"), "Andr\xC3\xA9 Pirard");
  // Sets the system converts, B and Q in either case.
  EXPECT_EQ(DecodeWords("=?koi8-r?b?8NLJ18XU?="), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
  // A character split between two words of one set is joined again.
  EXPECT_EQ(DecodeWords("=?UTF-8?B?w6E=?= =?UTF-8?Q?=C3?= =?utf-8?q?=A9?="), "\xC3\xA1\xC3\xA9");
  // Raw bytes that are not UTF-8 are read as Windows-1252; words that are
  // not well formed stay as they stand; in an unknown set or in UTF-8,
  // bytes that are no UTF-8 become U+FFFD.
  EXPECT_EQ(DecodeWords("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(DecodeWords("=?UTF-8?X?abc?= =? =?UTF-8?B?YQ"), "=?UTF-8?X?abc?= =? =?UTF-8?B?YQ");
  EXPECT_EQ(DecodeWords("=?x-no-such-set?Q?=C3=A9=E9?= =?utf-8?q?=FF?="),
            "\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(DecodeWords(""), "");
}

// A set whose bytes switch meaning at escape sequences.
TEST(MailText, Iso2022JpDecodesToUtf8) {
  EXPECT_EQ(DecodeWords("=?ISO-2022-JP?B?GyRCJEskWyRzGyhC?="), "\xE3\x81\xAB\xE3\x81\xBB\xE3\x82\x93");
}

TEST(MailText, ParametersWithContinuationsAndCharacterSets) {
  // The example of RFC 2231, pieces encoded and plain.
  const std::string rfc = "attachment; filename*0*=us-ascii'en'This%20is%20even%20more%20;\r\n"
                          " filename*1*=%2A%2A%2Afun%2A%2A%2A%20; filename*2=\"isn't it!\"";
  EXPECT_EQ(ParamText(rfc, "filename"), "This is even more ***fun*** isn't it!");
  // filename* wins over filename, in any order; pieces stop at a gap.
  EXPECT_EQ(ParamText("attachment; filename=\"old.txt\"; filename*=iso-8859-1''caf%E9.txt",
                      "filename"),
            "caf\xC3\xA9.txt");
  EXPECT_EQ(ParamText("a; filename*0=one; filename*2=three", "filename"), "one");
  // The plain form with encoded words, quoted or not; nothing at all.
  EXPECT_EQ(ParamText("a; junk; filename=\"=?UTF-8?B?w6kudHh0?=\"", "filename"), "\xC3\xA9.txt");
  EXPECT_EQ(ParamText("text/plain; name=a\\\"b.txt ; charset=x", "name"), "a\\\"b.txt");
  EXPECT_EQ(ParamText("attachment", "filename"), "");

  // Names fit to save: no folders, nothing unsafe, never only dots.
  EXPECT_EQ(SafeFileName("..\\..\\Windows\\evil:name?.txt"), "evil_name_.txt");
  EXPECT_EQ(SafeFileName("/etc/passwd"), "passwd");
  EXPECT_EQ(SafeFileName("a\tb\x7F<c>|\"d*.txt"), "a_b__c___d_.txt");
  EXPECT_EQ(SafeFileName("../.."), "__");
  EXPECT_EQ(SafeFileName("x/"), "");
  const std::string cut = SafeFileName(std::string(254, 'a') + "\xC3\xA9");
  EXPECT_EQ(cut, std::string(254, 'a'));
  // Windows opens a device for these, whatever the extension or case.
  for (const char *device : {"CON", "nul.txt", "Com1.tar.gz", "LPT9 .txt", "aux", "PRN.",
                             "CONIN$", "conout$.log", "COM\xC2\xB9", "lpt0"})
    EXPECT_EQ(SafeFileName(device), std::string("_") + device) << device;
  for (const char *plain : {"CONSOLE.txt", "COM10", "xCON", "con_.txt", "LPT", "NULL"})
    EXPECT_EQ(SafeFileName(plain), plain);
  EXPECT_EQ(SafeFileName("CON" + std::string(300, 'x')).size(), 255u);
}

TEST(MailText, HeadersBeyondAsciiGoOutAsEncodedWords) {
  // ASCII goes out as written.
  EXPECT_EQ(TextHeader("Subject", "plain = text"), "Subject: plain = text");
  EXPECT_EQ(AddressHeader("To", "A <a@x.org>, b@x.org"), "To: A <a@x.org>, b@x.org");

  const std::string subject = "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80 " + std::string(60, 'x') +
                              " \xE2\x80\x94 \xE2\x80\x94 \xE2\x80\x94 \xE2\x80\x94 \xE2\x80\x94 end";
  const std::string encoded = TextHeader("Subject", subject);
  EXPECT_TRUE(encoded.starts_with("Subject: =?UTF-8?B?"));
  EXPECT_EQ(ReadBack(encoded), subject);
  // Text that is not UTF-8 is Windows-1252.
  EXPECT_EQ(TextHeader("Subject", "caf\xE9"), "Subject: =?windows-1252?B?Y2Fm6Q==?=");

  // Only the names are encoded; a name that fits one word is not split.
  const std::string to = AddressHeader(
      "To", "J\xC3\xB6rg M\xC3\xBCller <j@example.org>, \"\xC3\x9Cnal, Ay\" <u@example.org>; p@x.org");
  EXPECT_EQ(to, "To: =?UTF-8?B?SsO2cmcgTcO8bGxlcg==?= <j@example.org>,\r\n"
                " =?UTF-8?B?w5xuYWwsIEF5?= <u@example.org>; p@x.org");
  EXPECT_EQ(ReadBack(to), "J\xC3\xB6rg M\xC3\xBCller <j@example.org>, \xC3\x9Cnal, Ay <u@example.org>; p@x.org");

  // File names: the ASCII form as before (quotes escaped), else RFC 2231
  // in pieces and an encoded-word name.
  std::string type, disposition;
  FilePartHeaders("a \"b\".txt", type, disposition);
  EXPECT_EQ(type, "application/octet-stream");
  EXPECT_EQ(disposition, "attachment; filename=\"a \\\"b\\\".txt\"");
  EXPECT_EQ(ParamText(disposition, "filename"), "a \"b\".txt");
  std::string name;
  for (int i = 0; i < 12; ++i)
    name += "\xD0\x98\xD0\xBC\xD1\x8F ";
  name += "%.txt";
  FilePartHeaders(name, type, disposition);
  EXPECT_TRUE(disposition.starts_with("attachment;\r\n filename*0*=UTF-8''%D0%98")) << disposition;
  EXPECT_EQ(ParamText(ReadBack("X: " + disposition), "filename"), name);
  EXPECT_EQ(ParamText(ReadBack("X: " + type), "name"), name);
  FilePartHeaders("\xC3\xA9.txt", type, disposition);
  EXPECT_EQ(disposition, "attachment;\r\n filename*=UTF-8''%C3%A9.txt");
  EXPECT_EQ(type, "application/octet-stream;\r\n name=\"=?UTF-8?B?w6kudHh0?=\"");
}

#include "ip_misc/ip_misc.h"

#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "support/Portable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

namespace {

struct Vector {
  std::string Kind, Op, Input, Expected;
  int Line;
};

// "..." with the escapes \\ \" \t \r \n \xHH.
std::string Unquote(const std::string &field) {
  std::string out;
  if (field.size() < 2 || field.front() != '"' || field.back() != '"')
    throw std::runtime_error("bad field " + field);
  for (std::size_t i = 1; i + 1 < field.size(); ++i) {
    char c = field[i];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    c = field[++i];
    switch (c) {
    case 't': out.push_back('\t'); break;
    case 'r': out.push_back('\r'); break;
    case 'n': out.push_back('\n'); break;
    case 'x':
      out.push_back(static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16)));
      i += 2;
      break;
    default: out.push_back(c);
    }
  }
  return out;
}

std::vector<Vector> LoadVectors() {
  // A copy of the shared coding vectors, so a clone holds everything it tests with.
  std::ifstream in(SCRIPTNET_SOURCE_DIR "/tests/ip_misc/corpus/vectors.txt");
  std::vector<Vector> vectors;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#')
      continue;
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string f;
    while (std::getline(ss, f, '\t'))
      fields.push_back(f);
    if (fields.size() != 4)
      continue;
    vectors.push_back({fields[0], fields[1], Unquote(fields[2]), Unquote(fields[3]), number});
  }
  return vectors;
}

// Lines split at LF with their CR dropped; a final line end adds an empty last entry.
std::vector<std::string> SplitKeepingLast(const std::string &text, bool &crlf) {
  crlf = text.find("\r\n") != std::string::npos;
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t lf = text.find('\n', start);
    std::string line = text.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
    if (lf == std::string::npos)
      return lines;
    start = lf + 1;
  }
}

std::string Join(const std::vector<std::string> &lines, const char *eol) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i)
      out += eol;
    out += lines[i];
  }
  return out;
}

std::string QPEncodeLinesOf(const std::string &text) {
  bool crlf = false;
  std::vector<std::string> out;
  for (const std::string &line : SplitKeepingLast(text, crlf))
    for (std::string &piece : QPEncode(line))
      out.push_back(piece);
  return Join(out, crlf ? "\r\n" : "\n");
}

std::string QPDecodeLinesOf(const std::string &text) {
  bool crlf = false;
  std::vector<std::string> lines = SplitKeepingLast(text, crlf);
  // QPDecodeLines joins soft breaks, so it is given the lines without the
  // empty entry of a final line end, which is put back afterwards.
  const bool finalBreak = lines.size() > 1 && lines.back().empty();
  if (finalBreak)
    lines.pop_back();
  std::vector<std::string> decoded = QPDecodeLines(lines);
  if (finalBreak)
    decoded.emplace_back();
  return Join(decoded, crlf ? "\r\n" : "\n");
}

std::string DecodeAll(const std::string &text) {
  TMemoryStream out;
  DecodeBase64Lines(SplitLines(text), out);
  return out.Bytes();
}

} // namespace

TEST(Vectors, CorpusBase64QpAndUrlVectorsHold) {
  const std::vector<Vector> vectors = LoadVectors();
  ASSERT_GT(vectors.size(), 50u);
  int checked = 0;
  for (const Vector &v : vectors) {
    SCOPED_TRACE("vectors.txt line " + std::to_string(v.Line));
    const bool encode = v.Op == "encode" || v.Op == "roundtrip";
    const bool decode = v.Op == "decode" || v.Op == "roundtrip";
    if (v.Kind == "base64") {
      if (encode) {
        EXPECT_EQ(Base64Encode(v.Input), v.Expected);
        EXPECT_EQ(EncodeLine(reinterpret_cast<const unsigned char *>(v.Input.data()), v.Input.size()),
                  v.Expected);
      }
      if (decode) {
        const std::string &text = v.Op == "roundtrip" ? v.Expected : v.Input;
        const std::string &want = v.Op == "roundtrip" ? v.Input : v.Expected;
        EXPECT_EQ(DecodeAll(text), want);
        EXPECT_EQ(Base64DecodeText(text), want);
      }
      if (v.Op == "decode-error") {
        // MIME decoding skips characters outside the alphabet (RFC 2045 6.8).
        EXPECT_EQ(Base64DecodeText(v.Input), "ABCDEF");
      }
      ++checked;
    } else if (v.Kind == "qp") {
      if (encode) {
        EXPECT_EQ(QPEncodeLinesOf(v.Input), v.Expected);
      }
      if (v.Op == "roundtrip") {
        EXPECT_EQ(QPDecodeLinesOf(v.Expected), v.Input);
      } else if (v.Op == "decode" && v.Input != "123==four") {
        EXPECT_EQ(QPDecodeLinesOf(v.Input), v.Expected);
      }
      ++checked;
    } else if (v.Kind == "url-unquote-plus" ||
               (v.Kind == "url-unquote" && v.Input.find('+') == std::string::npos)) {
      // Form decoding turns "+" into a blank and refuses escapes without
      // hexadecimal digits, where the peer passes them through.
      if (v.Expected == v.Input && v.Input.find('%') != std::string::npos) {
        EXPECT_THROW(UrlDecode(v.Input), EConvertError);
      } else {
        EXPECT_EQ(UrlDecode(v.Input), v.Expected);
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 40);
}

TEST(Base64, LinesOfFortyFiveBytesAndLineByLineDecoding) {
  EXPECT_EQ(EncodeLine(reinterpret_cast<const unsigned char *>("abc"), 3), "YWJj");
  EXPECT_EQ(EncodeLine(reinterpret_cast<const unsigned char *>("ab"), 2), "YWI=");
  EXPECT_EQ(EncodeLine(reinterpret_cast<const unsigned char *>("a"), 1), "YQ==");
  EXPECT_EQ(EncodeLine(nullptr, 0), "");

  TMemoryStream stream;
  std::string hundred(100, '\0');
  for (int i = 0; i < 100; ++i)
    hundred[static_cast<std::size_t>(i)] = static_cast<char>(i * 7);
  stream.WriteString(hundred);
  const TStringList lines = EncodeBase64Lines(stream);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 60u);
  EXPECT_EQ(lines[1].size(), 60u);
  EXPECT_EQ(lines[2].size(), 16u); // the last 10 bytes
  TMemoryStream empty;
  EXPECT_TRUE(EncodeBase64Lines(empty).empty());

  TMemoryStream back;
  back.WriteString("x");
  DecodeBase64Lines(lines, back);
  EXPECT_EQ(back.Bytes(), "x" + hundred);
  EXPECT_EQ(back.Position(), back.Size());

  EXPECT_EQ(DecodeLine("YWI="), "ab");
  EXPECT_EQ(DecodeLine("YW I="), "ab");
  EXPECT_EQ(DecodeLine(""), "");
  EXPECT_EQ(DecodeLine("===="), "");
  // "=" ends the line's data; what follows it is ignored.
  EXPECT_EQ(DecodeLine("YQ==YWJj"), "a");
  // Line ends are ignored inside a group; "=" ends its line's data only.
  EXPECT_EQ(DecodeAll("YW\nJj"), "abc");
  EXPECT_EQ(DecodeAll("YQ==\nYWJj"), "aabc");
  EXPECT_EQ(Base64DecodeText("YQ==\r\nYWJj\rYWI=\n\nYWJj"), "aabcababc");
  EXPECT_EQ(Base64DecodeText("YQ=YWJj\nYWJj"), "aabc");
  // NUL and bytes above 127 are skipped like any other foreign character.
  EXPECT_EQ(Base64DecodeText(std::string("YW\0\xffJj", 6)), "abc");
}

TEST(Base64, WholeBufferCodersAgreeWithTheLineCoders) {
  std::mt19937 rng(42);
  for (std::size_t size : {0u, 1u, 2u, 3u, 44u, 45u, 46u, 1000u, 4097u}) {
    std::string data(size, '\0');
    for (char &c : data)
      c = static_cast<char>(rng());
    TMemoryStream stream;
    stream.WriteString(data);
    const TStringList lines = EncodeBase64Lines(stream);
    std::string joined;
    for (const std::string &l : lines)
      joined += l + "\r\n";
    EXPECT_EQ(Base64DecodeText(joined), data) << size;
    // The joined form is those very lines, and decodes back as one part.
    if (!joined.empty())
      joined.resize(joined.size() - 2);
    EXPECT_EQ(Base64EncodeLines(data), joined) << size;
    EXPECT_EQ(Base64DecodePart(lines), data) << size;
    EXPECT_EQ(Base64DecodeText(Base64Encode(data)), data) << size;
    // Random junk between the characters changes nothing.
    std::string noisy;
    for (char c : Base64Encode(data)) {
      noisy.push_back(c);
      if (rng() % 5 == 0)
        noisy.push_back(" \t*\x80-"[rng() % 5]);
    }
    EXPECT_EQ(Base64DecodeText(noisy), data) << size;
  }
}

TEST(QuotedPrintable, EscapesAndSoftBreaks) {
  EXPECT_EQ(QPEncode("a=b"), TStringList{"a=3Db"});
  EXPECT_EQ(QPEncode("\xE9"), TStringList{"=E9"});
  EXPECT_EQ(QPEncode(""), TStringList{""});
  EXPECT_EQ(QPEncode("a\tb"), TStringList{"a\tb"});
  EXPECT_EQ(QPEncode("a \t"), TStringList{"a =09"});
  EXPECT_EQ(QPEncode("a\rb\0"), TStringList{"a=0Db"});
  // No line is longer than 76 characters and escapes are never split.
  std::string line;
  for (int i = 0; i < 500; ++i)
    line.push_back(i % 3 == 0 ? '\xC4' : (i % 7 == 0 ? ' ' : 'q'));
  line += "  ";
  const TStringList encoded = QPEncode(line);
  ASSERT_GT(encoded.size(), 5u);
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    EXPECT_LE(encoded[i].size(), 76u);
    if (i + 1 < encoded.size()) {
      EXPECT_EQ(encoded[i].back(), '=');
    }
    EXPECT_NE(encoded[i].back(), ' ');
  }
  EXPECT_EQ(QPDecodeLines(encoded), TStringList{line});
  EXPECT_EQ(QPDecodeLines(QPEncode(std::string(76, '='))), TStringList{std::string(76, '=')});

  EXPECT_EQ(QPEncodeText("a b \r\nc\n"), "a b=20\r\nc\r\n");
  EXPECT_EQ(QPEncodeText(std::string(80, 'z')), std::string(75, 'z') + "=\r\nzzzzz");
}

TEST(QuotedPrintable, DecodingKeepsMalformedEscapes) {
  EXPECT_EQ(QPDecode("a=3db"), "a=b");
  EXPECT_EQ(QPDecode("a=3Db"), "a=b");
  EXPECT_EQ(QPDecode("soft="), "soft=");
  EXPECT_EQ(QPDecode("=ZZ"), "=ZZ");
  EXPECT_EQ(QPDecode("=4"), "=4");
  EXPECT_EQ(QPDecode("=00"), std::string(1, '\0'));
  // RFC 2045: the "=" and the character after it stay as they are.
  EXPECT_EQ(QPDecode("123==four"), "123==four");
  EXPECT_EQ(QPDecode("trail  \t"), "trail");
  EXPECT_EQ(QPDecodeLines({"one=", "two= \t", "three", "four="}),
            (TStringList{"onetwothree", "four"}));
  EXPECT_EQ(QPDecodeLines({}), TStringList{});
}

TEST(Helpers, PositionsPathsAndAddresses) {
  EXPECT_EQ(PosN("ab", "xxabyyab", 1), 4u);
  EXPECT_EQ(PosN("ab", "xxabyyab", 2), 8u);
  EXPECT_GT(PosN("ab", "xxabyyab", 3), 8u);
  EXPECT_EQ(PosN("aa", "aaaa", 2), 4u); // no overlap
  EXPECT_EQ(PosN("ab", "xxabyyab", -1), 7u);
  EXPECT_EQ(PosN("q", "xxabyyab", -1), 0u);
  EXPECT_EQ(PosN("", "abc", -1), 0u);
  EXPECT_GT(PosN("", "abc", 1), 3u);
  EXPECT_EQ(PosN("a", "", -1), 0u);

  EXPECT_EQ(PathFileName("C:\\dir\\file.txt"), "file.txt");
  EXPECT_EQ(PathFileName("/tmp/dir/file.txt"), "file.txt");
  EXPECT_EQ(PathFileName("C:file.txt"), "file.txt");
  EXPECT_EQ(PathFileName("file.txt"), "file.txt");
  EXPECT_EQ(PathFileName("dir/"), "");

  const std::string list = "Ann <ann@a.org>, \"bob@b.org\";(cy@c.org)";
  EXPECT_EQ(ExtractAddress(list, 1), "ann@a.org");
  EXPECT_EQ(ExtractAddress(list, 2), "bob@b.org");
  EXPECT_EQ(ExtractAddress(list, 3), "cy@c.org");
  EXPECT_EQ(ExtractAddress(list, 4), "");
  EXPECT_EQ(ExtractAddress(list, 0), "");
  EXPECT_EQ(ExtractAddress("a@x.org,b@y.org", 2), "b@y.org");
  EXPECT_EQ(ExtractAddress("no address here", 1), "");
  EXPECT_EQ(ExtractAddress("<\"@\">", 1), "@");
}

TEST(Helpers, AddressesAndNames) {
  EXPECT_EQ(DottedAddress(ResolveHost("127.0.0.1")), "127.0.0.1");
  EXPECT_EQ(DottedAddress(ResolveHost("10.1.2.3")), "10.1.2.3");
  EXPECT_EQ(ResolveHost(""), INADDR_NONE_VALUE);
  EXPECT_EQ(ResolveHost("255.255.255.255"), INADDR_NONE_VALUE);
  EXPECT_EQ(ResolveHost("no-such-host.invalid"), INADDR_NONE_VALUE);
  EXPECT_EQ(DottedAddress(ResolveHost("localhost")).substr(0, 4), "127.");
  EXPECT_FALSE(LocalHostName().empty());
  EXPECT_NE(LocalIPAddress(), 0u);
  EXPECT_EQ(DottedAddress(INADDR_NONE_VALUE), "255.255.255.255");
}

TEST(Helpers, DatesAndZones) {
  EXPECT_EQ(ZeroPad(7, 2), "07");
  EXPECT_EQ(ZeroPad(123, 2), "123");
  EXPECT_EQ(ZeroPad(0, 0), "0");
  const std::string zone = ZoneText();
  const int bias = TimeZoneBias();
  if (bias == 0) {
    EXPECT_EQ(zone, "GMT");
  } else {
    EXPECT_EQ(zone.size(), 5u);
  }
  const TDateTime t = EncodeDate(2026, 12, 8) + EncodeTime(4, 38, 41, 0);
  EXPECT_EQ(MailDate(t), "Tue, 8 Dec 2026 04:38:41 " + zone);
  EXPECT_EQ(MailDate(EncodeDate(2000, 1, 30)), "Sun, 30 Jan 2000 00:00:00 " + zone);
}

TEST(Helpers, ZoneTextFollowsTheBiasSign) {
  // Zone data is read through the environment's TZ, as on any POSIX system;
  // Windows takes the zone from its own settings.
#ifdef _WIN32
  GTEST_SKIP() << "TZ does not set the zone on Windows";
#endif
  const char *saved = std::getenv("TZ");
  const std::string keep = saved ? saved : "";
  testsupport::SetEnv("TZ", "UTC");
  tzset();
  EXPECT_EQ(TimeZoneBias(), 0);
  EXPECT_EQ(ZoneText(), "GMT");
  testsupport::SetEnv("TZ", "<EAST>-1");
  tzset();
  EXPECT_EQ(TimeZoneBias(), -60);
  EXPECT_EQ(ZoneText(), "+0100");
  testsupport::SetEnv("TZ", "<WEST>5");
  tzset();
  EXPECT_EQ(TimeZoneBias(), 300);
  EXPECT_EQ(ZoneText(), "-0500");
  testsupport::SetEnv("TZ", "<HALF>-5:30");
  tzset();
  EXPECT_EQ(ZoneText(), "+0530");
  if (saved)
    testsupport::SetEnv("TZ", keep.c_str());
  else
    testsupport::UnsetEnv("TZ");
  tzset();
}

TEST(UrlDecoding, FormRules) {
  EXPECT_EQ(UrlDecode("x+y%21"), "x y!");
  EXPECT_EQ(UrlDecode("%41%2541"), "A%41");
  EXPECT_EQ(UrlDecode("%2B"), "+");
  // Decoded once: an escaped "%" is never the start of another escape.
  EXPECT_EQ(UrlDecode("%2525"), "%25");
  EXPECT_EQ(UrlDecode("a%25b"), "a%b");
  EXPECT_EQ(UrlDecode("%25%32%35"), "%25");
  EXPECT_EQ(UrlDecode("100%25+sure"), "100% sure");
  EXPECT_EQ(UrlDecode("%00"), std::string(1, '\0'));
  EXPECT_EQ(UrlDecode("%4"), "\x04");
  EXPECT_EQ(UrlDecode(""), "");
  EXPECT_THROW(UrlDecode("%zz"), EConvertError);
  EXPECT_THROW(UrlDecode("%"), EConvertError);
  EXPECT_THROW(UrlDecode("%2+"), EConvertError);
  EXPECT_THROW(UrlDecode("ab%"), EConvertError);
  std::string all;
  std::string expected;
  for (int c = 0; c < 256; ++c) {
    all += "%" + std::string(1, "0123456789ABCDEF"[c >> 4]) + "0123456789abcdef"[c & 15];
    expected.push_back(static_cast<char>(c));
  }
  EXPECT_EQ(UrlDecode(all), expected);
}

TEST(Base64, APartDecodesEveryLineThatAPadEnds) {
  const auto Part = [](const TStringList &lines) {
    TLineText text;
    for (const std::string &line : lines)
      text.Append(line);
    std::string fromText = Base64DecodePart(text, 0, text.Count());
    std::string fromList = Base64DecodePart(lines);
    EXPECT_EQ(fromText, fromList);
    return fromList;
  };
  // A group may run on into the next line.
  EXPECT_EQ(Part({"YW", "Jj", "YWJj"}), "abcabc");
  // "=" ends its own line's data; lines padded one by one all decode.
  EXPECT_EQ(Part({"YQ==", "Yg=="}), "ab");
  EXPECT_EQ(Part({"YQ", "=", "", "YQ=", "=Yg", "Yg=="}), "aab");
  EXPECT_EQ(Part({"YWJj", "YQ==", "YWJj"}), "abcaabc");
  EXPECT_EQ(Part({"YQ=YWJj"}), "a");
  // The bits of a group cut short by "=" do not run on.
  EXPECT_EQ(Part({"YW=", "Jj"}), "a&");
  // Foreign characters are skipped; nothing at all gives nothing.
  EXPECT_EQ(Part({" Y W\tJ j *"}), "abc");
  EXPECT_EQ(Part({}), "");
  EXPECT_EQ(Part({"", ""}), "");
  // A line longer than the decoder's piece size.
  const std::string big(10000, 'x');
  EXPECT_EQ(Part({Base64Encode(big)}), big);
}

TEST(Convert, IntegersAreDecimalOrHexWithinTheirRangeAndNothingElse) {
  EXPECT_EQ(StrToInt(" -42\t"), -42);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_EQ(StrToInt("0x7fffffff"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  // The same rules without raising, as a reply's number is read.
  EXPECT_EQ(TryStrToInt64(" 213 "), 213);
  for (const char *text : {"", "-", "$", "12a", "1 2", "9223372036854775808"})
    EXPECT_FALSE(TryStrToInt64(text)) << text;
}

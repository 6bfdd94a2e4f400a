#include "platform/Charset.h"

#include <windows.h>

#include <cctype>
#include <utility>

namespace platform {

namespace {

// The Windows code pages of the character sets mail names most often.
constexpr std::pair<const char *, UINT> CodePages[] = {
    {"utf-8", 65001},        {"us-ascii", 20127},     {"iso-8859-1", 28591},
    {"iso-8859-2", 28592},   {"iso-8859-3", 28593},   {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},   {"iso-8859-6", 28596},   {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},   {"iso-8859-9", 28599},   {"iso-8859-13", 28603},
    {"iso-8859-15", 28605},  {"windows-1250", 1250},  {"windows-1251", 1251},
    {"windows-1252", 1252},  {"windows-1253", 1253},  {"windows-1254", 1254},
    {"windows-1255", 1255},  {"windows-1256", 1256},  {"windows-1257", 1257},
    {"windows-1258", 1258},  {"koi8-r", 20866},       {"koi8-u", 21866},
    {"shift_jis", 932},      {"euc-jp", 20932},       {"iso-2022-jp", 50220},
    {"gb2312", 936},         {"gbk", 936},            {"gb18030", 54936},
    {"big5", 950},           {"euc-kr", 51949},       {"ks_c_5601-1987", 949},
    {"iso-2022-kr", 50225},  {"tis-620", 874},        {"windows-874", 874},
};

} // namespace

bool AppendAsUtf8(std::string_view charset, std::string_view text, std::string &utf8) {
  std::string name;
  for (const char c : charset)
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  UINT codePage = 0;
  for (const auto &[n, cp] : CodePages)
    if (name == n)
      codePage = cp;
  if (codePage == 0)
    return false;
  if (text.empty())
    return true;
  // Bytes invalid in the set become U+FFFD.
  const int wide = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
  if (wide <= 0)
    return false;
  std::wstring w(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), w.data(), wide);
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  const std::size_t at = utf8.size();
  utf8.resize(at + static_cast<std::size_t>(bytes));
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, utf8.data() + at, bytes, nullptr, nullptr);
  return true;
}

} // namespace platform

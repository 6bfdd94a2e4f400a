#include "platform/Charset.h"

#include <cerrno>
#include <iconv.h>

namespace platform {

bool AppendAsUtf8(std::string_view charset, std::string_view text, std::string &utf8) {
  const iconv_t cd = iconv_open("UTF-8", std::string(charset).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1))
    return false;
  char buffer[4096];
  char *in = const_cast<char *>(text.data());
  std::size_t inLeft = text.size();
  // The last call, with no input, lets a stateful set (ISO-2022-JP) end its
  // shift sequence.
  bool flush = false;
  for (;;) {
    char *out = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t r = flush ? iconv(cd, nullptr, nullptr, &out, &outLeft)
                                : iconv(cd, &in, &inLeft, &out, &outLeft);
    const int error = errno;
    utf8.append(buffer, static_cast<std::size_t>(out - buffer));
    if (r != static_cast<std::size_t>(-1)) {
      if (flush)
        break;
      flush = inLeft == 0;
    } else if (error != E2BIG) {
      if (flush || inLeft == 0)
        break;
      // An invalid or cut-off sequence: one replacement character, and on
      // after the byte that began it.
      utf8 += "\xEF\xBF\xBD";
      ++in;
      --inLeft;
    }
  }
  iconv_close(cd);
  return true;
}

} // namespace platform

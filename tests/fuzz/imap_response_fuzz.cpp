// The reading of IMAP responses and folder names: a response's text (up to
// the first NUL) with its literals (the rest, split at NULs) walked value by
// value as the client walks FETCH, LIST and STATUS answers; and folder names,
// which must come back from modified UTF-7 as they went in.
#include "ip_misc/ImapUtf7.h"
#include "ip_misc/MailText.h"
#include "tcpip/TImapResponse.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  TImapResponse r;
  r.Tag = "*";
  const std::size_t nul = input.find('\0');
  r.Text = input.substr(0, nul);
  for (std::size_t at = nul; at != std::string_view::npos && at < input.size();) {
    const std::size_t next = input.find('\0', at + 1);
    r.Literals.emplace_back(
        input.substr(at + 1, next == std::string_view::npos ? next : next - at - 1));
    at = next;
  }
  r.Kind();
  r.Number();
  r.Code();
  r.StatusText();
  std::uint64_t size64 = 0;
  TImapResponse::LiteralAtEnd(r.Text, size64);
  TImapResponse::MayHoldLiterals(r.Tag, r.Text);

  TImapResponse::Reader in = TImapResponse::Reader::AfterKind(r);
  std::string text;
  std::uint64_t number = 0;
  bool nil = false;
  // Every step either reads something or ends the walk.
  for (int step = 0; step < 100000 && !in.AtEnd(); ++step) {
    if (in.Open() || in.Close() || in.Number(number))
      continue;
    if (in.String(text, &nil)) {
      DecodeImapUtf7(text);
      continue;
    }
    if (!in.Word(text) && !in.Skip())
      break;
  }

  if (IsUtf8(r.Text) && DecodeImapUtf7(EncodeImapUtf7(r.Text)) != r.Text)
    __builtin_trap();
  return 0;
}

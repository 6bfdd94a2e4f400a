#include "tcpip/T_MailNews.h"

#include "ip_misc/Convert.h"
#include "ip_misc/DateTime.h"
#include "ip_misc/MailText.h"
#include "ip_misc/ip_misc.h"
#include "platform/Clock.h"
#include "platform/Process.h"

#include <atomic>
#include <iterator>

std::int64_t T_MailNews::LocalSeconds() {
  const platform::LocalClock now = platform::LocalNow();
  return now.LocalSeconds + (now.Microseconds >= 500000 ? 1 : 0);
}

std::string T_MailNews::UniqueSuffix() {
  static std::atomic<std::uint64_t> counter{0};
  const std::uint64_t n = ++counter;
  return ZeroPad(platform::CurrentProcessId(), 7) + IntToStr(static_cast<std::int64_t>(n));
}

std::string T_MailNews::NewMessageId() {
  return "<" + IntToStr(LocalSeconds()) + UniqueSuffix() + "@" + LocalHostName() + ">";
}

void T_MailNews::Compose() {
  Composed.insert(Composed.begin(), AddressHeader("From", From));
  if (!Sender.empty())
    Composed.push_back(AddressHeader("Sender", Sender));
  Composed.insert(Composed.begin() + 1, "Message-ID: " + NewMessageId());
  Composed.insert(Composed.begin() + 2, "Date: " + MailDate(Now()));
  Composed.insert(Composed.begin() + 3, TextHeader("Subject", Subject));
  if (!References.empty())
    Composed.push_back("References: " + References);
  if (!ReplyTo.empty())
    Composed.push_back(AddressHeader("Reply-To", ReplyTo));
  Composed.reserve(Composed.size() + Header.size() + 1 + Body.size());
  Composed.insert(Composed.end(), Header.begin(), Header.end());
  Composed.emplace_back();
  if (ConsumeBody) {
    Composed.insert(Composed.end(), std::make_move_iterator(Body.begin()),
                    std::make_move_iterator(Body.end()));
    Body.clear();
  } else {
    Composed.insert(Composed.end(), Body.begin(), Body.end());
  }
}

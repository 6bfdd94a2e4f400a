#include "tcpip/MailAuth.h"

#include "ip_misc/Md5.h"
#include "ip_misc/ip_misc.h"

#include <algorithm>
#include <unordered_set>

namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char &c : out)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return out;
}

} // namespace

std::string PlainResponse(std::string_view user, std::string_view password) {
  std::string message;
  message.reserve(user.size() + password.size() + 2);
  message.append(1, '\0').append(user).append(1, '\0').append(password);
  return Base64Encode(message);
}

std::string XOAuth2Response(std::string_view user, std::string_view token) {
  std::string message = "user=";
  message.append(user)
      .append("\x01"
              "auth=Bearer ")
      .append(token)
      .append("\x01\x01");
  return Base64Encode(message);
}

std::string CramMd5Response(std::string_view user, std::string_view password,
                            std::string_view challenge) {
  const std::string digest = DigestHex(HmacMd5(password, Base64DecodeText(challenge)));
  std::string message(user);
  message.append(" ").append(digest);
  return Base64Encode(message);
}

std::string GreetingTimestamp(std::string_view greeting) {
  const std::size_t open = greeting.find('<');
  if (open == std::string_view::npos)
    return {};
  const std::size_t close = greeting.find('>', open);
  // The stamp is "<process.clock@host>"; anything else between brackets,
  // or brackets that do not close, is no stamp.
  if (close == std::string_view::npos ||
      greeting.substr(open, close - open).find('@') == std::string_view::npos)
    return {};
  return std::string(greeting.substr(open, close - open + 1));
}

std::string ApopDigest(std::string_view timestamp, std::string_view password) {
  TMd5 md5;
  md5.Update(timestamp);
  md5.Update(password);
  return DigestHex(md5.Final());
}

TStringList OfferedMechanisms(const TStringList &capabilities) {
  TStringList offered;
  // A server may name thousands: each name is looked up once, not compared
  // with every one before it.
  std::unordered_set<std::string> seen;
  for (const std::string &line : capabilities) {
    const std::string upper = Upper(line);
    if (!upper.starts_with("AUTH ") && !upper.starts_with("AUTH="))
      continue;
    std::size_t at = 5;
    while (at < upper.size()) {
      const std::size_t end = std::min(upper.find(' ', at), upper.size());
      if (end > at) {
        std::string word = upper.substr(at, end - at);
        if (seen.insert(word).second)
          offered.push_back(std::move(word));
      }
      at = end + 1;
    }
  }
  return offered;
}

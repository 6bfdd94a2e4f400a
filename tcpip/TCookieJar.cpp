#include "tcpip/TCookieJar.h"

#include "ip_misc/Convert.h"
#include "ip_misc/DateTime.h"
#include "ip_misc/Errors.h"
#include "platform/FileStreams.h"
#include "platform/DynLib.h"
#include "platform/Files.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace {

constexpr std::int64_t Expired = 1;

bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

bool IsIpAddress(std::string_view host) {
  return host.find(':') != std::string_view::npos ||
         (!host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
           return (c >= '0' && c <= '9') || c == '.';
         }));
}

bool DomainMatch(std::string_view host, std::string_view domain) {
  if (host == domain)
    return true;
  return host.size() > domain.size() && host.ends_with(domain) &&
         host[host.size() - domain.size() - 1] == '.' && !IsIpAddress(host);
}

bool PathMatch(std::string_view requestPath, std::string_view cookiePath) {
  if (!requestPath.starts_with(cookiePath))
    return false;
  return requestPath.size() == cookiePath.size() || cookiePath.ends_with('/') ||
         requestPath[cookiePath.size()] == '/';
}

std::string DefaultPath(std::string_view path) {
  if (path.empty() || path[0] != '/')
    return "/";
  const std::size_t last = path.rfind('/');
  return last == 0 ? "/" : std::string(path.substr(0, last));
}

bool Expiring(const TCookieJar::TCookie &cookie, std::int64_t now) {
  return cookie.Expires != 0 && cookie.Expires <= now;
}

// Leading digits of token, from min to max of them, followed by nothing or
// a non-digit: their value, or -1.
int LeadingNumber(std::string_view token, std::size_t min, std::size_t max, std::size_t &used) {
  used = 0;
  while (used < token.size() && token[used] >= '0' && token[used] <= '9')
    ++used;
  if (used < min || used > max)
    return -1;
  int value = 0;
  std::from_chars(token.data(), token.data() + used, value);
  return value;
}

} // namespace

bool TCookieJar::ParseDate(std::string_view text, std::int64_t &seconds) {
  const auto delimiter = [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b == 0x09 || (b >= 0x20 && b <= 0x2F) || (b >= 0x3B && b <= 0x40) ||
           (b >= 0x5B && b <= 0x60) || (b >= 0x7B && b <= 0x7E);
  };
  int hour = -1, minute = -1, second = -1, day = -1, month = -1, year = -1;
  static constexpr std::string_view Months = "janfebmaraprmayjunjulaugsepoctnovdec";
  for (std::size_t at = 0; at < text.size();) {
    while (at < text.size() && delimiter(text[at]))
      ++at;
    std::size_t end = at;
    while (end < text.size() && !delimiter(text[end]))
      ++end;
    const std::string_view token = text.substr(at, end - at);
    at = end;
    if (token.empty())
      continue;
    std::size_t used = 0;
    if (hour < 0) {
      // hh:mm:ss, one or two digits each.
      int parts[3] = {-1, -1, -1};
      std::string_view rest = token;
      bool ok = true;
      for (int i = 0; i < 3 && ok; ++i) {
        parts[i] = LeadingNumber(rest, 1, 2, used);
        ok = parts[i] >= 0 && (i == 2 || (used < rest.size() && rest[used] == ':'));
        rest = rest.substr(std::min(rest.size(), used + 1));
      }
      if (ok) {
        hour = parts[0], minute = parts[1], second = parts[2];
        continue;
      }
    }
    if (day < 0) {
      if (const int value = LeadingNumber(token, 1, 2, used); value >= 0) {
        day = value;
        continue;
      }
    }
    if (month < 0 && token.size() >= 3) {
      const std::size_t found = Months.find(LowerCase(token.substr(0, 3)));
      if (found != std::string_view::npos && found % 3 == 0) {
        month = static_cast<int>(found / 3) + 1;
        continue;
      }
    }
    if (year < 0) {
      if (const int value = LeadingNumber(token, 2, 4, used); value >= 0) {
        year = value;
        continue;
      }
    }
  }
  if (year >= 70 && year <= 99)
    year += 1900;
  else if (year >= 0 && year <= 69)
    year += 2000;
  if (hour < 0 || day < 0 || month < 0 || year < 1601 || day < 1 || day > 31 || hour > 23 ||
      minute > 59 || second > 59)
    return false;
  // An impossible day (31 April, 29 February 2023) is no date.
  try {
    seconds = DateTimeToUnix(EncodeDate(year, month, day)) + std::int64_t{hour} * 3600 +
              minute * 60 + second;
  } catch (const EConvertError &) {
    return false;
  }
  return true;
}

void TCookieJar::Open(const std::string &path, std::int64_t now) {
  // The jar in use stays as it is when the new one cannot be had.
  TCookieJar opened;
  if (platform::PathExists(path)) {
    opened.Parse(platform::ReadWholeFile(path), now);
  } else if (!path.empty()) {
    // A jar that could never be written is refused now, not after the
    // first answer that brings a cookie.
    platform::FileWriter probe(path);
  }
  cookies_ = std::move(opened.cookies_);
  next_ = opened.next_;
  file_ = path;
}

bool TCookieJar::IsPublicSuffix(const std::string &domain) {
  if (!suffixes_)
    suffixes_ = TPublicSuffixList::Load();
  return suffixes_->IsPublicSuffix(domain);
}

bool TCookieJar::Store(std::string_view setCookie, const TOrigin &origin, std::int64_t now) {
  const std::size_t semicolon = std::min(setCookie.find(';'), setCookie.size());
  const std::string_view pair = setCookie.substr(0, semicolon);
  const std::size_t equals = pair.find('=');
  if (equals == std::string_view::npos)
    return false;
  TCookie cookie;
  cookie.Name = Trim(pair.substr(0, equals));
  cookie.Value = Trim(pair.substr(equals + 1));
  if (cookie.Name.empty() || HasControl(cookie.Name) || HasControl(cookie.Value) ||
      cookie.Name.size() + cookie.Value.size() > MaxCookieBytes)
    return false;
  std::string domain, path;
  bool hasMaxAge = false, hasExpires = false;
  std::int64_t maxAgeExpiry = 0, expires = 0;
  for (std::size_t at = semicolon; at < setCookie.size();) {
    const std::size_t end = std::min(setCookie.find(';', at + 1), setCookie.size());
    const std::string_view av = setCookie.substr(at + 1, end - at - 1);
    at = end;
    const std::size_t eq = std::min(av.find('='), av.size());
    const std::string name = LowerCase(Trim(av.substr(0, eq)));
    const std::string value = eq < av.size() ? Trim(av.substr(eq + 1)) : std::string();
    if (name == "expires") {
      hasExpires = ParseDate(value, expires) || hasExpires;
    } else if (name == "max-age") {
      const bool negative = !value.empty() && value[0] == '-';
      const std::string_view digits = std::string_view(value).substr(negative ? 1 : 0);
      if (digits.empty() || !std::all_of(digits.begin(), digits.end(),
                                         [](char c) { return c >= '0' && c <= '9'; }))
        continue;
      std::int64_t delta = std::numeric_limits<std::int64_t>::max() / 2;
      if (digits.size() < 15)
        std::from_chars(digits.data(), digits.data() + digits.size(), delta);
      hasMaxAge = true;
      maxAgeExpiry = negative || delta == 0 ? Expired : now + delta;
    } else if (name == "domain") {
      if (!value.empty())
        domain = LowerCase(value[0] == '.' ? value.substr(1) : value);
    } else if (name == "path") {
      path = value;
    } else if (name == "secure") {
      cookie.Secure = true;
    } else if (name == "httponly") {
      cookie.HttpOnly = true;
    }
  }
  // A control character would break the jar file's line, and means nothing.
  if (HasControl(domain) || HasControl(path))
    return false;
  if (hasMaxAge)
    cookie.Expires = maxAgeExpiry;
  else if (hasExpires)
    cookie.Expires = std::max(expires, Expired);
  // A domain nobody owns would share the cookie among all its sites; the
  // host that is itself such a name may still set one for itself alone.
  if (!domain.empty() && IsPublicSuffix(domain)) {
    if (domain != origin.Host)
      return false;
    domain.clear();
  }
  if (!domain.empty()) {
    if (!DomainMatch(origin.Host, domain))
      return false;
    cookie.HostOnly = false;
    cookie.Domain = domain;
  } else {
    cookie.Domain = origin.Host;
  }
  cookie.Path = path.empty() || path[0] != '/' ? DefaultPath(origin.Path) : path;
  // Only a secured answer may set a Secure cookie, or push one aside.
  if (cookie.Secure && !origin.Secure)
    return false;
  const auto same = [&cookie](const TCookie &c) {
    return c.Name == cookie.Name && c.Domain == cookie.Domain && c.Path == cookie.Path;
  };
  if (!origin.Secure &&
      std::any_of(cookies_.begin(), cookies_.end(), [&cookie](const TCookie &c) {
        return c.Secure && c.Name == cookie.Name &&
               (DomainMatch(c.Domain, cookie.Domain) || DomainMatch(cookie.Domain, c.Domain)) &&
               PathMatch(cookie.Path, c.Path);
      }))
    return false;
  const auto old = std::find_if(cookies_.begin(), cookies_.end(), same);
  if (Expiring(cookie, now)) {
    if (old == cookies_.end())
      return false;
    cookies_.erase(old);
    return true;
  }
  if (old != cookies_.end()) {
    cookie.Created = old->Created;
    const bool unchanged = old->Value == cookie.Value && old->HostOnly == cookie.HostOnly &&
                           old->Secure == cookie.Secure && old->HttpOnly == cookie.HttpOnly &&
                           old->Expires == cookie.Expires;
    *old = std::move(cookie);
    return !unchanged;
  }
  cookie.Created = next_++;
  Keep(std::move(cookie));
  return true;
}

void TCookieJar::Keep(TCookie cookie) {
  const std::string domain = cookie.Domain;
  cookies_.push_back(std::move(cookie));
  // The oldest of the domain, then of all, make room.
  const auto oldestWhere = [this](auto &&pred) {
    auto oldest = cookies_.end();
    for (auto it = cookies_.begin(); it != cookies_.end(); ++it)
      if (pred(*it) && (oldest == cookies_.end() || it->Created < oldest->Created))
        oldest = it;
    return oldest;
  };
  const auto ofDomain = [&domain](const TCookie &c) { return c.Domain == domain; };
  if (static_cast<std::size_t>(std::count_if(cookies_.begin(), cookies_.end(), ofDomain)) > MaxPerDomain)
    cookies_.erase(oldestWhere(ofDomain));
  if (cookies_.size() > MaxCookies)
    cookies_.erase(oldestWhere([](const TCookie &) { return true; }));
}

std::string TCookieJar::Header(const TOrigin &origin, std::int64_t now) const {
  std::vector<const TCookie *> sent;
  for (const TCookie &c : cookies_)
    if ((c.HostOnly ? origin.Host == c.Domain : DomainMatch(origin.Host, c.Domain)) &&
        PathMatch(origin.Path, c.Path) && (!c.Secure || origin.Secure) && !Expiring(c, now))
      sent.push_back(&c);
  // Longer paths first, then the older cookie.
  std::stable_sort(sent.begin(), sent.end(), [](const TCookie *a, const TCookie *b) {
    return a->Path.size() != b->Path.size() ? a->Path.size() > b->Path.size()
                                            : a->Created < b->Created;
  });
  std::string header;
  for (const TCookie *c : sent)
    header += (header.empty() ? "" : "; ") + c->Name + "=" + c->Value;
  return header;
}

void TCookieJar::Save(std::int64_t now) const {
  if (!file_.empty())
    platform::WriteWholeFile(file_, Format(now));
}

void TCookieJar::Parse(std::string_view text, std::int64_t now) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (line.ends_with('\r'))
      line.remove_suffix(1);
    TCookie cookie;
    // curl marks HttpOnly cookies so, in what is otherwise a comment.
    static constexpr std::string_view HttpOnlyMark = "#HttpOnly_";
    if (line.starts_with(HttpOnlyMark)) {
      cookie.HttpOnly = true;
      line.remove_prefix(HttpOnlyMark.size());
    }
    if (line.empty() || line[0] == '#')
      continue;
    std::vector<std::string_view> fields;
    for (std::size_t f = 0; f <= line.size();) {
      const std::size_t tab = std::min(line.find('\t', f), line.size());
      fields.push_back(line.substr(f, tab - f));
      f = tab + 1;
    }
    // A cookie without value may have lost its last, empty field.
    if (fields.size() == 6)
      fields.emplace_back();
    if (fields.size() != 7 || fields[0].empty() || fields[5].empty() ||
        std::any_of(fields.begin(), fields.end(), HasControl))
      continue;
    std::int64_t expires = 0;
    const auto [ptr, ec] =
        std::from_chars(fields[4].data(), fields[4].data() + fields[4].size(), expires);
    if (ec != std::errc() || ptr != fields[4].data() + fields[4].size() || expires < 0)
      continue;
    const std::string_view domain = fields[0];
    cookie.Domain = LowerCase(domain[0] == '.' ? domain.substr(1) : domain);
    cookie.HostOnly = fields[1] != "TRUE" && domain[0] != '.';
    cookie.Path = fields[2].empty() ? std::string("/") : std::string(fields[2]);
    cookie.Secure = fields[3] == "TRUE";
    cookie.Expires = expires;
    cookie.Name = fields[5];
    cookie.Value = fields[6];
    if (cookie.Domain.empty() || Expiring(cookie, now) ||
        cookie.Name.size() + cookie.Value.size() > MaxCookieBytes)
      continue;
    const auto same = [&cookie](const TCookie &c) {
      return c.Name == cookie.Name && c.Domain == cookie.Domain && c.Path == cookie.Path;
    };
    std::erase_if(cookies_, same);
    cookie.Created = next_++;
    Keep(std::move(cookie));
  }
}

std::string TCookieJar::Format(std::int64_t now) const {
  std::string text = "# Netscape HTTP Cookie File\n"
                     "# Kept by scriptnet. A line per cookie: domain, sent to its subdomains too,\n"
                     "# path, sent over TLS only, expiry in seconds since 1970 (0: a session\n"
                     "# cookie), name, value.\n\n";
  std::vector<const TCookie *> kept;
  for (const TCookie &c : cookies_)
    if (!Expiring(c, now))
      kept.push_back(&c);
  std::sort(kept.begin(), kept.end(),
            [](const TCookie *a, const TCookie *b) { return a->Created < b->Created; });
  for (const TCookie *c : kept)
    text += std::string(c->HttpOnly ? "#HttpOnly_" : "") + (c->HostOnly ? "" : ".") + c->Domain +
            (c->HostOnly ? "\tFALSE\t" : "\tTRUE\t") + c->Path + (c->Secure ? "\tTRUE\t" : "\tFALSE\t") +
            std::to_string(c->Expires) + "\t" + c->Name + "\t" + c->Value + "\n";
  return text;
}

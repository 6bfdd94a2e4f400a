#pragma once
// Cookies as RFC 6265 has a client keep them, in a file of the Netscape
// format that curl, wget and Python's http.cookiejar read and write: a
// cookie is taken from a Set-Cookie answer only for the host that sent it or
// a domain above it that is no public suffix, and goes back only to hosts
// and paths it matches, Secure ones only over TLS, never after it expires.
#include "tcpip/TPublicSuffixList.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TCookieJar {
public:
  // Limits of what a server can make the jar keep: the bytes of a cookie's
  // name and value together, cookies per domain, cookies in all. The
  // oldest go first.
  static constexpr std::size_t MaxCookieBytes = 4096;
  static constexpr std::size_t MaxPerDomain = 50;
  static constexpr std::size_t MaxCookies = 3000;

  struct TCookie {
    std::string Name, Value, Domain, Path;
    // Sent to Domain alone, not to the hosts below it.
    bool HostOnly = true;
    bool Secure = false;
    bool HttpOnly = false;
    // Seconds since 1970; 0: a session cookie, which never expires here.
    std::int64_t Expires = 0;
    // The order the cookies came in, for the order they are sent in.
    std::uint64_t Created = 0;
  };
  // Where a cookie comes from or goes to.
  struct TOrigin {
    bool Secure = false;
    std::string Host; // lower-case
    std::string Path; // from its first "/", without query
  };

  // Uses the jar file path from now on (empty: no cookies at all): loads it
  // when it exists. Raises EFileError when it exists and cannot be read, or
  // when it does not and cannot be made where it is named.
  void Open(const std::string &path, std::int64_t now);
  bool Enabled() const { return !file_.empty(); }
  bool SameFile(const TCookieJar &other) const { return Enabled() && file_ == other.file_; }
  // Takes the value of a Set-Cookie header received from origin; true when
  // the jar changed.
  bool Store(std::string_view setCookie, const TOrigin &origin, std::int64_t now);
  // The value of the Cookie header for a request to origin; empty for none.
  std::string Header(const TOrigin &origin, std::int64_t now) const;
  // Writes the jar into its file, whole or not at all; raises EFileError.
  void Save(std::int64_t now) const;

  // The cookies of a jar file's text; lines that are no cookie are passed over.
  void Parse(std::string_view text, std::int64_t now);
  std::string Format(std::int64_t now) const;
  const std::vector<TCookie> &Cookies() const { return cookies_; }

  // An RFC 6265 cookie date ("Wed, 09 Jun 2021 10:18:14 GMT" and the looser
  // forms servers send) as seconds since 1970; false when it is none.
  static bool ParseDate(std::string_view text, std::int64_t &seconds);

private:
  void Keep(TCookie cookie);
  bool IsPublicSuffix(const std::string &domain);
  std::vector<TCookie> cookies_;
  std::string file_;
  std::uint64_t next_ = 0;
  std::shared_ptr<const TPublicSuffixList> suffixes_;
};

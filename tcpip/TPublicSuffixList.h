#pragma once
// The public-suffix list (publicsuffix.org): the domains under which anyone
// may register a name of their own ("com", "co.uk", "github.io"). A cookie
// must never be set for one of them, or every site under it would share it.
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

class TPublicSuffixList {
public:
  // The name of the list's file that Load looks for beside the library.
  static constexpr const char *FileName = "public_suffix_list.dat";

  // The rules of a list in the publicsuffix.org format: one rule a line,
  // "//" comments, "*." wildcards and "!" exceptions.
  void Parse(std::string_view text);
  // The list from the first file that can be read: FileName beside the
  // library, then the system's copy (Debian's publicsuffix package). Where
  // none can, a built-in minimal list: every top-level domain, the
  // registrable second levels of the larger countries (co.uk, com.au,
  // co.jp, ...) and the largest hosting domains (github.io, appspot.com, ...).
  static std::shared_ptr<const TPublicSuffixList> Load();
  // The built-in minimal list alone.
  static TPublicSuffixList BuiltIn();
  // domain (lower-case, no trailing dot) is a public suffix. A name no rule
  // covers has its last label as public suffix, so every top-level domain
  // is one.
  bool IsPublicSuffix(std::string_view domain) const;
  std::size_t Rules() const { return rules_.size(); }
  // Where Load found the list; empty for the built-in one.
  const std::string &Source() const { return source_; }

private:
  std::unordered_set<std::string> rules_;
  std::string source_;
};

#pragma once
// The operand of the AUTH subcommands: a login mechanism, in any letter
// case, or blank for the family's default.
#include "ip_misc/Convert.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

// The mechanism upper-cased, the empty text for a blank operand, nothing
// for a name outside known.
inline std::optional<std::string> MechanismOperand(const std::string &operand,
                                                   std::initializer_list<std::string_view> known) {
  std::string name = Trim(operand);
  for (char &c : name)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  if (name.empty())
    return name;
  for (const std::string_view k : known)
    if (name == k)
      return name;
  return std::nullopt;
}

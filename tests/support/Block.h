#pragma once
// Builds a 65536-byte argument block from texts, as a host would.
#include <initializer_list>
#include <string>
#include <vector>

inline std::vector<char> Block(const std::vector<std::string> &texts) {
  std::vector<char> block(65536, '\0');
  std::size_t at = 0;
  for (const std::string &t : texts) {
    t.copy(block.data() + at, t.size());
    at += t.size() + 1;
  }
  return block;
}

inline std::vector<char> Block(std::initializer_list<std::string> texts) {
  return Block(std::vector<std::string>(texts));
}

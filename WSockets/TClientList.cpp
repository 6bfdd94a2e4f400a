#include "WSockets/TClientList.h"

#include <algorithm>
#include <new>

bool TClientList::Add(platform::socket_t s) {
  try {
    items_.push_back(s);
  } catch (const std::bad_alloc &) {
    return false;
  }
  return true;
}

void TClientList::Remove(platform::socket_t s) {
  const auto it = std::find(items_.begin(), items_.end(), s);
  if (it != items_.end())
    items_.erase(it);
}

bool TClientList::Contains(platform::socket_t s) const {
  return std::find(items_.begin(), items_.end(), s) != items_.end();
}

#include "tcpip/TConnectionPool.h"

#include <algorithm>

void TConnectionPool::CloseExpired() {
  const TClock::time_point now = TClock::now();
  std::erase_if(kept_, [now](const TKept &kept) {
    return now - kept.Since >= std::chrono::milliseconds(IdleMs);
  });
}

bool TConnectionPool::Take(const std::string &key, TConnection &conn) {
  CloseExpired();
  const auto found =
      std::find_if(kept_.begin(), kept_.end(), [&key](const TKept &kept) { return kept.Key == key; });
  if (found == kept_.end())
    return false;
  TConnection taken = std::move(found->Conn);
  kept_.erase(found);
  if (!taken.Idle())
    return false;
  conn = std::move(taken);
  return true;
}

void TConnectionPool::Put(std::string key, TConnection conn) {
  CloseExpired();
  if (kept_.size() >= MaxKept)
    kept_.erase(kept_.begin());
  kept_.push_back({std::move(key), std::move(conn), TClock::now()});
}

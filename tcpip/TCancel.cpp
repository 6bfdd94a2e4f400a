#include "tcpip/TCancel.h"

#include <algorithm>

void TCancel::Cancel() {
  const std::lock_guard<std::mutex> hold(lock_);
  cancelled_ = true;
  for (const platform::socket_t s : sockets_)
    platform::Shutdown(s, platform::TShutdown::Both);
}

void TCancel::Opened(platform::socket_t s) {
  const std::lock_guard<std::mutex> hold(lock_);
  sockets_.push_back(s);
  if (cancelled_)
    platform::Shutdown(s, platform::TShutdown::Both);
}

void TCancel::Forget(platform::socket_t s) {
  const std::lock_guard<std::mutex> hold(lock_);
  std::erase(sockets_, s);
}

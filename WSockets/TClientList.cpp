#include "WSockets/TClientList.h"

#include <algorithm>
#include <new>

TSocketConnection *TClientList::Find(platform::socket_t s) const {
  const auto it = byHandle_.find(s);
  return it == byHandle_.end() ? nullptr : it->second.get();
}

TSocketConnection *TClientList::Find(platform::socket_t s, std::uint64_t serial) const {
  TSocketConnection *c = Find(s);
  return c && c->Serial() == serial ? c : nullptr;
}

TSocketConnection *TClientList::Add(platform::SocketHolder &socket, std::uint64_t serial) {
  const platform::socket_t s = socket.Get();
  try {
    order_.reserve(order_.size() + 1);
    const auto [slot, added] = byHandle_.try_emplace(s);
    if (!added)
      return nullptr;
    try {
      slot->second = std::make_unique<TSocketConnection>(std::move(socket), serial);
    } catch (...) {
      byHandle_.erase(slot);
      throw;
    }
    order_.push_back(slot->second.get());
    return order_.back();
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

std::unique_ptr<TSocketConnection> TClientList::Remove(platform::socket_t s) {
  const auto it = byHandle_.find(s);
  if (it == byHandle_.end())
    return nullptr;
  std::unique_ptr<TSocketConnection> c = std::move(it->second);
  byHandle_.erase(it);
  order_.erase(std::find(order_.begin(), order_.end(), c.get()));
  return c;
}

std::vector<std::unique_ptr<TSocketConnection>> TClientList::RemoveAll() {
  std::vector<std::unique_ptr<TSocketConnection>> all;
  all.reserve(order_.size());
  for (TSocketConnection *c : order_)
    all.push_back(std::move(byHandle_.at(c->Handle())));
  order_.clear();
  byHandle_.clear();
  return all;
}

#pragma once
// The connections of a socket object, which the list owns, in the order
// they were accepted, and found by id (their handle) at once. Read as the
// server's Clients: a list of handles in accept order. A connection's socket
// is closed only once it has left the list.
#include "WSockets/TSocketConnection.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

class TClientList {
public:
  std::size_t Count() const { return order_.size(); }
  // The handle at a 0-based index.
  platform::socket_t operator[](std::size_t index) const { return order_[index]->Handle(); }
  // The connection with this handle; null when there is none.
  TSocketConnection *Find(platform::socket_t s) const;
  // The same connection still, not a later one that was given the handle
  // after it closed; null when it is gone.
  TSocketConnection *Find(platform::socket_t s, std::uint64_t serial) const;
  bool Contains(platform::socket_t s) const { return Find(s) != nullptr; }
  // A new connection of socket at the end; null, leaving socket with the
  // caller, when memory ran out.
  TSocketConnection *Add(platform::SocketHolder &socket, std::uint64_t serial);
  // Takes the connection out of the list; null when there is none.
  std::unique_ptr<TSocketConnection> Remove(platform::socket_t s);
  // Takes every connection out, in accept order.
  std::vector<std::unique_ptr<TSocketConnection>> RemoveAll();

  std::vector<TSocketConnection *>::const_iterator begin() const { return order_.begin(); }
  std::vector<TSocketConnection *>::const_iterator end() const { return order_.end(); }

private:
  std::vector<TSocketConnection *> order_;
  std::unordered_map<platform::socket_t, std::unique_ptr<TSocketConnection>> byHandle_;
};

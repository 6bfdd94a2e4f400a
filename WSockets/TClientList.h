#pragma once
// The accepted connections of a server: their socket handles in the order
// they were accepted. Nothing else is kept per connection.
#include "platform/Socket.h"

#include <cstddef>
#include <vector>

class TClientList {
public:
  using value_type = platform::socket_t;

  std::size_t Count() const { return items_.size(); }
  platform::socket_t operator[](std::size_t index) const { return items_[index]; }
  // Appends; true when the list took the handle.
  bool Add(platform::socket_t s);
  // Removes the first entry equal to s; nothing happens if there is none.
  void Remove(platform::socket_t s);
  bool Contains(platform::socket_t s) const;
  // Forgets every entry; closes nothing.
  void Clear() { items_.clear(); }

  std::vector<platform::socket_t>::const_iterator begin() const { return items_.begin(); }
  std::vector<platform::socket_t>::const_iterator end() const { return items_.end(); }

private:
  std::vector<platform::socket_t> items_;
};

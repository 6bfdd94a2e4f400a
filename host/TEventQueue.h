#pragma once
// Pending event records of the socket service: new ones at the front, the
// oldest taken from the back. The queue keeps count of the bytes its records
// hold, so the service can bound it.
#include <cstddef>
#include <deque>
#include <string>
#include <utility>

class TEventQueue {
public:
  bool empty() const { return records_.empty(); }
  std::size_t size() const { return records_.size(); }
  // Bytes of record text held, a record's own bookkeeping not counted.
  std::size_t Bytes() const { return bytes_; }

  void push_front(std::string record) {
    bytes_ += record.size();
    records_.push_front(std::move(record));
  }
  // Removes the oldest record and gives it; the queue must not be empty.
  std::string TakeOldest() {
    std::string record = std::move(records_.back());
    records_.pop_back();
    bytes_ -= record.size();
    return record;
  }
  void clear() {
    records_.clear();
    bytes_ = 0;
  }

private:
  std::deque<std::string> records_;
  std::size_t bytes_ = 0;
};

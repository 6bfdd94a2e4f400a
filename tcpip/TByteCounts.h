#pragma once
// The data a client's connections have moved in each direction (the clear
// text of a secured one; commands and replies are not counted), and the
// size the transfer under way will have as far as the client knows it.
// Progress is read from these counts, on another thread too while they grow
// (a background job's), so every figure is atomic; OnMoved runs on the
// moving thread after each receive or send.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

class TByteCounts {
public:
  void Add(bool sent, std::size_t bytes) {
    (sent ? sent_ : received_).fetch_add(static_cast<std::int64_t>(bytes),
                                         std::memory_order_relaxed);
    if (OnMoved)
      OnMoved();
  }
  std::int64_t Moved(bool sent) const {
    return (sent ? sent_ : received_).load(std::memory_order_relaxed);
  }
  // The size of what is to be sent or received; 0 or less: not known.
  void Expect(bool sending, std::int64_t bytes) {
    (sending ? expectSend_ : expectReceive_).store(bytes, std::memory_order_relaxed);
  }
  // The size expected, -1 while it is not known.
  std::int64_t Expected(bool sending) const {
    const std::int64_t bytes =
        (sending ? expectSend_ : expectReceive_).load(std::memory_order_relaxed);
    return bytes > 0 ? bytes : -1;
  }

  // Set and cleared by the thread that moves the bytes.
  std::function<void()> OnMoved;

private:
  std::atomic<std::int64_t> received_{0};
  std::atomic<std::int64_t> sent_{0};
  std::atomic<std::int64_t> expectReceive_{0};
  std::atomic<std::int64_t> expectSend_{0};
};

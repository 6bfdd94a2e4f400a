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

// Which data a transfer's progress counts: what it receives (a download),
// what it sends (an upload), or both (a request that sends a body and
// receives an answer: one sum that never goes back as the direction turns).
enum class TDirection { Received, Sent, Both };

class TByteCounts {
public:
  // Counts bytes moved one way (Received or Sent).
  void Add(TDirection way, std::size_t bytes) {
    std::atomic<std::int64_t> &count = way == TDirection::Sent ? sent_ : received_;
    count.fetch_add(static_cast<std::int64_t>(bytes), std::memory_order_relaxed);
    if (OnMoved)
      OnMoved();
  }
  std::int64_t Moved(TDirection direction) const {
    switch (direction) {
    case TDirection::Received: return received_.load(std::memory_order_relaxed);
    case TDirection::Sent: return sent_.load(std::memory_order_relaxed);
    case TDirection::Both: break;
    }
    return received_.load(std::memory_order_relaxed) + sent_.load(std::memory_order_relaxed);
  }
  // The size of what is to be moved; 0 or less: not known. For Both, the
  // whole of both directions counted from the transfer's start.
  void Expect(TDirection direction, std::int64_t bytes) {
    expect_[Index(direction)].store(bytes, std::memory_order_relaxed);
  }
  // The size expected, -1 while it is not known.
  std::int64_t Expected(TDirection direction) const {
    const std::int64_t bytes = expect_[Index(direction)].load(std::memory_order_relaxed);
    return bytes > 0 ? bytes : -1;
  }

  // Set and cleared by the thread that moves the bytes.
  std::function<void()> OnMoved;

private:
  static std::size_t Index(TDirection direction) { return static_cast<std::size_t>(direction); }

  std::atomic<std::int64_t> received_{0};
  std::atomic<std::int64_t> sent_{0};
  // By direction.
  std::atomic<std::int64_t> expect_[3]{};
};

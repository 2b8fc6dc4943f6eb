// A download rate shared by several fetches.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

// A download rate shared by every fetch that is given it, on any thread: one budget of bytes per second,
// not one per connection. Thread-safe.
class RateBudget {
 public:
  explicit RateBudget(long long bytesPerSecond);
  // Accounts for bytes just received and waits (in short steps, ending early when abort is set) until the
  // budget allows them.
  void Take(long long bytes, const std::atomic<bool>* abort);
  long long BytesPerSecond() const { return rate_; }

 private:
  const long long rate_;
  std::mutex mutex_;
  std::chrono::steady_clock::time_point next_;  // when the budget is free again
};

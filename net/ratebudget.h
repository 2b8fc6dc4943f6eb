// A download rate shared by several fetches.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
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

// A number of calls a minute shared by every caller given it: a call waits until fewer than that many
// were made in the last minute. Thread-safe.
class CallBudget {
 public:
  explicit CallBudget(int callsPerMinute);
  // Waits for room and counts the call; false (the call not counted) when stop or abort ended the wait.
  // `waited` is told the wait before it begins, when there is one.
  bool Take(const std::atomic<bool>* stop, const std::atomic<bool>* abort,
            const std::function<void(long ms)>& waited = nullptr);
  int CallsPerMinute() const { return perMinute_; }

 private:
  const int perMinute_;
  std::mutex mutex_;
  std::deque<std::chrono::steady_clock::time_point> calls_;  // of the last minute, oldest first
};

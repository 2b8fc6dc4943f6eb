#include "net/ratebudget.h"

#include <algorithm>
#include <thread>

#include "net/fetchretry.h"

RateBudget::RateBudget(long long bytesPerSecond)
    : rate_(std::max(1LL, bytesPerSecond)), next_(std::chrono::steady_clock::now()) {}

void RateBudget::Take(long long bytes, const std::atomic<bool>* abort) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point until;
  {
    // Each taker books its bytes after everything booked before it: the budget is one queue, so the
    // total rate of all fetches together stays at rate_ however many there are.
    std::lock_guard<std::mutex> lock(mutex_);
    const Clock::time_point now = Clock::now();
    // An idle budget saves up at most a quarter second, so a burst after a pause stays small.
    if (next_ < now - std::chrono::milliseconds(250)) next_ = now - std::chrono::milliseconds(250);
    next_ += std::chrono::microseconds(bytes * 1000000 / rate_);
    until = next_;
  }
  while (Clock::now() < until) {
    if (abort != nullptr && abort->load(std::memory_order_relaxed)) return;
    std::this_thread::sleep_for(
        std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
  }
}

CallBudget::CallBudget(int callsPerMinute) : perMinute_(callsPerMinute < 1 ? 1 : callsPerMinute) {}

bool CallBudget::Take(const std::atomic<bool>* stop, const std::atomic<bool>* abort,
                      const std::function<void(long ms)>& waited) {
  using Clock = std::chrono::steady_clock;
  for (;;) {
    long waitMs = 0;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      const Clock::time_point now = Clock::now();
      while (!calls_.empty() && now - calls_.front() >= std::chrono::minutes(1)) calls_.pop_front();
      if (static_cast<int>(calls_.size()) < perMinute_) {
        calls_.push_back(now);
        return true;
      }
      waitMs = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     calls_.front() + std::chrono::minutes(1) - now)
                                     .count()) +
               1;
    }
    if (waited) waited(waitMs);
    if (!WaitUnlessEnded(waitMs, stop, abort)) return false;
  }
}

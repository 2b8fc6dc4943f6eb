#include "net/ratebudget.h"

#include <algorithm>
#include <thread>

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

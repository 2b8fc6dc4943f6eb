#include "net/fetchretry.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

bool IsSet(const std::atomic<bool>* flag) {
  return flag != nullptr && flag->load(std::memory_order_relaxed);
}

}  // namespace

bool WaitUnlessEnded(long ms, const std::atomic<bool>* stop, const std::atomic<bool>* abort) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    if (IsSet(stop) || IsSet(abort)) return false;
    const auto left = until - std::chrono::steady_clock::now();
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(20)));
  }
  return !IsSet(stop) && !IsSet(abort);
}

bool IsRetryableFailure(const FetchReport& report) {
  if (report.ok || report.aborted) return false;
  if (report.timedOut) return true;
  if (report.httpStatus == 429 || (report.httpStatus >= 500 && report.httpStatus <= 599)) return true;
  switch (report.failure) {
    case FetchFailure::kTimedOut:
    case FetchFailure::kTooSlow:
    case FetchFailure::kCutShort:
    case FetchFailure::kConnection:
    case FetchFailure::kBadFraming:  // the next attempt goes out on a fresh connection
      return true;
    default:
      return false;
  }
}

long RetryDelayMs(const RetryPolicy& policy, int retry, const FetchReport& failed) {
  long delay = std::max(0L, policy.firstDelayMs);
  for (int i = 0; i < retry && delay < policy.maxDelayMs; ++i) delay *= 2;
  delay = std::min(delay, std::max(0L, policy.maxDelayMs));
  if (failed.retryAfterSeconds >= 0) {
    // Compared in seconds first, so an absurd value cannot overflow when turned into milliseconds.
    const long asked = failed.retryAfterSeconds > policy.maxRetryAfterMs / 1000
                           ? policy.maxRetryAfterMs
                           : failed.retryAfterSeconds * 1000;
    delay = std::max(delay, asked);
  }
  return delay;
}

FetchReport FetchWithRetries(const std::string& url, const std::string& file, const FetchOptions& options,
                             const RetryPolicy& policy, const std::atomic<bool>* stop, int* attempts) {
  int made = 1;
  FetchReport report = FetchToFileReport(url, file, options);
  for (int retry = 0; retry < policy.retries && IsRetryableFailure(report); ++retry) {
    if (!WaitUnlessEnded(RetryDelayMs(policy, retry, report), stop, options.abort)) break;
    ++made;
    report = FetchToFileReport(url, file, options);
  }
  if (attempts != nullptr) *attempts = made;
  return report;
}

// Fetching again after a failure that may pass: a refused or dropped connection, a time limit, a reply too
// slow, cut short or framed wrongly, or a server that asked us to slow down (429) or had trouble of its
// own (5xx). Other failures (404, a reply that is no
// photo, an abort) are final. The delay grows with every attempt; a Retry-After from the server is
// honoured up to a bound, so one reply cannot park a job for hours.
#pragma once

#include <atomic>
#include <string>

#include "net/fetchtofile.h"

struct RetryPolicy {
  int retries = 0;               ///< further attempts after the first; 0 = fetch once
  long firstDelayMs = 500;       ///< the delay before the first retry; doubled for each further one
  long maxDelayMs = 8000;        ///< the grown delay never exceeds this
  long maxRetryAfterMs = 60000;  ///< a longer Retry-After is cut to this
};

// Whether another attempt may succeed where this one failed.
bool IsRetryableFailure(const FetchReport& report);

// Waits up to ms, in short steps so a stop or an abort (either may be null) is seen at once; false when
// one was seen.
bool WaitUnlessEnded(long ms, const std::atomic<bool>* stop, const std::atomic<bool>* abort);

// The delay before retry number `retry` (from 0): the grown delay, or the reply's Retry-After when it
// asks for longer.
long RetryDelayMs(const RetryPolicy& policy, int retry, const FetchReport& failed);

// FetchToFileReport with up to policy.retries further attempts. The wait between attempts ends early, and
// no further attempt is made, once `stop` or options.abort is set. attempts (when given) receives the
// number of requests made.
FetchReport FetchWithRetries(const std::string& url, const std::string& file, const FetchOptions& options,
                             const RetryPolicy& policy, const std::atomic<bool>* stop = nullptr,
                             int* attempts = nullptr);

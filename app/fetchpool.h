// A small pool of fetching threads for one download job. The job's own thread hands fetches out and takes
// their results back in the order they complete, so every host call still happens on the job's thread.
// With one worker no thread is started: a submitted fetch runs at once on the caller's thread, which keeps
// the single-connection path free of thread hand-overs.
//
// Each worker keeps one transfer handle (one connection per host), so a pool of N never has more than N
// connections open to a host.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "app/browser/fetchtofile.h"

class FetchPool {
 public:
  using Task = std::function<FetchReport()>;

  explicit FetchPool(int workers);
  ~FetchPool();  // waits for the fetches under way, drops the ones not started
  FetchPool(const FetchPool&) = delete;
  FetchPool& operator=(const FetchPool&) = delete;

  int Workers() const { return workers_; }
  // Fetches submitted and not yet taken back with NextDone.
  int Outstanding() const { return outstanding_; }

  void Submit(int tag, Task task);
  // The next completed fetch (tag, report); waits for one. Only while Outstanding() > 0.
  std::pair<int, FetchReport> NextDone();

 private:
  void Work();

  const int workers_;
  int outstanding_ = 0;  // touched by the owner's thread only
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<std::pair<int, Task>> queue_;
  std::deque<std::pair<int, FetchReport>> results_;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

// A small pool of fetching threads for one download job. The job's own thread hands fetches out and takes
// their results back in the order they complete, so every host call still happens on the job's thread.
// With one worker no thread is started: a submitted fetch runs at once on the caller's thread, which keeps
// the single-connection path free of thread hand-overs.
//
// Each worker keeps one transfer handle (one connection per host), so a pool of N never has more than N
// connections open to a host.
//
// A fetch whose report still has its placing step (FetchReport::place: flushing the file to the disk and
// giving it its name) hands that step to the pool's placing thread and its connection is free at once:
// the flush of one photo runs beside the transfer of the next, and the report comes back once placed.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "net/fetchtofile.h"

class FetchPool {
 public:
  using Task = std::function<FetchReport()>;

  explicit FetchPool(int workers);
  ~FetchPool();  // waits for the fetches and placings under way, drops the fetches not started
  FetchPool(const FetchPool&) = delete;
  FetchPool& operator=(const FetchPool&) = delete;

  int Workers() const { return workers_; }
  // Fetches submitted and not yet taken back with NextDone.
  int Outstanding() const { return outstanding_; }
  // Of those, the ones whose transfer has not ended (queued or running): with fewer than Workers(), a
  // connection is free for another fetch.
  int Transferring() const;
  // A completed fetch is waiting to be taken.
  bool HasDone() const;

  void Submit(int tag, Task task);
  // The next completed fetch (tag, report); waits for one. Only while Outstanding() > 0.
  std::pair<int, FetchReport> NextDone();
  // The same, but also returns nothing as soon as a transfer has ended since the last call, so that the
  // caller can hand out the next fetch while the last one is still being placed.
  std::optional<std::pair<int, FetchReport>> NextDoneOrRoom();

 private:
  void Work();
  void PlaceAll();
  // Hands a finished task's report on: to the placing thread, or straight to the results.
  void Finished(int tag, FetchReport report);

  const int workers_;
  int outstanding_ = 0;  // touched by the owner's thread only
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::condition_variable placeWake_;
  std::deque<std::pair<int, Task>> queue_;
  std::deque<std::pair<int, FetchReport>> placing_;
  std::deque<std::pair<int, FetchReport>> results_;
  int transferring_ = 0;  // submitted tasks whose function has not returned
  unsigned long transfersEnded_ = 0;
  unsigned long endedSeen_ = 0;  // the owner's: transfersEnded_ at its last NextDoneOrRoom
  bool closing_ = false;
  std::vector<std::thread> threads_;
  std::thread placer_;
};

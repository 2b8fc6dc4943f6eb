#include "net/fetchpool.h"

#include <algorithm>
#include <exception>

namespace {

FetchReport RunTask(const FetchPool::Task& task) {
  try {
    return task();
  } catch (const std::exception& e) {
    FetchReport failed;
    failed.error = std::string("the fetch failed: ") + e.what();
    return failed;
  }
}

}  // namespace

FetchPool::FetchPool(int workers) : workers_(std::max(1, workers)) {
  placer_ = std::thread([this] { PlaceAll(); });
  if (workers_ == 1) return;
  threads_.reserve(workers_);
  for (int i = 0; i < workers_; ++i) threads_.emplace_back([this] { Work(); });
}

FetchPool::~FetchPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    transferring_ -= static_cast<int>(queue_.size());
    queue_.clear();
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
  // Only now: a worker may still have handed a fetch over for placing. Every one of them is placed, so no
  // finished file is left under its temporary name.
  placeWake_.notify_all();
  placer_.join();
}

int FetchPool::Transferring() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transferring_;
}

bool FetchPool::HasDone() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !results_.empty();
}

void FetchPool::Submit(int tag, Task task) {
  ++outstanding_;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++transferring_;
    if (!threads_.empty()) queue_.emplace_back(tag, std::move(task));
  }
  if (threads_.empty()) {
    Finished(tag, RunTask(task));
    return;
  }
  wake_.notify_one();
}

void FetchPool::Finished(int tag, FetchReport report) {
  const bool place = static_cast<bool>(report.place);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --transferring_;
    ++transfersEnded_;
    (place ? placing_ : results_).emplace_back(tag, std::move(report));
  }
  if (place) placeWake_.notify_one();
  done_.notify_one();
}

std::pair<int, FetchReport> FetchPool::NextDone() {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return !results_.empty(); });
  auto result = std::move(results_.front());
  results_.pop_front();
  --outstanding_;
  return result;
}

std::optional<std::pair<int, FetchReport>> FetchPool::NextDoneOrRoom() {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return !results_.empty() || transfersEnded_ != endedSeen_; });
  endedSeen_ = transfersEnded_;
  if (results_.empty()) return std::nullopt;
  auto result = std::move(results_.front());
  results_.pop_front();
  --outstanding_;
  return result;
}

void FetchPool::Work() {
  for (;;) {
    std::pair<int, Task> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
      if (queue_.empty()) return;  // closing
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    Finished(job.first, RunTask(job.second));
  }
}

void FetchPool::PlaceAll() {
  for (;;) {
    std::pair<int, FetchReport> item;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      placeWake_.wait(lock, [this] { return !placing_.empty() || (closing_ && transferring_ == 0); });
      if (placing_.empty()) return;  // closing, and nothing can come any more
      item = std::move(placing_.front());
      placing_.pop_front();
    }
    const auto place = std::move(item.second.place);
    item.second.place = nullptr;
    try {
      place(item.second);
    } catch (const std::exception& e) {
      item.second.ok = false;
      item.second.failure = FetchFailure::kOther;
      item.second.error = std::string("the fetch failed: ") + e.what();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      results_.push_back(std::move(item));
    }
    done_.notify_all();
  }
}

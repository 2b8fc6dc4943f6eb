#include "app/fetchpool.h"

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
  if (workers_ == 1) return;
  threads_.reserve(workers_);
  for (int i = 0; i < workers_; ++i) threads_.emplace_back([this] { Work(); });
}

FetchPool::~FetchPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void FetchPool::Submit(int tag, Task task) {
  ++outstanding_;
  if (threads_.empty()) {
    FetchReport report = RunTask(task);
    std::lock_guard<std::mutex> lock(mutex_);
    results_.emplace_back(tag, std::move(report));
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.emplace_back(tag, std::move(task));
  }
  wake_.notify_one();
}

std::pair<int, FetchReport> FetchPool::NextDone() {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return !results_.empty(); });
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
    FetchReport report = RunTask(job.second);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      results_.emplace_back(job.first, std::move(report));
    }
    done_.notify_one();
  }
}

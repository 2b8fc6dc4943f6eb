// Which albums of a download are ticked. The front end fills it before the job starts and the window keeps
// it up to date while the job runs (a box ticked or unticked in the album page); the job reads an album's
// tick once, when it comes to that album, so unticking one that has not begun yet leaves it out.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

class AlbumSelection {
 public:
  explicit AlbumSelection(const std::vector<bool>& ticked)
      : count_(ticked.size()), ticked_(std::make_unique<std::atomic<bool>[]>(ticked.size())) {
    for (size_t n = 0; n < count_; ++n) ticked_[n].store(ticked[n], std::memory_order_relaxed);
  }
  // Every one of `count` albums ticked.
  static AlbumSelection All(size_t count) { return AlbumSelection(std::vector<bool>(count, true)); }

  // Any thread. An album the selection does not know counts as ticked, as a box that is missing does.
  bool Ticked(int n) const {
    return n < 0 || static_cast<size_t>(n) >= count_ || ticked_[n].load(std::memory_order_relaxed);
  }
  // Any thread; an album it does not know is ignored.
  void Set(int n, bool ticked) {
    if (n >= 0 && static_cast<size_t>(n) < count_) ticked_[n].store(ticked, std::memory_order_relaxed);
  }
  size_t Count() const { return count_; }

 private:
  size_t count_;
  std::unique_ptr<std::atomic<bool>[]> ticked_;
};

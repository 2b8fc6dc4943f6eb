// The pool of fetching threads on its own (its limit of fetches at once is tested against a server in the
// retry tests).
#include "net/fetchpool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

TEST(FetchPoolTask, AThrowingTaskIsAFailedFetch) {
  for (int workers : {1, 2}) {
    FetchPool pool(workers);
    pool.Submit(7, []() -> FetchReport { throw std::runtime_error("disk gone"); });
    auto [tag, report] = pool.NextDone();
    EXPECT_EQ(tag, 7);
    EXPECT_FALSE(report.ok);
    EXPECT_NE(report.error.find("disk gone"), std::string::npos);
    EXPECT_EQ(pool.Outstanding(), 0);
  }
}

// A photo's flush must not hold its connection: the next fetch's transfer runs while the first one is still
// being placed (here the placing waits for that transfer; done in the fetch's own way it would never end),
// every placed report comes back with the placing's outcome, and a pool that goes away places what it was
// handed first.
TEST(FetchPoolPlacing, TheNextTransferRunsWhileAFetchIsPlaced) {
  for (int workers : {1, 3}) {
    SCOPED_TRACE(workers);
    std::promise<void> secondRan;
    std::shared_future<void> secondDone = secondRan.get_future().share();
    std::atomic<int> placed{0};
    auto placing = [&](bool wait, bool fails) {
      FetchReport r;
      r.ok = true;
      r.place = [&, secondDone, wait, fails](FetchReport& report) {
        if (wait && secondDone.wait_for(std::chrono::seconds(10)) != std::future_status::ready) return;
        ++placed;
        report.ok = !fails;
        if (fails) report.error = "the disk does not accept the file name";
      };
      return r;
    };
    {
      FetchPool pool(workers);
      pool.Submit(1, [&] { return placing(true, false); });
      while (workers > 1 && pool.Transferring() > 0) std::this_thread::yield();
      EXPECT_EQ(pool.Transferring(), 0);  // its connection is free while it is placed
      pool.Submit(2, [&] {
        secondRan.set_value();
        return placing(false, true);
      });
      auto first = pool.NextDone();
      EXPECT_EQ(first.first, 1);
      EXPECT_TRUE(first.second.ok);
      auto second = pool.NextDone();
      EXPECT_EQ(second.first, 2);
      EXPECT_FALSE(second.second.ok);
      EXPECT_FALSE(second.second.place);
      EXPECT_EQ(placed, 2);
      pool.Submit(3, [&] { return placing(false, false); });
      while (pool.Transferring() > 0) std::this_thread::yield();  // fetched; a fetch not started is dropped
    }
    EXPECT_EQ(placed, 3);
  }
}

}  // namespace

// The pool of fetching threads on its own (its limit of fetches at once is tested against a server in the
// retry tests).
#include "app/fetchpool.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

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

}  // namespace

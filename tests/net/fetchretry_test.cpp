// Retrying transient failures, and the pool of fetching threads, against a server on 127.0.0.1.
#include "net/fetchretry.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "net/fetchpool.h"
#include "tests/support/testfolder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

FetchReport Failed(long status, FetchFailure failure = FetchFailure::kHttpStatus, long retryAfter = -1,
                   bool timedOut = false) {
  FetchReport r;
  r.httpStatus = status;
  r.failure = failure;
  r.retryAfterSeconds = retryAfter;
  r.timedOut = timedOut;
  return r;
}

TEST(Retry, WhichFailuresAreWorthAnotherTry) {
  struct Case {
    FetchReport report;
    bool retry;
  } cases[] = {
      {Failed(429), true},
      {Failed(500), true},
      {Failed(503), true},
      {Failed(599), true},
      {Failed(404), false},
      {Failed(403), false},
      {Failed(200), false},
      {Failed(0, FetchFailure::kConnection), true},
      {Failed(0, FetchFailure::kTimedOut, -1, true), true},
      {Failed(0, FetchFailure::kTooSlow, -1, true), true},
      {Failed(0, FetchFailure::kCutShort), true},
      {Failed(0, FetchFailure::kBadFraming), true},  // on a fresh connection it may pass
      {Failed(200, FetchFailure::kTooLarge), false},
      {Failed(200, FetchFailure::kNotImage), false},
      {Failed(0, FetchFailure::kNoSpace), false},
      {Failed(0, FetchFailure::kRefusedAddress), false},
      {Failed(0, FetchFailure::kOther), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsRetryableFailure(c.report), c.retry)
        << "status " << c.report.httpStatus << " failure " << FetchFailureKey(c.report.failure);
  }
  FetchReport aborted = Failed(0, FetchFailure::kStopped);
  aborted.aborted = true;
  EXPECT_FALSE(IsRetryableFailure(aborted));
  FetchReport ok;
  ok.ok = true;
  EXPECT_FALSE(IsRetryableFailure(ok));
}

TEST(Retry, DelayGrowsIsBoundedAndHonoursRetryAfter) {
  RetryPolicy p;
  p.firstDelayMs = 500;
  p.maxDelayMs = 3000;
  p.maxRetryAfterMs = 10000;
  struct Case {
    int retry;
    long retryAfter;
    long expected;
  } cases[] = {
      {0, -1, 500},
      {1, -1, 1000},
      {2, -1, 2000},
      {3, -1, 3000},
      {40, -1, 3000},
      {0, 2, 2000},  // the server asks for longer than our delay
      {2, 1, 2000},  // our delay is longer than the server asks
      {0, 0, 500},
      {0, 100000, 10000},  // an absurd Retry-After is cut
      {0, 9223372036854775807L / 1000, 10000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RetryDelayMs(p, c.retry, Failed(503, FetchFailure::kHttpStatus, c.retryAfter)), c.expected)
        << "retry " << c.retry << " retry-after " << c.retryAfter;
  }
}

class RetryServer : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) ::unsetenv(name);
    FetchGlobalInit();
    folder_ = sandbox_.Dir();
    // Fails the first `failures_` requests with 503 (Retry-After 0), then answers.
    server_.Get("/flaky", [this](const httplib::Request&, httplib::Response& res) {
      if (requests_++ < failures_) {
        res.status = 503;
        res.set_header("Retry-After", "0");
        res.set_content("busy", "text/plain");
        return;
      }
      res.set_content("photo bytes", "image/jpeg");
    });
    // Holds each request a while and records how many run at once and from how many client ports.
    server_.Get(R"(/slow/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
      const int now = ++running_;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        peak_ = std::max(peak_, now);
        ports_.insert(req.remote_port);
      }
      std::this_thread::sleep_for(30ms);
      --running_;
      res.set_content("slow " + req.matches[1].str(), "image/jpeg");
    });
    server_.set_keep_alive_max_count(1000);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(1ms);
  }
  void TearDown() override {
    FetchReleaseThreadHandles();  // else the server waits for our kept-alive connection to time out
    server_.stop();
    thread_.join();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  TestFolder sandbox_;
  fs::path folder_;
  std::atomic<int> requests_{0};
  int failures_ = 0;
  std::atomic<int> running_{0};
  std::mutex mutex_;
  int peak_ = 0;
  std::set<int> ports_;
};

TEST_F(RetryServer, RetriesUntilTheServerAnswersOrTheRetriesAreSpent) {
  struct Case {
    int failures, retries;
    bool ok;
    int attempts;
  } cases[] = {{0, 3, true, 1}, {2, 3, true, 3}, {3, 3, true, 4}, {4, 3, false, 4}, {1, 0, false, 1}};
  RetryPolicy policy;
  policy.firstDelayMs = 1;
  for (const auto& c : cases) {
    requests_ = 0;
    failures_ = c.failures;
    policy.retries = c.retries;
    const std::string file = (folder_ / "photo.jpg").string();
    fs::remove(file);
    int attempts = 0;
    const FetchReport r = FetchWithRetries(Url("/flaky"), file, {}, policy, nullptr, &attempts);
    EXPECT_EQ(r.ok, c.ok) << c.failures << "/" << c.retries;
    EXPECT_EQ(attempts, c.attempts) << c.failures << "/" << c.retries;
    EXPECT_EQ(requests_.load(), c.attempts);
    EXPECT_EQ(fs::exists(file), c.ok);
    // No temporary file of a failed attempt is left beside the target.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), c.ok ? 1 : 0);
  }
}

TEST_F(RetryServer, AStopEndsTheWaitBetweenAttempts) {
  failures_ = 100;
  RetryPolicy policy;
  policy.retries = 5;
  policy.firstDelayMs = 60000;  // without the stop this would wait for minutes
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(50ms);
    stop = true;
  });
  int attempts = 0;
  const FetchReport r =
      FetchWithRetries(Url("/flaky"), (folder_ / "p").string(), {}, policy, &stop, &attempts);
  stopper.join();
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.httpStatus, 503);
  EXPECT_EQ(attempts, 1);
}

TEST_F(RetryServer, PoolRunsAtMostItsWorkersAtOnceAndReturnsEveryTag) {
  for (int workers : {1, 3}) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      peak_ = 0;
      ports_.clear();
    }
    FetchPool pool(workers);
    std::set<int> tags;
    for (int i = 0; i < 9; ++i) {
      while (pool.Outstanding() >= pool.Workers()) tags.insert(pool.NextDone().first);
      const std::string url = Url("/slow/" + std::to_string(i));
      const std::string file = (folder_ / std::to_string(i)).string();
      pool.Submit(i, [url, file] { return FetchToFileReport(url, file); });
    }
    while (pool.Outstanding() > 0) {
      auto [tag, report] = pool.NextDone();
      EXPECT_TRUE(report.ok) << tag << " " << report.error;
      tags.insert(tag);
    }
    EXPECT_EQ(tags.size(), 9u);
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_EQ(peak_, workers);
    // Each worker keeps its connection: never more client connections than workers.
    EXPECT_LE(static_cast<int>(ports_.size()), workers);
    EXPECT_GE(static_cast<int>(ports_.size()), 1);
  }
}

}  // namespace

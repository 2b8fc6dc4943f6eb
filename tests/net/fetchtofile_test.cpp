#include "net/fetchtofile.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "machine/md5unit.h"
#include "net/digest.h"
#include "tests/support/testfolder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// 1995-10-31 12:00:00 UTC, as the server announces it.
constexpr long long kServerTime = 815140800;
constexpr const char* kServerTimeText = "Tue, 31 Oct 1995 12:00:00 GMT";

std::string PhotoBytes() {
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes.push_back(static_cast<char>((i * 7919) >> 3));
  return bytes;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::set<std::string> FolderEntries(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// A port on 127.0.0.1 that nothing listens on.
int ClosedPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(s);
  return ntohs(address.sin_port);
}

class Fetch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The transfer library honours proxy variables; the test server is only reachable directly.
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      ::unsetenv(name);
    FetchGlobalInit();
  }

  void SetUp() override {
    folder_ = sandbox_.Dir();

    server_.Get("/photo.jpg", [this](const httplib::Request& request, httplib::Response& response) {
      Record(request);
      response.set_header("Last-Modified", kServerTimeText);
      response.set_content(photo_, "image/jpeg");
    });
    server_.Get("/empty", [this](const httplib::Request& request, httplib::Response& response) {
      Record(request);
      response.set_content("", "text/plain");
    });
    server_.Get("/missing", [](const httplib::Request&, httplib::Response& response) {
      response.status = 404;
      response.set_content("<html>not here</html>", "text/html");
    });
    server_.Get("/broken", [](const httplib::Request&, httplib::Response& response) {
      response.status = 500;
      response.set_header("Retry-After", "120");
      response.set_content("server error", "text/plain");
    });
    server_.Get("/moved", [](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("/photo.jpg", 302);
    });
    server_.Get("/moved-twice", [](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("/moved", 301);
    });
    server_.Get("/loop", [](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("/loop", 302);
    });
    server_.Get("/to-local-file", [](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("file:///etc/hostname", 302);
    });
    server_.Get("/redirect-without-target", [](const httplib::Request&, httplib::Response& response) {
      response.status = 302;
      response.set_content("moved somewhere", "text/plain");
    });
    // Announces 1000 bytes, sends 500 and closes the connection.
    server_.Get("/cut", [](const httplib::Request&, httplib::Response& response) {
      response.set_content_provider(1000, "image/jpeg", [](size_t offset, size_t, httplib::DataSink& sink) {
        if (offset > 0) return false;
        const std::string half(500, 'x');
        sink.write(half.data(), half.size());
        return true;
      });
    });
    // Sends one byte of the body, then nothing until the test ends. (More bytes would only keep the transfer
    // library's averaged speed above the limit for a few seconds longer.)
    server_.Get("/stall", [this](const httplib::Request& request, httplib::Response& response) {
      Record(request);
      response.set_content_provider(1000, "image/jpeg",
                                    [this](size_t offset, size_t, httplib::DataSink& sink) {
                                      if (offset == 0) {
                                        sink.write("0", 1);
                                        return true;
                                      }
                                      while (!stopping_) std::this_thread::sleep_for(10ms);
                                      return false;
                                    });
    });

    // Our handles keep connections open; a short keep-alive lets the server stop quickly after each test.
    server_.set_keep_alive_timeout(1);
    port_ = server_.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    serverThread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(1ms);
  }

  void TearDown() override {
    stopping_ = true;
    server_.stop();
    if (serverThread_.joinable()) serverThread_.join();
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::string Target(const std::string& name = "photo.jpg") const { return (folder_ / name).string(); }

  void Record(const httplib::Request& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++hits_;
    userAgents_.push_back(request.get_header_value("User-Agent"));
    clientPorts_.push_back(request.remote_port);
  }
  int Hits() {
    std::lock_guard<std::mutex> lock(mutex_);
    return hits_;
  }

  const std::string photo_ = PhotoBytes();
  TestFolder sandbox_;
  fs::path folder_;
  httplib::Server server_;
  std::thread serverThread_;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  int hits_ = 0;
  std::vector<std::string> userAgents_;
  std::vector<int> clientPorts_;
};

TEST_F(Fetch, StoresTheWholeReplyWithItsDetails) {
  const FetchReport report = FetchToFileReport(Url("/photo.jpg"), Target());
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_EQ(report.error, "");
  EXPECT_EQ(report.httpStatus, 200);
  EXPECT_EQ(report.bytes, static_cast<long long>(photo_.size()));
  EXPECT_EQ(report.contentLength, static_cast<long long>(photo_.size()));
  EXPECT_EQ(report.contentType, "image/jpeg");
  EXPECT_EQ(report.lastModified, kServerTime);
  EXPECT_EQ(report.retryAfterSeconds, -1);
  EXPECT_FALSE(report.aborted);
  EXPECT_FALSE(report.timedOut);
  EXPECT_EQ(ReadFile(Target()), photo_);
  EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{"photo.jpg"});

  struct stat info {};
  ASSERT_EQ(::stat(Target().c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, kServerTime);
  // Rights as for any file the user creates, not the owner-only rights of a private temporary file.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST_F(Fetch, ReplacesAnOlderFileAndKeepsLocalTimeWhenAsked) {
  WriteFile(Target(), "older copy");
  FetchOptions options;
  options.keepServerTime = false;
  ASSERT_TRUE(FetchToFile(Url("/photo.jpg"), Target(), options));
  EXPECT_EQ(ReadFile(Target()), photo_);
  struct stat info {};
  ASSERT_EQ(::stat(Target().c_str(), &info), 0);
  EXPECT_GT(info.st_mtime, kServerTime + 3600);
}

TEST_F(Fetch, EmptyReplyGivesAnEmptyFile) {
  const FetchReport report = FetchToFileReport(Url("/empty"), Target("empty.txt"));
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_EQ(report.bytes, 0);
  EXPECT_TRUE(fs::exists(Target("empty.txt")));
  EXPECT_EQ(fs::file_size(Target("empty.txt")), 0u);
}

// The digest taken while the bytes arrive is the file's, also behind redirects (whose bodies are not the
// photo's), and agrees with the separate digest of the machine unit.
TEST_F(Fetch, FollowsRedirectsAndDigestsWhatIsWritten) {
  FetchOptions options;
  options.digest = true;
  for (const char* path : {"/photo.jpg", "/moved", "/moved-twice"}) {
    fs::remove(Target());
    const FetchReport report = FetchToFileReport(Url(path), Target(), options);
    ASSERT_TRUE(report.ok) << path << ": " << report.error;
    EXPECT_EQ(report.httpStatus, 200) << path;
    EXPECT_EQ(ReadFile(Target()), photo_) << path;
    EXPECT_EQ(report.md5, Md5Hex(photo_)) << path;
    EXPECT_EQ(FileMd5Hex(Target()), report.md5) << path;
  }
  // Block and padding edges of the digest, against the other implementation.
  for (size_t size : {0u, 1u, 55u, 56u, 64u, 1000003u, (1u << 20) + 3u}) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + (i >> 9));
    EXPECT_EQ(Md5HexOf(bytes), Md5Hex(bytes)) << size;
    WriteFile(Target("blob.bin"), bytes);
    long long read = -1;
    EXPECT_EQ(FileMd5Hex(Target("blob.bin"), &read), Md5Hex(bytes)) << size;
    EXPECT_EQ(read, static_cast<long long>(size));
  }
  EXPECT_EQ(FileMd5Hex(Target("none.bin")), "");
}

// Every failure leaves the folder as it was: no target when there was none, the older file untouched when
// there was one, and never a temporary file.
TEST_F(Fetch, FailuresLeaveNoFileBehind) {
  struct Case {
    std::string url;
    long status;
    bool timedOut;
    long retryAfter;
  } cases[] = {
      {"http://127.0.0.1:" + std::to_string(ClosedPort()) + "/photo.jpg", 0, false, -1},
      {Url("/missing"), 404, false, -1},
      {Url("/broken"), 500, false, 120},
      {Url("/loop"), 302, false, -1},
      {Url("/to-local-file"), 302, false, -1},
      {Url("/redirect-without-target"), 302, false, -1},
      {Url("/cut"), 200, false, -1},
      {"file:///etc/hostname", 0, false, -1},
      {"gopher://127.0.0.1/", 0, false, -1},
      {"not an address", 0, false, -1},
      {"", 0, false, -1},
  };
  for (const bool olderFileExists : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.url + (olderFileExists ? " over an older file" : ""));
      if (olderFileExists) WriteFile(Target(), "older copy");
      const FetchReport report = FetchToFileReport(c.url, Target());
      EXPECT_FALSE(report.ok);
      EXPECT_NE(report.error, "");
      EXPECT_EQ(report.httpStatus, c.status);
      EXPECT_EQ(report.timedOut, c.timedOut);
      EXPECT_EQ(report.retryAfterSeconds, c.retryAfter);
      EXPECT_FALSE(report.aborted);
      EXPECT_FALSE(FetchToFile(c.url, Target()));
      if (olderFileExists) {
        EXPECT_EQ(ReadFile(Target()), "older copy");
        EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{"photo.jpg"});
        fs::remove(Target());
      } else {
        EXPECT_TRUE(FolderEntries(folder_).empty());
      }
    }
  }
}

TEST_F(Fetch, ShortBodyIsAFailure) {
  const FetchReport report = FetchToFileReport(Url("/cut"), Target());
  EXPECT_FALSE(report.ok);
  EXPECT_EQ(report.contentLength, 1000);
  EXPECT_LT(report.bytes, 1000);
  EXPECT_TRUE(FolderEntries(folder_).empty());
}

TEST_F(Fetch, StalledServerIsAbandoned) {
  FetchOptions options;
  options.lowSpeedTimeSec = 1;
  const FetchReport report = FetchToFileReport(Url("/stall"), Target(), options);
  EXPECT_FALSE(report.ok);
  EXPECT_TRUE(report.timedOut);
  EXPECT_FALSE(report.aborted);
  EXPECT_EQ(report.bytes, 1);
  EXPECT_TRUE(FolderEntries(folder_).empty());
}

TEST_F(Fetch, TotalTimeLimit) {
  FetchOptions options;
  options.totalTimeoutMs = 300;
  const FetchReport report = FetchToFileReport(Url("/stall"), Target(), options);
  EXPECT_FALSE(report.ok);
  EXPECT_TRUE(report.timedOut);
  EXPECT_TRUE(FolderEntries(folder_).empty());
}

TEST_F(Fetch, MissingTargetFolder) {
  const fs::path target = folder_ / "no-such-folder" / "photo.jpg";
  const FetchReport report = FetchToFileReport(Url("/photo.jpg"), target.string());
  EXPECT_FALSE(report.ok);
  EXPECT_NE(report.error.find("no-such-folder"), std::string::npos) << report.error;
  EXPECT_FALSE(fs::exists(folder_ / "no-such-folder"));
  EXPECT_EQ(Hits(), 0);  // nothing fetched that could not be kept
  EXPECT_FALSE(FetchToFile(Url("/photo.jpg"), ""));
}

TEST_F(Fetch, TargetThatIsAFolderStaysAFolder) {
  fs::create_directories(folder_ / "album" / "inside");
  const FetchReport report = FetchToFileReport(Url("/photo.jpg"), (folder_ / "album").string());
  EXPECT_FALSE(report.ok);
  EXPECT_TRUE(fs::is_directory(folder_ / "album" / "inside"));
  EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{"album"});
}

TEST_F(Fetch, AcceptCallbackSeesTheCompleteReplyAndCanRejectIt) {
  std::string seenPath, seenContent;
  long long seenBytes = -1;
  FetchOptions options;
  options.accept = [&](const std::string& tempPath, const FetchReport& report) {
    seenPath = tempPath;
    seenContent = ReadFile(tempPath);
    seenBytes = report.bytes;
    return false;
  };
  WriteFile(Target(), "older copy");
  const FetchReport report = FetchToFileReport(Url("/photo.jpg"), Target(), options);
  EXPECT_FALSE(report.ok);
  EXPECT_NE(report.error, "");
  EXPECT_EQ(fs::path(seenPath).parent_path(), folder_);  // beside the target, so the rename stays on one disk
  EXPECT_NE(fs::path(seenPath).filename(), "photo.jpg");
  EXPECT_EQ(seenContent, photo_);
  EXPECT_EQ(seenBytes, static_cast<long long>(photo_.size()));
  EXPECT_EQ(ReadFile(Target()), "older copy");
  EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{"photo.jpg"});

  options.accept = [](const std::string&, const FetchReport&) -> bool {
    throw std::runtime_error("bad check");
  };
  fs::remove(Target());
  EXPECT_FALSE(FetchToFile(Url("/photo.jpg"), Target(), options));
  EXPECT_TRUE(FolderEntries(folder_).empty());

  options.accept = [](const std::string&, const FetchReport& report) {
    return report.contentType == "image/jpeg";
  };
  EXPECT_TRUE(FetchToFile(Url("/photo.jpg"), Target(), options));
  EXPECT_EQ(ReadFile(Target()), photo_);
}

TEST_F(Fetch, AbortFromAnotherThreadEndsTheFetch) {
  std::atomic<bool> abort{false};
  FetchOptions options;
  options.abort = &abort;
  options.lowSpeedTimeSec = 0;  // only the abort flag can end this transfer
  std::atomic<bool> returned{false};
  std::thread closer([&] {
    // Waits for the request to arrive, but never outlives a fetch that failed before it got there.
    while (Hits() == 0 && !returned) std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(100ms);
    abort = true;
  });
  const FetchReport report = FetchToFileReport(Url("/stall"), Target(), options);
  returned = true;
  closer.join();
  EXPECT_FALSE(report.ok);
  EXPECT_TRUE(report.aborted);
  EXPECT_FALSE(report.timedOut);
  EXPECT_NE(report.error, "");
  EXPECT_TRUE(FolderEntries(folder_).empty());

  // A flag that is already set stops the fetch before it starts.
  const int hitsBefore = Hits();
  EXPECT_FALSE(FetchToFile(Url("/photo.jpg"), Target(), options));
  EXPECT_EQ(Hits(), hitsBefore);
  EXPECT_TRUE(FolderEntries(folder_).empty());

  // The thread's handle works normally after an aborted transfer.
  abort = false;
  EXPECT_TRUE(FetchToFile(Url("/photo.jpg"), Target(), options));
  EXPECT_EQ(ReadFile(Target()), photo_);
}

TEST_F(Fetch, ConnectionIsKeptBetweenFetchesOfOneThread) {
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(FetchToFile(Url("/photo.jpg"), Target()));
  });
  worker.join();
  std::lock_guard<std::mutex> lock(mutex_);
  ASSERT_EQ(clientPorts_.size(), 3u);
  EXPECT_EQ(clientPorts_[0], clientPorts_[1]);
  EXPECT_EQ(clientPorts_[1], clientPorts_[2]);
}

TEST_F(Fetch, ThreadsFetchSideBySide) {
  std::vector<std::thread> workers;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        const std::string target = Target("t" + std::to_string(t) + "-" + std::to_string(i) + ".jpg");
        if (FetchToFile(Url(i % 2 ? "/moved" : "/photo.jpg"), target) && ReadFile(target) == photo_) ++good;
      }
    });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(good, 20);
  EXPECT_EQ(FolderEntries(folder_).size(), 20u);  // no temporary file left over
}

TEST_F(Fetch, UserAgent) {
  ASSERT_TRUE(FetchToFile(Url("/photo.jpg"), Target()));
  FetchOptions options;
  options.userAgent = "AlbumCopier/2.1";
  ASSERT_TRUE(FetchToFile(Url("/photo.jpg"), Target(), options));
  std::lock_guard<std::mutex> lock(mutex_);
  ASSERT_EQ(userAgents_.size(), 2u);
  EXPECT_NE(userAgents_[0], "");
  EXPECT_EQ(userAgents_[1], "AlbumCopier/2.1");
}

}  // namespace

// albumd as a process: its command line, its stop signals, the test helper, and data read per request.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/albumd/fetch.h"
#include "tools/albumd/testing/albumdprocess.h"

extern char** environ;

namespace {

struct Child {
  pid_t pid = -1;
  int out = -1;  // read end of its standard output
  int err = -1;  // read end of its standard error
};

Child Spawn(std::vector<std::string> args) {
  args.insert(args.begin(), ALBUMD_EXECUTABLE);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int out[2];
  int err[2];
  EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
  EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  Child child;
  EXPECT_EQ(posix_spawn(&child.pid, ALBUMD_EXECUTABLE, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  child.out = out[0];
  child.err = err[0];
  return child;
}

// Everything the descriptor gives until end of file or the time is up.
std::string ReadAll(int fd, int timeoutMs) {
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buffer[512];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

std::string ReadLine(int fd, int timeoutMs) {
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char c;
    if (read(fd, &c, 1) != 1 || c == '\n') break;
    line += c;
  }
  return line;
}

// Waits for the child's exit; -1 when it is still running after the timeout (it is then killed).
int ExitStatus(pid_t pid, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class TempDataDir {
 public:
  TempDataDir() : path_(CopyDataDirToTemp()) {}
  ~TempDataDir() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(AlbumdProcessTest, StopSignalsEndItCleanlyEvenWithAnOpenConnection) {
  for (int signal : {SIGTERM, SIGINT}) {
    Child child = Spawn({"--listen", "127.0.0.1:0"});
    std::string address = ReadLine(child.out, 5000);
    ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << address;
    // A kept-alive connection sits idle in a server thread; it must not hold up the exit for long.
    CURL* curl = curl_easy_init();
    std::string url = "http://" + address + "/GetRoute?UIN=10001&type=json&version=2";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
    EXPECT_EQ(curl_easy_perform(curl), CURLE_OK);
    kill(child.pid, signal);
    EXPECT_EQ(ExitStatus(child.pid, 4000), 0) << "signal " << signal;
    curl_easy_cleanup(curl);
    close(child.out);
    close(child.err);
  }
}

TEST(AlbumdProcessTest, BadCommandLinesFailWithAMessage) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--listen", "127.0.0.1"}, "--listen takes HOST:PORT"},
      {{"--listen", "127.0.0.1:99999"}, "--listen takes HOST:PORT"},
      {{"--latency-ms", "-5"}, "--latency-ms takes"},
      {{"--data", "/nonexistent/albumd-data"}, "no accounts folder"},
      {{"--log", "/nonexistent/dir/albumd.log"}, "cannot open the log file"},
      {{"--frobnicate", "1"}, "unknown option --frobnicate"},
      {{"--data"}, "missing value after --data"},
  };
  for (const Case& c : cases) {
    Child child = Spawn(c.args);
    std::string err = ReadAll(child.err, 3000);
    EXPECT_EQ(ExitStatus(child.pid, 3000), 2) << c.args[0];
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_TRUE(ReadAll(child.out, 100).empty()) << "an address printed despite the error";
    close(child.out);
    close(child.err);
  }
}

TEST(AlbumdProcessTest, ABusyPortIsReportedNotIgnored) {
  auto first = AlbumdProcess::Start();
  Child child = Spawn({"--listen", first->HostPort()});
  std::string err = ReadAll(child.err, 3000);
  EXPECT_EQ(ExitStatus(child.pid, 3000), 1);
  EXPECT_NE(err.find("cannot listen on " + first->HostPort()), std::string::npos) << err;
  close(child.out);
  close(child.err);
}

TEST(AlbumdProcessTest, HelperThrowsWhenAlbumdCannotStart) {
  std::string empty = std::filesystem::temp_directory_path() / "albumd-no-accounts-XXXXXX";
  ASSERT_NE(mkdtemp(empty.data()), nullptr);
  EXPECT_THROW(AlbumdProcess::Start({.dataDir = empty}), std::runtime_error);
  std::filesystem::remove_all(empty);
}

TEST(AlbumdProcessTest, HelperGivesEachInstanceItsOwnLogAndStopsIt) {
  std::string logPath;
  {
    auto a = AlbumdProcess::Start();
    auto b = AlbumdProcess::Start();
    EXPECT_NE(a->HostPort(), b->HostPort());
    EXPECT_NE(a->LogPath(), b->LogPath());
    EXPECT_EQ(a->DataDir(), DefaultDataDir());
    Fetched route = Fetch("http://" + a->HostPort() + "/GetRoute?UIN=10001&type=json&version=2");
    EXPECT_EQ(a->LogLines(), (std::vector<std::string>{"GET /GetRoute UIN=10001&type=json&version=2 200 " +
                                                       std::to_string(route.body.size())}));
    EXPECT_TRUE(b->LogLines().empty());
    logPath = a->LogPath();
    b.reset();
    EXPECT_EQ(Fetch("http://" + a->HostPort() + "/client.php?clientver=2.1&clientrand=1").status, 200);
  }
  EXPECT_FALSE(std::filesystem::exists(logPath));
}

TEST(AlbumdProcessTest, LatencyDelaysEveryReply) {
  AlbumdProcess::Options options;
  options.latencyMs = 300;
  auto albumd = AlbumdProcess::Start(options);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Fetch("http://" + albumd->HostPort() + "/GetRoute?UIN=10001&type=json&version=2").status, 200);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

// A test changes its copy of the data between requests: albumd must serve the change at once.
TEST(AlbumdProcessTest, DataIsReadAgainForEveryRequest) {
  TempDataDir data;
  auto albumd = AlbumdProcess::Start({.dataDir = data.path()});
  auto albums = [&](const std::string& qq) {
    return ReadXml(
        Fetch("http://" + albumd->HostPort() + "/fcgi-bin/fcg_list_album?uin=" + qq + "&refer=portal").body,
        "album");
  };
  EXPECT_EQ(albums("10001").items.size(), 6u);
  const std::string file = data.path() + "/accounts/10001.ini";
  WriteFile(file, ReadFile(file) +
                      "\n[album]\nid = 1007\nname = 新相册\ndesc = 刚加的\npriv = 1\ncover = sky.jpg\n"
                      "\n[photo]\nname = 新照片\nimage = sun.gif\n");
  XmlDoc grown = albums("10001");
  ASSERT_EQ(grown.items.size(), 7u);
  EXPECT_EQ(grown.items[6].fields["name"], "新相册");
  EXPECT_EQ(grown.items[6].fields["total"], "1");

  EXPECT_TRUE(albums("54321").items.empty());
  WriteFile(data.path() + "/accounts/54321.ini",
            "[account]\n[album]\nid = 9\nname = 后来的\ndesc = x\ncover = sky.jpg\n");
  EXPECT_EQ(albums("54321").items.size(), 1u);

  WriteFile(data.path() + "/vendor.ini", "subhost = no\n");
  Fetched page = Fetch("http://" + albumd->HostPort() + "/client.php?clientver=2.1&clientrand=1");
  EXPECT_EQ(page.body.find("subhost"), std::string::npos);
}

TEST(AlbumdProcessTest, MalformedDataGivesAClearErrorAndSparesOtherAccounts) {
  TempDataDir data;
  auto albumd = AlbumdProcess::Start({.dataDir = data.path()});
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"[account]\nroute = sideways\n", "54321.ini:2: unknown value \"sideways\""},
      {"[photo]\nname = x\n", "54321.ini:1: [photo] outside an [album]"},
      {"[album]\nname = no id\n", "an album needs an id"},
      {"[album]\nid = 1\ncover = ../../../etc/passwd\n", "is not a plain file name"},
      {"[album]\nid = 1\n[photo]\nimage = missing.jpg\n", "\"missing.jpg\" is not in"},
      {"[account]\ngenerate = 100000x100000\n", "generate takes"},
      {"just text\n", "54321.ini:1: expected \"key = value\""},
  };
  for (const Case& c : cases) {
    WriteFile(data.path() + "/accounts/54321.ini", c.text);
    Fetched list = Fetch("http://" + albumd->HostPort() + "/fcgi-bin/fcg_list_album?uin=54321&refer=portal");
    EXPECT_EQ(list.status, 500) << c.text;
    EXPECT_NE(list.body.find(c.message), std::string::npos) << list.body;
  }
  EXPECT_EQ(Fetch("http://" + albumd->HostPort() + "/fcgi-bin/fcg_list_album?uin=10001&refer=portal").status,
            200);
}

}  // namespace

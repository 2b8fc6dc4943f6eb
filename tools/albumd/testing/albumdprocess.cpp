#include "tools/albumd/testing/albumdprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

constexpr int kStartTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 5000;

std::string TempDir() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

// Reads the child's first line of output, waiting at most until the deadline.
std::string ReadFirstLine(int fd, int timeoutMs) {
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error("albumd did not print its address in time");
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char c;
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("albumd exited before printing its address");
    if (c == '\n') return line;
    line += c;
    if (line.size() > 200) throw std::runtime_error("albumd printed something other than its address");
  }
}

bool Reap(pid_t pid, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

std::string DefaultDataDir() {
  return ALBUMD_DEFAULT_DATA_DIR;
}

std::string CopyDataDirToTemp(const std::string& from) {
  std::string pattern = TempDir() + "/albumd-data-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
  std::filesystem::copy(from, pattern, std::filesystem::copy_options::recursive);
  return pattern;
}

std::unique_ptr<AlbumdProcess> AlbumdProcess::Start(const Options& options) {
  std::unique_ptr<AlbumdProcess> process(new AlbumdProcess);
  process->dataDir_ = options.dataDir.empty() ? DefaultDataDir() : options.dataDir;

  auto tempFile = [](const std::string& prefix) {
    std::string pattern = TempDir() + "/" + prefix + "-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("cannot make a temporary log file");
    close(fd);
    return pattern;
  };
  process->logPath_ = tempFile("albumd-log");
  process->cookieLogPath_ = tempFile("albumd-cookies");

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe for albumd");

  std::vector<std::string> args = {ALBUMD_EXECUTABLE,
                                   "--listen",
                                   "127.0.0.1:0",
                                   "--data",
                                   process->dataDir_,
                                   "--log",
                                   process->logPath_,
                                   "--cookie-log",
                                   process->cookieLogPath_,
                                   "--latency-ms",
                                   std::to_string(options.latencyMs)};
  if (options.qrSeconds > 0) {
    args.push_back("--qr-seconds");
    args.push_back(std::to_string(options.qrSeconds));
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, ALBUMD_EXECUTABLE, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    throw std::runtime_error(std::string("cannot start ") + ALBUMD_EXECUTABLE);
  }
  process->pid_ = pid;  // from here on the destructor stops it, also when the start fails below

  try {
    process->hostPort_ = ReadFirstLine(pipeFds[0], kStartTimeoutMs);
  } catch (...) {
    close(pipeFds[0]);
    throw;
  }
  close(pipeFds[0]);
  if (process->hostPort_.rfind("127.0.0.1:", 0) != 0)
    throw std::runtime_error("albumd printed an unexpected address: " + process->hostPort_);
  return process;
}

AlbumdProcess::~AlbumdProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    if (!Reap(pid_, kStopTimeoutMs)) {
      kill(pid_, SIGKILL);
      Reap(pid_, kStopTimeoutMs);
    }
  }
  if (!logPath_.empty()) std::remove(logPath_.c_str());
  if (!cookieLogPath_.empty()) std::remove(cookieLogPath_.c_str());
}

namespace {

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace

std::vector<std::string> AlbumdProcess::LogLines() const {
  return ReadLines(logPath_);
}

std::vector<std::string> AlbumdProcess::CookieLogLines() const {
  return ReadLines(cookieLogPath_);
}

bool AlbumdProcess::WaitForLogLine(const std::string& needle, int timeoutMs) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    for (const std::string& line : LogLines()) {
      if (line.find(needle) != std::string::npos) return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Runs the bundled album service as a child process for a test: on a free loopback port, logging to
// temporary files of its own (the request log and the cookie log), stopped with SIGTERM when the object
// goes away.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

class AlbumdProcess {
 public:
  struct Options {
    std::string dataDir;  ///< empty: DefaultDataDir()
    int latencyMs = 0;    ///< delay before every reply
    int qrSeconds = 0;    ///< how long a sign-in QR code lives; 0: albumd's default
  };

  // Starts albumd and waits for its address. Throws std::runtime_error when it does not come up within
  // a few seconds (or exits at once, for example on a data folder without an accounts folder).
  static std::unique_ptr<AlbumdProcess> Start(const Options& options);
  // Same with default options. (A "= {}" default argument cannot name a nested struct with member
  // initializers while the enclosing class is incomplete.)
  static std::unique_ptr<AlbumdProcess> Start() { return Start(Options()); }
  ~AlbumdProcess();
  AlbumdProcess(const AlbumdProcess&) = delete;
  AlbumdProcess& operator=(const AlbumdProcess&) = delete;

  // "127.0.0.1:PORT"
  const std::string& HostPort() const { return hostPort_; }
  std::string LogPath() const { return logPath_; }
  // The request log so far, one request per line: "METHOD PATH QUERY STATUS BYTES".
  std::vector<std::string> LogLines() const;
  // Waits up to timeoutMs for a log line that contains `needle`; true when one is there. albumd logs a
  // request before its reply goes out, so this waits only for requests still in progress elsewhere.
  bool WaitForLogLine(const std::string& needle, int timeoutMs = 2000) const;
  std::string DataDir() const { return dataDir_; }

  // The cookie log so far, one request per line: "METHOD PATH QUERY HOST NAMES" (HOST as the request's
  // Host header gave it, NAMES the names of the cookies it carried, comma separated, "-" for none; never
  // a value). Written, like the request log, before the reply goes out.
  std::string CookieLogPath() const { return cookieLogPath_; }
  std::vector<std::string> CookieLogLines() const;

 private:
  AlbumdProcess() = default;

  pid_t pid_ = -1;
  std::string hostPort_;
  std::string logPath_;
  std::string cookieLogPath_;
  std::string dataDir_;
};

// The data folder shipped with albumd (tools/albumd/data in the source tree).
std::string DefaultDataDir();

// Copies a data folder (by default the shipped one) into a new temporary folder and returns its path,
// for tests that change accounts between runs. The caller removes it.
std::string CopyDataDirToTemp(const std::string& from = DefaultDataDir());

// The request log: one line per request, flushed as it is written, so a test can read it at any time.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace albumd {

class RequestLog {
 public:
  // An empty path logs nothing. Throws std::runtime_error when the file cannot be opened.
  explicit RequestLog(const std::string& path);
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  // Writes "METHOD PATH QUERY STATUS BYTES"; an empty query is written as "-". PATH and QUERY are
  // the raw request target, so they hold no blanks.
  void Write(const std::string& method, const std::string& target, int status, size_t bytes);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

}  // namespace albumd

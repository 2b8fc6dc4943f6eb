// The request log: one line per request, flushed as it is written, so a test can read it at any time.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

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

// The cookie log: one line per request, "METHOD PATH QUERY HOST NAMES", with the Host header as sent and
// the names of the cookies the request carried, comma separated in the order sent ("-" for none, "\"\""
// for a cookie without a name). Values are never written: the log shows where a session cookie went,
// never the session itself.
class CookieLog {
 public:
  // An empty path logs nothing. Throws std::runtime_error when the file cannot be opened.
  explicit CookieLog(const std::string& path);
  ~CookieLog();
  CookieLog(const CookieLog&) = delete;
  CookieLog& operator=(const CookieLog&) = delete;

  bool Enabled() const { return file_ != nullptr; }
  void Write(const std::string& method, const std::string& target, const std::string& host,
             const std::vector<std::string>& cookieNames);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

}  // namespace albumd

#include "tools/albumd/requestlog.h"

#include <stdexcept>

namespace albumd {
namespace {

// A field as logged: "-" when empty, and no blanks or control bytes (a client can put almost anything
// into a target, a header or a cookie name, but one field must stay one word).
std::string Shown(std::string part) {
  if (part.empty()) return std::string(1, '-');
  for (char& c : part) {
    if (static_cast<unsigned char>(c) < 0x21 || c == 0x7F) c = '?';
  }
  return part;
}

std::FILE* OpenLog(const std::string& path) {
  if (path.empty()) return nullptr;
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (file == nullptr) throw std::runtime_error("cannot open the log file " + path);
  return file;
}

}  // namespace

RequestLog::RequestLog(const std::string& path) : file_(OpenLog(path)) {}

RequestLog::~RequestLog() {
  if (file_ != nullptr) std::fclose(file_);
}

void RequestLog::Write(const std::string& method, const std::string& target, int status, size_t bytes) {
  if (file_ == nullptr) return;
  auto q = target.find('?');
  const std::string path = Shown(target.substr(0, q));
  const std::string query = Shown(q == std::string::npos ? std::string() : target.substr(q + 1));
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(file_, "%s %s %s %d %zu\n", method.c_str(), path.c_str(), query.c_str(), status, bytes);
  std::fflush(file_);
}

CookieLog::CookieLog(const std::string& path) : file_(OpenLog(path)) {}

CookieLog::~CookieLog() {
  if (file_ != nullptr) std::fclose(file_);
}

void CookieLog::Write(const std::string& method, const std::string& target, const std::string& host,
                      const std::vector<std::string>& cookieNames) {
  if (file_ == nullptr) return;
  auto q = target.find('?');
  std::string names;
  for (const std::string& name : cookieNames) {
    if (!names.empty()) names += ',';
    // A comma inside a name would read as two names.
    std::string shown = name.empty() ? "\"\"" : Shown(name);
    for (char& c : shown) {
      if (c == ',') c = '?';
    }
    names += shown;
  }
  const std::string line = Shown(method) + " " + Shown(target.substr(0, q)) + " " +
                           Shown(q == std::string::npos ? std::string() : target.substr(q + 1)) + " " +
                           Shown(host) + " " + Shown(names);
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(file_, "%s\n", line.c_str());
  std::fflush(file_);
}

}  // namespace albumd

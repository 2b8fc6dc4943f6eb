#include "tools/albumd/requestlog.h"

#include <stdexcept>

namespace albumd {

RequestLog::RequestLog(const std::string& path) {
  if (path.empty()) return;
  file_ = std::fopen(path.c_str(), "a");
  if (file_ == nullptr) throw std::runtime_error("cannot open the log file " + path);
}

RequestLog::~RequestLog() {
  if (file_ != nullptr) std::fclose(file_);
}

void RequestLog::Write(const std::string& method, const std::string& target, int status, size_t bytes) {
  if (file_ == nullptr) return;
  auto q = target.find('?');
  // The path and the query as logged: "-" when empty, and no control bytes (a client can put anything
  // but a blank into a target).
  auto shown = [](std::string part) {
    if (part.empty()) return std::string(1, '-');
    for (char& c : part) {
      if (static_cast<unsigned char>(c) < 0x21 || c == 0x7F) c = '?';
    }
    return part;
  };
  const std::string path = shown(target.substr(0, q));
  const std::string query = shown(q == std::string::npos ? std::string() : target.substr(q + 1));
  std::lock_guard<std::mutex> lock(mutex_);
  std::fprintf(file_, "%s %s %s %d %zu\n", method.c_str(), path.c_str(), query.c_str(), status, bytes);
  std::fflush(file_);
}

}  // namespace albumd

// A route service for window tests that holds chosen QQ numbers' route requests until the test lets them
// go, so that "a preview stopped while its route request is under way" is a state the test reaches for
// certain instead of a race against a slow server. Its replies name the bundled album service's host for
// everything else.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class RouteGate {
 public:
  explicit RouteGate(std::string albumHost) : albumHost_(std::move(albumHost)) {
    server_.Get("/GetRoute", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string qq = req.get_param_value("UIN");
      std::unique_lock<std::mutex> lock(mutex_);
      arrived_.push_back(qq);
      changed_.notify_all();
      // Never longer than a test may take: a forgotten release must not keep the job (and the test) alive.
      changed_.wait_for(lock, std::chrono::seconds(20), [&] { return stopping_ || !held_.count(qq); });
      res.set_content("photoDomainNameCallback({\"domain\":{\"default\":\"ctc\"},\"ctc\":{\"p\":\"" +
                          albumHost_ + "\",\"s\":\"" + albumHost_ + "\",\"nu\":\"" + albumHost_ + "\"}})",
                      "application/javascript");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~RouteGate() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }

  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  void Hold(const std::string& qq) {
    std::lock_guard<std::mutex> lock(mutex_);
    held_.insert(qq);
  }
  void Release(const std::string& qq) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      held_.erase(qq);
    }
    changed_.notify_all();
  }
  // How many route requests for qq have arrived so far (held or answered).
  int Arrived(const std::string& qq) {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const std::string& a : arrived_) n += a == qq;
    return n;
  }

 private:
  std::string albumHost_;
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<std::string> held_;
  std::vector<std::string> arrived_;
  bool stopping_ = false;
};

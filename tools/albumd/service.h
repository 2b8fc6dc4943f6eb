// albumd's request handling: one host:port stands for the route service, the photo hosts, the image
// hosts and the vendor site. Data is read from the data folder on every request, so a test may change a
// copy of it between requests.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tools/albumd/current.h"
#include "tools/albumd/qrsignin.h"
#include "tools/albumd/signin.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace albumd {

class CookieLog;
class RequestLog;
struct Photo;

struct ServiceOptions {
  std::string dataDir;
  std::string boundHost;  // "127.0.0.1:PORT" as bound
  bool wildcard = false;  // bound to every address: hand out the host the client asked for
  int latencyMs = 0;
  int qrSeconds = 120;  // how long a sign-in QR code lives
};

class Service {
 public:
  Service(ServiceOptions options, RequestLog& log, CookieLog& cookieLog, const std::atomic<bool>& stopping);

  // Answers one request and writes its log lines before the reply goes out.
  void Handle(const httplib::Request& req, httplib::Response& res);
  // Writes the cookie log line of a request (Handle does so itself).
  void LogCookies(const httplib::Request& req);

 private:
  // True when the request carries a session cookie of a live session for `qq`; counts against that
  // session (Sessions::Accept).
  bool SignedIn(const httplib::Request& req, const std::string& qq);
  // "/login.php" and "/logout.php"; the reply is left in `res`, its body size in `logged`.
  void SignIn(const httplib::Request& req, httplib::Response& res, size_t& logged);
  void SignOut(const httplib::Request& req, httplib::Response& res, size_t& logged);
  std::string HostFor(const httplib::Request& req) const;
  void Sleep(int ms) const;
  // Counts requests per address, for replies that fail only the first time.
  int CountRequest(const std::string& key);
  // Covers, photos and the redirecting photo address, with the faults an account asks for.
  void ServeImage(const httplib::Request& req, httplib::Response& res, const std::vector<std::string>& parts,
                  const std::string& host, size_t& logged);
  // The photo replies that misbehave over time or past their length: excess, dribble, endless, huge.
  void ServeHostileImage(const httplib::Request& req, httplib::Response& res, const Photo& photo,
                         std::string bytes, const std::string& type, size_t& logged);
  // A request that gets no reply at all: logged (status and bytes 0), then nothing for `seconds` or until
  // the client leaves or albumd stops, then the connection is closed.
  void Silence(const httplib::Request& req, httplib::Response& res, int seconds);
  // Waits until `until`, the client's leaving (fd < 0: not watched) or albumd's stopping; true when it
  // was the time that ran out.
  bool Wait(int fd, std::chrono::steady_clock::time_point until) const;

  ServiceOptions options_;
  RequestLog& log_;
  CookieLog& cookieLog_;
  const std::atomic<bool>& stopping_;
  Sessions sessions_;
  CurrentCalls current_;  // the signed-in JSON calls; uses sessions_
  QrSignIn qrSignIn_;     // the QR code sign-in; opens sessions in sessions_
  std::mutex countMutex_;
  std::map<std::string, int> requestCounts_;
};

}  // namespace albumd

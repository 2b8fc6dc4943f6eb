// albumd: an offline stand-in for the QQ album services and the vendor site, for the demo and the tests.
//   albumd [--listen 127.0.0.1:0] [--data DIR] [--latency-ms N] [--log FILE] [--cookie-log FILE]
//          [--qr-seconds N]
// Prints the bound "HOST:PORT" as its first line of output, then serves until SIGINT or SIGTERM.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "tools/albumd/requestlog.h"
#include "tools/albumd/service.h"

#ifndef ALBUMD_DEFAULT_DATA_DIR
#define ALBUMD_DEFAULT_DATA_DIR "data"
#endif

namespace {

constexpr const char* kUsage =
    "usage: albumd [--listen HOST:PORT] [--data DIR] [--latency-ms N] [--log FILE] [--cookie-log FILE]\n"
    "              [--qr-seconds N]\n";

// Enough threads that a few stalled photos do not hold up everyone else.
constexpr size_t kThreads = 48;

// Set when the server loop has returned; read by the stop thread, which may outlive main's frame.
std::atomic<bool> g_finished{false};

struct Arguments {
  std::string host = "127.0.0.1";
  int port = 0;
  std::string dataDir = ALBUMD_DEFAULT_DATA_DIR;
  int latencyMs = 0;
  std::string logPath;
  std::string cookieLogPath;
  int qrSeconds = 120;
};

[[noreturn]] void Usage(const std::string& message) {
  std::fprintf(stderr, "albumd: %s\n%s", message.c_str(), kUsage);
  std::exit(2);
}

bool ParseNumber(const std::string& text, int maximum, int& out) {
  if (text.empty() || text.size() > 9) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > maximum) return false;
  out = value;
  return true;
}

Arguments ParseArguments(int argc, char** argv) {
  Arguments args;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) Usage("missing value after " + option);
    std::string value = argv[++i];
    if (option == "--listen") {
      auto colon = value.rfind(':');
      if (colon == std::string::npos || colon == 0 || !ParseNumber(value.substr(colon + 1), 65535, args.port))
        Usage("--listen takes HOST:PORT, such as 127.0.0.1:0");
      args.host = value.substr(0, colon);
      if (args.host == "localhost") args.host = "127.0.0.1";
    } else if (option == "--data") {
      args.dataDir = value;
    } else if (option == "--latency-ms") {
      if (!ParseNumber(value, 600000, args.latencyMs)) Usage("--latency-ms takes 0..600000");
    } else if (option == "--log") {
      args.logPath = value;
    } else if (option == "--cookie-log") {
      args.cookieLogPath = value;
    } else if (option == "--qr-seconds") {
      if (!ParseNumber(value, 86400, args.qrSeconds) || args.qrSeconds < 1)
        Usage("--qr-seconds takes 1..86400");
    } else {
      Usage("unknown option " + option);
    }
  }
  if (!std::filesystem::is_directory(std::filesystem::path(args.dataDir) / "accounts"))
    Usage("no accounts folder in the data folder " + args.dataDir);
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args = ParseArguments(argc, argv);
  std::signal(SIGPIPE, SIG_IGN);

  // The stop signals are taken by one thread with sigwait, so stopping the server happens outside a
  // signal handler. They are blocked before any other thread exists, so every thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::unique_ptr<albumd::RequestLog> log;
  std::unique_ptr<albumd::CookieLog> cookieLog;
  try {
    log = std::make_unique<albumd::RequestLog>(args.logPath);
    cookieLog = std::make_unique<albumd::CookieLog>(args.cookieLogPath);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "albumd: %s\n", e.what());
    return 2;
  }

  httplib::Server server;
  server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  server.set_keep_alive_max_count(1000);
  server.set_keep_alive_timeout(3);
  // Headers and body go out in separate writes; without this, Nagle and delayed ACKs add 40 ms to every
  // reply on a kept-alive connection.
  server.set_tcp_nodelay(true);
  server.set_payload_max_length(1 << 20);
  // httplib's default also sets SO_REUSEPORT, which lets a second albumd bind a port already in use and
  // share its connections; a busy port must be an error instead.
  int listeningSocket = -1;
  server.set_socket_options([&listeningSocket](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listeningSocket = sock;
  });

  int port = args.port;
  if (port == 0) {
    port = server.bind_to_any_port(args.host);
  } else if (!server.bind_to_port(args.host, port)) {
    port = -1;
  }
  if (port <= 0) {
    std::fprintf(stderr, "albumd: cannot listen on %s:%d\n", args.host.c_str(), args.port);
    return 1;
  }
  const std::string bound = args.host + ":" + std::to_string(port);
  // httplib listens with a backlog of 5; a benchmark opening many connections at once would see its
  // connection attempts dropped and retried a second later. Listening again only raises the backlog.
  if (listeningSocket >= 0) ::listen(listeningSocket, 256);

  std::atomic<bool> stopping{false};
  albumd::ServiceOptions options;
  options.dataDir = args.dataDir;
  options.boundHost = bound;
  options.wildcard = args.host == "0.0.0.0";
  options.latencyMs = args.latencyMs;
  options.qrSeconds = args.qrSeconds;
  albumd::Service service(options, *log, *cookieLog, stopping);

  // Requests that albumd answers itself are logged by the service; the logger below catches the rest
  // (requests that httplib refuses before they reach it).
  static thread_local bool handled = false;
  server.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
    // httplib reads a body only after this handler, on its way to a route: the sign-in form, the one
    // thing posted, takes that way. Every other request is answered here, a body unread.
    if (req.method == "POST" && req.path == "/login.php") return httplib::Server::HandlerResponse::Unhandled;
    handled = true;
    service.Handle(req, res);
    return httplib::Server::HandlerResponse::Handled;
  });
  server.Post("/login.php", [&](const httplib::Request& req, httplib::Response& res) {
    handled = true;
    service.Handle(req, res);
  });
  server.set_logger([&](const httplib::Request& req, const httplib::Response& res) {
    if (!handled) {
      log->Write(req.method.empty() ? "-" : req.method, req.target, res.status, res.body.size());
      service.LogCookies(req);
    }
    handled = false;
  });

  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    stopping = true;
    server.stop();
    // An idle kept-alive connection holds its thread until its timeout; do not let it delay the exit.
    for (int i = 0; i < 20 && !g_finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!g_finished) {
      std::fflush(nullptr);
      _exit(0);
    }
  });
  stopper.detach();

  std::printf("%s\n", bound.c_str());
  std::fflush(stdout);
  bool ok = server.listen_after_bind();
  g_finished = true;
  return ok || stopping ? 0 : 1;
}

#include "tools/albumd/service.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "tools/albumd/account.h"
#include "tools/albumd/replies.h"
#include "tools/albumd/requestlog.h"

namespace albumd {
namespace {

// Bytes a stalled photo sends before it falls silent.
constexpr size_t kStallBytes = 16;
// What a huge photo announces: far more than any client should agree to hold.
constexpr uint64_t kHugeLength = 10ull << 30;
// An endless photo's zeros go out in pieces of this size, and it gives up after kEndlessLimit bytes: a
// client that never stops reading must not keep a server thread busy for ever.
constexpr size_t kEndlessChunk = 64 << 10;
constexpr uint64_t kEndlessLimit = 2ull << 30;
static_assert(sizeof(size_t) >= sizeof(uint64_t), "huge lengths need a 64-bit size_t");

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::stringstream in(path);
  std::string part;
  while (std::getline(in, part, '/')) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

bool ParseIndex(const std::string& text, size_t& out) {
  if (text.empty() || text.size() > 7) return false;
  size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<size_t>(c - '0');
  }
  out = value;
  return true;
}

std::string Param(const httplib::Request& req, const char* name, const char* otherCase) {
  if (req.has_param(name)) return req.get_param_value(name);
  return req.get_param_value(otherCase);
}

std::string HttpDate(std::time_t when) {
  std::tm tm{};
  gmtime_r(&when, &tm);
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The connection's socket, found by its two ends: httplib does not hand it to a content provider, and a
// stalled reply needs it to notice that the client has given up.
int FindConnectionSocket(const httplib::Request& req) {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int found = -1;
  while (dirent* entry = readdir(dir)) {
    int fd = std::atoi(entry->d_name);
    struct stat st {};
    if (fd <= 2 || fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    sockaddr_storage peer{};
    sockaddr_storage local{};
    socklen_t peerLength = sizeof peer;
    socklen_t localLength = sizeof local;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        peer.ss_family != AF_INET) {
      continue;
    }
    auto* p = reinterpret_cast<sockaddr_in*>(&peer);
    auto* l = reinterpret_cast<sockaddr_in*>(&local);
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &p->sin_addr, address, sizeof address);
    if (ntohs(p->sin_port) == req.remote_port && ntohs(l->sin_port) == req.local_port &&
        req.remote_addr == address) {
      found = fd;
      break;
    }
  }
  closedir(dir);
  return found;
}

bool ClientGone(int fd) {
  if (fd < 0) return false;
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  if (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) return true;
  char byte;
  return recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

struct ImageFile {
  std::string bytes;
  std::time_t modified = 0;
};

// The cookies of a request, from every Cookie header it carries.
std::vector<std::pair<std::string, std::string>> RequestCookies(const httplib::Request& req) {
  std::vector<std::string> headers;
  auto range = req.headers.equal_range("Cookie");
  for (auto it = range.first; it != range.second; ++it) headers.push_back(it->second);
  return ParseCookies(headers);
}

void SetCookies(httplib::Response& res, const std::vector<std::string>& cookies) {
  for (const std::string& cookie : cookies) res.set_header("Set-Cookie", cookie);
}

bool ReadImage(const std::string& dataDir, const std::string& image, ImageFile& out) {
  auto path = std::filesystem::path(dataDir) / "images" / image;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream bytes;
  bytes << in.rdbuf();
  out.bytes = bytes.str();
  struct stat st {};
  out.modified = stat(path.c_str(), &st) == 0 ? st.st_mtime : std::time(nullptr);
  return true;
}

}  // namespace

Service::Service(ServiceOptions options, RequestLog& log, CookieLog& cookieLog,
                 const std::atomic<bool>& stopping)
    : options_(std::move(options)),
      log_(log),
      cookieLog_(cookieLog),
      stopping_(stopping),
      current_(options_.dataDir, sessions_),
      qrSignIn_(options_.dataDir, options_.qrSeconds, sessions_) {}

void Service::LogCookies(const httplib::Request& req) {
  if (!cookieLog_.Enabled()) return;
  std::vector<std::string> names;
  for (const auto& cookie : RequestCookies(req)) names.push_back(cookie.first);
  cookieLog_.Write(req.method.empty() ? "-" : req.method, req.target, req.get_header_value("Host"), names);
}

bool Service::SignedIn(const httplib::Request& req, const std::string& qq) {
  for (const auto& [name, value] : RequestCookies(req)) {
    if (name == kSessionCookie && sessions_.Accept(value, qq)) return true;
  }
  return false;
}

void Service::SignIn(const httplib::Request& req, httplib::Response& res, size_t& logged) {
  auto send = [&](const Reply& reply) {
    res.status = reply.status;
    res.set_content(reply.body, reply.contentType.c_str());
    logged = reply.body.size();
  };
  if (req.method != "POST") {
    SignInOrigin origin{req.has_param("clientrand"), req.get_param_value("clientrand"),
                        req.get_param_value("comefrom") == "client"};
    return send(SignInPage(origin, req.get_param_value("uin"), false));
  }
  const auto form = ParseForm(req.body);
  auto field = [&](const char* name) {
    auto it = form.find(name);
    return it == form.end() ? std::string() : it->second;
  };
  SignInOrigin origin{form.count("clientrand") > 0, field("clientrand"), field("comefrom") == "client"};
  const std::string qq = field("uin");
  auto account = IsQQText(qq) ? LoadAccount(options_.dataDir, qq) : nullptr;
  // An account without a password cannot be signed in to; a wrong password is the same page again with
  // a line saying so, and no cookie.
  if (!account || account->password.empty() || field("password") != account->password)
    return send(SignInPage(origin, qq, true));
  const std::string token = sessions_.Open(qq, account->sessionSeconds, account->sessionRequests);
  SetCookies(res, SessionCookies(token, qq, account->sessionSeconds));
  if (!origin.fromClientPage) return send(SignedInPage(qq));
  res.set_header("Location", ClientPageTarget(origin.clientRand, origin.fromClient));
  send({302, "text/plain", "moved\n"});
}

void Service::SignOut(const httplib::Request& req, httplib::Response& res, size_t& logged) {
  for (const auto& [name, value] : RequestCookies(req)) {
    if (name == kSessionCookie) sessions_.Close(value);
  }
  SetCookies(res, ExpiredCookies());
  Reply reply = SignedOutPage();
  if (req.has_param("clientrand")) {
    res.set_header("Location", ClientPageTarget(req.get_param_value("clientrand"),
                                                req.get_param_value("comefrom") == "client"));
    reply = {302, "text/plain", "moved\n"};
  }
  res.status = reply.status;
  res.set_content(reply.body, reply.contentType.c_str());
  logged = reply.body.size();
}

std::string Service::HostFor(const httplib::Request& req) const {
  if (!options_.wildcard) return options_.boundHost;
  std::string host = req.get_header_value("Host");
  bool sane = !host.empty() && host.size() < 256;
  for (char c : host) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != ':' && c != '-' && c != '[' &&
        c != ']')
      sane = false;
  }
  return sane ? host : req.local_addr + ":" + std::to_string(req.local_port);
}

void Service::Sleep(int ms) const {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!stopping_ && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20)));
  }
}

int Service::CountRequest(const std::string& key) {
  std::lock_guard<std::mutex> lock(countMutex_);
  return ++requestCounts_[key];
}

void Service::Handle(const httplib::Request& req, httplib::Response& res) {
  LogCookies(req);
  if (options_.latencyMs > 0) Sleep(options_.latencyMs);
  const std::string host = HostFor(req);
  const std::string target = req.target;
  const std::string path = target.substr(0, target.find('?'));
  const std::vector<std::string> parts = SplitPath(path);

  // Every reply goes through here, so its log line is written before the client can see the reply.
  size_t logged = 0;
  auto send = [&](const Reply& reply) {
    res.status = reply.status;
    res.set_content(reply.body, reply.contentType.c_str());
    logged = reply.body.size();
  };
  auto finish = [&] { log_.Write(req.method, target, res.status, req.method == "HEAD" ? 0 : logged); };
  auto notFound = [&] { send({404, "text/plain", "not found\n"}); };

  // The sign-in form is the one thing that is posted.
  if (req.method != "GET" && req.method != "HEAD" && !(req.method == "POST" && path == "/login.php")) {
    send({405, "text/plain", "only GET and HEAD\n"});
    res.set_header("Connection", "close");
    return finish();
  }

  try {
    auto account = [&](const std::string& qq) { return LoadAccount(options_.dataDir, qq); };
    auto badUin = [&] { send({400, "text/plain", "uin must be digits\n"}); };

    if (path == "/GetRoute") {
      std::string qq = Param(req, "UIN", "uin");
      if (!IsQQText(qq)) {
        badUin();
      } else {
        auto a = account(qq);
        send(RouteReply(a ? &*a : nullptr, host));
      }
    } else if (path == "/fcgi-bin/fcg_list_album") {
      std::string qq = Param(req, "uin", "UIN");
      if (!IsQQText(qq)) {
        badUin();
      } else {
        auto a = account(qq);
        if (a && a->albumList == "stall") return Silence(req, res, a->stallSeconds);
        send(AlbumListReply(a ? &*a : nullptr, qq, host, a && SignedIn(req, qq)));
      }
    } else if (path == "/fcgi-bin/fcg_list_photo" || path == "/cgi-bin/common/cgi_view_album") {
      std::string qq = Param(req, "uin", "UIN");
      std::string id = req.get_param_value("albumid");
      auto a = IsQQText(qq) ? account(qq) : nullptr;
      if (!IsQQText(qq)) {
        badUin();
      } else {
        notFound();
        if (a) {
          for (size_t i = 0; i < a->albums.size(); ++i) {
            const Album& album = a->albums[i];
            if (album.id != id) continue;
            if (NeedsSignIn(*a, album) && !SignedIn(req, qq)) {
              send(NotSignedInReply());
              break;
            }
            if (album.photoList == "stall")
              return Silence(req, res, album.stallSeconds.value_or(a->stallSeconds));
            send(PhotoListReply(*a, i, host));
            break;
          }
        }
      }
    } else if (CurrentCalls::Serves(path, parts)) {
      CurrentReply reply = current_.Answer(req, path, parts, host);
      SetCookies(res, reply.setCookies);
      send(reply.reply);
    } else if (QrSignIn::Serves(path)) {
      QrReply reply = qrSignIn_.Answer(req, path, host);
      SetCookies(res, reply.setCookies);
      if (!reply.location.empty()) res.set_header("Location", reply.location);
      send(reply.reply);
    } else if (path == "/login.php" || (path == "/cgi-bin/xlogin" && req.method != "POST")) {
      // QQ's own sign-in page stands at /cgi-bin/xlogin; here both addresses give the one form.
      SignIn(req, res, logged);
    } else if (path == "/logout.php") {
      SignOut(req, res, logged);
    } else if (path == "/client.php") {
      send(ClientPage(LoadVendorSettings(options_.dataDir), host, req.get_param_value("clientrand"),
                      req.get_param_value("comefrom") == "client"));
    } else if (parts.size() >= 3 &&
               (parts[0] == "covers" || parts[0] == "photos" || parts[0] == "redirect")) {
      ServeImage(req, res, parts, host, logged);
    } else if ((parts.size() == 1 || (parts.size() == 3 && parts[1] == "photo")) &&
               parts[0].find('_') != std::string::npos) {
      std::string client = parts[0].substr(0, parts[0].find('_'));
      std::string qq = parts[0].substr(parts[0].find('_') + 1);
      if (!IsQQText(client) || !IsQQText(qq)) {
        notFound();
      } else {
        auto a = account(qq);
        const bool signedIn = a && SignedIn(req, qq);
        if (parts.size() == 1) {
          send(AccountPage(a ? &*a : nullptr, client, qq, host, signedIn));
        } else {
          send(AlbumPage(a ? &*a : nullptr, client, qq, PercentDecode(parts[2]), host, signedIn));
        }
      }
    } else {
      notFound();
    }
  } catch (const DataError& e) {
    std::fprintf(stderr, "albumd: %s\n", e.what());
    send({500, "text/plain; charset=utf-8", std::string("albumd: bad data: ") + e.what() + "\n"});
  }
  finish();
}

void Service::ServeImage(const httplib::Request& req, httplib::Response& res,
                         const std::vector<std::string>& parts, const std::string& host, size_t& logged) {
  auto plain = [&](int status, const std::string& body, const char* type = "text/plain") {
    res.status = status;
    res.set_content(body, type);
    logged = body.size();
  };
  // "/covers/QQ/A.ext", "/photos/QQ/A/P.ext", "/redirect/QQ/A/P"
  const std::string& kind = parts[0];
  std::string last = parts.back();
  std::string stem = kind == "redirect" ? last : last.substr(0, last.find('.'));
  size_t album = 0;
  size_t photo = 0;
  bool shaped = kind == "covers"
                    ? parts.size() == 3 && ParseIndex(stem, album)
                    : parts.size() == 4 && ParseIndex(parts[2], album) && ParseIndex(stem, photo);
  auto account = shaped && IsQQText(parts[1]) ? LoadAccount(options_.dataDir, parts[1]) : nullptr;
  if (!account || album >= account->albums.size() ||
      (kind != "covers" && photo >= account->albums[album].photos.size()) ||
      (kind == "covers" && account->albums[album].cover.empty())) {
    return plain(404, "not found\n");
  }
  // A private album's cover and photos, and the addresses that lead to them, are only for its owner.
  if (NeedsSignIn(*account, account->albums[album]) && !SignedIn(req, parts[1])) {
    Reply forbidden = ForbiddenReply();
    return plain(forbidden.status, forbidden.body, forbidden.contentType.c_str());
  }
  // A friends-only account's photos need the photo key its photo list hands out.
  if (kind == "photos" && current_.LacksPhotoKey(req, *account)) {
    Reply placeholder = CurrentCalls::PhotoKeyPlaceholder();
    return plain(placeholder.status, placeholder.body, placeholder.contentType.c_str());
  }
  if (kind == "redirect") {
    res.status = 302;
    res.set_header("Location", PhotoAddress(host, *account, album, photo));
    return plain(302, "moved\n");
  }

  PhotoServe serve = PhotoServe::kOk;
  int stallSeconds = 0;
  std::string image = account->albums[album].cover;
  const Photo* entry = nullptr;
  if (kind == "photos") {
    const Photo& p = account->albums[album].photos[photo];
    entry = &p;
    serve = p.serve;
    stallSeconds = p.stallSeconds;
    image = p.image;
  }
  const std::string key = parts[1] + "/" + parts[2] + "/" + stem;

  switch (serve) {
    case PhotoServe::kNotFound:
      return plain(404, "<html><body>404 Not Found</body></html>\n", "text/html");
    case PhotoServe::kHtml:
      return plain(200, "<html><head><title>提示</title></head><body>图片不存在或已被删除</body></html>\n",
                   "text/html; charset=utf-8");
    case PhotoServe::kTooMany:
      if (CountRequest(key) == 1) {
        res.set_header("Retry-After", "1");
        return plain(429, "too many requests\n");
      }
      break;
    case PhotoServe::kServerError:
      if (CountRequest(key) == 1) return plain(500, "internal error\n");
      break;
    default:
      break;
  }

  ImageFile file;
  if (!ReadImage(options_.dataDir, image, file)) return plain(404, "not found\n");
  res.set_header("Last-Modified", HttpDate(file.modified));
  const std::string type = ImageContentType(image);
  if (serve == PhotoServe::kEmpty) return plain(200, "", type.c_str());
  if (serve == PhotoServe::kExcess || serve == PhotoServe::kDribble || serve == PhotoServe::kEndless ||
      serve == PhotoServe::kHuge) {
    return ServeHostileImage(req, res, *entry, std::move(file.bytes), type, logged);
  }
  if (serve != PhotoServe::kTruncate && serve != PhotoServe::kStall)
    return plain(200, file.bytes, type.c_str());

  // Faults in the body: Content-Length promises the whole image, fewer bytes arrive.
  auto body = std::make_shared<std::string>(std::move(file.bytes));
  const size_t sent =
      serve == PhotoServe::kTruncate ? body->size() / 2 : std::min(kStallBytes, body->size() - 1);
  logged = sent;
  res.status = 200;
  if (req.method == "HEAD") return;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(stallSeconds);
  const bool stall = serve == PhotoServe::kStall;
  const int fd = stall ? FindConnectionSocket(req) : -1;
  res.set_content_provider(
      body->size(), type.c_str(),
      [this, body, sent, stall, deadline, fd](size_t offset, size_t, httplib::DataSink& sink) {
        if (offset < sent) {
          sink.write(body->data() + offset, sent - offset);
          return true;
        }
        if (stall) Wait(fd, deadline);
        return false;  // httplib closes the connection with the body unfinished
      });
}

void Service::ServeHostileImage(const httplib::Request& req, httplib::Response& res, const Photo& photo,
                                std::string bytes, const std::string& type, size_t& logged) {
  using Clock = std::chrono::steady_clock;
  auto body = std::make_shared<const std::string>(std::move(bytes));
  // The log line goes out before the body, so it counts what is certain to be offered: the image, and
  // for excess the response behind it too.
  logged = body->size();
  res.status = 200;
  // The socket is found now, while the connection is surely up. Looked for later, in the body's
  // provider, it may be gone from the search already: a client that leaves with bytes unread resets the
  // connection, and a reset socket has no peer address. The wait would then not see the client leave
  // and hold the thread for the whole stall.
  const int fd = FindConnectionSocket(req);

  switch (photo.serve) {
    case PhotoServe::kExcess: {
      ImageFile extra;
      if (!ReadImage(options_.dataDir, photo.excessImage, extra)) {
        res.status = 404;
        res.set_content("not found\n", "text/plain");
        logged = res.body.size();
        return;
      }
      // A complete response that nobody asked for. A client that keeps the connection and takes the
      // next bytes as the answer to its next request gets this image under another photo's name.
      auto tail = std::make_shared<const std::string>(
          "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
          std::to_string(extra.bytes.size()) + "\r\n\r\n" + extra.bytes);
      logged += tail->size();
      const int delayMs = photo.excessDelayMs;
      res.set_content_provider(
          body->size(), type.c_str(),
          [this, body, tail, delayMs, fd](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset >= body->size()) return true;
            if (delayMs == 0) {
              // One write: the extra response rides in the same segments as the end of the image, so a
              // client reading in large blocks finds it in its buffer together with the body.
              const std::string all = body->substr(offset) + *tail;
              return sink.write(all.data(), all.size());
            }
            if (!sink.write(body->data() + offset, body->size() - offset)) return false;
            if (!Wait(fd, Clock::now() + std::chrono::milliseconds(delayMs))) return false;
            return sink.write(tail->data(), tail->size());
          });
      return;
    }

    case PhotoServe::kDribble: {
      auto start = std::make_shared<std::optional<Clock::time_point>>();
      const uint64_t rate = static_cast<uint64_t>(photo.dribbleRate);
      res.set_content_provider(
          body->size(), type.c_str(),
          [this, body, start, rate, fd](size_t offset, size_t, httplib::DataSink& sink) {
            if (!*start) *start = Clock::now();
            // Byte k is due k / rate seconds after the first one.
            while (!stopping_) {
              auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - **start);
              uint64_t due =
                  std::min<uint64_t>(body->size(), static_cast<uint64_t>(elapsed.count()) * rate / 1000 + 1);
              if (due > offset) return sink.write(body->data() + offset, due - offset);
              auto next = **start + std::chrono::milliseconds((offset * 1000 + rate - 1) / rate);
              if (!Wait(fd, next)) return false;
            }
            return false;
          });
      return;
    }

    case PhotoServe::kEndless: {
      res.set_chunked_content_provider(
          type.c_str(), [this, body, fd](size_t offset, httplib::DataSink& sink) {
            if (stopping_) return false;
            if (offset < body->size()) return sink.write(body->data() + offset, body->size() - offset);
            // Ends without the closing chunk: even the limit must not look like a finished photo.
            if (offset >= kEndlessLimit) return false;
            if (ClientGone(fd)) return false;
            static const std::string zeros(kEndlessChunk, '\0');
            return sink.write(zeros.data(), std::min<uint64_t>(zeros.size(), kEndlessLimit - offset));
          });
      return;
    }

    case PhotoServe::kHuge: {
      auto deadline = Clock::now() + std::chrono::seconds(photo.stallSeconds);
      res.set_content_provider(kHugeLength, type.c_str(),
                               [this, body, deadline, fd](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset < body->size())
                                   return sink.write(body->data() + offset, body->size() - offset);
                                 Wait(fd, deadline);
                                 return false;  // closed with almost all of the announced length missing
                               });
      return;
    }

    default:
      res.set_content(*body, type.c_str());
      return;
  }
}

void Service::Silence(const httplib::Request& req, httplib::Response& res, int seconds) {
  log_.Write(req.method, req.target, 0, 0);
  int fd = FindConnectionSocket(req);
  Wait(fd, std::chrono::steady_clock::now() + std::chrono::seconds(seconds));
  // httplib writes a reply once the handler returns; on a socket shut down both ways none of it gets
  // out, and the client sees the connection end without a status line. (Should the socket not be
  // found, the client gets this 503 instead, late as well.)
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
  res.status = 503;
  res.set_header("Connection", "close");
}

bool Service::Wait(int fd, std::chrono::steady_clock::time_point until) const {
  while (!stopping_) {
    auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    if (ClientGone(fd)) return false;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(50), until - now));
  }
  return false;
}

}  // namespace albumd

#include "net/cookiejar.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "net/fetchtofile.h"

namespace {

constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";

void LockShare(CURL*, curl_lock_data, curl_lock_access, void* user) {
  static_cast<std::recursive_mutex*>(user)->lock();
}

void UnlockShare(CURL*, curl_lock_data, void* user) {
  static_cast<std::recursive_mutex*>(user)->unlock();
}

// A handle joined to the share, for feeding the jar or reading it.
class JarHandle {
 public:
  explicit JarHandle(void* share) : easy_(curl_easy_init()) {
    if (easy_ == nullptr) throw std::runtime_error("the transfer library could not start");
    // The share's own cookie store is all that adding and listing need.
    curl_easy_setopt(easy_, CURLOPT_SHARE, static_cast<CURLSH*>(share));
  }
  ~JarHandle() {
    curl_easy_setopt(easy_, CURLOPT_SHARE, nullptr);
    curl_easy_cleanup(easy_);
  }
  JarHandle(const JarHandle&) = delete;
  JarHandle& operator=(const JarHandle&) = delete;
  CURL* get() const { return easy_; }

 private:
  CURL* easy_;
};

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t from = 0;
  for (;;) {
    const size_t tab = line.find('\t', from);
    fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
    if (tab == std::string::npos) return fields;
    from = tab + 1;
  }
}

bool IsFlag(const std::string& text, bool& value) {
  if (text == "TRUE") return value = true, true;
  if (text == "FALSE") return value = false, true;
  return false;
}

bool HasControl(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

}  // namespace

std::string CookieLine(const Cookie& c) {
  std::string line = c.httpOnly ? std::string(kHttpOnlyPrefix) : std::string();
  line += c.domain + "\t" + (c.includeSubdomains ? "TRUE" : "FALSE") + "\t" + c.path + "\t" +
          (c.secure ? "TRUE" : "FALSE") + "\t" + std::to_string(c.expires) + "\t" + c.name + "\t" + c.value;
  return line;
}

bool ParseCookieLine(const std::string& text, Cookie& c) {
  std::string line = text;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  c = Cookie();
  if (line.rfind(kHttpOnlyPrefix, 0) == 0) {
    c.httpOnly = true;
    line.erase(0, kHttpOnlyPrefix.size());
  } else if (line.empty() || line[0] == '#') {
    return false;
  }
  const std::vector<std::string> f = SplitTabs(line);
  if (f.size() != 7 || f[0].empty() || f[2].empty() || f[2][0] != '/' || f[5].empty()) return false;
  if (!IsFlag(f[1], c.includeSubdomains) || !IsFlag(f[3], c.secure)) return false;
  if (f[4].empty() || f[4].size() > 18 || f[4].find_first_not_of("0123456789") != std::string::npos)
    return false;
  for (const std::string& field : f) {
    if (HasControl(field)) return false;
  }
  c.domain = f[0];
  c.path = f[2];
  c.expires = std::stoll(f[4]);
  c.name = f[5];
  c.value = f[6];
  return true;
}

CookieJar::CookieJar() {
  FetchGlobalInit();
  CURLSH* share = curl_share_init();
  if (share == nullptr) throw std::runtime_error("the transfer library could not start");
  curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  curl_share_setopt(share, CURLSHOPT_LOCKFUNC, LockShare);
  curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, UnlockShare);
  curl_share_setopt(share, CURLSHOPT_USERDATA, &lock_);
  share_ = share;
}

CookieJar::~CookieJar() {
  curl_share_cleanup(static_cast<CURLSH*>(share_));
}

void CookieJar::Add(const Cookie& cookie) {
  JarHandle handle(share_);
  curl_easy_setopt(handle.get(), CURLOPT_COOKIELIST, CookieLine(cookie).c_str());
}

void CookieJar::Remove(const std::string& domain, const std::string& path, const std::string& name) {
  // A cookie that expired long ago replaces the one held, and the library drops expired cookies.
  Cookie gone;
  gone.domain = domain;
  gone.includeSubdomains = !domain.empty() && domain[0] == '.';
  gone.path = path.empty() ? "/" : path;
  gone.expires = 1;
  gone.name = name;
  Add(gone);
}

std::vector<Cookie> CookieJar::All() const {
  JarHandle handle(share_);
  struct curl_slist* list = nullptr;
  std::vector<Cookie> cookies;
  if (curl_easy_getinfo(handle.get(), CURLINFO_COOKIELIST, &list) != CURLE_OK) return cookies;
  const long long now = static_cast<long long>(std::time(nullptr));
  for (struct curl_slist* item = list; item != nullptr; item = item->next) {
    Cookie c;
    if (ParseCookieLine(item->data, c) && (c.expires == 0 || c.expires > now)) cookies.push_back(c);
  }
  curl_slist_free_all(list);
  return cookies;
}

void CookieJar::LoadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CookieFileError(path + ": cannot be read: " + std::strerror(errno));
  std::string line;
  int number = 0;
  std::vector<Cookie> cookies;
  while (std::getline(in, line)) {
    ++number;
    Cookie c;
    if (ParseCookieLine(line, c)) {
      cookies.push_back(c);
      continue;
    }
    std::string bare = line;
    if (!bare.empty() && bare.back() == '\r') bare.pop_back();
    if (bare.empty() || (bare[0] == '#' && bare.rfind(kHttpOnlyPrefix, 0) != 0)) continue;
    throw CookieFileError(
        path + ":" + std::to_string(number) +
        ": not a cookie line (seven fields separated by tabs: domain, subdomains TRUE/FALSE, "
        "path, secure TRUE/FALSE, expiry, name, value)");
  }
  if (in.bad()) throw CookieFileError(path + ": cannot be read: " + std::strerror(errno));
  for (const Cookie& c : cookies) Add(c);
}

std::string CookieJar::FileText() const {
  std::string text =
      "# Netscape HTTP Cookie File\n# Written by lorvanta-cli; it holds a session: keep it private.\n\n";
  for (const Cookie& c : All()) text += CookieLine(c) + "\n";
  return text;
}

void CookieJar::SetWatcher(std::function<void(const std::string&, const std::string&)> watcher) {
  std::lock_guard<std::mutex> guard(watcherLock_);
  watcher_ = std::move(watcher);
}

void CookieJar::ReplySetCookie(const std::string& url, const std::string& value) const {
  std::function<void(const std::string&, const std::string&)> watcher;
  {
    std::lock_guard<std::mutex> guard(watcherLock_);
    watcher = watcher_;
  }
  if (watcher) watcher(url, value);
}

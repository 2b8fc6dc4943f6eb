// The session that every fetch of a run shares: one cookie jar, safe to use from every fetching thread,
// applying domain, path, secure flag and expiry as a browser does (the transfer library does the
// matching). Cookies come in from a browser profile or a cookie file, and replies to fetches add their
// own; a watcher hears of those, so a session a download refreshed stays one session in the browser too.
//
// Cookie values never leave the jar except to the hosts they belong to and, when asked, to a cookie file
// the user named.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

// One cookie, in the fields a Netscape cookie file line holds.
struct Cookie {
  std::string domain;  // host for a host-only cookie; a leading "." lets it reach subdomains too
  bool includeSubdomains = false;
  std::string path = "/";
  bool secure = false;
  bool httpOnly = false;
  long long expires = 0;  // seconds since the epoch; 0 for a session cookie
  std::string name, value;
};

// A cookie file that cannot be read; what() names the file and the line.
class CookieFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CookieJar {
 public:
  CookieJar();
  ~CookieJar();
  CookieJar(const CookieJar&) = delete;
  CookieJar& operator=(const CookieJar&) = delete;

  // Adds a cookie, or replaces the one of the same name, domain and path.
  void Add(const Cookie& cookie);
  // Removes the cookie of that name, domain and path, if there is one.
  void Remove(const std::string& domain, const std::string& path, const std::string& name);
  // Every cookie held (expired ones are gone).
  std::vector<Cookie> All() const;

  // Reads a Netscape cookie file ("# Netscape HTTP Cookie File", one tab-separated line per cookie, a
  // "#HttpOnly_" prefix marking HttpOnly ones, other "#" lines comments). Throws CookieFileError naming
  // the file and line for a file that cannot be read or a line that is not a cookie.
  void LoadFile(const std::string& path);
  // Every cookie in that format, for a file that LoadFile reads back. It holds a session: whoever writes it
  // writes it whole and readable by its owner alone (mode 0600).
  std::string FileText() const;

  // Called (on the fetching thread) for every cookie a reply to a fetch set, with the address asked for.
  void SetWatcher(std::function<void(const std::string& url, const std::string& setCookieValue)> watcher);
  void ReplySetCookie(const std::string& url, const std::string& setCookieValue) const;

  // The transfer library's share handle, for the fetches (CURLSH*).
  void* Share() const { return share_; }

 private:
  void* share_ = nullptr;              // CURLSH*
  mutable std::recursive_mutex lock_;  // the share's data; the library may lock it again inside
  mutable std::mutex watcherLock_;
  std::function<void(const std::string&, const std::string&)> watcher_;
};

// The line of a Netscape cookie file for a cookie, and back. ParseCookieLine returns false for a line that
// is no cookie (the caller decides whether it is a comment).
std::string CookieLine(const Cookie& cookie);
bool ParseCookieLine(const std::string& line, Cookie& cookie);

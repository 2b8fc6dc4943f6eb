// Signing in to the vendor site: the sessions albumd hands out, the cookies that carry them, and reading
// what a browser sends (the sign-in form's body, the Cookie header).
//
// A session lives only in this albumd's memory, so a token from another run, or one made up, is never
// valid. It belongs to one QQ number and ends at its expiry or at sign-out.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace albumd {

// The names of the two cookies a sign-in sets: the session itself (HttpOnly, so page scripts never see
// it) and the signed-in QQ number as the album pages read it ("o" followed by the number).
inline constexpr const char* kSessionCookie = "p_skey";
inline constexpr const char* kUinCookie = "uin";

class Sessions {
 public:
  using Clock = std::chrono::steady_clock;

  // A new session for `qq` that lasts `seconds` and, when `requests` is above 0, that many accepted
  // requests; returns its token (random, 32 hex digits).
  std::string Open(const std::string& qq, int seconds, int requests = 0);
  // True when `token` names a session of this albumd for `qq` that has not expired or been closed. A true
  // answer is a request the session served: it counts against a session limited in requests, and the
  // last one it allows closes it. So a request asks once, where it decides what to answer.
  bool Accept(const std::string& token, const std::string& qq);
  // Ends the session `token`, if there is one.
  void Close(const std::string& token);

 private:
  struct Session {
    std::string qq;
    Clock::time_point expires;
    int requestsLeft = 0;  // 0: not limited
  };
  std::mutex mutex_;
  std::map<std::string, Session> sessions_;
};

// The Set-Cookie values of a sign-in: host-only (no Domain), Path=/, Max-Age and Expires `seconds` ahead.
std::vector<std::string> SessionCookies(const std::string& token, const std::string& qq, int seconds);
// The Set-Cookie values of a sign-in on QQ's own sign-in pages (the QR code's one-time address): "uin" and
// "p_uin" ("o" and the number padded with zeros to 10 digits), "skey" ("@" and 9 random characters),
// "p_skey" (the session token) and "pt4_token"; attributes as SessionCookies gives them.
std::vector<std::string> PtloginCookies(const std::string& token, const std::string& qq, int seconds);
// The Set-Cookie values that make a browser drop both cookies.
std::vector<std::string> ExpiredCookies();

// The name=value pairs of Cookie header values, in the order sent; blanks around each pair are dropped.
// A pair without "=" has an empty name.
std::vector<std::pair<std::string, std::string>> ParseCookies(const std::vector<std::string>& headers);

// The fields of an application/x-www-form-urlencoded body ("+" is a blank, %XX a byte). A field given
// twice keeps its first value.
std::map<std::string, std::string> ParseForm(const std::string& body);

// The request token ("g_tk") a signed-in list call carries, computed from the session token's bytes:
// h = 5381, then h = h * 33 + byte for each byte (unsigned 32-bit, wrapping), and the low 31 bits of h.
uint32_t RequestToken(const std::string& sessionToken);

// `length` random characters from `alphabet` (not empty), from the system's random source.
std::string RandomText(size_t length, const std::string& alphabet);

// Percent-encodes everything but unreserved characters, for a value put into a query.
std::string QueryEscape(const std::string& text);

}  // namespace albumd

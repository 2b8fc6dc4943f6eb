#include "tools/albumd/signin.h"

#include <sys/random.h>

#include <algorithm>
#include <ctime>
#include <stdexcept>

namespace albumd {
namespace {

constexpr size_t kTokenLength = 32;
constexpr const char* kHexDigits = "0123456789abcdef";
constexpr const char* kLettersAndDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string RandomToken() {
  return RandomText(kTokenLength, kHexDigits);
}

std::string CookieDate(std::time_t when) {
  std::tm tm{};
  gmtime_r(&when, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return text;
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string FormDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::string Sessions::Open(const std::string& qq, int seconds, int requests) {
  std::string token = RandomToken();
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  // Dead sessions go when new ones come, so a long run of sign-ins does not pile them up.
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = it->second.expires <= now ? sessions_.erase(it) : std::next(it);
  }
  sessions_[token] = Session{qq, now + std::chrono::seconds(seconds), std::max(requests, 0)};
  return token;
}

bool Sessions::Accept(const std::string& token, const std::string& qq) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sessions_.find(token);
  if (it == sessions_.end() || it->second.qq != qq || Clock::now() >= it->second.expires) return false;
  if (it->second.requestsLeft > 0 && --it->second.requestsLeft == 0) sessions_.erase(it);
  return true;
}

void Sessions::Close(const std::string& token) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.erase(token);
}

std::vector<std::string> SessionCookies(const std::string& token, const std::string& qq, int seconds) {
  // No Domain attribute: the cookies go back only to the host that set them, never to a neighbour.
  const std::string tail = "; Path=/; Max-Age=" + std::to_string(seconds) +
                           "; Expires=" + CookieDate(std::time(nullptr) + seconds);
  return {std::string(kSessionCookie) + "=" + token + tail + "; HttpOnly",
          std::string(kUinCookie) + "=o" + qq + tail};
}

std::vector<std::string> PtloginCookies(const std::string& token, const std::string& qq, int seconds) {
  const std::string tail = "; Path=/; Max-Age=" + std::to_string(seconds) +
                           "; Expires=" + CookieDate(std::time(nullptr) + seconds);
  const std::string uin = "o" + std::string(qq.size() < 10 ? 10 - qq.size() : 0, '0') + qq;
  return {std::string(kUinCookie) + "=" + uin + tail, "p_uin=" + uin + tail,
          "skey=@" + RandomText(9, kLettersAndDigits) + tail,
          std::string(kSessionCookie) + "=" + token + tail + "; HttpOnly",
          "pt4_token=" + RandomText(32, kLettersAndDigits) + tail};
}

std::vector<std::string> ExpiredCookies() {
  const std::string tail = "; Path=/; Max-Age=0; Expires=" + CookieDate(0);
  return {std::string(kSessionCookie) + "=" + tail + "; HttpOnly", std::string(kUinCookie) + "=" + tail};
}

std::vector<std::pair<std::string, std::string>> ParseCookies(const std::vector<std::string>& headers) {
  std::vector<std::pair<std::string, std::string>> cookies;
  for (const std::string& header : headers) {
    size_t at = 0;
    while (at <= header.size()) {
      size_t end = header.find(';', at);
      if (end == std::string::npos) end = header.size();
      std::string pair = Trim(header.substr(at, end - at));
      if (!pair.empty()) {
        size_t eq = pair.find('=');
        if (eq == std::string::npos) {
          cookies.emplace_back("", pair);
        } else {
          cookies.emplace_back(Trim(pair.substr(0, eq)), Trim(pair.substr(eq + 1)));
        }
      }
      at = end + 1;
    }
  }
  return cookies;
}

std::map<std::string, std::string> ParseForm(const std::string& body) {
  std::map<std::string, std::string> fields;
  size_t at = 0;
  while (at <= body.size()) {
    size_t end = body.find('&', at);
    if (end == std::string::npos) end = body.size();
    std::string pair = body.substr(at, end - at);
    if (!pair.empty()) {
      size_t eq = pair.find('=');
      std::string name = FormDecode(pair.substr(0, eq));
      std::string value = eq == std::string::npos ? "" : FormDecode(pair.substr(eq + 1));
      fields.emplace(std::move(name), std::move(value));
    }
    at = end + 1;
  }
  return fields;
}

uint32_t RequestToken(const std::string& sessionToken) {
  uint32_t h = 5381;
  for (unsigned char c : sessionToken) h = h * 33 + c;
  return h & 0x7FFFFFFF;
}

std::string RandomText(size_t length, const std::string& alphabet) {
  std::string bytes(length, '\0');
  size_t filled = 0;
  while (filled < length) {
    ssize_t n = getrandom(bytes.data() + filled, length - filled, 0);
    if (n < 0) throw std::runtime_error("no random bytes");
    filled += static_cast<size_t>(n);
  }
  // The modulo leans a little towards the first characters unless the alphabet divides 256; nothing
  // here needs better than that.
  std::string text;
  for (unsigned char b : bytes) text += alphabet[b % alphabet.size()];
  return text;
}

std::string QueryEscape(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

}  // namespace albumd

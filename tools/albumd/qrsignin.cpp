#include "tools/albumd/qrsignin.h"

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "tools/albumd/account.h"
#include "tools/albumd/qrimage.h"

namespace albumd {
namespace {

constexpr const char* kHexDigits = "0123456789abcdef";
constexpr const char* kQrSigCookie = "qrsig";
constexpr const char* kJsType = "application/javascript; charset=utf-8";
constexpr const char* kTextType = "text/plain; charset=utf-8";

// What the sign-in page's poll says, by the code's state.
constexpr const char* kWaiting = "二维码未失效。";
constexpr const char* kScanned = "二维码认证中。";
constexpr const char* kExpired = "二维码已失效。";
constexpr const char* kRefused = "本次登录已被拒绝。";
constexpr const char* kSignedIn = "登录成功！";
constexpr const char* kBadRequest = "提交参数错误，请检查。";

// Text inside a single-quoted JavaScript string: the reply is a script, and a nickname must not end it.
std::string JsQuoted(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\' || c == '\'') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The poll's reply: a call of the sign-in page's callback, exactly as the page's script expects it.
Reply Callback(const std::string& code, const std::string& url, const std::string& message,
               const std::string& nickname) {
  return {200, kJsType,
          "ptuiCB('" + code + "','0','" + url + "','0','" + message + "', '" + JsQuoted(nickname) + "')\n"};
}

Reply Text(int status, const std::string& line) {
  return {status, kTextType, line + "\n"};
}

std::vector<std::pair<std::string, std::string>> CookiesOf(const httplib::Request& req) {
  std::vector<std::string> headers;
  auto range = req.headers.equal_range("Cookie");
  for (auto it = range.first; it != range.second; ++it) headers.push_back(it->second);
  return ParseCookies(headers);
}

}  // namespace

QrCodes::QrCodes(int lifetimeSeconds) : lifetime_(lifetimeSeconds) {}

void QrCodes::DropExpired() {
  const Clock::time_point now = Clock::now();
  codes_.erase(
      std::remove_if(codes_.begin(), codes_.end(), [now](const Code& c) { return c.expires <= now; }),
      codes_.end());
}

QrCodes::Shown QrCodes::Show() {
  Code code;
  code.key = RandomText(16, kHexDigits);
  code.qrsig = RandomText(32, kHexDigits);
  code.expires = Clock::now() + lifetime_;
  Shown shown{code.key, code.qrsig};
  std::lock_guard<std::mutex> lock(mutex_);
  DropExpired();
  codes_.push_back(std::move(code));
  return shown;
}

QrCodes::Status QrCodes::Poll(const std::string& qrsig) {
  std::lock_guard<std::mutex> lock(mutex_);
  DropExpired();
  for (const Code& code : codes_) {
    if (code.qrsig == qrsig) return Status{code.state, code.qq, code.ticket};
  }
  return Status{};
}

QrCodes::Press QrCodes::PhoneButton(const std::string& key, const std::string& qq, Button button) {
  const std::string ticket = RandomText(32, kHexDigits);
  std::lock_guard<std::mutex> lock(mutex_);
  DropExpired();
  auto code = std::find_if(codes_.begin(), codes_.end(), [&](const Code& c) { return c.key == key; });
  if (code == codes_.end()) return Press::kUnknown;
  const bool scannedHere = code->state == State::kScanned && code->qq == qq;
  switch (button) {
    case Button::kScan:
      if (code->state != State::kWaiting) return Press::kOutOfTurn;
      code->state = State::kScanned;
      code->qq = qq;
      return Press::kDone;
    case Button::kConfirm:
      if (!scannedHere) return Press::kOutOfTurn;
      code->state = State::kSignedIn;
      code->ticket = ticket;
      // The page learns of the sign-in at its next poll and then takes the cookies: a code confirmed
      // just before its end must not vanish in between.
      code->expires = Clock::now() + lifetime_;
      return Press::kDone;
    case Button::kRefuse:
      if (code->state != State::kWaiting && !scannedHere) return Press::kOutOfTurn;
      code->state = State::kRefused;
      code->qq = qq;
      return Press::kDone;
  }
  return Press::kOutOfTurn;
}

std::string QrCodes::Redeem(const std::string& ticket) {
  std::lock_guard<std::mutex> lock(mutex_);
  DropExpired();
  auto code = std::find_if(codes_.begin(), codes_.end(), [&](const Code& c) {
    return c.state == State::kSignedIn && !ticket.empty() && c.ticket == ticket;
  });
  if (code == codes_.end()) return "";
  std::string qq = code->qq;
  codes_.erase(code);
  return qq;
}

uint32_t QrToken(const std::string& qrsig) {
  uint32_t h = 0;
  for (unsigned char c : qrsig) h = h * 33 + c;
  return h & 0x7FFFFFFF;
}

QrSignIn::QrSignIn(std::string dataDir, int codeSeconds, Sessions& sessions)
    : dataDir_(std::move(dataDir)), sessions_(sessions), codes_(codeSeconds) {}

bool QrSignIn::Serves(const std::string& path) {
  return path == "/ptqrshow" || path == "/ptqrlogin" || path == "/qrphone" || path == "/check_sig";
}

QrReply QrSignIn::Answer(const httplib::Request& req, const std::string& path, const std::string& host) {
  if (path == "/ptqrshow") return ShowCode(host);
  if (path == "/ptqrlogin") return PollCode(req, host);
  if (path == "/qrphone") return Phone(req);
  return CheckSig(req);
}

QrReply QrSignIn::ShowCode(const std::string& host) {
  QrReply out;
  const QrCodes::Shown shown = codes_.Show();
  try {
    out.reply = {200, "image/png", QrCodePng("http://" + host + "/qrphone?k=" + shown.key)};
  } catch (const std::runtime_error& e) {
    out.reply = Text(500, std::string("albumd: ") + e.what());
    return out;
  }
  out.setCookies.push_back(std::string(kQrSigCookie) + "=" + shown.qrsig + "; Path=/");
  return out;
}

QrReply QrSignIn::PollCode(const httplib::Request& req, const std::string& host) {
  QrReply out;
  // The token proves the page read the cookie it was given; a wrong one is the page's fault, and says
  // so instead of looking like a code that expired.
  const std::string token = req.get_param_value("ptqrtoken");
  std::string qrsig;
  bool matched = false;
  for (const auto& [name, value] : CookiesOf(req)) {
    if (name == kQrSigCookie && std::to_string(QrToken(value)) == token) {
      qrsig = value;
      matched = true;
      break;
    }
  }
  if (!matched) {
    out.reply = Callback("7", "", kBadRequest, "");
    return out;
  }

  const QrCodes::Status status = codes_.Poll(qrsig);
  switch (status.state) {
    case QrCodes::State::kWaiting:
      out.reply = Callback("66", "", kWaiting, "");
      break;
    case QrCodes::State::kScanned:
      out.reply = Callback("67", "", kScanned, "");
      break;
    case QrCodes::State::kRefused:
      out.reply = Callback("68", "", kRefused, "");
      break;
    case QrCodes::State::kExpired:
      out.reply = Callback("65", "", kExpired, "");
      break;
    case QrCodes::State::kSignedIn: {
      auto account = LoadAccount(dataDir_, status.qq);
      const std::string nickname = account && !account->nickname.empty() ? account->nickname : status.qq;
      const std::string url = "http://" + host + "/check_sig?pttype=1&uin=" + status.qq +
                              "&service=ptqrlogin&nodirect=0&ptsigx=" + status.ticket +
                              "&s_url=" + QueryEscape(req.get_param_value("u1")) +
                              "&f_url=&ptlang=2052&ptredirect=100&aid=549000912&daid=5&j_later=0"
                              "&low_login_hour=0&regmaster=0&pt_login_type=3&pt_aid=0&pt_aaid=16&pt_light=0"
                              "&pt_3rd_aid=0";
      out.reply = Callback("0", url, kSignedIn, nickname);
      break;
    }
  }
  return out;
}

QrReply QrSignIn::Phone(const httplib::Request& req) {
  QrReply out;
  const std::string action = req.get_param_value("action");
  QrCodes::Button button;
  if (action == "scan") {
    button = QrCodes::Button::kScan;
  } else if (action == "confirm") {
    button = QrCodes::Button::kConfirm;
  } else if (action == "refuse") {
    button = QrCodes::Button::kRefuse;
  } else {
    out.reply = Text(400, "action is scan, confirm or refuse");
    return out;
  }
  const std::string qq = req.get_param_value("uin");
  if (!IsQQText(qq)) {
    out.reply = Text(400, "uin must be digits");
    return out;
  }
  // Who may sign in by password may sign in by phone; an account without a password has no owner here.
  auto account = LoadAccount(dataDir_, qq);
  if (!account || account->password.empty()) {
    out.reply = Text(403, "no account " + qq + " to sign in to");
    return out;
  }
  switch (codes_.PhoneButton(req.get_param_value("k"), qq, button)) {
    case QrCodes::Press::kDone:
      out.reply = Text(200, action == "scan" ? "scanned" : action == "confirm" ? "confirmed" : "refused");
      break;
    case QrCodes::Press::kUnknown:
      out.reply = Text(404, "no such code, or it has expired");
      break;
    case QrCodes::Press::kOutOfTurn:
      out.reply = Text(409, "the code is not waiting for " + action + " by " + qq);
      break;
  }
  return out;
}

QrReply QrSignIn::CheckSig(const httplib::Request& req) {
  QrReply out;
  const std::string qq = codes_.Redeem(req.get_param_value("ptsigx"));
  auto account = qq.empty() ? nullptr : LoadAccount(dataDir_, qq);
  if (!account || account->password.empty()) {
    out.reply = Text(403, "unknown or used sign-in ticket");
    return out;
  }
  const std::string token = sessions_.Open(qq, account->sessionSeconds, account->sessionRequests);
  out.setCookies = PtloginCookies(token, qq, account->sessionSeconds);
  const std::string back = req.get_param_value("s_url");
  out.location = back.empty() ? "/" : back;
  out.reply = {302, "text/plain", "moved\n"};
  return out;
}

}  // namespace albumd

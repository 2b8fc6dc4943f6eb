// Signing in with a QR code, as QQ's sign-in pages offer it: the page shows a code, the phone app scans it
// and asks its owner to confirm, and the page, polling, learns the outcome and gets a one-time address
// that hands out the session cookies.
//
// albumd has no phone app. The code's text is an address of albumd's own, "/qrphone?k=K", and whoever
// plays the phone fetches it with the account and the button pressed (scan, confirm, refuse). A test
// that reads the code from the picture so proves the picture scans.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tools/albumd/replies.h"
#include "tools/albumd/signin.h"

namespace httplib {
struct Request;
}  // namespace httplib

namespace albumd {

// The codes shown and what became of them, in memory for this run; safe to use from several threads.
class QrCodes {
 public:
  using Clock = std::chrono::steady_clock;

  enum class State { kWaiting, kScanned, kSignedIn, kRefused, kExpired };
  enum class Button { kScan, kConfirm, kRefuse };
  enum class Press { kDone, kUnknown, kOutOfTurn };

  struct Shown {
    std::string key;    // K in the code's text: names the code to the phone
    std::string qrsig;  // the cookie that names it to the page that shows it
  };
  struct Status {
    State state = State::kExpired;
    std::string qq;      // who scanned it
    std::string ticket;  // kSignedIn: the one-time id of the address that hands out the cookies
  };

  explicit QrCodes(int lifetimeSeconds);

  // A new code that lives for the lifetime.
  Shown Show();
  // What became of the code `qrsig` names; kExpired as well for a code this run never showed.
  Status Poll(const std::string& qrsig);
  // The phone of `qq` pressing a button on code `key`: scan takes a waiting code; confirm and refuse
  // answer a code this account scanned, and refuse also a waiting one. A confirmed code gets its ticket
  // and a new lifetime, for the page to take the cookies.
  Press PhoneButton(const std::string& key, const std::string& qq, Button button);
  // The QQ number a signed-in code's ticket stands for, once: the code is gone afterwards. "" for a
  // ticket that is unknown, used or expired.
  std::string Redeem(const std::string& ticket);

 private:
  struct Code {
    std::string key;
    std::string qrsig;
    State state = State::kWaiting;
    std::string qq;
    std::string ticket;
    Clock::time_point expires;
  };
  // Forgets the codes whose time is up; the lock is held.
  void DropExpired();

  const std::chrono::seconds lifetime_;
  std::mutex mutex_;
  std::vector<Code> codes_;
};

// The ptqrtoken a page sends with its polls: the request token's hash started at 0 instead of 5381,
// over the qrsig cookie's value (h = h * 33 + byte, unsigned 32-bit, wrapping; the low 31 bits of h).
uint32_t QrToken(const std::string& qrsig);

struct QrReply {
  Reply reply;
  std::vector<std::string> setCookies;  // Set-Cookie values
  std::string location;                 // the Location of a redirect; empty: none
};

// The addresses of the QR sign-in: "/ptqrshow" (the picture), "/ptqrlogin" (the page's poll),
// "/qrphone" (the phone) and "/check_sig" (the one-time address that hands out the session cookies).
class QrSignIn {
 public:
  QrSignIn(std::string dataDir, int codeSeconds, Sessions& sessions);

  static bool Serves(const std::string& path);
  // Throws DataError, as everything else in albumd, when an account file is malformed.
  QrReply Answer(const httplib::Request& req, const std::string& path, const std::string& host);

 private:
  QrReply ShowCode(const std::string& host);
  QrReply PollCode(const httplib::Request& req, const std::string& host);
  QrReply Phone(const httplib::Request& req);
  QrReply CheckSig(const httplib::Request& req);

  std::string dataDir_;
  Sessions& sessions_;
  QrCodes codes_;
};

}  // namespace albumd

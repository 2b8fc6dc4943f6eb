#include "cli/login.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <random>
#include <string>

#include "cli/qrcode.h"
#include "cli/replyfolder.h"
#include "cli/terminalhost.h"
#include "core/currentservice.h"
#include "core/hosts.h"
#include "core/wholefile.h"
#include "net/cookiejar.h"
#include "net/fetchretry.h"
#include "net/fetchtofile.h"

namespace {

// A code lives about two minutes; after this many new ones nobody is at the phone.
constexpr int kMaxCodes = 5;
constexpr int kDefaultPollMs = 2000;

bool Colours() {
  const char* term = std::getenv("TERM");
  return ::isatty(STDOUT_FILENO) == 1 && std::getenv("NO_COLOR") == nullptr && term != nullptr &&
         std::string(term) != "dumb";
}

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The latest value of a cookie the jar holds under that name; empty when none.
std::string CookieValue(const CookieJar& jar, std::string_view name) {
  std::string value;
  for (const Cookie& c : jar.All())
    if (c.name == name) value = c.value;
  return value;
}

class Login {
 public:
  Login(const Options& o, const std::atomic<bool>& stop)
      : o_(o),
        stop_(stop),
        signIn_(MakeSignInHosts(!o.loginHost.empty() ? o.loginHost : LoginHostOverride())),
        site_(MakeSiteHosts(!o.siteHost.empty() ? o.siteHost : SiteHostOverride())),
        pollMs_(o.pollPauseSeconds >= 0 ? static_cast<int>(o.pollPauseSeconds * 1000) : kDefaultPollMs) {
    options_.cookies = &jar_;
    options_.abort = &stop_;
    options_.userAgent = std::string(kSiteUserAgent);
    options_.maxBytes = 1024 * 1024;
    options_.totalTimeoutMs = 30000;
  }

  int Run();

 private:
  // The reply's text, or nothing after saying why it could not be fetched.
  std::optional<std::string> Fetch(const std::string& address, const std::string& what,
                                   bool followRedirects = true);
  // Shows a new code; false after saying why it could not be.
  bool ShowCode();
  // Waits for the phone; the poll that ended the wait, or nothing on an error already said.
  std::optional<QrPoll> AwaitPhone();
  int Failed(const std::string& message, int code) {
    std::cerr << "lorvanta-cli: " << Shown(message) << "\n";
    return code;
  }

  const Options& o_;
  const std::atomic<bool>& stop_;
  SignInHosts signIn_;
  SiteHosts site_;
  int pollMs_;
  CookieJar jar_;
  FetchOptions options_;
  ReplyFolder replies_;
  std::mt19937 random_{std::random_device{}()};
};

std::optional<std::string> Login::Fetch(const std::string& address, const std::string& what,
                                        bool followRedirects) {
  const std::string file = replies_.File("reply");
  FetchOptions options = options_;
  options.followRedirects = followRedirects;
  const FetchReport report = FetchToFileReport(address, file, options);
  if (!report.ok) {
    if (!stop_) Failed(what + " could not be fetched: " + report.error, 0);
    return std::nullopt;
  }
  return ReadWholeFile(file);
}

bool Login::ShowCode() {
  const auto png = Fetch(QrCodeAddress(signIn_, std::to_string(random_() % 1000000000)), "the QR code");
  if (!png) return false;
  if (CookieValue(jar_, kQrCookie).empty()) {
    Failed("the sign-in host gave a code without its " + std::string(kQrCookie) + " cookie", 0);
    return false;
  }
  std::string error;
  const std::optional<std::string> text = ReadQrImage(*png, error);
  std::string drawn = text ? DrawQrCode(*text, Colours()) : std::string();
  if (drawn.empty()) {
    // The image as it came is still something a phone can scan, from an image viewer.
    const std::string saved = o_.cookiesOut + ".qr.png";
    try {
      WriteWholeFile(saved, *png, 0600);
    } catch (const std::exception& e) {
      Failed("the QR code cannot be shown (" + error + ") nor saved: " + e.what(), 0);
      return false;
    }
    std::cout << "The QR code cannot be drawn here (" << Shown(error) << "); open " << Shown(saved)
              << " and scan it.\n";
  } else {
    std::cout << drawn;
  }
  std::cout << "Scan the code with the QQ app on your phone and confirm the sign-in there.\n" << std::flush;
  return true;
}

std::optional<QrPoll> Login::AwaitPhone() {
  bool scannedSaid = false;
  for (;;) {
    if (!WaitUnlessEnded(pollMs_, &stop_, nullptr)) return std::nullopt;
    const std::string qrsig = CookieValue(jar_, kQrCookie);
    const auto reply = Fetch(QrPollAddress(signIn_, qrsig, NowMs()), "the state of the code");
    if (!reply) return std::nullopt;
    std::optional<QrPoll> poll = ReadQrPoll(*reply);
    if (!poll) {
      Failed("the sign-in host's answer could not be read", 0);
      return std::nullopt;
    }
    if (poll->state == QrPoll::State::kWaiting) continue;
    if (poll->state == QrPoll::State::kScanned) {
      if (!scannedSaid) std::cout << "Scanned: confirm the sign-in on the phone.\n" << std::flush;
      scannedSaid = true;
      continue;
    }
    return poll;
  }
}

int Login::Run() {
  // The sign-in page first, as a browser opens it: it may set cookies the code's host expects.
  if (!Fetch(SignInPageAddress(signIn_), "the sign-in page"))
    return stop_ ? kExitInterrupted : kExitNoAlbumList;
  std::optional<QrPoll> poll;
  for (int codes = 0; codes < kMaxCodes; ++codes) {
    if (codes > 0) std::cout << "The code expired; here is a new one.\n";
    if (!ShowCode()) return stop_ ? kExitInterrupted : kExitNoAlbumList;
    poll = AwaitPhone();
    if (!poll) return stop_ ? kExitInterrupted : kExitNoAlbumList;
    if (poll->state != QrPoll::State::kExpired) break;
  }
  switch (poll->state) {
    case QrPoll::State::kSignedIn:
      break;
    case QrPoll::State::kExpired:
      return Failed("no code was confirmed in time; run the sign-in again", kExitSignIn);
    case QrPoll::State::kRefused:
      return Failed("the sign-in was refused on the phone", kExitSignIn);
    default:
      return Failed("the sign-in host refused: " + poll->message + " (" + poll->code + ")", kExitSignIn);
  }
  // The confirmation's address sets the session's cookies; where it leads on to is a page for browsers.
  if (poll->address.rfind("https://", 0) != 0 && poll->address.rfind("http://", 0) != 0)
    return Failed("the sign-in host gave no address to take the session from", kExitSignIn);
  if (!Fetch(poll->address, "the session", false)) return stop_ ? kExitInterrupted : kExitNoAlbumList;
  std::optional<SiteSession> session = SiteSignIn(jar_.All(), site_);
  if (!session)
    return Failed("the sign-in gave no session of the album site (" + site_.listBase + ")", kExitSignIn);

  // One album list call shows whether the site takes the session, before it is written for later runs.
  options_.headers = {"Referer: " + std::string(kSiteReferer), "Origin: " + std::string(kSiteOrigin)};
  const auto list = Fetch(CurrentAlbumListAddress(site_, session->token, session->uin, session->uin, 0, 1,
                                                  std::to_string(random_() % 1000000000)),
                          "the album list");
  if (!list) return stop_ ? kExitInterrupted : kExitNoAlbumList;
  const CurrentAlbumPage page = ReadCurrentAlbumPage(*list);
  if (!page.readable) return Failed("the album site's answer could not be read", kExitNoAlbumList);
  if (!page.status.ok()) {
    return Failed("the album site does not take the session: " + page.status.message + " (" +
                      std::to_string(page.status.code) + ")",
                  kExitSignIn);
  }
  try {
    WriteWholeFile(o_.cookiesOut, jar_.FileText(), 0600);
  } catch (const std::exception& e) {
    return Failed(std::string("the session was not saved: ") + e.what(), kExitSomeFailed);
  }
  std::cout << "Signed in as " << session->uin
            << (poll->nickname.empty() ? "" : " (" + Shown(poll->nickname) + ")") << "; the session is in "
            << Shown(o_.cookiesOut) << " (give it to --cookies).\n";
  return kExitOk;
}

}  // namespace

int RunLoginCommand(const Options& o, const std::atomic<bool>& stop) {
  Login login(o, stop);
  return login.Run();
}

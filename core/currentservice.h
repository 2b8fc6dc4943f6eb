// Today's album service: the album site's signed-in JSON calls. Every address, parameter and reply field of
// it is here, so a change of the service is a change of this unit. Nothing here fetches; the jobs do.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/jobhost.h"
#include "net/cookiejar.h"
#include "net/ratebudget.h"

// Where the album site's two proxies answer: the album list, and the photo lists.
struct SiteHosts {
  std::string listBase = "https://user.qzone.qq.com";
  std::string photoBase = "https://h5.qzone.qq.com";
};
// The built-in hosts, or both replaced by `host`: an address with its scheme ("http://127.0.0.1:8080") as it
// is, a bare host name meaning https. An empty `host` keeps the built-in ones.
SiteHosts MakeSiteHosts(std::string_view host);

// The hash the service's tokens are made with: h = seed; h = h * 33 + byte for every byte, in 32 bits that
// wrap; the result without its top bit.
std::uint32_t ServiceHash(std::string_view text, std::uint32_t seed);
// The request token (g_tk) every list call carries, from the sign-in key (p_skey, else skey): decimal.
std::string RequestToken(std::string_view signInKey);
// The QQ number a uin cookie names: "o0123456789" gives "123456789"; empty when it names none.
std::string QQFromUinCookie(std::string_view value);

// One page of the album list of `hostUin`, asked for by the signed-in `uin`. `nonce` breaks caches.
std::string CurrentAlbumListAddress(const SiteHosts& hosts, std::string_view token, std::string_view hostUin,
                                    std::string_view uin, int pageStart, int pageNum, std::string_view nonce);
// One page of the photo list of album `albumId`.
std::string CurrentPhotoListAddress(const SiteHosts& hosts, std::string_view token, std::string_view hostUin,
                                    std::string_view uin, std::string_view albumId, int pageStart,
                                    int pageNum, std::string_view nonce);
// Albums asked for a page, and photos: the service gives at most about 30 albums and 500 photos a call.
inline constexpr int kAlbumPageSize = 30;
inline constexpr int kPhotoPageSize = 500;
// The headers of a browser on the album site, which the list calls and the video hosts expect.
inline constexpr std::string_view kSiteReferer = "https://user.qzone.qq.com/";
inline constexpr std::string_view kSiteOrigin = "https://user.qzone.qq.com";
// A desktop browser's, as the site expects of the pages that call it.
inline constexpr std::string_view kSiteUserAgent =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 Safari/537.36";

// The JSON of a JSONP reply: the text between its first "(" and its last ")"; the reply as it is when it
// holds no such pair.
std::string_view JsonpPayload(std::string_view reply);
// The JSON with what the service is known to get wrong made readable, so that one bad entry costs that
// entry and not the whole list: control characters inside strings escaped, bytes that are not UTF-8
// replaced by U+FFFD, and a bare `undefined` read as null. Text that is fine comes back unchanged.
std::string RepairJson(std::string_view json);

// List calls a minute the album site is asked at most by default: a person browsing albums.
inline constexpr int kSiteCallsPerMinute = 20;

// A signed-in session of the album site, as the jobs use it.
struct SiteSession {
  SiteHosts hosts;
  std::string uin;    // who is signed in (the QQ number)
  std::string token;  // RequestToken of the session's sign-in key
  // The pause before every list call but the first, drawn between the two (ms); the first wait on a busy
  // service (ms), each further one twice as long.
  int pauseMinMs = 1000, pauseMaxMs = 3000;
  int busyPauseMs = 120000;
  // The list calls a minute, shared by the preview and every photo list of the session; null: no budget.
  std::shared_ptr<CallBudget> budget = std::make_shared<CallBudget>(kSiteCallsPerMinute);
};

// The session's sign-in to the album site at `hosts`, from the cookies that reach its host: the signed-in
// number (cookie uin, else p_uin) and the token of p_skey (else skey). Nothing when either is missing.
std::optional<SiteSession> SiteSignIn(const std::vector<Cookie>& cookies, const SiteHosts& hosts);

// QQ's sign-in for the album site: the page people sign in on (a QR code or a password), and the host of
// the QR code flow a program runs itself: show the code, wait for the phone, then fetch the address the
// phone's confirmation gives, whose reply sets the session's cookies.
struct SignInHosts {
  std::string pageBase = "https://xui.ptlogin2.qq.com";
  std::string qrBase = "https://ssl.ptlogin2.qq.com";
};
// As MakeSiteHosts: `host` replaces both; empty keeps the built-in ones.
SignInHosts MakeSignInHosts(std::string_view host);
// The sign-in page, which returns to the album site signed in.
std::string SignInPageAddress(const SignInHosts& hosts);
// A new QR code (a PNG); its reply sets kQrCookie, which every poll of that code carries.
std::string QrCodeAddress(const SignInHosts& hosts, std::string_view nonce);
inline constexpr std::string_view kQrCookie = "qrsig";
// One poll of the code the kQrCookie value `qrsig` belongs to; `nowMs` is the time in milliseconds.
std::string QrPollAddress(const SignInHosts& hosts, std::string_view qrsig, long long nowMs);

// What a poll says of the code.
struct QrPoll {
  enum class State { kWaiting, kScanned, kExpired, kRefused, kSignedIn, kOther };
  State state = State::kOther;
  std::string code;     // the service's own code ("66" waiting ...)
  std::string address;  // kSignedIn: the address whose reply sets the session's cookies
  std::string message;
  std::string nickname;
};
// Nothing when the reply is no poll answer of the sign-in host.
std::optional<QrPoll> ReadQrPoll(std::string_view reply);

// A call the service refused: its code (0 = fine), subcode and message.
struct ServiceStatus {
  int code = 0;
  int subcode = 0;
  std::string message;
  bool ok() const { return code == 0; }
  // Not signed in, or the session has expired.
  bool SignInNeeded() const { return code == -3000; }
  // Too many users: try again in minutes.
  bool Busy() const { return code == -10000; }
};

struct CurrentAlbum {
  AlbumEntryFields fields;  // id, priv (as a number's text), name, total, desc
  bool allowAccess = true;  // false: the signed-in user may not open it
  std::string cover;        // the cover's address
};

struct CurrentAlbumPage {
  ServiceStatus status;
  bool readable = false;  // the reply was JSON with a code
  std::vector<CurrentAlbum> albums;
  int albumsInUser = 0;
};
CurrentAlbumPage ReadCurrentAlbumPage(std::string_view reply);

struct CurrentPhoto {
  std::string name;
  std::string desc;
  std::string url;        // what is saved: the original when there is one, else the large image
  std::string phototype;  // as the classic lists number them ("1" JPEG, "2" GIF, "3" PNG, "4" BMP ...)
  bool video = false;     // url is a video; its host wants kSiteReferer
  std::time_t taken = 0;  // shoot time, else upload time (local time as the service writes it); 0: none
};

struct CurrentPhotoPage {
  ServiceStatus status;
  bool readable = false;
  std::vector<CurrentPhoto> photos;
  int totalInAlbum = 0;
  int unreadable = 0;  // entries of the page that could not be read (no address, not an object)
};
CurrentPhotoPage ReadCurrentPhotoPage(std::string_view reply);

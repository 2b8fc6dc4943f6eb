// The accounts albumd serves: read from one small UTF-8 text file per QQ number, or generated from
// parameters for the large benchmark account. See README.md beside this file for the format.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace albumd {

// How one photo address answers.
enum class PhotoServe {
  kOk,           ///< the image, with Content-Length and Last-Modified
  kNotFound,     ///< 404
  kTruncate,     ///< full Content-Length, half the bytes, then the connection is closed
  kStall,        ///< headers and a few bytes, then nothing until the client leaves or the stall ends
  kHtml,         ///< 200 with an HTML page instead of an image
  kEmpty,        ///< 200 with an empty body
  kTooMany,      ///< 429 with Retry-After: 1 on the first request, the image afterwards
  kServerError,  ///< 500 on the first request, the image afterwards
  kRedirect,     ///< the list gives an address that answers 302 to the image
  kExcess,       ///< the image and, past its Content-Length, a whole second response with another image
  kDribble,      ///< the image at a few bytes per second
  kEndless,      ///< chunked: the image, then zeros without end
  kHuge,         ///< Content-Length 10 GiB, the image, then nothing until the client leaves or the stall ends
};

struct Photo {
  std::string name;
  std::string image;               // file name in the images folder
  std::string phototype;           // the text served in <phototype>
  std::optional<std::string> url;  // literal address; "{host}" stands for albumd's host:port
  std::vector<std::string> omit;   // child elements left out of <pic>
  PhotoServe serve = PhotoServe::kOk;
  int stallSeconds = 120;
  std::string excessImage = "cover.jpg";  // the image of the response that follows an excess reply
  int excessDelayMs = 0;                  // 0: that response goes out in the same write as the image
  int dribbleRate = 2;                    // bytes per second of a dribbled reply
  std::string original;                   // the original uploaded beside it (an image file); empty: none
  bool video = false;                     // the signed-in photo list names it a video
  std::string desc;                       // what the signed-in photo list says of it
};

struct Album {
  std::string id;
  std::string name;
  std::string desc;
  std::string priv = "0";
  std::string cover;                 // file name in the images folder; empty gives an empty <pre>
  std::optional<std::string> total;  // default: the number of photos
  std::vector<std::string> omit;     // child elements left out of <album>
  std::string photoList = "ok";      // ok | 404 | nopic | notxml | wrongroot | stall | badgbk
  std::optional<int> stallSeconds;   // a stalled photo list; default: the account's
  std::optional<bool> signin;        // needs a session (on an account that asks for them); default: priv 3
  bool allowAccess = true;           // false: listed, but the signed-in user may not open it
  std::optional<int> listCode;  // the code its signed-in photo list answers; default 0 (-4009 unopenable)
  std::vector<Photo> photos;
};

struct Account {
  std::string qq;
  std::string route = "wrapped";    // wrapped | plain | notjson | 404 | nohosts | numeric | bracket
  std::string albumList = "ok";     // ok | 404 | notxml | nodata | noalbum | stall
  bool cdata = false;               // element texts wrapped in CDATA sections
  int stallSeconds = 120;           // how long a stalled list stays silent
  bool signinRequired = false;      // private albums are served only within a session
  std::string password;             // empty: nobody can sign in as this account
  int sessionSeconds = 3600;        // how long a session (and its cookies) lasts
  int sessionRequests = 0;          // a session closes after this many requests it served; 0: never
  std::string nickname;             // the name a QR sign-in reports; empty: the QQ number
  int busyReplies = 0;              // signed-in album lists that answer "busy" (-10000) first, per run
  int notSignedInReplies = 0;       // then signed-in album lists that answer "not signed in" (-3000) anyway
  bool friendsOnly = false;         // photos are served only with a photo key the photo list hands out
  int photoKeyUses = 0;             // a photo key opens this many photos, and every photo list hands out
                                    // a new one; 0: keys open photos for the whole run
  bool malformedControl = false;    // the first album's signed-in photo list: a raw line feed in a name
  bool malformedUndefined = false;  // ... and a bare `undefined` as a value
  std::vector<Album> albums;
};

// True when the album is served only to a request that carries a session for its account.
bool NeedsSignIn(const Account& account, const Album& album);

// A data file that cannot be read as an account; what() names the file and line.
class DataError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// True for a non-empty text of ASCII digits only, short enough to be a file name.
bool IsQQText(const std::string& text);

// Reads "<dataDir>/accounts/<qq>.ini". Returns null when the account has no file; throws DataError when
// the file is malformed or names an image that is not in "<dataDir>/images". The file is read on every
// call; it is parsed again only when its text has changed (the generated accounts are large).
std::shared_ptr<const Account> LoadAccount(const std::string& dataDir, const std::string& qq);

// Parses the text of an account file; fileName is used in error messages only.
Account ParseAccount(const std::string& text, const std::string& qq, const std::string& fileName);

}  // namespace albumd

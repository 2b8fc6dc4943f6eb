// The album service's signed-in JSON calls as they are today: the album and photo lists behind the album
// site's proxy, the originals and videos those lists name, and the photo key that friends-only accounts
// hand out with their photo lists.
//
// A list call counts as signed in when it carries a p_skey cookie of a live session for the number in its
// `uin` parameter, a `uin` cookie naming the same number, and `g_tk` computed from that p_skey. Anything
// less gets the service's "not signed in" reply (code -3000), with status 200 like every list reply.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tools/albumd/replies.h"
#include "tools/albumd/signin.h"

namespace httplib {
struct Request;
}  // namespace httplib

namespace albumd {

struct CurrentReply {
  Reply reply;
  std::vector<std::string> setCookies;  // Set-Cookie values
};

class CurrentCalls {
 public:
  CurrentCalls(std::string dataDir, Sessions& sessions);

  // True for the addresses Answer serves: the two lists, "/originals/..." and "/videos/...".
  static bool Serves(const std::string& path, const std::vector<std::string>& parts);
  // Throws DataError, as everything else in albumd, when an account file is malformed.
  CurrentReply Answer(const httplib::Request& req, const std::string& path,
                      const std::vector<std::string>& parts, const std::string& host);

  // True when the account serves its photos only with a photo key and the request carries no
  // qq_photo_key cookie that a photo list of this run has handed out. On an account whose keys open a
  // limited number of photos the key must be one of its own with uses left, and a false answer uses one.
  bool LacksPhotoKey(const httplib::Request& req, const Account& account);
  // What such a request gets instead of the photo: a small 96x96 GIF of a padlock, status 200.
  static Reply PhotoKeyPlaceholder();

 private:
  Reply AlbumList(const httplib::Request& req, const std::string& host);
  Reply PhotoList(const httplib::Request& req, const std::string& host, std::vector<std::string>& setCookies);
  // "/originals/QQ/A/P.ext": the original of a photo that has one.
  Reply Original(const httplib::Request& req, const std::vector<std::string>& parts);
  // "/videos/QQ/A/P.mp4": a few bytes of MP4, only for a request from the album site (its Referer).
  Reply Video(const httplib::Request& req, const std::vector<std::string>& parts) const;
  // The number in `uin` when the request is signed in as it (see above), else "". Counts against the
  // session (Sessions::Accept), as does HasSession.
  std::string SignedInUser(const httplib::Request& req);
  bool HasSession(const httplib::Request& req, const std::string& qq);
  // The qq_photo_key a photo list of this account hands out for the page that starts at `start`.
  std::string HandOutPhotoKey(const Account& account, size_t start);
  // Counts calls per key in this run; returns the count including this one.
  int CountCall(const std::string& key);

  std::string dataDir_;
  Sessions& sessions_;
  mutable std::mutex mutex_;
  std::map<std::string, int> calls_;
  std::set<std::string> photoKeys_;  // every photo key a photo list has handed out, for the whole run
  // The keys of accounts whose keys wear out: the account (QQ) and the photos left, by key; a key goes
  // when its last photo has been served.
  struct CountedKey {
    std::string qq;
    int usesLeft = 0;
  };
  std::map<std::string, CountedKey> countedKeys_;
  unsigned long keySerial_ = 0;  // makes every counted key unique in this run
};

}  // namespace albumd

// albumd's signed-in JSON calls, read with a strict JSON reader: the sign-in check, paging and its caps,
// the fields a client reads, the error codes and malformed replies on demand, the photo key of a
// friends-only account and the video host's Referer check.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "tests/albumd/fetch.h"
#include "tools/albumd/signin.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace {

using nlohmann::json;

const std::string kAlbumList = "/proxy/domain/photo.qzone.qq.com/fcgi-bin/fcg_list_album_v3";
const std::string kPhotoList = "/proxy/domain/photo.qzone.qq.com/fcgi-bin/cgi_list_photo";
const std::string kNotSignedIn = "对不起，您尚未登录或者登录超时";

struct Session {
  std::string qq;
  std::string token;
  std::string Cookie() const { return "p_skey=" + token + "; uin=o" + qq; }
  std::string Gtk() const { return std::to_string(albumd::RequestToken(token)); }
};

Fetched Get(const AlbumdProcess& albumd, const std::string& target, const std::string& cookie = "",
            const std::string& referer = "") {
  FetchOptions options;
  options.cookie = cookie;
  options.referer = referer;
  return Fetch(target.rfind("http://", 0) == 0 ? target : "http://" + albumd.HostPort() + target, options);
}

Session SignIn(const AlbumdProcess& albumd, const std::string& qq, const std::string& password) {
  FetchOptions options;
  options.post = "uin=" + qq + "&password=" + password;
  Fetched reply = Fetch("http://" + albumd.HostPort() + "/login.php", options);
  for (const std::string& cookie : reply.setCookies) {
    if (cookie.rfind("p_skey=", 0) == 0) return {qq, cookie.substr(7, cookie.find(';') - 7)};
  }
  ADD_FAILURE() << "no session for " << qq;
  return {qq, ""};
}

// The query a client sends, as the service's pages send it; owner: whose albums (default: the user's).
std::string Query(const std::string& uin, const std::string& gtk, const std::string& more,
                  const std::string& owner = "") {
  return "?g_tk=" + gtk + "&hostUin=" + (owner.empty() ? uin : owner) + "&uin=" + uin +
         "&appid=4&inCharset=utf-8&outCharset=utf-8&source=qzone&plat=qzone&format=jsonp&notice=0"
         "&callbackFun=shine0&callback=shine0_Callback" +
         more;
}

// The text between "shine0_Callback(" and the closing ");".
std::string Inner(const Fetched& reply) {
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("content-type"), "application/javascript; charset=utf-8");
  const std::string head = "shine0_Callback(";
  if (reply.body.rfind(head, 0) != 0 || reply.body.size() < head.size() + 2 ||
      reply.body.compare(reply.body.size() - 2, 2, ");") != 0) {
    ADD_FAILURE() << reply.body.substr(0, 200);
    return "";
  }
  return reply.body.substr(head.size(), reply.body.size() - head.size() - 2);
}

json Strict(const Fetched& reply) {
  json doc = json::parse(Inner(reply), nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << reply.body.substr(0, 300);
  return doc;
}

json AlbumList(const AlbumdProcess& albumd, const Session& s, const std::string& more = "",
               const std::string& owner = "") {
  return Strict(Get(albumd, kAlbumList + Query(s.qq, s.Gtk(), more, owner), s.Cookie()));
}

json PhotoList(const AlbumdProcess& albumd, const Session& s, const std::string& album,
               const std::string& more, Fetched* raw = nullptr) {
  Fetched reply = Get(albumd, kPhotoList + Query(s.qq, s.Gtk(), "&topicId=" + album + more), s.Cookie());
  if (raw) *raw = reply;
  return Strict(reply);
}

std::string PhotoKeyCookie(const Fetched& reply) {
  for (const std::string& cookie : reply.setCookies) {
    if (cookie.rfind("qq_photo_key=", 0) == 0) return cookie.substr(0, cookie.find(';'));
  }
  return "";
}

bool IsShippedImage(const std::string& bytes) {
  for (const auto& entry : std::filesystem::directory_iterator(DefaultDataDir() + "/images")) {
    if (ShippedImage(entry.path().filename()) == bytes) return true;
  }
  return false;
}

class AlbumdCurrent : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }
  static AlbumdProcess* albumd_;
};
AlbumdProcess* AlbumdCurrent::albumd_ = nullptr;

TEST(AlbumdRequestToken, MatchesTheServiceValues) {
  const std::pair<std::string, uint32_t> cases[] = {
      {"", 5381},
      {"abc", 193485963},
      {"@abcdefgh", 2083463305},
      {"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefg_", 1305879788},
  };
  for (const auto& [token, hash] : cases) EXPECT_EQ(albumd::RequestToken(token), hash) << token;
}

// Only a live session's p_skey, the uin cookie for the same number and g_tk of that p_skey sign a call in.
TEST_F(AlbumdCurrent, ListsRefuseEverythingButASessionItsUinAndItsToken) {
  const Session s = SignIn(*albumd_, "10080", "secret-10080");
  const Session other = SignIn(*albumd_, "10060", "secret-10060");
  const Session ended = SignIn(*albumd_, "10080", "secret-10080");
  Get(*albumd_, "/logout.php", "p_skey=" + ended.token);
  const Session madeUp{"10080", "0123456789abcdef0123456789abcdef"};
  struct Case {
    std::string cookie;
    std::string uin;
    std::string gtk;
    bool signedIn;
  };
  const Case cases[] = {
      {s.Cookie(), "10080", s.Gtk(), true},
      {"uin=o0000010080; p_skey=" + s.token, "o0010080", s.Gtk(), true},
      {"p_skey=" + other.token + "; " + s.Cookie(), "10080", s.Gtk(), true},
      {s.Cookie(), "10080", std::to_string(albumd::RequestToken(s.token) + 1), false},
      {s.Cookie(), "10080", "", false},
      {s.Cookie(), "10080", other.Gtk(), false},
      {"uin=o10080", "10080", s.Gtk(), false},
      {"p_skey=" + s.token, "10080", s.Gtk(), false},
      {"p_skey=" + s.token + "; uin=o10060", "10080", s.Gtk(), false},
      {"p_skey=" + s.token + "; uin=o10060", "10060", s.Gtk(), false},
      {madeUp.Cookie(), "10080", madeUp.Gtk(), false},
      {ended.Cookie(), "10080", ended.Gtk(), false},
      {"", "10080", s.Gtk(), false},
  };
  for (const std::string& list : {kAlbumList, kPhotoList}) {
    for (const Case& c : cases) {
      const std::string what = list + " " + c.cookie + " uin=" + c.uin + " g_tk=" + c.gtk;
      json reply = Strict(Get(*albumd_, list + Query(c.uin, c.gtk, "&topicId=1"), c.cookie));
      ASSERT_TRUE(reply.is_object()) << what;
      if (c.signedIn) {
        EXPECT_EQ(reply["code"], 0) << what;
        EXPECT_TRUE(reply["data"].contains(list == kAlbumList ? "albumList" : "photoList")) << what;
      } else {
        EXPECT_EQ(reply["code"], -3000) << what;
        EXPECT_EQ(reply["subcode"], -4001) << what;
        EXPECT_EQ(reply["message"], kNotSignedIn) << what;
        EXPECT_EQ(reply["data"], json::object()) << what;
      }
    }
  }
  // An empty callbackFun still gets a callback.
  Fetched bare = Get(*albumd_, kAlbumList + "?g_tk=" + s.Gtk() + "&uin=10080&callbackFun=", s.Cookie());
  EXPECT_EQ(bare.body.rfind("_Callback({\"code\":0,", 0), 0u) << bare.body.substr(0, 100);
}

TEST_F(AlbumdCurrent, AlbumAndPhotoEntriesCarryWhatAClientReads) {
  const Session s = SignIn(*albumd_, "10080", "secret-10080");
  json albums = AlbumList(*albumd_, s);
  ASSERT_EQ(albums["code"], 0);
  EXPECT_EQ(albums["data"]["albumsInUser"], 2);
  ASSERT_EQ(albums["data"]["albumList"].size(), 2u);
  for (const json& album : albums["data"]["albumList"]) {
    ASSERT_TRUE(album["id"].is_string());
    EXPECT_TRUE(album["priv"].is_number() && album["allowAccess"] == 1);
    EXPECT_LE(album["createtime"], album["modifytime"]);
    EXPECT_TRUE(IsShippedImage(Get(*albumd_, album["pre"].get<std::string>()).body)) << album["pre"];
    json photos = PhotoList(*albumd_, s, album["id"].get<std::string>(), "&pageNum=1000");
    EXPECT_EQ(album["total"], photos["data"]["totalInAlbum"]) << album["id"];
  }
  // Another account's private album (10060's album 2) is listed, closed to this user.
  const json theirs = AlbumList(*albumd_, s, "", "10060");
  ASSERT_EQ(theirs["data"]["albumList"].size(), 3u);
  for (const json& album : theirs["data"]["albumList"])
    EXPECT_EQ(album["allowAccess"], album["id"] == "2" ? 0 : 1) << album["id"];
  EXPECT_EQ(
      Strict(Get(*albumd_, kPhotoList + Query(s.qq, s.Gtk(), "&topicId=2", "10060"), s.Cookie()))["code"],
      -4009);

  struct Expected {
    std::string name, image;
    int width, height, phototype;
    std::string original;
    bool video;
  };
  const Expected expected[] = {
      {"花园", "garden.jpg", 120, 90, 1, "meadow.jpg", false},
      {"石头", "stones.png", 40, 40, 3, "", false},
      {"小视频", "sun.gif", 48, 48, 2, "", true},
  };
  json list = PhotoList(*albumd_, s, albums["data"]["albumList"][0]["id"].get<std::string>(), "");
  ASSERT_EQ(list["data"]["photoList"].size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const json& p = list["data"]["photoList"][i];
    const Expected& e = expected[i];
    EXPECT_EQ(p["name"], e.name);
    EXPECT_EQ(Get(*albumd_, p["url"].get<std::string>()).body, ShippedImage(e.image)) << e.name;
    EXPECT_EQ(p["width"], e.width) << e.name;
    EXPECT_EQ(p["height"], e.height) << e.name;
    EXPECT_EQ(p["phototype"], e.phototype) << e.name;
    EXPECT_EQ(p["raw_upload"], e.original.empty() ? 0 : 1) << e.name;
    if (e.original.empty()) {
      EXPECT_EQ(p["raw"], "") << e.name;
    } else {
      Fetched raw = Get(*albumd_, p["raw"].get<std::string>());
      EXPECT_EQ(raw.body, ShippedImage(e.original)) << e.name;
      EXPECT_NE(raw.body, ShippedImage(e.image)) << e.name;
    }
    EXPECT_EQ(p["is_video"], e.video) << e.name;
    EXPECT_EQ(p["video_info"].contains("download_url"), e.video) << e.name;
    EXPECT_EQ(p["origin_url"], "");
  }
}

// Albums come at most 30 a reply and photos at most 500, whatever pageNum asks; a client that pages until
// the total is in gets every one exactly once. The albums are those of 20000 (50), the photos those of
// 10080's album 2 (612).
TEST_F(AlbumdCurrent, ListsPageWithinTheirCaps) {
  const Session s = SignIn(*albumd_, "10080", "secret-10080");
  struct Case {
    bool albums;
    size_t start;
    std::string pageNum;  // empty: not sent
    size_t count;
  };
  const Case cases[] = {
      {true, 0, "100", 30}, {true, 30, "100", 20},   {true, 40, "3", 3},        {true, 0, "", 30},
      {true, 50, "30", 0},  {false, 0, "1000", 500}, {false, 500, "1000", 112}, {false, 100, "7", 7},
      {false, 0, "", 500},  {false, 612, "500", 0},
  };
  auto page = [&](bool albums, const std::string& query) {
    return albums ? AlbumList(*albumd_, s, query, "20000")["data"]
                  : PhotoList(*albumd_, s, "2", query)["data"];
  };
  for (const Case& c : cases) {
    const std::string query =
        "&pageStart=" + std::to_string(c.start) + (c.pageNum.empty() ? "" : "&pageNum=" + c.pageNum);
    json data = page(c.albums, query);
    const json& list = data[c.albums ? "albumList" : "photoList"];
    EXPECT_EQ(list.is_null() ? 0 : list.size(), c.count) << query;
    if (c.albums) {
      EXPECT_EQ(data["albumsInUser"], 50) << query;
      EXPECT_EQ(data["nextPageStart"], c.start + c.count) << query;
    } else {
      EXPECT_EQ(data["totalInAlbum"], 612) << query;
      EXPECT_EQ(data["totalInPage"], c.count) << query;
    }
  }
  for (bool albums : {true, false}) {
    std::set<std::string> keys;
    size_t start = 0;
    for (int calls = 0; calls < 10 && start < (albums ? 50u : 612u); ++calls) {
      json data = page(albums, "&pageNum=1000&pageStart=" + std::to_string(start));
      const json& list = data[albums ? "albumList" : "photoList"];
      ASSERT_TRUE(list.is_array()) << start;
      for (const json& entry : list) keys.insert(entry[albums ? "id" : "lloc"].get<std::string>());
      start += list.size();
    }
    EXPECT_EQ(keys.size(), albums ? 50u : 612u);
  }
  json none = AlbumList(*albumd_, s, "", "99999")["data"];  // no account: no albums
  EXPECT_TRUE(none["albumList"].is_null());
  EXPECT_EQ(none["albumsInUser"], 0);
}

// 10081: busy twice and then once "not signed in" before its album list answers; albums that answer
// -4009 and -10805; an album closed to the user; a photo list with a raw line feed and a bare undefined.
TEST(AlbumdCurrentFaults, ErrorCodesAndMalformedRepliesOnDemand) {
  auto albumd = AlbumdProcess::Start();  // of its own: the busy replies count per run
  const Session s = SignIn(*albumd, "10081", "secret-10081");
  struct Step {
    bool signedIn;
    int code;
    std::string message;
  };
  const Step steps[] = {
      {false, -3000, kNotSignedIn},  // not counted: only signed-in calls are
      {true, -10000, "使用人数过多，请稍后再试"},
      {true, -10000, "使用人数过多，请稍后再试"},
      {true, -3000, kNotSignedIn},
      {true, 0, ""},
      {true, 0, ""},
  };
  json albums;
  for (size_t i = 0; i < std::size(steps); ++i) {
    Fetched reply = Get(*albumd, kAlbumList + Query(s.qq, s.Gtk(), ""), steps[i].signedIn ? s.Cookie() : "");
    albums = Strict(reply);
    EXPECT_EQ(albums["code"], steps[i].code) << "call " << i;
    EXPECT_EQ(albums["message"], steps[i].message) << "call " << i;
  }

  struct AlbumCase {
    std::string id;
    int allowAccess;
    int code;
  };
  const AlbumCase cases[] = {{"2", 0, -4009}, {"3", 1, -4009}, {"4", 1, -10805}, {"5", 1, 0}};
  std::map<std::string, json> listed;
  for (const json& album : albums["data"]["albumList"]) listed[album["id"].get<std::string>()] = album;
  for (const AlbumCase& c : cases) {
    ASSERT_TRUE(listed.count(c.id)) << c.id;
    EXPECT_EQ(listed[c.id]["allowAccess"], c.allowAccess) << c.id;
    json reply = PhotoList(*albumd, s, c.id, "");
    EXPECT_EQ(reply["code"], c.code) << c.id;
    EXPECT_EQ(reply["data"].contains("photoList"), c.code == 0) << c.id;
  }
  EXPECT_EQ(PhotoList(*albumd, s, "nosuch", "")["code"], -4009);

  // Not JSON as sent; with the line feed escaped and undefined read as null it is, whole.
  std::string inner = Inner(Get(*albumd, kPhotoList + Query(s.qq, s.Gtk(), "&topicId=1"), s.Cookie()));
  EXPECT_TRUE(json::parse(inner, nullptr, false).is_discarded());
  ASSERT_EQ(std::count(inner.begin(), inner.end(), '\n'), 1) << inner;
  inner.replace(inner.find('\n'), 1, "\\n");
  const size_t undefined = inner.find(":undefined");
  ASSERT_NE(undefined, std::string::npos);
  inner.replace(undefined, 10, ":null");
  json repaired = json::parse(inner, nullptr, false);
  ASSERT_FALSE(repaired.is_discarded()) << inner;
  const json& photos = repaired["data"]["photoList"];
  ASSERT_EQ(photos.size(), 3u);
  EXPECT_EQ(photos[0]["name"], "花\n园");
  EXPECT_TRUE(photos[1]["desc"].is_null());
  EXPECT_EQ(photos[2]["name"], "太阳");
}

// A friends-only account's photos need a qq_photo_key that a photo list has handed out; without one the
// photo host answers a small placeholder GIF.
TEST(AlbumdCurrentFaults, PhotoKeyUnlocksFriendsOnlyPhotos) {
  auto albumd = AlbumdProcess::Start();
  const Session s = SignIn(*albumd, "10081", "secret-10081");
  std::map<size_t, std::string> keys;  // pageStart -> the key that page handed out
  std::string url;
  for (size_t start : {0, 90, 100}) {
    Fetched reply;
    json list = PhotoList(*albumd, s, "5", "&pageNum=30&pageStart=" + std::to_string(start), &reply);
    keys[start] = PhotoKeyCookie(reply);
    EXPECT_FALSE(keys[start].empty()) << start;
    if (start == 0) url = list["data"]["photoList"][0]["url"].get<std::string>();
  }
  EXPECT_EQ(keys[0], keys[90]);
  EXPECT_NE(keys[0], keys[100]) << "the key changes with the next hundred photos";

  const std::string photo = ShippedImage("sky.jpg");  // generated photo 1
  struct Case {
    std::string cookie;
    bool unlocked;
  };
  const Case cases[] = {
      {"", false},
      {s.Cookie(), false},
      {"qq_photo_key=" + s.token, false},
      {keys[0], true},
      {s.Cookie() + "; " + keys[100], true},
      {"qq_photo_key=x; " + keys[0], true},
  };
  for (const Case& c : cases) {
    Fetched reply = Get(*albumd, url, c.cookie);
    EXPECT_EQ(reply.status, 200) << c.cookie;
    if (c.unlocked) {
      EXPECT_EQ(reply.body, photo) << c.cookie;
      continue;
    }
    EXPECT_EQ(reply.Header("content-type"), "image/gif") << c.cookie;
    ASSERT_GE(reply.body.size(), 10u);
    EXPECT_EQ(reply.body.substr(0, 10), std::string("GIF89a\x60\0\x60\0", 10)) << "96x96";
    EXPECT_LT(reply.body.size(), 2000u);
    EXPECT_FALSE(IsShippedImage(reply.body)) << "never one of the real images";
  }
  // Another account's photos need no key.
  EXPECT_EQ(Get(*albumd, "/photos/10080/0/0.jpg").body, ShippedImage("garden.jpg"));
}

// 10082's keys open 20 photos each; every photo list hands out a new one, and a worn-out key stays worn out.
TEST(AlbumdCurrentFaults, PhotoKeysWearOutAndAListGivesANewOne) {
  auto albumd = AlbumdProcess::Start();
  const Session s = SignIn(*albumd, "10082", "secret-10082");
  Fetched first;
  const json list = PhotoList(*albumd, s, "1", "", &first);
  ASSERT_EQ(list["data"]["photoList"].size(), 50u);
  const std::string key = PhotoKeyCookie(first);
  ASSERT_FALSE(key.empty());
  const std::string placeholder = Get(*albumd, list["data"]["photoList"][0]["url"]).body;  // no key
  ASSERT_FALSE(IsShippedImage(placeholder));
  // True when photo p comes as itself; false for the placeholder.
  auto opens = [&](size_t p, const std::string& cookie) {
    static const char* const kGenerated[] = {"sky.jpg", "sun.gif", "leaf.png"};
    Fetched reply = Get(*albumd, list["data"]["photoList"][p]["url"], cookie);
    EXPECT_EQ(reply.status, 200) << p;
    EXPECT_TRUE(reply.body == placeholder || reply.body == ShippedImage(kGenerated[p % 3])) << p;
    return reply.body != placeholder;
  };
  for (size_t p = 0; p < 20; ++p) EXPECT_TRUE(opens(p, key)) << "fetch " << p + 1;
  EXPECT_FALSE(opens(20, key)) << "the 21st fetch with one key";
  EXPECT_FALSE(opens(0, key)) << "also for a photo it opened before";

  Fetched again;
  PhotoList(*albumd, s, "1", "", &again);
  const std::string fresh = PhotoKeyCookie(again);
  EXPECT_NE(fresh, key);
  EXPECT_TRUE(opens(20, fresh));
  EXPECT_TRUE(opens(21, key + "; " + fresh)) << "a worn-out key beside a fresh one";

  // Another friends-only account's key opens none of these photos.
  const Session other = SignIn(*albumd, "10081", "secret-10081");
  Fetched theirs;
  PhotoList(*albumd, other, "5", "", &theirs);
  ASSERT_FALSE(PhotoKeyCookie(theirs).empty());
  EXPECT_FALSE(opens(22, PhotoKeyCookie(theirs)));
}

// 10083's sessions serve 9 requests. A client lists the albums, then each album and its photos in turn:
// the 10th request, album 2's third photo, is the first refused, and the session stays ended for every
// call after it. A call the session does not sign in (a wrong g_tk) is not counted.
TEST(AlbumdCurrentFaults, SessionEndsAfterItsRequests) {
  auto albumd = AlbumdProcess::Start();
  const Session s = SignIn(*albumd, "10083", "secret-10083");
  int requests = 0;
  auto list = [&](const std::string& target) {
    ++requests;
    return Strict(Get(*albumd, target, s.Cookie()));
  };
  auto fetch = [&](const std::string& url) {
    ++requests;
    return Get(*albumd, url, s.Cookie()).status;
  };
  const json albums = list(kAlbumList + Query(s.qq, s.Gtk(), ""));
  ASSERT_EQ(albums["code"], 0);
  ASSERT_EQ(albums["data"]["albumList"].size(), 3u);
  for (size_t a = 0; a < 2; ++a) {
    const std::string id = albums["data"]["albumList"][a]["id"];
    const json photos = list(kPhotoList + Query(s.qq, s.Gtk(), "&topicId=" + id));
    ASSERT_EQ(photos["code"], 0) << "request " << requests;
    for (const json& photo : photos["data"]["photoList"]) {
      const long status = fetch(photo["url"]);
      EXPECT_EQ(status, requests <= 9 ? 200 : 403) << "request " << requests;
    }
    EXPECT_EQ(Strict(Get(*albumd, kAlbumList + Query(s.qq, "1", ""), s.Cookie()))["code"], -3000);
  }
  EXPECT_EQ(requests, 1 + 1 + 4 + 1 + 5);
  EXPECT_EQ(list(kAlbumList + Query(s.qq, s.Gtk(), ""))["code"], -3000);
  EXPECT_NE(Get(*albumd, "/fcgi-bin/fcg_list_photo?uin=10083&albumid=3", s.Cookie())
                .body.find("<code>-3000</code>"),
            std::string::npos);
  // A new sign-in is a new session with requests of its own.
  const Session again = SignIn(*albumd, "10083", "secret-10083");
  EXPECT_EQ(Strict(Get(*albumd, kAlbumList + Query(again.qq, again.Gtk(), ""), again.Cookie()))["code"], 0);
}

TEST_F(AlbumdCurrent, VideosNeedTheAlbumSiteAsReferer) {
  const Session s = SignIn(*albumd_, "10080", "secret-10080");
  json list = PhotoList(*albumd_, s, "1", "");
  const std::string video = list["data"]["photoList"][2]["video_info"]["download_url"];
  EXPECT_EQ(list["data"]["photoList"][2]["video_info"]["video_url"], "");
  struct Case {
    std::string referer;
    long status;
  };
  const Case cases[] = {
      {"https://user.qzone.qq.com/", 200},
      {"https://user.qzone.qq.com/10080/photo", 200},
      {"", 403},
      {"https://h5.qzone.qq.com/", 403},
      {"http://user.qzone.qq.com/", 403},
      {"https://user.qzone.qq.com.example.org/", 403},
  };
  for (const Case& c : cases) {
    Fetched reply = Get(*albumd_, video, "", c.referer);
    EXPECT_EQ(reply.status, c.status) << c.referer;
    if (c.status == 200) {
      EXPECT_EQ(reply.Header("content-type"), "video/mp4");
      EXPECT_EQ(reply.body.substr(4, 4), "ftyp");
    }
  }
  // Only a video has a video address.
  std::string notVideo = video;
  notVideo.replace(notVideo.rfind("/2.mp4"), 6, "/1.mp4");
  EXPECT_EQ(Get(*albumd_, notVideo, "", "https://user.qzone.qq.com/").status, 404);
}

}  // namespace

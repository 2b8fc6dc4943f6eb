// Signing in to albumd's vendor site: the cookies a sign-in sets, what a session opens on an account
// that needs one, when a session counts as none, and the cookie log that shows where cookies went.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "tests/albumd/fetch.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace {

const std::string kNotSignedIn = "<message>对不起，您尚未登录或者登录超时。</message>";

// One Set-Cookie value taken apart: attribute names in lower case, "" as the value of a flag.
struct SetCookie {
  std::string name;
  std::string value;
  std::map<std::string, std::string> attributes;
  bool Has(const std::string& attribute) const { return attributes.count(attribute) > 0; }
};

SetCookie ParseSetCookie(const std::string& header) {
  SetCookie cookie;
  size_t at = 0;
  bool first = true;
  while (at <= header.size()) {
    size_t end = std::min(header.find(';', at), header.size());
    std::string part = header.substr(at, end - at);
    part.erase(0, part.find_first_not_of(' '));
    size_t eq = part.find('=');
    std::string name = part.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : part.substr(eq + 1);
    if (first) {
      cookie.name = name;
      cookie.value = value;
      first = false;
    } else if (!name.empty()) {
      std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
      cookie.attributes[name] = value;
    }
    at = end + 1;
  }
  return cookie;
}

std::map<std::string, SetCookie> CookiesByName(const Fetched& reply) {
  std::map<std::string, SetCookie> cookies;
  for (const std::string& header : reply.setCookies) {
    SetCookie cookie = ParseSetCookie(header);
    cookies[cookie.name] = cookie;
  }
  return cookies;
}

std::string Utf8(const std::string& gbk) {
  std::string out;
  EXPECT_TRUE(Convert(gbk, "GBK", "UTF-8", out));
  return out;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class AlbumdSignIn : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }
  static std::string Url(const std::string& target) { return "http://" + albumd_->HostPort() + target; }

  static Fetched Get(const std::string& target, const std::string& cookie = "") {
    FetchOptions options;
    options.cookie = cookie;
    return Fetch(Url(target), options);
  }
  static Fetched Post(const std::string& target, const std::string& body, AlbumdProcess* albumd = nullptr) {
    FetchOptions options;
    options.post = body;
    return Fetch("http://" + (albumd ? albumd : albumd_)->HostPort() + target, options);
  }
  // Signs in and returns the session token, empty when no session cookie came.
  static std::string SignIn(const std::string& qq, const std::string& password,
                            AlbumdProcess* albumd = nullptr) {
    Fetched reply = Post("/login.php", "uin=" + qq + "&password=" + password, albumd);
    EXPECT_EQ(reply.status, 200);
    auto cookies = CookiesByName(reply);
    return cookies.count("p_skey") ? cookies["p_skey"].value : "";
  }
  static std::vector<std::string> AlbumIds(const std::string& qq, const std::string& cookie) {
    Fetched list = Get("/fcgi-bin/fcg_list_album?uin=" + qq + "&refer=portal", cookie);
    EXPECT_EQ(list.status, 200);
    std::vector<std::string> ids;
    for (const XmlItem& album : ReadXml(list.body, "album").items) ids.push_back(album.fields.at("id"));
    return ids;
  }

  static AlbumdProcess* albumd_;
};
AlbumdProcess* AlbumdSignIn::albumd_ = nullptr;

TEST_F(AlbumdSignIn, SignInPageIsAFormPostingUinAndPassword) {
  Fetched page = Get("/login.php");
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.Header("content-type"), "text/html; charset=utf-8");
  for (const char* part : {"<form id=\"login\" method=\"post\" action=\"/login.php\">", "name=\"uin\"",
                           "type=\"password\" id=\"password\" name=\"password\""}) {
    EXPECT_TRUE(Contains(page.body, part)) << part;
  }
  EXPECT_FALSE(Contains(page.body, "name=\"clientrand\""));
  EXPECT_FALSE(Contains(page.body, "id=\"error\""));
  EXPECT_TRUE(page.setCookies.empty());
}

TEST_F(AlbumdSignIn, RightPasswordSetsAHostOnlyHttpOnlySessionCookieAndTheUinCookie) {
  const std::time_t before = std::time(nullptr);
  Fetched reply = Post("/login.php", "uin=10060&password=secret-10060");
  ASSERT_EQ(reply.status, 200);
  EXPECT_TRUE(Contains(reply.body, "已登录：10060"));
  ASSERT_EQ(reply.setCookies.size(), 2u);
  auto cookies = CookiesByName(reply);
  ASSERT_TRUE(cookies.count("p_skey") && cookies.count("uin"));

  const SetCookie& session = cookies["p_skey"];
  EXPECT_EQ(session.value.size(), 32u);
  EXPECT_EQ(session.value.find_first_not_of("0123456789abcdef"), std::string::npos) << session.value;
  EXPECT_TRUE(session.Has("httponly"));
  EXPECT_EQ(cookies["uin"].value, "o10060");
  EXPECT_FALSE(cookies["uin"].Has("httponly")) << "page scripts read the uin cookie";
  for (const auto& [name, cookie] : cookies) {
    EXPECT_FALSE(cookie.Has("domain")) << name << " must stay with the host that set it";
    EXPECT_EQ(cookie.attributes.at("path"), "/") << name;
    EXPECT_EQ(cookie.attributes.at("max-age"), "3600") << name;
    ASSERT_TRUE(cookie.Has("expires")) << name;
    std::time_t expires = curl_getdate(cookie.attributes.at("expires").c_str(), nullptr);
    EXPECT_GE(expires, before + 3600 - 5) << cookie.attributes.at("expires");
    EXPECT_LE(expires, std::time(nullptr) + 3600 + 5) << cookie.attributes.at("expires");
  }

  EXPECT_NE(SignIn("10060", "secret-10060"), session.value) << "every sign-in gets a token of its own";
}

// From the client page's link: the form remembers the client number and a sign-in goes back there.
TEST_F(AlbumdSignIn, SignInFromTheClientPageLeadsBackToIt) {
  Fetched client = Get("/client.php?clientver=2.1&clientrand=a%20b%26%3C&comefrom=client");
  const std::string link = "<a id=\"signin\" href=\"/login.php?clientrand=a%20b%26%3C&amp;comefrom=client\">";
  ASSERT_TRUE(Contains(client.body, link)) << client.body;

  Fetched form = Get("/login.php?clientrand=a%20b%26%3C&comefrom=client");
  EXPECT_TRUE(Contains(form.body, "name=\"clientrand\" value=\"a b&amp;&lt;\"")) << form.body;
  EXPECT_TRUE(Contains(form.body, "name=\"comefrom\" value=\"client\""));

  // What a browser posts from that form.
  Fetched reply = Post("/login.php", "uin=10060&password=secret-10060&clientrand=a+b%26%3C&comefrom=client");
  EXPECT_EQ(reply.status, 302);
  EXPECT_EQ(reply.Header("location"), "/client.php?clientver=2.1&clientrand=a%20b%26%3C&comefrom=client");
  EXPECT_EQ(reply.setCookies.size(), 2u);

  Fetched failed = Post("/login.php", "uin=10060&password=nope&clientrand=a+b%26%3C");
  EXPECT_EQ(failed.status, 200);
  EXPECT_TRUE(Contains(failed.body, "name=\"clientrand\" value=\"a b&amp;&lt;\""));
  EXPECT_FALSE(Contains(failed.body, "name=\"comefrom\""));
}

TEST_F(AlbumdSignIn, OnlyTheRightPasswordForThatNumberSignsIn) {
  struct Case {
    std::string body;
    bool signsIn;
  };
  const Case cases[] = {
      {"uin=10060&password=secret-10060", true},
      {"password=secret%2D10060&uin=10060", true},  // percent-encoded, fields in any order
      {"uin=10060&password=secret-10060+", false},  // "+" is a blank
      {"uin=10060&password=SECRET-10060", false},
      {"uin=10060&password=secret-10061", false},  // another account's password
      {"uin=10061&password=secret-10060", false},
      {"uin=99999&password=secret-10060", false},  // no such account
      {"uin=10001&password=", false},              // an account without a password
      {"uin=10060", false},
      {"uin=10060&password=", false},
      {"uin=..%2F10060&password=secret-10060", false},
      {"", false},
  };
  for (const Case& c : cases) {
    Fetched reply = Post("/login.php", c.body);
    EXPECT_EQ(reply.status, 200) << c.body;
    if (c.signsIn) {
      EXPECT_EQ(reply.setCookies.size(), 2u) << c.body;
    } else {
      EXPECT_TRUE(reply.setCookies.empty()) << c.body;
      EXPECT_TRUE(Contains(reply.body, "<p id=\"error\">")) << c.body;
      EXPECT_TRUE(Contains(reply.body, "action=\"/login.php\"")) << "the form again: " << c.body;
    }
  }
  // The form is the only thing albumd takes a POST for.
  for (const char* target : {"/logout.php", "/client.php", "/fcgi-bin/fcg_list_album?uin=10060"})
    EXPECT_EQ(Post(target, "uin=10060&password=secret-10060").status, 405) << target;
}

// Every address of account 10060 by the session a request carries. Album 2 (index 1) is private.
TEST_F(AlbumdSignIn, PrivateAlbumsAreServedOnlyWithinASessionForThatNumber) {
  const std::string token = SignIn("10060", "secret-10060");
  const std::string otherToken = SignIn("10061", "secret-10061");
  ASSERT_FALSE(token.empty());
  ASSERT_FALSE(otherToken.empty());
  auto otherRun = AlbumdProcess::Start();
  const std::string otherRunToken = SignIn("10060", "secret-10060", otherRun.get());
  ASSERT_FALSE(otherRunToken.empty());

  struct Case {
    std::string why;
    std::string cookie;
    bool in;
  };
  const Case cases[] = {
      {"no cookie", "", false},
      {"the session", "p_skey=" + token + "; uin=o10060", true},
      {"the session cookie alone", "p_skey=" + token, true},
      {"among other cookies", "theme=dark; p_skey=" + token + "; lang=zh", true},
      {"a forged token", "p_skey=0123456789abcdef0123456789abcdef; uin=o10060", false},
      {"the token cut short", "p_skey=" + token.substr(0, 31) + "; uin=o10060", false},
      {"the uin cookie alone", "uin=o10060", false},
      {"the token under another name", "skey=" + token + "; uin=o10060", false},
      {"another number's session", "p_skey=" + otherToken + "; uin=o10060", false},
      {"a session of another albumd run", "p_skey=" + otherRunToken + "; uin=o10060", false},
  };
  const std::string h = albumd_->HostPort();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(AlbumIds("10060", c.cookie),
              (c.in ? std::vector<std::string>{"1", "2", "3"} : std::vector<std::string>{"1", "3"}));

    for (const char* route : {"/fcgi-bin/fcg_list_photo?uin=10060&albumid=2",
                              "/cgi-bin/common/cgi_view_album?uin=10060&refer=portal&albumid=2"}) {
      Fetched list = Get(route, c.cookie);
      EXPECT_EQ(list.status, 200) << route;
      EXPECT_EQ(list.Header("content-type"), "text/xml; charset=GB2312");
      XmlDoc doc = ReadXml(list.body, "pic");
      ASSERT_TRUE(doc.ok) << route;
      EXPECT_EQ(doc.root, "album");
      const std::string text = Utf8(list.body);
      if (c.in) {
        ASSERT_EQ(doc.items.size(), 3u) << route;
        EXPECT_EQ(doc.items[0].fields.at("url"), "http://" + h + "/photos/10060/1/0.png");
        EXPECT_FALSE(Contains(text, "<code>"));
      } else {
        EXPECT_TRUE(doc.items.empty()) << route;
        EXPECT_TRUE(Contains(text, "<code>-3000</code>")) << text;
        EXPECT_TRUE(Contains(text, kNotSignedIn)) << text;
      }
    }

    const long shut = c.in ? 200 : 403;
    EXPECT_EQ(Get("/photos/10060/1/2.gif", c.cookie).status, shut);
    EXPECT_EQ(Get("/covers/10060/1.jpg", c.cookie).status, shut);
    EXPECT_EQ(Get("/redirect/10060/1/0", c.cookie).status, c.in ? 302 : 403);
    EXPECT_EQ(Get("/57_10060/photo/2", c.cookie).status, shut);
    EXPECT_EQ(Contains(Get("/57_10060", c.cookie).body, "href=\"/57_10060/photo/2\""), c.in);
    // The open albums are the same either way.
    EXPECT_EQ(ReadXml(Get("/fcgi-bin/fcg_list_photo?uin=10060&albumid=1", c.cookie).body, "pic").items.size(),
              2u);
    EXPECT_EQ(
        ReadXml(Get("/cgi-bin/common/cgi_view_album?uin=10060&albumid=3", c.cookie).body, "pic").items.size(),
        1u);
    EXPECT_EQ(Get("/photos/10060/2/0.png", c.cookie).status, 200);
    EXPECT_EQ(Get("/covers/10060/0.jpg", c.cookie).status, 200);
  }

  // Within the session every photo of the account comes, each a different image.
  const std::string cookie = "p_skey=" + token + "; uin=o10060";
  std::set<std::string> images;
  for (const std::string& id : AlbumIds("10060", cookie)) {
    for (const XmlItem& pic :
         ReadXml(Get("/fcgi-bin/fcg_list_photo?uin=10060&albumid=" + id, cookie).body, "pic").items) {
      FetchOptions options;
      options.cookie = cookie;
      Fetched image = Fetch(pic.fields.at("url"), options);
      EXPECT_EQ(image.status, 200) << pic.fields.at("url");
      EXPECT_TRUE(HasImageMagic(image.body, pic.fields.at("phototype"))) << pic.fields.at("url");
      images.insert(image.body);
    }
  }
  EXPECT_EQ(images.size(), 6u);
  EXPECT_EQ(Get("/photos/10060/1/0.png", cookie).body, ShippedImage("stones.png"));
}

// Privacy code 3 means nothing to an account that does not ask for sign-in: the demo stays open.
TEST_F(AlbumdSignIn, AccountsWithoutSignInServeTheirPrivateAlbumsToAnyone) {
  std::vector<std::string> ids = AlbumIds("10001", "");
  EXPECT_NE(std::find(ids.begin(), ids.end(), "1003"), ids.end());
  EXPECT_EQ(ReadXml(Get("/fcgi-bin/fcg_list_photo?uin=10001&albumid=1003").body, "pic").items.size(), 3u);
  EXPECT_EQ(Get("/photos/10001/2/0.jpg").status, 200);
  EXPECT_EQ(Get("/covers/10001/2.jpg").status, 200);
}

TEST_F(AlbumdSignIn, SignOutExpiresTheCookiesAndEndsOnlyItsOwnSession) {
  const std::string first = SignIn("10060", "secret-10060");
  const std::string second = SignIn("10060", "secret-10060");
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(AlbumIds("10060", "p_skey=" + first).size(), 3u);

  Fetched out = Get("/logout.php", "p_skey=" + first + "; uin=o10060");
  EXPECT_EQ(out.status, 200);
  EXPECT_TRUE(Contains(out.body, "id=\"signedout\""));
  auto cookies = CookiesByName(out);
  ASSERT_EQ(cookies.size(), 2u);
  for (const auto& [name, cookie] : cookies) {
    EXPECT_TRUE(cookie.value.empty()) << name;
    EXPECT_EQ(cookie.attributes.at("max-age"), "0") << name;
    EXPECT_EQ(cookie.attributes.at("path"), "/") << name;
    EXPECT_LE(curl_getdate(cookie.attributes.at("expires").c_str(), nullptr), std::time(nullptr)) << name;
    EXPECT_FALSE(cookie.Has("domain")) << name;
  }
  EXPECT_TRUE(cookies["p_skey"].Has("httponly"));

  // A client that keeps sending the old token gets nothing for it.
  EXPECT_EQ(AlbumIds("10060", "p_skey=" + first), (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(Get("/photos/10060/1/0.png", "p_skey=" + first).status, 403);
  EXPECT_EQ(AlbumIds("10060", "p_skey=" + second).size(), 3u);

  Fetched back = Get("/logout.php?clientrand=X1&comefrom=client", "p_skey=" + second);
  EXPECT_EQ(back.status, 302);
  EXPECT_EQ(back.Header("location"), "/client.php?clientver=2.1&clientrand=X1&comefrom=client");
  EXPECT_EQ(AlbumIds("10060", "p_skey=" + second).size(), 2u);
  // Without a session to end, signing out still clears the cookies.
  EXPECT_EQ(Get("/logout.php").setCookies.size(), 2u);
}

// 10061's sessions last two seconds; its album 2 has privacy code 2 but is marked as needing one.
TEST_F(AlbumdSignIn, AnExpiredSessionCountsAsNone) {
  EXPECT_EQ(AlbumIds("10061", ""), (std::vector<std::string>{"1"}));
  Fetched reply = Post("/login.php", "uin=10061&password=secret-10061");
  const auto signedIn = std::chrono::steady_clock::now();
  auto cookies = CookiesByName(reply);
  ASSERT_TRUE(cookies.count("p_skey"));
  EXPECT_EQ(cookies["p_skey"].attributes.at("max-age"), "2");
  const std::string cookie = "p_skey=" + cookies["p_skey"].value;

  std::vector<std::string> inSession = AlbumIds("10061", cookie);
  // Checked only if the answer came well within the session, so a slow machine cannot fail it.
  if (std::chrono::steady_clock::now() - signedIn < std::chrono::milliseconds(1500)) {
    EXPECT_EQ(inSession, (std::vector<std::string>{"1", "2"}));
  }

  std::this_thread::sleep_until(signedIn + std::chrono::milliseconds(2500));
  EXPECT_EQ(AlbumIds("10061", cookie), (std::vector<std::string>{"1"}));
  Fetched list = Get("/fcgi-bin/fcg_list_photo?uin=10061&albumid=2", cookie);
  EXPECT_TRUE(Contains(Utf8(list.body), kNotSignedIn));
  EXPECT_EQ(Get("/photos/10061/1/0.png", cookie).status, 403);
}

// The client page as it was, plus the sign-in link and nothing else: the program reads this page.
TEST_F(AlbumdSignIn, ClientPageGainsOnlyTheSignInLink) {
  const std::string h = albumd_->HostPort();
  for (bool fromClient : {false, true}) {
    const std::string query =
        std::string("clientver=2.1&clientrand=ABC123") + (fromClient ? "&comefrom=client" : "");
    const std::string before =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Lorvanta "
        "相册助手</title></head>\n<body>\n"
        "<h1>Lorvanta 相册助手</h1>\n"
        "<form action=\"#\"><input type=\"hidden\" id=\"subhost\" name=\"subhost\" value=\"http://" +
        h + "\"></form>\n<p>客户端编号：ABC123" + (fromClient ? "（在线窗口）" : "") +
        "</p>\n"
        "<p><a id=\"demo\" href=\"/client.php?clientver=2.1&amp;clientrand=ABC123&amp;comefrom=client"
        "#TAVRENGOTO:DOWNVELQUAN|10001\">预览 10001 的相册</a></p>\n";
    const std::string link = std::string("<p><a id=\"signin\" href=\"/login.php?clientrand=ABC123") +
                             (fromClient ? "&amp;comefrom=client" : "") + "\">登录</a></p>\n";
    Fetched page = Get("/client.php?" + query);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body, before + link + "</body></html>\n");
  }
}

// Cookies as a browser keeps them: curl's cookie engine, which scopes a cookie without a Domain to the
// host that set it. Signed in at 127.0.0.1, the cookies must not reach "localhost", the same server by
// another name; the cookie log shows which requests carried which cookies, by name only.
TEST_F(AlbumdSignIn, CookiesStayWithTheirHostAndTheLogNamesThemWithoutValues) {
  auto albumd = AlbumdProcess::Start();
  const std::string h = albumd->HostPort();
  const std::string port = h.substr(h.rfind(':') + 1);
  const std::string other = "localhost:" + port;

  CURL* curl = curl_easy_init();
  std::string body;
  curl_slist* resolve = curl_slist_append(nullptr, (other + ":127.0.0.1").c_str());
  curl_easy_setopt(curl, CURLOPT_RESOLVE, resolve);
  curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");  // the cookie engine, in memory
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 5000L);
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* out) {
        static_cast<std::string*>(out)->append(data, size * count);
        return size * count;
      });
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  auto get = [&](const std::string& url) {
    body.clear();
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    EXPECT_EQ(curl_easy_perform(curl), CURLE_OK) << url;
    return body;
  };

  const std::string password = "secret-10060";
  curl_easy_setopt(curl, CURLOPT_URL, ("http://" + h + "/login.php").c_str());
  curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, ("uin=10060&password=" + password).c_str());
  ASSERT_EQ(curl_easy_perform(curl), CURLE_OK);
  std::string token;
  curl_slist* jar = nullptr;
  curl_easy_getinfo(curl, CURLINFO_COOKIELIST, &jar);
  int kept = 0;
  for (curl_slist* line = jar; line; line = line->next) {
    // Netscape format: domain, subdomains, path, secure, expiry, name, value.
    std::string text = line->data;
    ++kept;
    EXPECT_EQ(text.find("127.0.0.1\tFALSE\t/\t"), text.rfind("#HttpOnly_", 0) == 0 ? 10u : 0u) << text;
    if (text.find("\tp_skey\t") != std::string::npos) token = text.substr(text.rfind('\t') + 1);
  }
  curl_slist_free_all(jar);
  EXPECT_EQ(kept, 2);
  ASSERT_EQ(token.size(), 32u);

  const std::string target = "/fcgi-bin/fcg_list_photo?uin=10060&albumid=2";
  EXPECT_EQ(ReadXml(get("http://" + h + target), "pic").items.size(), 3u);
  EXPECT_TRUE(Contains(Utf8(get("http://" + other + target)), kNotSignedIn));

  std::vector<std::string> lines = albumd->CookieLogLines();
  auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has("POST /login.php - " + h + " -"));
  EXPECT_TRUE(has("GET /fcgi-bin/fcg_list_photo uin=10060&albumid=2 " + h + " p_skey,uin"));
  EXPECT_TRUE(has("GET /fcgi-bin/fcg_list_photo uin=10060&albumid=2 " + other + " -"));
  curl_easy_cleanup(curl);
  curl_slist_free_all(resolve);

  // Names as sent, however odd; a pair without a name logs as "", and no value is ever written.
  FetchOptions odd;
  odd.cookie = "p_skey=forgedvalue42; x y=1; novalue; =nameless";
  Fetch("http://" + h + "/client.php?clientver=2.1&clientrand=1", odd);
  lines = albumd->CookieLogLines();
  EXPECT_TRUE(has("GET /client.php clientver=2.1&clientrand=1 " + h + " p_skey,x?y,\"\",\"\""));

  std::vector<std::string> all = lines;
  for (const std::string& line : albumd->LogLines()) all.push_back(line);
  for (const std::string& line : all) {
    for (const std::string& secret : {token, password, std::string("forgedvalue42"), std::string("novalue"),
                                      std::string("o10060"), std::string("nameless")})
      EXPECT_FALSE(Contains(line, secret)) << line;
  }
  // The request log keeps its five fields for the posted form too.
  std::vector<std::string> requests = albumd->LogLines();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0].rfind("POST /login.php - 200 ", 0), 0u) << requests[0];
}

TEST(AlbumdSignInData, MalformedSignInKeysAreDataErrors) {
  const std::string data = CopyDataDirToTemp();
  auto albumd = AlbumdProcess::Start({.dataDir = data});
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"[account]\nsignin = maybe\n", "54321.ini:2: unknown value \"maybe\""},
      {"[account]\nsessionseconds = 0\n", "sessionseconds takes 1..86400"},
      {"[account]\nsessionseconds = 86401\n", "sessionseconds takes 1..86400"},
      {"[account]\nsessionseconds = -1\n", "sessionseconds takes 1..86400"},
      {"[album]\nid = 1\nsignin = perhaps\n", "54321.ini:3: unknown value \"perhaps\""},
      {"[account]\nsignin = required\n[album]\nid = 1\nsignin = yes\n[photo]\nimage = nosuch.jpg\n",
       "\"nosuch.jpg\" is not in"},
  };
  for (const Case& c : cases) {
    std::ofstream(data + "/accounts/54321.ini", std::ios::binary) << c.text;
    Fetched list = Fetch("http://" + albumd->HostPort() + "/fcgi-bin/fcg_list_album?uin=54321&refer=portal");
    EXPECT_EQ(list.status, 500) << c.text;
    EXPECT_TRUE(Contains(list.body, c.message)) << list.body;
    FetchOptions post;
    post.post = "uin=54321&password=x";
    EXPECT_EQ(Fetch("http://" + albumd->HostPort() + "/login.php", post).status, 500) << c.text;
  }

  // A password changed in the data takes effect at the next sign-in.
  std::ofstream(data + "/accounts/54321.ini", std::ios::binary)
      << "[account]\nsignin = required\npassword = \" two words \"\n";
  FetchOptions post;
  post.post = "uin=54321&password=+two+words+";
  EXPECT_EQ(Fetch("http://" + albumd->HostPort() + "/login.php", post).setCookies.size(), 2u);
  albumd.reset();
  std::filesystem::remove_all(data);
}

}  // namespace

// The replies albumd gives for the demo account and the vendor site, read the way the program reads them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "tests/albumd/fetch.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace {

class AlbumdRoutes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }
  static std::string Url(const std::string& path) { return "http://" + albumd_->HostPort() + path; }
  static XmlDoc Photos(const std::string& qq, const std::string& id) {
    Fetched list = Fetch(Url("/fcgi-bin/fcg_list_photo?uin=" + qq + "&albumid=" + id));
    EXPECT_EQ(list.status, 200) << qq << "/" << id;
    return ReadXml(list.body, "pic");
  }

  static AlbumdProcess* albumd_;
};
AlbumdProcess* AlbumdRoutes::albumd_ = nullptr;

TEST_F(AlbumdRoutes, RouteReplyIsWrappedAndEveryHostIsAlbumdItself) {
  Fetched route = Fetch(Url("/GetRoute?UIN=10001&type=json&version=2"));
  ASSERT_EQ(route.code, CURLE_OK);
  EXPECT_EQ(route.status, 200);
  const std::string h = albumd_->HostPort();
  EXPECT_EQ(route.body, "photoDomainNameCallback({\"domain\":{\"default\":\"ctc\"},\"ctc\":{\"p\":\"" + h +
                            "\",\"s\":\"" + h + "\",\"nu\":\"" + h + "\"}})");
}

TEST_F(AlbumdRoutes, AlbumListIsGbkDeclaredGb2312WithGbkOnlyCharacters) {
  Fetched list = Fetch(Url("/fcgi-bin/fcg_list_album?uin=10001&refer=portal"));
  ASSERT_EQ(list.status, 200);
  EXPECT_EQ(list.body.rfind("<?xml version=\"1.0\" encoding=\"GB2312\"?>", 0), 0u);
  std::string utf8;
  ASSERT_TRUE(Convert(list.body, "GBK", "UTF-8", utf8));
  std::string scratch;
  EXPECT_FALSE(Convert(list.body, "GB2312", "UTF-8", scratch)) << "no GBK-only character in the demo list";
  EXPECT_FALSE(Convert(list.body, "UTF-8", "UTF-16LE", scratch)) << "the list is not GBK but UTF-8";
  EXPECT_NE(utf8.find("<name>春节回家</name>"), std::string::npos);
  EXPECT_NE(utf8.find("喆喆和堃堃"), std::string::npos);

  XmlDoc doc = ReadXml(list.body, "album");
  ASSERT_TRUE(doc.ok);
  EXPECT_EQ(doc.root, "data");
  std::vector<std::string> names;
  for (const XmlItem& album : doc.items) names.push_back(album.fields.at("name"));
  EXPECT_EQ(names, (std::vector<std::string>{"春节回家", "西湖游记", "私人收藏", "宝宝成长记", "空相册",
                                             "台灣之旅·裏山"}));
}

// What the demo promises: every privacy code, all three photo types, an empty album, covers, real images.
TEST_F(AlbumdRoutes, DemoAccountCoversEveryCaseWithRealImages) {
  XmlDoc doc = ReadXml(Fetch(Url("/fcgi-bin/fcg_list_album?uin=10001&refer=portal")).body, "album");
  ASSERT_TRUE(doc.ok);
  std::set<std::string> privs;
  std::set<std::string> types;
  int photos = 0;
  int emptyAlbums = 0;
  for (const XmlItem& album : doc.items) {
    for (const char* field : {"name", "pre", "desc", "total", "priv", "id"}) {
      EXPECT_FALSE(album.fields.count(field) == 0 || album.fields.at(field).empty()) << field;
    }
    privs.insert(album.fields.at("priv"));
    Fetched cover = Fetch(album.fields.at("pre"));
    EXPECT_EQ(cover.status, 200) << album.fields.at("pre");
    EXPECT_TRUE(HasImageMagic(cover.body, "1") || HasImageMagic(cover.body, "2") ||
                HasImageMagic(cover.body, "3"));

    XmlDoc list = Photos("10001", album.fields.at("id"));
    ASSERT_TRUE(list.ok);
    EXPECT_EQ(list.root, "album");
    EXPECT_EQ(album.fields.at("total"), std::to_string(list.items.size()));
    if (list.items.empty()) ++emptyAlbums;
    for (const XmlItem& pic : list.items) {
      ++photos;
      const std::string& type = pic.fields.at("phototype");
      types.insert(type);
      const std::string& url = pic.fields.at("url");
      EXPECT_EQ(url.rfind("http://" + albumd_->HostPort() + "/", 0), 0u) << url;
      Fetched image = Fetch(url);
      EXPECT_EQ(image.status, 200) << url;
      EXPECT_TRUE(HasImageMagic(image.body, type)) << url << " is not of phototype " << type;
      EXPECT_EQ(image.Header("content-length"), std::to_string(image.body.size()));
      EXPECT_NE(image.Header("last-modified").find(" GMT"), std::string::npos);
      EXPECT_LT(image.body.size(), 8192u);
    }
  }
  EXPECT_GE(doc.items.size(), 5u);
  EXPECT_LE(doc.items.size(), 7u);
  EXPECT_TRUE(privs.count("1") && privs.count("2") && privs.count("3"));
  EXPECT_GT(privs.size(), 3u) << "no album with a privacy code other than 1, 2, 3";
  EXPECT_EQ(types, (std::set<std::string>{"1", "2", "3"}));
  EXPECT_EQ(emptyAlbums, 1);
  EXPECT_GE(photos, 15);
  EXPECT_LE(photos, 25);
}

TEST_F(AlbumdRoutes, BothPhotoListRoutesAnswerAndTheLogTellsThemApart) {
  Fetched byList = Fetch(Url("/fcgi-bin/fcg_list_photo?uin=10001&albumid=1001"));
  Fetched byView = Fetch(Url("/cgi-bin/common/cgi_view_album?uin=10001&refer=portal&albumid=1001"));
  EXPECT_EQ(byList.status, 200);
  EXPECT_EQ(byList.body, byView.body);
  // The log line is written before the reply goes out, so it is there without waiting.
  std::vector<std::string> log = albumd_->LogLines();
  auto has = [&](const std::string& line) { return std::find(log.begin(), log.end(), line) != log.end(); };
  const std::string size = std::to_string(byList.body.size());
  EXPECT_TRUE(has("GET /fcgi-bin/fcg_list_photo uin=10001&albumid=1001 200 " + size));
  EXPECT_TRUE(has("GET /cgi-bin/common/cgi_view_album uin=10001&refer=portal&albumid=1001 200 " + size));
}

TEST_F(AlbumdRoutes, VendorClientPageCarriesSubhostAndLinkCommand) {
  for (const char* query :
       {"clientver=2.1&clientrand=ABC123", "clientver=2.1&clientrand=ABC123&comefrom=client"}) {
    Fetched page = Fetch(Url(std::string("/client.php?") + query));
    ASSERT_EQ(page.status, 200) << query;
    EXPECT_NE(page.body.find("id=\"subhost\""), std::string::npos);
    EXPECT_NE(page.body.find("value=\"http://" + albumd_->HostPort() + "\""), std::string::npos);
    EXPECT_NE(page.body.find("#TAVRENGOTO:DOWNVELQUAN|10001\""), std::string::npos);
  }
  // The client number comes from the query: it must not reach the page as markup.
  Fetched page = Fetch(Url("/client.php?clientver=2.1&clientrand=%3Cscript%3Ex%3C/script%3E%22"));
  EXPECT_EQ(page.body.find("<script>"), std::string::npos);
  EXPECT_NE(page.body.find("&lt;script&gt;"), std::string::npos);
}

TEST_F(AlbumdRoutes, AlbumViewPagesHaveTitlesAndEscapeNames) {
  Fetched account = Fetch(Url("/57_10001"));
  EXPECT_EQ(account.status, 200);
  EXPECT_NE(account.body.find("<title>10001的相册</title>"), std::string::npos);
  EXPECT_NE(account.body.find("href=\"/57_10001/photo/1001\""), std::string::npos);
  Fetched album = Fetch(Url("/57_10001/photo/1002"));
  EXPECT_EQ(album.status, 200);
  EXPECT_NE(album.body.find("<title>西湖游记 - 10001的相册</title>"), std::string::npos);
  EXPECT_EQ(Fetch(Url("/57_10001/photo/nosuch")).status, 404);
  Fetched hostile = Fetch(Url("/57_10043"));
  EXPECT_EQ(hostile.body.find("<script>"), std::string::npos);
  EXPECT_EQ(hostile.body.find("<b>粗</b>"), std::string::npos);
}

TEST_F(AlbumdRoutes, GeneratedAccountsHaveTheirAlbumsOfTwoHundredPhotos) {
  const struct {
    std::string qq;
    size_t albums;
  } cases[] = {{"20000", 50}, {"20100", 500}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.qq);
    XmlDoc albums =
        ReadXml(Fetch(Url("/fcgi-bin/fcg_list_album?uin=" + c.qq + "&refer=portal")).body, "album");
    ASSERT_TRUE(albums.ok);
    ASSERT_EQ(albums.items.size(), c.albums);
    // The last album: every album of a generated account is made alike, so its end shows the whole.
    const XmlItem& album = albums.items.back();
    EXPECT_EQ(album.fields.at("id"), "g" + std::to_string(c.albums));
    EXPECT_EQ(album.fields.at("name"), "生成相册" + std::to_string(c.albums));
    XmlDoc photos = Photos(c.qq, album.fields.at("id"));
    ASSERT_EQ(photos.items.size(), 200u);
    Fetched last = Fetch(photos.items[199].fields.at("url"));
    EXPECT_TRUE(HasImageMagic(last.body, photos.items[199].fields.at("phototype")));
  }
}

// Every list albumd serves must be well-formed, whatever the names hold, except the ones that are
// meant not to be XML (or not to be answered, or not to decode); and names must come back exactly as
// written in the data.
TEST_F(AlbumdRoutes, EveryListIsWellFormedAndNamesRoundTrip) {
  const std::set<std::string> notXml = {"10011", "10012", "10050"};
  const std::set<std::string> undecodable = {"10051/2"};
  int lists = 0;
  for (const auto& entry : std::filesystem::directory_iterator(DefaultDataDir() + "/accounts")) {
    const std::string qq = entry.path().stem();
    if (notXml.count(qq)) continue;
    XmlDoc albums = ReadXml(Fetch(Url("/fcgi-bin/fcg_list_album?uin=" + qq + "&refer=portal")).body, "album");
    ASSERT_TRUE(albums.ok) << qq;
    for (const XmlItem& album : albums.items) {
      if (!album.fields.count("id")) continue;
      Fetched list = Fetch(Url("/fcgi-bin/fcg_list_photo?uin=" + qq + "&albumid=" + album.fields.at("id")));
      if (list.status != 200 || list.body.rfind("<?xml", 0) != 0) continue;
      if (undecodable.count(qq + "/" + album.fields.at("id"))) continue;
      EXPECT_TRUE(ReadXml(list.body, "pic").ok) << qq << "/" << album.fields.at("id");
      ++lists;
    }
  }
  EXPECT_GT(lists, 50);

  struct Case {
    std::string qq;
    size_t album;
    std::string name;
  };
  const Case cases[] = {
      {"10043", 0, "<script>alert(1)</script>"},
      {"10043", 1, "say \"hi\""},
      {"10043", 3, "a&b&amp;c"},
      {"10042", 0, "a b/d"},
      {"10042", 4, "   "},
      {"10045", 0, "笑脸😀相册"},
      {"10017", 0, "CDATA相册<&>"},
      {"10044", 1, std::string()},
  };
  for (const Case& c : cases) {
    XmlDoc albums =
        ReadXml(Fetch(Url("/fcgi-bin/fcg_list_album?uin=" + c.qq + "&refer=portal")).body, "album");
    ASSERT_GT(albums.items.size(), c.album) << c.qq;
    const std::string& name = albums.items[c.album].fields.at("name");
    if (c.name.empty()) {
      EXPECT_EQ(name.size(), 300u) << c.qq;  // 100 Chinese characters in UTF-8
    } else {
      EXPECT_EQ(name, c.name) << c.qq;
    }
  }
  // Outside GBK, the character travels as a numeric reference; inside CDATA it never does.
  std::string raw = Fetch(Url("/fcgi-bin/fcg_list_album?uin=10045&refer=portal")).body;
  EXPECT_NE(raw.find("&#x1F600;"), std::string::npos);
}

TEST_F(AlbumdRoutes, BadRequestsGetClearReplies) {
  struct Case {
    std::string path;
    long status;
  };
  const Case cases[] = {
      {"/GetRoute?UIN=..%2F..%2Fetc%2Fpasswd&type=json&version=2", 400},
      {"/fcgi-bin/fcg_list_album?uin=&refer=portal", 400},
      {"/fcgi-bin/fcg_list_photo?uin=abc&albumid=1", 400},
      {"/fcgi-bin/fcg_list_photo?uin=10001&albumid=nosuch", 404},
      {"/photos/10001/0/99.jpg", 404},
      {"/photos/10001/99/0.jpg", 404},
      {"/photos/..%2F..%2Fetc/0/0.jpg", 404},
      {"/covers/10001/x.jpg", 404},
      {"/nothing/here", 404},
  };
  for (const Case& c : cases) EXPECT_EQ(Fetch(Url(c.path)).status, c.status) << c.path;

  // An unknown QQ number still gets a route, and a list without albums.
  EXPECT_EQ(Fetch(Url("/GetRoute?UIN=99999&type=json&version=2")).status, 200);
  XmlDoc unknown = ReadXml(Fetch(Url("/fcgi-bin/fcg_list_album?uin=99999&refer=portal")).body, "album");
  EXPECT_TRUE(unknown.ok);
  EXPECT_EQ(unknown.root, "data");
  EXPECT_TRUE(unknown.items.empty());
}

}  // namespace

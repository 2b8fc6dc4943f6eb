// Each fault account must produce its fault, and nothing else: the jobs' tests rely on exactly that.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/albumd/fetch.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace {

class AlbumdFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }
  static std::string Url(const std::string& path) { return "http://" + albumd_->HostPort() + path; }
  static Fetched Route(const std::string& qq) {
    return Fetch(Url("/GetRoute?UIN=" + qq + "&type=json&version=2"));
  }
  static Fetched AlbumList(const std::string& qq) {
    return Fetch(Url("/fcgi-bin/fcg_list_album?uin=" + qq + "&refer=portal"));
  }
  static XmlDoc PhotoList(const std::string& qq, const std::string& id) {
    return ReadXml(Fetch(Url("/fcgi-bin/fcg_list_photo?uin=" + qq + "&albumid=" + id)).body, "pic");
  }
  // The address of the second photo of the account's first album (the faulty one in 10031..10040).
  static std::string SecondPhoto(const std::string& qq) {
    XmlDoc list = PhotoList(qq, "1");
    EXPECT_EQ(list.items.size(), 3u) << qq;
    return list.items.size() == 3 ? list.items[1].fields["url"] : "";
  }

  static AlbumdProcess* albumd_;
};
AlbumdProcess* AlbumdFaults::albumd_ = nullptr;

TEST_F(AlbumdFaults, RouteReplies) {
  const std::string h = "\"" + albumd_->HostPort() + "\"";
  const std::string members = "{\"p\":" + h + ",\"s\":" + h + ",\"nu\":" + h + "}";
  struct Case {
    const char* qq;
    long status;
    std::string body;
  };
  const Case cases[] = {
      {"10002", 200, "{\"domain\":{\"default\":\"ctc\"},\"ctc\":" + members + "}"},
      {"10003", 200, "<html><body>route service busy</body></html>"},
      {"10005", 200, "photoDomainNameCallback({\"domain\":{\"default\":\"ctc\"},\"cnc\":" + members + "})"},
      {"10006", 200, "photoDomainNameCallback({\"domain\":{\"default\":1},\"1\":" + members + "})"},
      {"10007", 200,
       "photoDomainNameCallback({\"domain\":{\"default\":\"ctc\",\"note\":\"(ctc)\"},\"ctc\":" + members +
           "})"},
  };
  for (const Case& c : cases) {
    Fetched route = Route(c.qq);
    EXPECT_EQ(route.status, c.status) << c.qq;
    EXPECT_EQ(route.body, c.body) << c.qq;
  }
  EXPECT_EQ(Route("10004").status, 404);
}

TEST_F(AlbumdFaults, AlbumLists) {
  EXPECT_EQ(AlbumList("10011").status, 404);
  Fetched notXml = AlbumList("10012");
  EXPECT_EQ(notXml.status, 200);
  EXPECT_FALSE(ReadXml(notXml.body, "album").ok);

  XmlDoc noData = ReadXml(AlbumList("10013").body, "album");
  EXPECT_TRUE(noData.ok);
  EXPECT_EQ(noData.root, "result");
  EXPECT_EQ(noData.items.size(), 1u);

  XmlDoc noAlbum = ReadXml(AlbumList("10014").body, "album");
  EXPECT_EQ(noAlbum.root, "data");
  EXPECT_TRUE(noAlbum.items.empty());

  // Album 2 of 3 lacks "name", or has an empty "desc"; its neighbours are whole.
  XmlDoc noName = ReadXml(AlbumList("10015").body, "album");
  ASSERT_EQ(noName.items.size(), 3u);
  EXPECT_EQ(noName.items[1].fields.count("name"), 0u);
  EXPECT_EQ(noName.items[1].fields.count("desc"), 1u);
  EXPECT_EQ(noName.items[2].fields["name"], "第三个相册");

  XmlDoc emptyDesc = ReadXml(AlbumList("10016").body, "album");
  ASSERT_EQ(emptyDesc.items.size(), 3u);
  ASSERT_EQ(emptyDesc.items[1].fields.count("desc"), 1u);
  EXPECT_EQ(emptyDesc.items[1].fields["desc"], "");
  EXPECT_NE(AlbumList("10016").body.find("<desc></desc>"), std::string::npos);

  std::string cdata = AlbumList("10017").body;
  EXPECT_NE(cdata.find("<name><![CDATA["), std::string::npos);
}

TEST_F(AlbumdFaults, PhotoLists) {
  EXPECT_EQ(PhotoList("10021", "1").items.size(), 2u) << "the first album stays whole";
  EXPECT_EQ(Fetch(Url("/fcgi-bin/fcg_list_photo?uin=10021&albumid=2")).status, 404);
  XmlDoc noPic = PhotoList("10022", "2");
  EXPECT_EQ(noPic.root, "album");
  EXPECT_TRUE(noPic.items.empty());
  XmlDoc wrongRoot = PhotoList("10023", "2");
  EXPECT_EQ(wrongRoot.root, "data");
  EXPECT_EQ(wrongRoot.items.size(), 1u);
  Fetched notXml = Fetch(Url("/cgi-bin/common/cgi_view_album?uin=10024&refer=portal&albumid=2"));
  EXPECT_EQ(notXml.status, 200);
  EXPECT_FALSE(ReadXml(notXml.body, "pic").ok);
}

TEST_F(AlbumdFaults, PhotoEntriesWithoutOrWithEmptyUrl) {
  XmlDoc noUrl = PhotoList("10031", "1");
  ASSERT_EQ(noUrl.items.size(), 3u);
  EXPECT_EQ(noUrl.items[1].fields.count("url"), 0u);
  EXPECT_EQ(noUrl.items[1].fields.count("name"), 1u);
  XmlDoc emptyUrl = PhotoList("10032", "1");
  ASSERT_EQ(emptyUrl.items.size(), 3u);
  ASSERT_EQ(emptyUrl.items[1].fields.count("url"), 1u);
  EXPECT_EQ(emptyUrl.items[1].fields["url"], "");
}

TEST_F(AlbumdFaults, PhotoReplies) {
  Fetched missing = Fetch(SecondPhoto("10033"));
  EXPECT_EQ(missing.status, 404);

  Fetched html = Fetch(SecondPhoto("10036"));
  EXPECT_EQ(html.status, 200);
  EXPECT_EQ(html.Header("content-type").rfind("text/html", 0), 0u);
  EXPECT_FALSE(HasImageMagic(html.body, "1"));

  Fetched empty = Fetch(SecondPhoto("10037"));
  EXPECT_EQ(empty.code, CURLE_OK);
  EXPECT_EQ(empty.status, 200);
  EXPECT_EQ(empty.Header("content-length"), "0");
  EXPECT_TRUE(empty.body.empty());

  // First request refused, the next one served: per albumd run, so this test is the only one asking.
  const std::string limited = SecondPhoto("10038");
  Fetched first = Fetch(limited);
  EXPECT_EQ(first.status, 429);
  EXPECT_EQ(first.Header("retry-after"), "1");
  Fetched second = Fetch(limited);
  EXPECT_EQ(second.status, 200);
  EXPECT_TRUE(HasImageMagic(second.body, "1"));

  const std::string failing = SecondPhoto("10039");
  EXPECT_EQ(Fetch(failing).status, 500);
  EXPECT_EQ(Fetch(failing).status, 200);

  const std::string moved = SecondPhoto("10040");
  Fetched redirect = Fetch(moved);
  EXPECT_EQ(redirect.status, 302);
  EXPECT_EQ(redirect.Header("location").rfind("http://" + albumd_->HostPort() + "/photos/10040/0/1.jpg", 0),
            0u);
  Fetched followed = Fetch(moved, {.follow = true});
  EXPECT_EQ(followed.status, 200);
  EXPECT_TRUE(HasImageMagic(followed.body, "1"));
}

TEST_F(AlbumdFaults, TruncatedPhotoClosesMidBody) {
  Fetched cut = Fetch(SecondPhoto("10034"));
  EXPECT_EQ(cut.code, CURLE_PARTIAL_FILE);
  EXPECT_EQ(cut.status, 200);
  ASSERT_FALSE(cut.Header("content-length").empty());
  size_t promised = std::stoul(cut.Header("content-length"));
  EXPECT_EQ(cut.body.size(), promised / 2);
  EXPECT_TRUE(HasImageMagic(cut.body, "1"));
  EXPECT_TRUE(albumd_->WaitForLogLine("GET /photos/10034/0/1.jpg - 200 " + std::to_string(promised / 2)));
}

TEST_F(AlbumdFaults, StalledPhotoSendsAFewBytesThenNothing) {
  Fetched stalled = Fetch(SecondPhoto("10035"), {.timeoutMs = 1000});
  EXPECT_EQ(stalled.code, CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(stalled.status, 200);
  EXPECT_EQ(stalled.body.size(), 16u);
  EXPECT_GT(std::stoul(stalled.Header("content-length")), 16u);
}

// A stalled reply holds a server thread; when its client gives up the thread must come back, or a few
// dozen abandoned downloads would leave albumd unable to answer anyone.
TEST_F(AlbumdFaults, AbandonedStallsDoNotExhaustTheServer) {
  const std::string url = SecondPhoto("10035");
  CURLM* multi = curl_multi_init();
  std::vector<CURL*> handles;
  for (int i = 0; i < 80; ++i) {
    CURL* h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, 1500L);
    curl_easy_setopt(
        h, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
    curl_multi_add_handle(multi, h);
    handles.push_back(h);
  }
  int running = 1;
  while (running > 0) {
    curl_multi_perform(multi, &running);
    curl_multi_poll(multi, nullptr, 0, 100, nullptr);
  }
  for (CURL* h : handles) {
    curl_multi_remove_handle(multi, h);
    curl_easy_cleanup(h);
  }
  curl_multi_cleanup(multi);
  // Each stall answered is logged; at least albumd's 48 server threads must have been taken at once, or
  // the test would prove nothing.
  int stalls = 0;
  for (const std::string& line : albumd_->LogLines())
    stalls += line.find("/photos/10035/0/1.jpg") != std::string::npos;
  EXPECT_GE(stalls, 48);

  Fetched after = Fetch(Url("/GetRoute?UIN=10001&type=json&version=2"), {.timeoutMs = 3000});
  EXPECT_EQ(after.code, CURLE_OK);
  EXPECT_EQ(after.status, 200);
}

}  // namespace

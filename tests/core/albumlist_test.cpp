// The album list retrieval against the bundled album service, without a window.
#include "core/albumlist.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/albumpage.h"
#include "tests/core/jobhosts.h"
#include "tests/support/testfolder.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace {

using End = PreviewOutcome::End;

class AlbumListTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }

  PreviewOutcome Run(const std::string& qq, const std::string& routeHost = "") {
    PreviewInput input;
    input.jobId = 42;
    input.qqNumber = qq;
    input.routeHost = routeHost.empty() ? albumd_->HostPort() : routeHost;
    input.clientNumber = 93015;
    input.routeFile = dir_.path() + "velquan_album_route.txt";
    input.albumListFile = dir_.path() + "velquan_album_list.txt";
    return RetrieveAlbumList(input, host_);
  }

  static AlbumdProcess* albumd_;
  TestFolder dir_;
  RecordingPreviewHost host_;
};

AlbumdProcess* AlbumListTest::albumd_ = nullptr;

TEST_F(AlbumListTest, DemoAccountListsEveryAlbum) {
  const PreviewOutcome out = Run("10001");
  EXPECT_EQ(out.end, End::kListed);
  EXPECT_EQ(host_.calls, (std::vector<std::string>{"ShowAlbumPage", "PreviewDone"}));
  const PreviewResult& r = out.result;
  EXPECT_EQ(r.jobId, 42u);
  EXPECT_EQ(r.qqNumber, "10001");
  EXPECT_EQ(r.albumListHost, albumd_->HostPort());
  EXPECT_EQ(r.photoListHost, albumd_->HostPort());
  EXPECT_EQ(r.albumViewHost, albumd_->HostPort());
  ASSERT_EQ(r.albumEntries.size(), 6u);
  EXPECT_EQ(r.albumEntries[0], "1001|1|春节回家|4|二〇二五年春节，喆喆和堃堃在老家");
  EXPECT_EQ(r.albumEntries[5].rfind("1006|4|台灣之旅·裏山|4|", 0), 0u) << r.albumEntries[5];
  // Page head, header, six blocks, "</div>", "</body></html>".
  ASSERT_EQ(r.pageLines.size(), 10u);
  EXPECT_EQ(r.pageLines[0], PageHeadLine("10001"));
  EXPECT_EQ(r.pageLines[1], HeaderLine());
  EXPECT_EQ(r.pageLines[8], "</div>");
  EXPECT_EQ(r.pageLines[9], "</body></html>");
  EXPECT_NE(r.pageLines[2].find("id=\"check_0\""), std::string::npos);
  EXPECT_NE(r.pageLines[2].find("#GOTO1:/93015_10001/photo/1001\""), std::string::npos);
  EXPECT_NE(r.pageLines[3].find("密</span>"), std::string::npos);  // priv 2
  EXPECT_NE(r.pageLines[4].find("私</span>"), std::string::npos);  // priv 3
  EXPECT_EQ(r.pageLines[5].find("<br />["), std::string::npos);    // priv 0
  // What the window is handed is what the job returns.
  EXPECT_EQ(host_.results.back().albumEntries, r.albumEntries);
  EXPECT_EQ(host_.results.front().pageLines, r.pageLines);
}

TEST_F(AlbumListTest, EachFailureRowEndsAsItShould) {
  struct Case {
    const char* qq;
    End end;
    std::vector<std::string> calls;
    size_t albums;
  } cases[] = {
      {"10002", End::kListed, {"ShowAlbumPage", "PreviewDone"}, 1},  // plain JSON without the wrapper
      {"10003", End::kSilentEnd, {}, 0},                             // route reply not JSON
      {"10004", End::kRouteFailed, {"RouteFailed"}, 0},              // route request 404
      {"10005", End::kSilentEnd, {}, 0},                             // no "default" member
      {"10006", End::kListed, {"ShowAlbumPage", "PreviewDone"}, 1},  // "default" is the number 1
      {"10007", End::kSilentEnd, {}, 0},                             // ")" inside a text value
      {"10011", End::kSilentEnd, {}, 0},                             // album list 404
      {"10012", End::kSilentEnd, {}, 0},                             // album list not XML
      {"10013", End::kNoAlbumList, {"PreviewFailed"}, 0},            // no "data"
      {"10014", End::kNoAlbumList, {"PreviewFailed"}, 0},            // "data" without "album"
      {"99999", End::kNoAlbumList, {"PreviewFailed"}, 0},            // no account at all
  };
  for (const auto& c : cases) {
    host_.calls.clear();
    const PreviewOutcome out = Run(c.qq);
    EXPECT_EQ(out.end, c.end) << c.qq;
    EXPECT_EQ(host_.calls, c.calls) << c.qq;
    EXPECT_GE(out.result.albumEntries.size(), c.albums) << c.qq;
    if (c.albums == 0) {
      EXPECT_TRUE(out.result.albumEntries.empty()) << c.qq;
    }
  }
}

TEST_F(AlbumListTest, UnreadableAlbumsAreLeftOutAndNumberingGoesOn) {
  for (const char* qq : {"10015", "10016"}) {
    host_.calls.clear();
    const PreviewOutcome out = Run(qq);
    EXPECT_EQ(out.end, End::kListed) << qq;
    ASSERT_EQ(out.result.albumEntries.size(), 2u) << qq;
    EXPECT_EQ(out.result.albumEntries[0].substr(0, 2), "1|") << qq;
    EXPECT_EQ(out.result.albumEntries[1].substr(0, 2), "3|") << qq;
    ASSERT_EQ(out.result.pageLines.size(), 6u) << qq;
    EXPECT_NE(out.result.pageLines[3].find("id=\"check_1\""), std::string::npos) << qq;
    EXPECT_NE(out.result.pageLines[3].find("/photo/3\""), std::string::npos) << qq;
  }
}

TEST_F(AlbumListTest, CdataTextsAndHostileNamesCannotBreakThePage) {
  for (const char* qq : {"10017", "10043"}) {
    const PreviewOutcome out = Run(qq);
    ASSERT_EQ(out.end, End::kListed) << qq;
    for (size_t i = 2; i + 2 < out.result.pageLines.size(); ++i) {
      const std::string& block = out.result.pageLines[i];
      EXPECT_EQ(block.find("<script"), std::string::npos) << block;
      EXPECT_EQ(block.find("<b>"), std::string::npos) << block;
      EXPECT_EQ(block.find("</table><"), block.rfind("</table><")) << block;  // only the block's own table
    }
  }
  const PreviewOutcome cdata = Run("10017");
  std::string all;
  for (const auto& line : cdata.result.pageLines) all += line;
  EXPECT_NE(all.find("&lt;&amp;&gt;"), std::string::npos);
}

TEST_F(AlbumListTest, UnreachableRouteServiceAndStaleRepliesGiveRouteFailed) {
  // An older reply in the route file must not stand in for the one that could not be fetched.
  dir_.Write("velquan_album_route.txt",
             "photoDomainNameCallback({\"domain\":{\"default\":\"a\"},\"a\":{\"p\":\"x\",\"s\":\"x\",\"nu\":"
             "\"x\"}})");
  const PreviewOutcome out = Run("10001", "127.0.0.1:1");
  EXPECT_EQ(out.end, End::kRouteFailed);
  EXPECT_EQ(host_.calls, (std::vector<std::string>{"RouteFailed"}));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() + "velquan_album_route.txt"));
}

TEST_F(AlbumListTest, AbortedFetchEndsTheRetrieval) {
  std::atomic<bool> abort{true};
  PreviewInput input;
  input.qqNumber = "10001";
  input.routeHost = albumd_->HostPort();
  input.routeFile = dir_.path() + "r.txt";
  input.albumListFile = dir_.path() + "l.txt";
  input.fetchAbort = &abort;
  EXPECT_EQ(RetrieveAlbumList(input, host_).end, End::kRouteFailed);
  EXPECT_EQ(dir_.Tree(), std::vector<std::string>{});
}

TEST(AlbumListWalk, AListPastTheLimitIsCutAndSaysSo) {
  for (const int nodes : {kMaxAlbumNodes, kMaxAlbumNodes + 1}) {
    std::string xml =
        "<data><album><name>first</name><pre>p</pre><desc>d</desc><total>1</total><priv>1</priv>"
        "<id>a|b</id></album>";
    for (int i = 1; i < nodes; ++i) xml += "<album/>";
    xml += "</data>";
    const XmlDocument doc = XmlDocument::LoadFromMemory(xml);
    PreviewResult result;
    const bool cut = WalkAlbumList(doc.TopLevel("data").Child("album"), 1, result);
    EXPECT_EQ(cut, nodes > kMaxAlbumNodes) << nodes;
    ASSERT_EQ(result.albums.size(), 1u);
    // The fields as read, even where the joined line can no longer tell them apart.
    EXPECT_EQ(result.albums[0], (AlbumEntryFields{"a|b", "1", "first", "1", "d"}));
    EXPECT_EQ(result.albumEntries[0], "a|b|1|first|1|d");
  }
}

TEST(AlbumListText, AddressesEntriesAndMessage) {
  EXPECT_EQ(RouteAddress("r:1", "12345"), "http://r:1/GetRoute?UIN=12345&type=json&version=2");
  EXPECT_EQ(AlbumListAddress("p", "12345"), "http://p/fcgi-bin/fcg_list_album?uin=12345&refer=portal");
  EXPECT_EQ(AlbumEntryLine(" V1 ", "\t2", " a b ", "12\r\n", "  d "), "V1|2|a b|12|d");
  EXPECT_EQ(PreviewDoneMessage("12345"),
            "成功获取相册列表，请点击下面的“开始下载QQ相册”按钮，\n\r将12345的相册下载到你的本地机器！");
}

}  // namespace

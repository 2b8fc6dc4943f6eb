#include "core/albumscripts.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/testfolder.h"

namespace {

using Action = AlbumPaneNavigation::Action;

TEST(AlbumScripts, FixedScriptsByteForByte) {
  EXPECT_EQ(ScrollScript(3), (AlbumScript{"scrolid", R"($("scrolid").href="#mao_1";$("scrolid").click();)"}));
  EXPECT_EQ(RowColorScript(2, "#FF6600"),
            (AlbumScript{"tbl_2", R"(if($("tbl_2").style.backgroundColor!=="#FF6600") )"
                                  R"($("tbl_2").style.backgroundColor="#FF6600";)"}));
  EXPECT_EQ(AlertLinkScript(5),
            (AlbumScript{"link_5",
                         R"~($("link_5").href="javascript:alert(\"此相册可能是加密相册，无法访问！\")")~"}));
  EXPECT_EQ(UntickScript(0), (AlbumScript{"check_0", R"($("check_0").checked=false;)"}));
  EXPECT_EQ(ViewLinkScript(1, "abc"),
            (AlbumScript{"ainp_1",
                         R"($("ainp_1").innerHTML="<div style=\"margin-top:10px;\"><a href=\"#GOTO2:abc\" )"
                         R"(title=\"查看下载的相片\">看</a></div>";)"}));
}

TEST(AlbumScripts, StatusQuotesAreEscapedForTheScriptString) {
  EXPECT_EQ(
      StatusCellScript(0, ProgressStatusHtml(0, "12")),
      (AlbumScript{"status_0",
                   R"($("status_0").innerHTML="<nobr><span style=\"color:#FF0000;\">0/12</span></nobr>";)"}));
  // Backslashes and line breaks cannot end the string early either.
  EXPECT_EQ(StatusCellScript(1, "a\\\"b\n").script, R"($("status_1").innerHTML="a\\\"b\n";)");
}

// The online pane's preview command: exact command word, "|" before the number, encoded or plain.
TEST(AlbumScripts, OnlinePanePreviewCommands) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"http://v/p#TAVRENGOTO:DOWNVELQUAN|123456", "123456"},
      {"http://v/p#TAVRENGOTO:DOWNVELQUAN%7C10001", "10001"},
      {"http://v/p#TAVRENGOTO:DOWNVELQUAN|", ""},
      {"http://v/p#TAVRENGOTO:DOWNVELQUAN|1|2", "1|2"},
      {"http://v/p#TAVRENGOTO:downvelquan|777777", std::nullopt},
      {"http://v/p#TAVRENGOTO:DOWNVELQUAN123456", std::nullopt},
      {"http://v/p#TAVRENGOTO:DOWNVELQUANX|1", std::nullopt},
      {"http://v/p#tavrengoto:DOWNVELQUAN|1", std::nullopt},
      {"http://v/p", std::nullopt},
  };
  for (const auto& [address, number] : cases) EXPECT_EQ(OnlinePanePreviewCommand(address), number) << address;
}

// Only a box the page says is unticked leaves an album out: a failed read or a missing box downloads it.
TEST(AlbumScripts, TicksAndTickBoxes) {
  EXPECT_EQ(TicksFromScript("1011", 4), (std::vector<bool>{true, false, true, true}));
  EXPECT_EQ(TicksFromScript("", 2), (std::vector<bool>{true, true}));
  EXPECT_EQ(TicksFromScript("00", 3), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(TicksFromScript("0", 0), std::vector<bool>{});
  const std::pair<const char*, int> boxes[] = {
      {"check_0", 0}, {"check_17", 17}, {"check_", -1},           {"check_01", -1}, {"check_1a", -1},
      {"tbl_3", -1},  {"Check_3", -1},  {"check_9999999999", -1}, {"", -1},         {"check_-1", -1}};
  for (const auto& [id, album] : boxes) EXPECT_EQ(TickBoxAlbum(id), album) << id;
}

TEST(AlbumScripts, StatusScrollsOnlyFromAlbumThree) {
  for (int n = 0; n <= 2; ++n) {
    auto calls = ShowAlbumStatus(n, StartedStatusHtml(), "#FF6600", "x");
    ASSERT_EQ(calls.size(), 2u) << n;
    EXPECT_EQ(calls[0].elementId, "status_" + std::to_string(n));
    EXPECT_EQ(calls[1].elementId, "tbl_" + std::to_string(n));
  }
  auto calls = ShowAlbumStatus(3, StartedStatusHtml(), "#FF6600", "x");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], ScrollScript(3));
  EXPECT_NE(calls[0].script.find("#mao_1\""), std::string::npos);
}

TEST(AlbumScripts, FinishedAndFailedAlbumsGetTheirExtraCalls) {
  auto done = ShowAlbumStatus(0, FinishedStatusHtml("旅行"), "#FFFFFF", "旅行");
  ASSERT_EQ(done.size(), 4u);
  EXPECT_EQ(done[2].elementId, "ainp_0");
  EXPECT_EQ(done[3], UntickScript(0));

  auto failed = ShowAlbumStatus(0, FailedStatusHtml(), "#FFFFFF", "旅行");
  ASSERT_EQ(failed.size(), 3u);
  EXPECT_EQ(failed[2], AlertLinkScript(0));
  EXPECT_EQ(failed[0].script, R"($("status_0").innerHTML="<nobr><font color=\"red\">失败</font></nobr>";)");

  // An album whose name holds "失败" finished fine: no alert for it.
  auto named = ShowAlbumStatus(0, FinishedStatusHtml("失败的旅行"), "#FFFFFF", "失败的旅行");
  ASSERT_EQ(named.size(), 4u);
  for (const auto& call : named) EXPECT_NE(call.elementId, "link_0");
}

TEST(AlbumScripts, HostileNamesCannotLeaveTheirStrings) {
  const std::string hostile = R"(x"</a><img src=y onerror=alert(1)>\";alert(2);//')";
  for (const auto& call : ShowAlbumStatus(4, FinishedStatusHtml(hostile), "#FFFFFF", hostile)) {
    // Nothing of the name is left that could close an attribute, a tag or the script string.
    EXPECT_EQ(call.script.find("<img"), std::string::npos) << call.script;
    EXPECT_EQ(call.script.find("alert(2)"), std::string::npos) << call.script;
    EXPECT_EQ(call.script.find("onerror=alert"), std::string::npos) << call.script;
  }
  // The names go in percent-encoded: the link still names the folder exactly.
  EXPECT_EQ(FinishedStatusHtml("a b\"c"),
            R"(<a href="#GOTO2:a%20b%22c" title="点击查看相片"><font color="blue">√</font></a>)");
  EXPECT_EQ(FinishedStatusHtml("abc"),
            R"(<a href="#GOTO2:abc" title="点击查看相片"><font color="blue">√</font></a>)");
  EXPECT_EQ(ProgressStatusHtml(3, "<b>"), R"(<nobr><span style="color:#FF0000;">3/&lt;b&gt;</span></nobr>)");
}

TEST(AlbumPaneLinks, Goto1OpensOnlineAddress) {
  struct Case {
    const char* address;
    const char* target;
  } cases[] = {
      {"lorvanta-album:/page#GOTO1:/93015_12345/photo/V123", "http://vendor/93015_12345/photo/V123"},
      {"about:blank#GOTO1:http://other/x", "http://other/x"},
      {"x#GOTO1:/a#GOTO1:/b", "http://vendor/a#GOTO1:/b"},
      {"x#GOTO1:/p#GOTO2:q", "http://vendor/p#GOTO2:q"},  // the first command wins
  };
  for (const auto& c : cases) {
    auto nav = AlbumPaneLink(c.address, "http://vendor", "/nowhere/");
    EXPECT_EQ(nav.action, Action::kOpenOnline) << c.address;
    EXPECT_EQ(nav.target, c.target) << c.address;
  }
  const std::string longText = "x#GOTO1:/" + std::string(2000, 'a');
  EXPECT_EQ(AlbumPaneLink(longText, "", "").target.size(), 1000u);
}

TEST(AlbumPaneLinks, OtherNavigationsProceed) {
  EXPECT_EQ(AlbumPaneLink("http://vendor/client.php", "http://vendor", "").action, Action::kProceed);
  EXPECT_EQ(AlbumPaneLink("about:blank#mao_1", "http://vendor", "").action, Action::kProceed);
}

TEST(AlbumPaneLinks, Goto2OpensOnlyRealAlbumFolders) {
  TestFolder dir;
  const std::string root = dir.path() + "12345的相册/";
  std::filesystem::create_directories(root + "旅行");
  std::filesystem::create_directories(root + "a b");
  dir.Write("12345的相册/file.JPG", "x");
  std::filesystem::create_directory_symlink("/", root + "link");

  auto open = AlbumPaneLink("p#GOTO2:%E6%97%85%E8%A1%8C", "", root);
  EXPECT_EQ(open.action, Action::kOpenFolder);
  EXPECT_EQ(open.target, root + "旅行");
  EXPECT_EQ(AlbumPaneLink("p#GOTO2:a%20b", "", root).target, root + "a b");
  EXPECT_EQ(AlbumPaneLink("p#GOTO2:旅行", "", root).action, Action::kOpenFolder);

  for (const char* bad : {"p#GOTO2:", "p#GOTO2:.", "p#GOTO2:..", "p#GOTO2:%2E%2E", "p#GOTO2:../12345的相册",
                          "p#GOTO2:..%2F..%2Fetc", "p#GOTO2:/etc", "p#GOTO2:missing", "p#GOTO2:file.JPG",
                          "p#GOTO2:link", "p#GOTO2:%E6%97%85%E8%A1%8C%00"}) {
    auto nav = AlbumPaneLink(bad, "", root);
    EXPECT_EQ(nav.action, Action::kIgnore) << bad;
    EXPECT_TRUE(nav.target.empty()) << bad;
  }
  // Before any download there is no album root: nothing opens.
  EXPECT_EQ(AlbumPaneLink("p#GOTO2:旅行", "", "").action, Action::kIgnore);
}

}  // namespace

#include "core/albumpage.h"

#include <gtest/gtest.h>

namespace {

const char kHeadPrefix12345[] =
    R"(<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Transitional//EN" )"
    R"("http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd"><html xmlns="http://www.w3.org/1999/xhtml">)"
    R"(<head><meta http-equiv="Content-Type" content="text/html; charset=gb2312" /><title>12345的QQ相册列表</title>)";

const char kSimpleHeadEnd[] =
    R"(<style>html,body,table{font-size:12px;margin:0px;padding:0px;}</style></head>)"
    R"(<body oncontextmenu="window.event.returnValue=false">)";

AlbumFields ExampleAlbum() {
  return {"旅行", "http://p.example/c.jpg", "夏天", "12", "2", "V123"};
}

TEST(AlbumPage, NoticePageIsThreeCrLfLines) {
  const std::string expected =
      std::string(kHeadPrefix12345) + kSimpleHeadEnd + "\r\n" +
      R"(<div style="margin:50px auto 0px auto;background-color:#FFFFFF;color:#FF0000;)"
      R"(border:1px #FF0000 solid;padding:10px;font-size:14px;width:150px;">)" +
      "无法预览相册列表！</div>\r\n</body></html>\r\n";
  EXPECT_EQ(NoticePage("12345", kAlbumListFailedMessage), expected);
}

TEST(AlbumPage, LoadingPageIsThreeCrLfLines) {
  const std::string expected =
      std::string(kHeadPrefix12345) + kSimpleHeadEnd + "\r\n" +
      R"(<div style="margin:50px auto 0px auto;background-color:#FF6600;color:#FFFFFF;padding:10px 2px;)"
      R"(font-size:14px;width:150px;"><marquee behavior=alternate scrollamount=3>正在获取相册列表...</marquee></div>)"
      "\r\n</body></html>\r\n";
  EXPECT_EQ(LoadingPage("12345"), expected);
}

TEST(AlbumPage, PageHeadLineJoinsStyleScriptAndBody) {
  const std::string expected =
      std::string(kHeadPrefix12345) +
      R"(<style>html,body,table{font-size:12px;margin:0px;padding:0px;}a,a:visited{color:#134A8F;)"
      R"(text-decoration:none;}img{border:0px;}a:hover{color:#FF6600;})"
      R"(.albumitem{padding-bottom:5px;margin-bottom:5px;border-bottom:1px dotted #ccc;background-color:#FFFFFF;})"
      R"(.inp_alm{margin:5px;}.statusdiv{border:1px solid #A4B5EE;padding:1px;background-color:#FFFFFF;}</style>)"
      R"(</head><script language="javascript">function $(obj){return document.getElementById(obj);})"
      R"(function cmd(obj,str){try{if($(obj)!==null) return eval(str);}finally{}}</script><body)"
      R"( oncontextmenu="window.event.returnValue=false">)";
  EXPECT_EQ(PageHeadLine("12345"), expected);
}

TEST(AlbumPage, HeaderLineHoldsScrollHandleAndOpenContainer) {
  EXPECT_EQ(
      HeaderLine(),
      R"(<div style="padding:5px;margin-bottom:10px;border-bottom:1px solid #666;background-color:#EEE;)"
      R"(color:#FF6600;font-size:14px;text-align:center;">请选择要下载的相册<a id="scrolid" href="#"></a></div>)"
      R"(<div style="padding:5px;">)");
}

TEST(AlbumPage, AlbumBlockByteForByte) {
  const std::string expected =
      R"(<div><a id="mao_0" /></div><div id="albumdiv_0" class="albumitem"><table border=0 width="100%" )"
      R"(id="tbl_0"><tr><td align="center"><input type="checkbox" id="check_0" name="check_0" checked )"
      R"(class="inp_alm" /><br />[<span style="color:#FF0000;">密</span>]</td><td width="99%"><a )"
      R"(href="#GOTO1:/93015_12345/photo/V123" id="link_0">旅行 (<font color="red">12</font>张)<br /><img )"
      R"(src="http://p.example/c.jpg" alt="夏天" /></a></td><td align="right"><div class="statusdiv" )"
      R"(id="status_0"></div><div id="ainp_0"></div></td></tr></table></div>)";
  EXPECT_EQ(AlbumBlock(0, ExampleAlbum(), 93015, "12345"), expected);
}

TEST(AlbumPage, AlbumBlockNumbersEveryIdWithN) {
  const std::string block = AlbumBlock(17, ExampleAlbum(), 7, "12345");
  for (const char* id : {"mao_17\"", "albumdiv_17\"", "tbl_17\"", "id=\"check_17\"", "name=\"check_17\"",
                         "link_17\"", "status_17\"", "ainp_17\""}) {
    EXPECT_NE(block.find(id), std::string::npos) << id;
  }
  EXPECT_NE(block.find("#GOTO1:/7_12345/photo/V123\""), std::string::npos);
}

TEST(AlbumPage, PrivacyMarkerComparesExactly) {
  struct Case {
    const char* priv;
    const char* marker;
  } cases[] = {
      {"2", R"(<br />[<span style="color:#FF0000;">密</span>])"},
      {"3", R"(<br />[<span style="color:#FF0000;">私</span>])"},
      {"0", ""},
      {"1", ""},
      {"", ""},
      {"2 ", ""},
      {" 3", ""},
      {"23", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PrivacyMarker(c.priv), c.marker) << "priv '" << c.priv << "'";
}

TEST(AlbumPage, HostileFieldsAreEscapedForTheirPlace) {
  AlbumFields album{
      R"(<script>alert(1)</script>"x)", R"(" onerror="alert(2))", R"(a"><img src=x>)", R"(<b>9</b>)", "0",
      R"(V1" onclick="alert(3))"};
  const std::string block = AlbumBlock(0, album, 93015, "12345");
  EXPECT_EQ(block.find("<script"), std::string::npos);
  EXPECT_EQ(block.find("<img src=x"), std::string::npos);
  EXPECT_EQ(block.find("<b>"), std::string::npos);
  EXPECT_EQ(block.find("\" onerror"), std::string::npos);
  EXPECT_EQ(block.find("\" onclick"), std::string::npos);
  EXPECT_NE(block.find("&lt;script&gt;alert(1)&lt;/script&gt;&quot;x (<font"), std::string::npos);
  EXPECT_NE(block.find("src=\"&quot; onerror=&quot;alert(2)\""), std::string::npos);
  EXPECT_NE(block.find("photo/V1&quot; onclick=&quot;alert(3)\" id=\"link_0\""), std::string::npos);
  EXPECT_NE(block.find("&lt;b&gt;9&lt;/b&gt;</font>"), std::string::npos);
  EXPECT_NE(block.find("alt=\"a&quot;&gt;&lt;img src=x&gt;\""), std::string::npos);
  // A name with an ampersand or an apostrophe is escaped too; one without keeps its bytes.
  album = ExampleAlbum();
  album.name = "Tom & Jerry's";
  EXPECT_NE(AlbumBlock(0, album, 1, "1").find(">Tom &amp; Jerry&#39;s (<font"), std::string::npos);
}

TEST(AlbumPage, ThreeAlbumsMakeSevenLines) {
  std::vector<std::string> lines;
  AppendPageLine(lines, "12345", HeaderLine());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], PageHeadLine("12345"));
  for (int n = 0; n < 3; ++n) AppendPageLine(lines, "12345", AlbumBlock(n, ExampleAlbum(), 93015, "12345"));
  AppendPageLine(lines, "12345", "</div>");
  ASSERT_TRUE(FinishAlbumPage(lines, 3));
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[5], "</div>");
  EXPECT_EQ(lines[6], "</body></html>");
  EXPECT_EQ(JoinPageLines({"a", "b"}), "a\r\nb\r\n");
}

TEST(AlbumPage, NoAlbumLeavesThePageUnfinished) {
  std::vector<std::string> lines;
  AppendPageLine(lines, "12345", HeaderLine());
  AppendPageLine(lines, "12345", "</div>");
  EXPECT_FALSE(FinishAlbumPage(lines, 0));
  EXPECT_EQ(lines.size(), 3u);
}

}  // namespace

#include "core/currentservice.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>

namespace {

TEST(CurrentService, TokensAndNumbers) {
  const std::pair<const char*, const char*> tokens[] = {
      {"", "5381"},
      {"abc", "193485963"},
      {"@abcdefgh", "2083463305"},
      {"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefg_", "1305879788"},
  };
  for (const auto& [key, token] : tokens) EXPECT_EQ(RequestToken(key), token) << key;
  const std::pair<const char*, const char*> uins[] = {
      {"o0123456789", "123456789"},
      {"o10060", "10060"},
      {" 10060 ", "10060"},
      {"o", ""},
      {"o0000", ""},
      {"o12a4", ""},
      {"", ""},
  };
  for (const auto& [cookie, qq] : uins) EXPECT_EQ(QQFromUinCookie(cookie), qq) << cookie;
  const std::pair<const char*, const char*> hosts[] = {
      {"", "https://user.qzone.qq.com"},
      {"http://127.0.0.1:8080/", "http://127.0.0.1:8080"},
      {"photos.example", "https://photos.example"},
  };
  for (const auto& [given, base] : hosts) EXPECT_EQ(MakeSiteHosts(given).listBase, base) << given;
  EXPECT_EQ(MakeSiteHosts("").photoBase, "https://h5.qzone.qq.com");
  const std::string list =
      CurrentAlbumListAddress(MakeSiteHosts("http://h:1"), "5381", "10001", "o1&x", 30, 30, "7");
  EXPECT_EQ(list.rfind("http://h:1/proxy/domain/photo.qzone.qq.com/fcgi-bin/fcg_list_album_v3?g_tk=5381&", 0),
            0u);
  for (const char* part :
       {"&hostUin=10001&", "&uin=o1%26x&", "&mode=2&", "&pageStart=30&pageNum=30&", "&t=7"})
    EXPECT_NE(list.find(part), std::string::npos) << part;
}

// The QR sign-in: the poll carries the code's token (the hash started at 0), and its answers are told
// apart by their code alone; anything else is no answer.
TEST(CurrentService, QrSignIn) {
  const SignInHosts hosts = MakeSignInHosts("http://127.0.0.1:9");
  EXPECT_EQ(SignInPageAddress(MakeSignInHosts("")).rfind("https://xui.ptlogin2.qq.com/cgi-bin/xlogin?", 0),
            0u);
  EXPECT_EQ(QrCodeAddress(MakeSignInHosts(""), "5")
                .rfind("https://ssl.ptlogin2.qq.com/ptqrshow?appid=549000912&", 0),
            0u);
  const std::string poll = QrPollAddress(hosts, "abc", 1700000000123);
  EXPECT_EQ(poll.rfind("http://127.0.0.1:9/ptqrlogin?u1=https%3A%2F%2Fqzs.qq.com%2F", 0), 0u) << poll;
  // 0 * 33 + 'a' = 97, * 33 + 'b' = 3299, * 33 + 'c' = 108966
  for (const char* part : {"&ptqrtoken=108966&", "&action=0-0-1700000000123&", "&aid=549000912&daid=5"})
    EXPECT_NE(poll.find(part), std::string::npos) << part;

  using State = QrPoll::State;
  const std::tuple<const char*, State, const char*> answers[] = {
      {"ptuiCB('66','0','','0','二维码未失效。', '')", State::kWaiting, ""},
      {"ptuiCB('67','0','','0','二维码认证中。', '')\n", State::kScanned, ""},
      {"ptuiCB('65','0','','0','二维码已失效。', '')", State::kExpired, ""},
      {"ptuiCB('68','0','','0','本次登录已被拒绝。', '')", State::kRefused, ""},
      {"ptuiCB('0','0','https://ptlogin2.qzone.qq.com/check_sig?a=1&b=\\'2','0','登录成功！', '小\\'明')",
       State::kSignedIn, "https://ptlogin2.qzone.qq.com/check_sig?a=1&b='2"},
      {"ptuiCB('0','0','','0','登录成功！', '')", State::kOther, ""},
      {"ptuiCB(\"7\",\"0\",\"\",\"0\",\"提交参数错误，请检查。\",\"\")", State::kOther, ""},
  };
  for (const auto& [reply, state, address] : answers) {
    const std::optional<QrPoll> read = ReadQrPoll(reply);
    ASSERT_TRUE(read.has_value()) << reply;
    EXPECT_EQ(read->state, state) << reply;
    EXPECT_EQ(read->address, address) << reply;
  }
  EXPECT_EQ(ReadQrPoll("ptuiCB('0','0','https://x/check_sig','0','登录成功！', '小\\'明')")->nickname,
            "小'明");
  for (const char* bad :
       {"", "<html>busy</html>", "ptuiCB(", "ptuiCB('66','0'", "ptuiCB()", "ptuiCB('x','0')"})
    EXPECT_FALSE(ReadQrPoll(bad).has_value()) << bad;
}

// What the service gets wrong is repaired byte for byte; what is right passes unchanged.
TEST(CurrentService, JsonpAndRepairs) {
  EXPECT_EQ(JsonpPayload("shine0_Callback({\"a\":\"(x)\"});"), "{\"a\":\"(x)\"}");
  EXPECT_EQ(JsonpPayload("_Callback({});"), "{}");
  EXPECT_EQ(JsonpPayload("{}"), "{}");
  const std::pair<std::string, std::string> repairs[] = {
      {"{\"a\":\"x\ty\"}", "{\"a\":\"x\\u0009y\"}"},
      {"{\"a\":undefined,\"b\":[undefined]}", "{\"a\":null,\"b\":[null]}"},
      {"{\"a\":\"undefined\",\"undefinedX\":1}", "{\"a\":\"undefined\",\"undefinedX\":1}"},
      {"{\"a\":\"\\\"\x01\"}", "{\"a\":\"\\\"\\u0001\"}"},
      {"{\"a\":\"\xE4\xB8\"}", "{\"a\":\"\xEF\xBF\xBD\xEF\xBF\xBD\"}"},
      {"{\"a\":\"\xE4\xB8\xAD\xF0\x9F\x98\x80\"}", "{\"a\":\"\xE4\xB8\xAD\xF0\x9F\x98\x80\"}"},
  };
  for (const auto& [in, out] : repairs) EXPECT_EQ(RepairJson(in), out) << in;
}

TEST(CurrentService, AlbumPages) {
  const CurrentAlbumPage page = ReadCurrentAlbumPage(
      "shine0_Callback({\"code\":0,\"subcode\":0,\"message\":\"\",\"data\":{\"albumsInUser\":31,"
      "\"albumList\":["
      "{\"id\":\"V1\",\"name\":\"春节\",\"desc\":\" "
      "\",\"total\":12,\"priv\":1,\"allowAccess\":1,\"pre\":\"http://c/1\"},"
      "{\"id\":\"V2\",\"name\":\"密\",\"total\":\"3\",\"priv\":3,\"allowAccess\":0},"
      "{\"name\":\"no id\"},7]}});");
  ASSERT_TRUE(page.readable);
  EXPECT_TRUE(page.status.ok());
  EXPECT_EQ(page.albumsInUser, 31);
  ASSERT_EQ(page.albums.size(), 2u);
  EXPECT_EQ(page.albums[0].fields, (AlbumEntryFields{"V1", "1", "春节", "12", ""}));
  EXPECT_EQ(page.albums[0].cover, "http://c/1");
  EXPECT_TRUE(page.albums[0].allowAccess);
  EXPECT_EQ(page.albums[1].fields.total, "3");
  EXPECT_FALSE(page.albums[1].allowAccess);

  const CurrentAlbumPage refused = ReadCurrentAlbumPage(
      "shine0_Callback({\"code\":-3000,\"subcode\":-4001,\"message\":\"对不起，您尚未登录或者登录超时\","
      "\"data\":{}});");
  EXPECT_TRUE(refused.readable);
  EXPECT_TRUE(refused.status.SignInNeeded());
  EXPECT_EQ(refused.status.subcode, -4001);
  EXPECT_TRUE(ReadCurrentAlbumPage("shine0_Callback({\"code\":-10000,\"data\":{}});").status.Busy());
  EXPECT_FALSE(ReadCurrentAlbumPage("<html>502</html>").readable);
  EXPECT_TRUE(ReadCurrentAlbumPage("({\"code\":0,\"data\":{\"albumList\":null}})").albums.empty());
}

// The original when there is one, a video's download address, the shoot time else the upload time (China
// Standard Time), and a broken entry costing only itself.
TEST(CurrentService, PhotoPages) {
  const CurrentPhotoPage page = ReadCurrentPhotoPage(
      "shine0_Callback({\"code\":0,\"data\":{\"totalInAlbum\":600,\"photoList\":["
      "{\"name\":\"a\",\"url\":\"http://u/a\",\"raw\":\"http://r/a\",\"raw_upload\":1,\"phototype\":1,"
      "\"rawshoottime\":\"2015-02-19 08:00:00\",\"uploadtime\":\"2015-03-01 00:00:00\"},"
      "{\"name\":\"b\",\"url\":\"http://u/b\",\"raw\":\"http://r/b\",\"raw_upload\":0,\"origin_url\":\"http:/"
      "/o/b\","
      "\"rawshoottime\":\"0\",\"uploadtime\":\"2001-09-09 09:46:40\",\"desc\":undefined},"
      "{\"name\":\"c\x01"
      "d\",\"url\":\"http://u/c\",\"raw_upload\":\"1\",\"raw\":\"\",\"phototype\":\"3\"},"
      "{\"name\":\"v\",\"is_video\":true,\"url\":\"http://u/v.jpg\",\"video_info\":{\"download_url\":\"\","
      "\"video_url\":\"http://v/v.mp4\"}},"
      "{\"name\":\"no address\"},\"junk\"]}});");
  ASSERT_TRUE(page.readable);
  EXPECT_EQ(page.totalInAlbum, 600);
  EXPECT_EQ(page.unreadable, 2);
  ASSERT_EQ(page.photos.size(), 4u);
  EXPECT_EQ(page.photos[0].url, "http://r/a");
  EXPECT_EQ(page.photos[0].taken, std::time_t{1424304000});  // 2015-02-19 00:00:00 UTC
  EXPECT_EQ(page.photos[1].url, "http://o/b");
  EXPECT_EQ(page.photos[1].taken, std::time_t{1000000000});
  EXPECT_EQ(page.photos[1].desc, "");
  EXPECT_EQ(page.photos[2].url, "http://u/c");
  EXPECT_EQ(page.photos[2].name,
            "c\x01"
            "d");
  EXPECT_EQ(page.photos[2].phototype, "3");
  EXPECT_EQ(page.photos[3].url, "http://v/v.mp4");
  EXPECT_TRUE(page.photos[3].video);
  EXPECT_FALSE(page.photos[0].video);
}

}  // namespace

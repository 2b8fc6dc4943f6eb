// Signing in to albumd with a QR code, over plain HTTP as a client does it: the picture (decoded and
// scanned), the poll's states, the phone's buttons, the one-time address that hands out the cookies, and
// a signed-in list call with those cookies.
#include <gtest/gtest.h>
#include <png.h>
#include <zbar.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "tests/albumd/fetch.h"
#include "tools/albumd/signin.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace {

const std::string kReturn = "https://qzs.qq.com/qzone/v5/loginsucc.html?para=izone";
const std::string kReturnEscaped = "https%3A%2F%2Fqzs.qq.com%2Fqzone%2Fv5%2Floginsucc.html%3Fpara%3Dizone";

// The poll's token, computed here as a client computes it.
std::string PollToken(const std::string& qrsig) {
  uint32_t h = 0;
  for (unsigned char c : qrsig) h = h * 33 + c;
  return std::to_string(h & 0x7FFFFFFF);
}

// A Set-Cookie value's name, value and attributes (names in lower case).
struct SetCookie {
  std::string value;
  std::map<std::string, std::string> attributes;
};
std::map<std::string, SetCookie> CookiesByName(const Fetched& reply) {
  std::map<std::string, SetCookie> cookies;
  for (const std::string& header : reply.setCookies) {
    std::string name;
    SetCookie cookie;
    size_t at = 0;
    while (at <= header.size()) {
      size_t end = std::min(header.find(';', at), header.size());
      std::string part = header.substr(at, end - at);
      part.erase(0, part.find_first_not_of(' '));
      const size_t eq = part.find('=');
      std::string key = part.substr(0, eq);
      std::string value = eq == std::string::npos ? "" : part.substr(eq + 1);
      if (at == 0) {
        name = key;
        cookie.value = value;
      } else {
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        cookie.attributes[key] = value;
      }
      at = end + 1;
    }
    cookies[name] = cookie;
  }
  return cookies;
}

struct Picture {
  unsigned width = 0;
  unsigned height = 0;
  int bitDepth = 0;
  int colorType = -1;
  std::vector<unsigned char> gray;  // one byte a pixel, rows top to bottom
};

// Reads a PNG with libpng; the header's own depth and colour type are kept to see what was sent.
bool DecodePng(const std::string& bytes, Picture& out) {
  if (bytes.size() < 33 || bytes.compare(12, 4, "IHDR") != 0) return false;
  out.bitDepth = static_cast<unsigned char>(bytes[24]);
  out.colorType = static_cast<unsigned char>(bytes[25]);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return false;
  image.format = PNG_FORMAT_GRAY;
  out.width = image.width;
  out.height = image.height;
  out.gray.assign(PNG_IMAGE_SIZE(image), 0);
  const bool ok = png_image_finish_read(&image, nullptr, out.gray.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}

// The texts of the QR codes zbar finds in the picture.
std::vector<std::string> ScanQr(const Picture& picture) {
  using namespace zbar;  // zbar's C interface, which its header puts in a namespace for C++
  zbar_image_scanner_t* scanner = zbar_image_scanner_create();
  zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
  zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
  zbar_image_t* image = zbar_image_create();
  zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
  zbar_image_set_size(image, picture.width, picture.height);
  zbar_image_set_data(image, picture.gray.data(), picture.gray.size(), nullptr);
  std::vector<std::string> texts;
  if (zbar_scan_image(scanner, image) > 0) {
    for (const zbar_symbol_t* s = zbar_image_first_symbol(image); s != nullptr; s = zbar_symbol_next(s))
      texts.emplace_back(zbar_symbol_get_data(s), zbar_symbol_get_data_length(s));
  }
  zbar_image_destroy(image);
  zbar_image_scanner_destroy(scanner);
  return texts;
}

// What a page holds after showing one code.
struct ShownCode {
  std::string qrsig;
  std::string phone;  // the code's text: the address the phone opens
};

class AlbumdQrSignIn : public ::testing::Test {
 protected:
  void Start(int qrSeconds = 0) {
    AlbumdProcess::Options options;
    options.qrSeconds = qrSeconds;
    albumd_ = AlbumdProcess::Start(options);
  }
  std::string Url(const std::string& target) const { return "http://" + albumd_->HostPort() + target; }
  Fetched Get(const std::string& url, const std::string& cookie = "") const {
    FetchOptions options;
    options.cookie = cookie;
    return Fetch(url.rfind("http://", 0) == 0 ? url : Url(url), options);
  }

  // Shows a code as the sign-in page does and reads its text from the picture.
  ShownCode Show(Fetched* raw = nullptr) const {
    Fetched reply = Get("/ptqrshow?appid=549000912&e=2&l=M&s=3&d=72&v=4&t=0.4213&daid=5&pt_3rd_aid=0");
    if (raw) *raw = reply;
    ShownCode shown;
    shown.qrsig = CookiesByName(reply)["qrsig"].value;
    Picture picture;
    if (!DecodePng(reply.body, picture)) {
      ADD_FAILURE() << "not a PNG";
      return shown;
    }
    const std::vector<std::string> texts = ScanQr(picture);
    EXPECT_EQ(texts.size(), 1u);
    if (!texts.empty()) shown.phone = texts[0];
    return shown;
  }

  // One poll of the sign-in page; token empty: the right one.
  std::string Poll(const std::string& qrsig, const std::string& token = "") const {
    Fetched reply =
        Get("/ptqrlogin?u1=" + kReturnEscaped + "&ptqrtoken=" + (token.empty() ? PollToken(qrsig) : token) +
                "&ptredirect=0&h=1&t=1&g=1&from_ui=1&ptlang=2052&action=0-0-1700000000000&js_type=1"
                "&login_sig=&pt_uistyle=40&aid=549000912&daid=5",
            qrsig.empty() ? "" : "qrsig=" + qrsig);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.Header("content-type"), "application/javascript; charset=utf-8");
    return reply.body;
  }

  long Press(const ShownCode& code, const std::string& uin, const std::string& action) const {
    return Get(code.phone + "&uin=" + uin + "&action=" + action).status;
  }

  std::unique_ptr<AlbumdProcess> albumd_;
};

std::string Waiting() {
  return "ptuiCB('66','0','','0','二维码未失效。', '')\n";
}
std::string Scanned() {
  return "ptuiCB('67','0','','0','二维码认证中。', '')\n";
}
std::string Expired() {
  return "ptuiCB('65','0','','0','二维码已失效。', '')\n";
}
std::string Refused() {
  return "ptuiCB('68','0','','0','本次登录已被拒绝。', '')\n";
}
std::string BadToken() {
  return "ptuiCB('7','0','','0','提交参数错误，请检查。', '')\n";
}

TEST_F(AlbumdQrSignIn, ScanConfirmAndTakeTheCookiesOnce) {
  Start();
  Fetched raw;
  const ShownCode code = Show(&raw);
  ASSERT_EQ(raw.status, 200);
  EXPECT_EQ(raw.Header("content-type"), "image/png");
  const auto shownCookies = CookiesByName(raw);
  ASSERT_EQ(shownCookies.count("qrsig"), 1u);
  EXPECT_TRUE(std::regex_match(code.qrsig, std::regex("[0-9a-f]+"))) << code.qrsig;
  EXPECT_EQ(shownCookies.at("qrsig").attributes, (std::map<std::string, std::string>{{"path", "/"}}));

  // An 8-bit grayscale picture of black and white only, a whole number of 3-pixel modules a side: a QR
  // code's 17 + 4v modules and a white quiet zone of at least 4 modules on every side.
  Picture picture;
  ASSERT_TRUE(DecodePng(raw.body, picture));
  EXPECT_EQ(picture.bitDepth, 8);
  EXPECT_EQ(picture.colorType, 0);
  ASSERT_EQ(picture.width, picture.height);
  ASSERT_EQ(picture.width % 3, 0u);
  unsigned first = picture.width;
  unsigned last = 0;
  for (unsigned y = 0; y < picture.height; ++y) {
    for (unsigned x = 0; x < picture.width; ++x) {
      const unsigned char pixel = picture.gray[y * picture.width + x];
      ASSERT_TRUE(pixel == 0 || pixel == 255) << x << "," << y;
      if (pixel == 0) {
        first = std::min({first, x, y});
        last = std::max({last, x, y});
      }
    }
  }
  const unsigned quiet = first / 3;
  const unsigned modules = (last + 1 - first) / 3;
  EXPECT_EQ(first % 3, 0u);
  EXPECT_GE(quiet, 4u);
  EXPECT_EQ(picture.width - 1 - last, first) << "the same margin on both sides";
  EXPECT_TRUE(modules >= 21 && modules <= 177 && (modules - 17) % 4 == 0) << modules;

  // The code's text is albumd's phone address; every picture is a new code.
  EXPECT_TRUE(
      std::regex_match(code.phone, std::regex("http://" + albumd_->HostPort() + "/qrphone\\?k=[0-9a-f]+")))
      << code.phone;
  const ShownCode other = Show();
  EXPECT_NE(other.phone, code.phone);
  EXPECT_NE(other.qrsig, code.qrsig);

  // The token must be the one of the cookie sent; then the code waits, is scanned, is confirmed.
  EXPECT_EQ(Poll(code.qrsig, PollToken(other.qrsig)), BadToken());
  EXPECT_EQ(Poll("", PollToken(code.qrsig)), BadToken());
  EXPECT_EQ(Poll(code.qrsig), Waiting());
  EXPECT_EQ(Press(code, "10080", "scan"), 200);
  EXPECT_EQ(Poll(code.qrsig), Scanned());
  EXPECT_EQ(Poll(other.qrsig), Waiting()) << "the other code is untouched";
  EXPECT_EQ(Press(code, "10080", "confirm"), 200);
  const std::string done = Poll(code.qrsig);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(done, match,
                               std::regex("ptuiCB\\('0','0','(http://" + albumd_->HostPort() +
                                          "/check_sig\\?[^']*)','0','登录成功！', '周末摄影师'\\)\n")))
      << done;
  const std::string checkSig = match[1];
  EXPECT_NE(checkSig.find("?pttype=1&uin=10080&service=ptqrlogin&nodirect=0&ptsigx="), std::string::npos);
  EXPECT_NE(checkSig.find("&s_url=" + kReturnEscaped + "&f_url=&"), std::string::npos) << checkSig;

  // The address hands out the session once: a redirect to the return address with the five cookies.
  EXPECT_EQ(Get(std::regex_replace(checkSig, std::regex("ptsigx=[0-9a-f]+"), "ptsigx=0123abcd")).status, 403);
  Fetched signedIn = Get(checkSig);
  ASSERT_EQ(signedIn.status, 302);
  EXPECT_EQ(signedIn.Header("location"), kReturn);
  const auto cookies = CookiesByName(signedIn);
  ASSERT_EQ(cookies.size(), 5u);
  EXPECT_EQ(cookies.at("uin").value, "o0000010080");
  EXPECT_EQ(cookies.at("p_uin").value, "o0000010080");
  EXPECT_TRUE(std::regex_match(cookies.at("skey").value, std::regex("@[0-9A-Za-z]{9}")));
  EXPECT_FALSE(cookies.at("pt4_token").value.empty());
  std::string jar;
  for (const auto& [name, cookie] : cookies) {
    EXPECT_EQ(cookie.attributes.count("domain"), 0u) << name;
    EXPECT_EQ(cookie.attributes.count("path") ? cookie.attributes.at("path") : "", "/") << name;
    EXPECT_EQ(cookie.attributes.count("max-age") ? cookie.attributes.at("max-age") : "", "3600") << name;
    EXPECT_EQ(cookie.attributes.count("expires"), 1u) << name;
    jar += (jar.empty() ? "" : "; ") + name + "=" + cookie.value;
  }
  Fetched again = Get(checkSig);
  EXPECT_EQ(again.status, 403);
  EXPECT_TRUE(again.setCookies.empty());
  EXPECT_EQ(Poll(code.qrsig), Expired()) << "a code that has signed in is gone";

  // The cookies sign in the album site's list calls.
  const std::string gtk = std::to_string(albumd::RequestToken(cookies.at("p_skey").value));
  Fetched list = Get("/proxy/domain/photo.qzone.qq.com/fcgi-bin/fcg_list_album_v3?g_tk=" + gtk +
                         "&hostUin=10080&uin=10080&appid=4&format=jsonp&callbackFun=shine0&mode=2&pageStart=0"
                         "&pageNum=30",
                     jar);
  const std::string head = "shine0_Callback(";
  ASSERT_EQ(list.body.rfind(head, 0), 0u) << list.body.substr(0, 100);
  const auto reply = nlohmann::json::parse(list.body.substr(head.size(), list.body.size() - head.size() - 2));
  EXPECT_EQ(reply["code"], 0);
  EXPECT_EQ(reply["data"]["albumsInUser"], 2);
}

// What the phone's buttons do to a code, in turn; the poll shows the state after each press.
TEST_F(AlbumdQrSignIn, PhoneButtonsInAndOutOfTurn) {
  Start();
  const ShownCode code = Show();
  struct Step {
    std::string uin, action;
    long status;
    std::string poll;
  };
  const Step steps[] = {
      {"10080", "confirm", 409, Waiting()},  // not scanned yet
      {"99999", "scan", 403, Waiting()},     // no such account
      {"10001", "scan", 403, Waiting()},     // an account without a password
      {"10080", "wave", 400, Waiting()},    {"10080", "scan", 200, Scanned()},
      {"10060", "confirm", 409, Scanned()},  // scanned by another account
      {"10060", "scan", 409, Scanned()},    {"10080", "refuse", 200, Refused()},
      {"10080", "confirm", 409, Refused()},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(Press(code, step.uin, step.action), step.status) << step.uin << " " << step.action;
    EXPECT_EQ(Poll(code.qrsig), step.poll) << step.uin << " " << step.action;
  }
  // A code can be refused without a scan; a code this run never showed is unknown to the phone.
  const ShownCode second = Show();
  EXPECT_EQ(Press(second, "10060", "refuse"), 200);
  EXPECT_EQ(Poll(second.qrsig), Refused());
  ShownCode unknown = second;
  unknown.phone = Url("/qrphone?k=0123456789abcdef");
  EXPECT_EQ(Press(unknown, "10080", "scan"), 404);
}

TEST_F(AlbumdQrSignIn, CodesExpireAfterTheirSeconds) {
  Start(1);
  const ShownCode code = Show();
  EXPECT_EQ(Poll(code.qrsig), Waiting());
  EXPECT_EQ(Press(code, "10080", "scan"), 200);
  EXPECT_EQ(Poll(code.qrsig), Scanned());
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  EXPECT_EQ(Poll(code.qrsig), Expired());
  EXPECT_EQ(Press(code, "10080", "confirm"), 404);
  EXPECT_EQ(Poll(Show().qrsig), Waiting()) << "a new code lives again";
}

}  // namespace

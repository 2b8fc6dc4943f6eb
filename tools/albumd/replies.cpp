#include "tools/albumd/replies.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>

#include "tools/albumd/gbk.h"
#include "tools/albumd/signin.h"

namespace albumd {
namespace {

constexpr const char* kXmlHead = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n";
constexpr const char* kXmlType = "text/xml; charset=GB2312";
constexpr const char* kHtmlType = "text/html; charset=utf-8";

bool Omitted(const std::vector<std::string>& omit, const std::string& element) {
  return std::find(omit.begin(), omit.end(), element) != omit.end();
}

// One child element with its text, in UTF-8; the whole document is converted to GBK at the end, where
// characters that GBK lacks turn into numeric references. Such a reference means nothing inside a
// CDATA section, so texts that need one (or that hold "]]>") are written escaped instead.
void AppendElement(std::string& xml, const std::string& element, const std::string& text, bool cdata) {
  xml += "<" + element + ">";
  if (cdata && text.find("]]>") == std::string::npos && FitsGbk(text) && !HasControlCharacters(text)) {
    xml += "<![CDATA[" + text + "]]>";
  } else {
    xml += EscapeXmlText(text);
  }
  xml += "</" + element + ">\n";
}

Reply XmlReply(const std::string& utf8) {
  return {200, kXmlType, Utf8ToGbk(kXmlHead + utf8)};
}

// A lead byte followed by a byte that can follow no lead byte: no GBK or GB18030 decoder can read it, and a
// lenient one that skips the lead keeps the blank.
constexpr char kBadGbk[] = "\x81\x20";

// The document as XmlReply gives it, with kBadGbk put in at byte `at` of the UTF-8 text (which must lie
// between two characters; the conversion goes character by character, so the rest is as it would be).
Reply XmlReplyWithBadBytes(const std::string& utf8, size_t at) {
  return {200, kXmlType, Utf8ToGbk(kXmlHead + utf8.substr(0, at)) + kBadGbk + Utf8ToGbk(utf8.substr(at))};
}

// Bytes in the UTF-8 character that starts with `lead`.
size_t Utf8Length(unsigned char lead) {
  return lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 4;
}

Reply NotFound() {
  return {404, "text/html; charset=utf-8", "<html><body><h1>404 Not Found</h1></body></html>\n"};
}

Reply NotXml() {
  return {200, "text/plain; charset=utf-8", "{\"code\":-10000,\"message\":\"系统繁忙，请稍后再试\"}\n"};
}

std::string Members(const std::string& host) {
  return "{\"p\":\"" + host + "\",\"s\":\"" + host + "\",\"nu\":\"" + host + "\"}";
}

std::string PageHead(const std::string& title) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + EscapeMarkup(title) +
         "</title></head>\n<body>\n";
}

}  // namespace

std::string ImageExtension(const std::string& image) {
  auto dot = image.rfind('.');
  std::string ext = dot == std::string::npos ? "" : image.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

std::string ImageContentType(const std::string& image) {
  std::string ext = ImageExtension(image);
  if (ext == "gif") return "image/gif";
  if (ext == "png") return "image/png";
  return "image/jpeg";
}

std::string CoverAddress(const std::string& host, const Account& account, size_t album) {
  const Album& a = account.albums[album];
  return "http://" + host + "/covers/" + account.qq + "/" + std::to_string(album) + "." +
         ImageExtension(a.cover);
}

std::string PhotoAddress(const std::string& host, const Account& account, size_t album, size_t photo) {
  const Photo& p = account.albums[album].photos[photo];
  return "http://" + host + "/photos/" + account.qq + "/" + std::to_string(album) + "/" +
         std::to_string(photo) + "." + ImageExtension(p.image);
}

std::string RedirectAddress(const std::string& host, const Account& account, size_t album, size_t photo) {
  return "http://" + host + "/redirect/" + account.qq + "/" + std::to_string(album) + "/" +
         std::to_string(photo);
}

std::string ListedPhotoAddress(const std::string& host, const Account& account, size_t album, size_t photo) {
  const Photo& p = account.albums[album].photos[photo];
  if (p.url) {
    std::string url = *p.url;
    for (size_t at = url.find("{host}"); at != std::string::npos; at = url.find("{host}", at + host.size()))
      url.replace(at, 6, host);
    return url;
  }
  if (p.serve == PhotoServe::kRedirect) return RedirectAddress(host, account, album, photo);
  return PhotoAddress(host, account, album, photo);
}

Reply RouteReply(const Account* account, const std::string& host) {
  const std::string route = account ? account->route : "wrapped";
  const std::string object = "{\"domain\":{\"default\":\"ctc\"},\"ctc\":" + Members(host) + "}";
  if (route == "404") return NotFound();
  if (route == "plain") return {200, "application/json", object};
  if (route == "notjson") return {200, "text/html", "<html><body>route service busy</body></html>"};
  std::string inner = object;
  if (route == "nohosts") inner = "{\"domain\":{\"default\":\"ctc\"},\"cnc\":" + Members(host) + "}";
  if (route == "numeric") inner = "{\"domain\":{\"default\":1},\"1\":" + Members(host) + "}";
  // A closing bracket inside a text value: a reader that cuts the text at the first ")" gets broken JSON.
  if (route == "bracket")
    inner = "{\"domain\":{\"default\":\"ctc\",\"note\":\"(ctc)\"},\"ctc\":" + Members(host) + "}";
  return {200, "application/x-javascript", "photoDomainNameCallback(" + inner + ")"};
}

Reply AlbumListReply(const Account* account, const std::string& qq, const std::string& host, bool signedIn) {
  const std::string list = account ? account->albumList : "noalbum";
  if (list == "404") return NotFound();
  if (list == "notxml") return NotXml();
  bool cdata = account && account->cdata;
  std::string xml = list == "nodata" ? "<result>\n" : "<data>\n";
  xml += "<uin>" + qq + "</uin>\n<code>0</code>\n";
  if (account && list != "noalbum") {
    for (size_t i = 0; i < account->albums.size(); ++i) {
      const Album& album = account->albums[i];
      if (!signedIn && NeedsSignIn(*account, album)) continue;
      xml += "<album>\n";
      const std::string total = album.total ? *album.total : std::to_string(album.photos.size());
      const std::string pre = album.cover.empty() ? "" : CoverAddress(host, *account, i);
      const std::pair<const char*, const std::string*> fields[] = {
          {"name", &album.name}, {"pre", &pre},         {"desc", &album.desc},
          {"total", &total},     {"priv", &album.priv}, {"id", &album.id},
      };
      for (const auto& [element, text] : fields) {
        if (!Omitted(album.omit, element)) AppendElement(xml, element, *text, cdata);
      }
      xml += "</album>\n";
    }
  }
  xml += list == "nodata" ? "</result>\n" : "</data>\n";
  return XmlReply(xml);
}

Reply PhotoListReply(const Account& account, size_t album, const std::string& host) {
  const Album& a = account.albums[album];
  if (a.photoList == "404") return NotFound();
  if (a.photoList == "notxml") return NotXml();
  const std::string root = a.photoList == "wrongroot" ? "data" : "album";
  std::string xml = "<" + root + ">\n";
  std::optional<size_t> badAt;  // where the undecodable bytes go (badgbk: in the first photo's name)
  AppendElement(xml, "name", a.name, account.cdata);
  AppendElement(xml, "total", std::to_string(a.photos.size()), account.cdata);
  if (a.photoList != "nopic") {
    for (size_t i = 0; i < a.photos.size(); ++i) {
      const Photo& photo = a.photos[i];
      const std::string url = ListedPhotoAddress(host, account, album, i);
      xml += "<pic>\n";
      const std::pair<const char*, const std::string*> fields[] = {
          {"name", &photo.name}, {"url", &url}, {"phototype", &photo.phototype}};
      for (const auto& [element, text] : fields) {
        if (Omitted(photo.omit, element)) continue;
        if (a.photoList == "badgbk" && !badAt && std::string(element) == "name") {
          // After the name's first character, so the bytes sit inside the text, not at its edge.
          size_t split =
              text->empty() ? 0 : std::min(text->size(), Utf8Length(static_cast<unsigned char>((*text)[0])));
          xml += "<name>" + EscapeXmlText(text->substr(0, split));
          badAt = xml.size();
          xml += EscapeXmlText(text->substr(split)) + "</name>\n";
          continue;
        }
        AppendElement(xml, element, *text, account.cdata);
      }
      xml += "</pic>\n";
    }
  }
  xml += "</" + root + ">\n";
  return badAt ? XmlReplyWithBadBytes(xml, *badAt) : XmlReply(xml);
}

Reply NotSignedInReply() {
  // What the album service says to a request without a valid session: a well-formed document, status
  // 200, that names no photo; a reader that looks only for "pic" sees an empty album.
  return XmlReply(
      "<album>\n<code>-3000</code>\n<message>对不起，您尚未登录或者登录超时。</message>\n</album>\n");
}

Reply ForbiddenReply() {
  return {403, "text/html; charset=utf-8", "<html><body><h1>403 Forbidden</h1></body></html>\n"};
}

VendorSettings LoadVendorSettings(const std::string& dataDir) {
  VendorSettings settings;
  std::ifstream in(std::filesystem::path(dataDir) / "vendor.ini");
  std::string line;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    auto trim = [](std::string s) {
      s.erase(0, s.find_first_not_of(" \t\r"));
      s.erase(s.find_last_not_of(" \t\r") + 1);
      return s;
    };
    std::string key = trim(line.substr(0, eq));
    std::string value = trim(line.substr(eq + 1));
    if (key == "subhost") settings.subhost = (value != "no");
    if (key == "demo" && IsQQText(value)) settings.demoQQ = value;
  }
  return settings;
}

Reply ClientPage(const VendorSettings& settings, const std::string& host, const std::string& clientRand,
                 bool fromClient) {
  std::string page = PageHead("Lorvanta 相册助手");
  page += "<h1>Lorvanta 相册助手</h1>\n";
  if (settings.subhost) {
    page += "<form action=\"#\"><input type=\"hidden\" id=\"subhost\" name=\"subhost\" value=\"http://" +
            EscapeMarkup(host) + "\"></form>\n";
  }
  page += "<p>客户端编号：" + EscapeMarkup(clientRand) + (fromClient ? "（在线窗口）" : "") + "</p>\n";
  // The link command rides in the fragment; the address itself is this page again, so following it
  // changes nothing but the fragment.
  page += "<p><a id=\"demo\" href=\"/client.php?clientver=2.1&amp;clientrand=" + EscapeMarkup(clientRand) +
          "&amp;comefrom=client#TAVRENGOTO:DOWNVELQUAN|" + settings.demoQQ + "\">预览 " + settings.demoQQ +
          " 的相册</a></p>\n";
  // Added after everything else, so that the rest of the page stays as it was.
  page += "<p><a id=\"signin\" href=\"/login.php?clientrand=" + EscapeMarkup(QueryEscape(clientRand)) +
          (fromClient ? "&amp;comefrom=client" : "") + "\">登录</a></p>\n";
  page += "</body></html>\n";
  return {200, kHtmlType, page};
}

std::string ClientPageTarget(const std::string& clientRand, bool fromClient) {
  return "/client.php?clientver=2.1&clientrand=" + QueryEscape(clientRand) +
         (fromClient ? "&comefrom=client" : "");
}

Reply SignInPage(const SignInOrigin& origin, const std::string& uin, bool failed) {
  std::string page = PageHead("登录 - Lorvanta 相册助手");
  page += "<h1>登录</h1>\n";
  if (failed) page += "<p id=\"error\">QQ号码或密码不正确。</p>\n";
  page += "<form id=\"login\" method=\"post\" action=\"/login.php\">\n";
  page += "<p><label>QQ号码 <input type=\"text\" id=\"uin\" name=\"uin\" value=\"" + EscapeMarkup(uin) +
          "\"></label></p>\n";
  page += "<p><label>密码 <input type=\"password\" id=\"password\" name=\"password\"></label></p>\n";
  if (origin.fromClientPage) {
    page += "<input type=\"hidden\" name=\"clientrand\" value=\"" + EscapeMarkup(origin.clientRand) + "\">\n";
    if (origin.fromClient) page += "<input type=\"hidden\" name=\"comefrom\" value=\"client\">\n";
  }
  page += "<p><input type=\"submit\" id=\"submit\" value=\"登录\"></p>\n</form>\n</body></html>\n";
  return {200, kHtmlType, page};
}

Reply SignedInPage(const std::string& qq) {
  return {200, kHtmlType,
          PageHead("已登录") + "<p id=\"signedin\">已登录：" + EscapeMarkup(qq) + "</p>\n</body></html>\n"};
}

Reply SignedOutPage() {
  return {200, kHtmlType, PageHead("已退出") + "<p id=\"signedout\">已退出登录。</p>\n</body></html>\n"};
}

Reply AccountPage(const Account* account, const std::string& client, const std::string& qq,
                  const std::string& host, bool signedIn) {
  std::string page = PageHead(qq + "的相册");
  page += "<h1>" + qq + "的相册</h1>\n<ul>\n";
  if (account) {
    for (size_t i = 0; i < account->albums.size(); ++i) {
      const Album& album = account->albums[i];
      if (!signedIn && NeedsSignIn(*account, album)) continue;
      page += "<li><a href=\"/" + client + "_" + qq + "/photo/" + EscapeMarkup(album.id) + "\">";
      if (!album.cover.empty()) page += "<img src=\"" + CoverAddress(host, *account, i) + "\" alt=\"\"> ";
      page += EscapeMarkup(album.name) + "</a> (" + std::to_string(album.photos.size()) + ")</li>\n";
    }
  }
  page += "</ul>\n</body></html>\n";
  return {200, kHtmlType, page};
}

Reply AlbumPage(const Account* account, const std::string& client, const std::string& qq,
                const std::string& albumId, const std::string& host, bool signedIn) {
  if (!account) return NotFound();
  for (size_t i = 0; i < account->albums.size(); ++i) {
    const Album& album = account->albums[i];
    if (album.id != albumId) continue;
    if (!signedIn && NeedsSignIn(*account, album)) return ForbiddenReply();
    std::string page = PageHead(album.name + " - " + qq + "的相册");
    page += "<h1>" + EscapeMarkup(album.name) + "</h1>\n<p><a href=\"/" + client + "_" + qq + "\">" + qq +
            "的相册</a></p>\n";
    for (size_t p = 0; p < album.photos.size(); ++p) {
      page += "<figure><img src=\"" + PhotoAddress(host, *account, i, p) + "\" alt=\"\"><figcaption>" +
              EscapeMarkup(album.photos[p].name) + "</figcaption></figure>\n";
    }
    page += "</body></html>\n";
    return {200, kHtmlType, page};
  }
  return NotFound();
}

}  // namespace albumd

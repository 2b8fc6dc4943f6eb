#include "core/currentservice.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "core/textutil.h"
#include "json/qzjson.h"
#include "text/utf8.h"

namespace {

// The parameters every call of the album site carries alike.
constexpr std::string_view kCommonQuery =
    "&appid=4&inCharset=utf-8&outCharset=utf-8&source=qzone&plat=qzone&format=jsonp"
    "&callbackFun=shine0&callback=shine0_Callback&notice=0";

// The length of the UTF-8 sequence that begins at text[i], or 0 when the bytes there are not one.
size_t Utf8Length(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b = byte(i);
  if (b < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// An address's base as given (a scheme, host and port), a bare host meaning https; empty for none.
std::string BaseAddress(std::string_view host) {
  std::string base(TrimBlanks(host));
  while (!base.empty() && base.back() == '/') base.pop_back();
  if (!base.empty() && base.find("://") == std::string::npos) base = "https://" + base;
  return base;
}

bool IsWordByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

const TqzJSONobject* AsObject(const TqzJSONbase* node) {
  return dynamic_cast<const TqzJSONobject*>(node);
}

const TqzJSONbase* Field(const TqzJSONobject* object, std::u16string_view name) {
  return object == nullptr ? nullptr : object->FieldByName(name);
}

// A member's text: a string as it is, a whole number in decimal; empty for anything else.
std::string Text(const TqzJSONobject* object, std::u16string_view name) {
  const TqzJSONbase* node = Field(object, name);
  if (node == nullptr) return {};
  if (const auto* s = dynamic_cast<const TqzJSONstring*>(node)) return TrimBlanks(WideToUtf8(s->Value()));
  if (const auto* n = dynamic_cast<const TqzJSONnumber*>(node)) {
    const long double v = n->Value();
    if (std::isfinite(static_cast<double>(v)) && v == std::floor(v) && std::fabs(v) < 1e18L)
      return std::to_string(static_cast<long long>(v));
  }
  return {};
}

long long Number(const TqzJSONobject* object, std::u16string_view name, long long fallback = 0) {
  const std::optional<int> count = ParseCount(Text(object, name));
  if (count) return *count;
  const std::string text = Text(object, name);
  if (!text.empty() && text[0] == '-') {
    if (const std::optional<int> n = ParseCount(std::string_view(text).substr(1))) return -*n;
  }
  return fallback;
}

// true, 1 and "1" (all three are seen for the same field).
bool Flag(const TqzJSONobject* object, std::u16string_view name) {
  const TqzJSONbase* node = Field(object, name);
  if (const auto* b = dynamic_cast<const TqzJSONboolean*>(node)) return b->Value();
  return Text(object, name) == "1";
}

// "YYYY-MM-DD HH:MM:SS" in China Standard Time (UTC+8), the service's own; 0 for anything else.
std::time_t ServiceTime(std::string_view text) {
  int y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(std::string(text).c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
      6)
    return 0;
  if (y < 1990 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return 0;
  // Days from 1970-01-01 to the date (proleptic Gregorian), so no time zone of this machine plays a part.
  const int yy = y - (mo <= 2 ? 1 : 0);
  const int era = yy / 400;
  const int yoe = yy - era * 400;
  const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days = static_cast<long long>(era) * 146097 + doe - 719468;
  return static_cast<std::time_t>(days * 86400 + h * 3600 + mi * 60 + s - 8 * 3600);
}

// The reply's JSON, read after repair; its top-level status; its data object.
struct Reply {
  std::unique_ptr<TqzJSONbase> root;
  const TqzJSONobject* data = nullptr;
  ServiceStatus status;
  bool readable = false;
};

Reply ReadReply(std::string_view text) {
  Reply reply;
  reply.root = TqzJSON::ParseValue(RepairJson(JsonpPayload(text)));
  const TqzJSONobject* top = AsObject(reply.root.get());
  if (top == nullptr || Field(top, u"code") == nullptr) return reply;
  reply.readable = true;
  reply.status.code = static_cast<int>(Number(top, u"code", -1));
  reply.status.subcode = static_cast<int>(Number(top, u"subcode"));
  reply.status.message = Text(top, u"message");
  reply.data = AsObject(Field(top, u"data"));
  return reply;
}

}  // namespace

SiteHosts MakeSiteHosts(std::string_view host) {
  SiteHosts hosts;
  const std::string base = BaseAddress(host);
  if (!base.empty()) hosts.listBase = hosts.photoBase = base;
  return hosts;
}

std::uint32_t ServiceHash(std::string_view text, std::uint32_t seed) {
  std::uint32_t h = seed;
  for (const char c : text) h = h * 33u + static_cast<unsigned char>(c);
  return h & 0x7FFFFFFFu;
}

std::string RequestToken(std::string_view signInKey) {
  return std::to_string(ServiceHash(signInKey, 5381));
}

std::string QQFromUinCookie(std::string_view cookie) {
  const std::string trimmed = TrimBlanks(cookie);
  std::string_view value = trimmed;
  if (!value.empty() && (value[0] == 'o' || value[0] == 'O')) value.remove_prefix(1);
  while (value.size() > 1 && value[0] == '0') value.remove_prefix(1);
  if (value.empty() || value == "0" || value.find_first_not_of("0123456789") != std::string_view::npos)
    return {};
  return std::string(value);
}

std::string CurrentAlbumListAddress(const SiteHosts& hosts, std::string_view token, std::string_view hostUin,
                                    std::string_view uin, int pageStart, int pageNum,
                                    std::string_view nonce) {
  return hosts.listBase +
         "/proxy/domain/photo.qzone.qq.com/fcgi-bin/fcg_list_album_v3?g_tk=" + std::string(token) +
         "&hostUin=" + PercentEncode(hostUin) + "&uin=" + PercentEncode(uin) + std::string(kCommonQuery) +
         "&filter=1&handset=4&needUserInfo=1&idcNum=4&mode=2&sortOrder=1&pageStart=" +
         std::to_string(pageStart) + "&pageNum=" + std::to_string(pageNum) + "&t=" + PercentEncode(nonce);
}

std::string CurrentPhotoListAddress(const SiteHosts& hosts, std::string_view token, std::string_view hostUin,
                                    std::string_view uin, std::string_view albumId, int pageStart,
                                    int pageNum, std::string_view nonce) {
  return hosts.photoBase +
         "/proxy/domain/photo.qzone.qq.com/fcgi-bin/cgi_list_photo?g_tk=" + std::string(token) +
         "&hostUin=" + PercentEncode(hostUin) + "&uin=" + PercentEncode(uin) +
         "&topicId=" + PercentEncode(albumId) + "&pageStart=" + std::to_string(pageStart) +
         "&pageNum=" + std::to_string(pageNum) +
         "&mode=0&idcNum=4&noTopic=0&skipCmtCount=0&singleurl=1&batchId=&outstyle=json&json_esc=1"
         "&question=&answer=" +
         std::string(kCommonQuery) + "&t=" + PercentEncode(nonce);
}

namespace {

// Where the sign-in returns to: the album site, signed in.
constexpr std::string_view kSignInReturn = "https://qzs.qq.com/qzone/v5/loginsucc.html?para=izone";
// The album site's application at QQ's sign-in.
constexpr std::string_view kSignInApp = "appid=549000912&daid=5";

// The quoted arguments of a call "name('a','b', 'c')"; nothing when the text is not such a call.
std::optional<std::vector<std::string>> QuotedArguments(std::string_view text, std::string_view name) {
  size_t at = text.find(name);
  if (at == std::string_view::npos) return std::nullopt;
  at += name.size();
  while (at < text.size() && text[at] == ' ') ++at;
  if (at >= text.size() || text[at] != '(') return std::nullopt;
  ++at;
  std::vector<std::string> arguments;
  for (;;) {
    while (at < text.size() && (text[at] == ' ' || text[at] == ',')) ++at;
    if (at >= text.size()) return std::nullopt;
    if (text[at] == ')') return arguments;
    if (text[at] != '\'' && text[at] != '"') return std::nullopt;
    const char quote = text[at++];
    std::string value;
    while (at < text.size() && text[at] != quote) {
      if (text[at] == '\\' && at + 1 < text.size()) ++at;
      value += text[at++];
    }
    if (at >= text.size()) return std::nullopt;
    ++at;
    arguments.push_back(std::move(value));
  }
}

}  // namespace

SignInHosts MakeSignInHosts(std::string_view host) {
  SignInHosts hosts;
  const std::string base = BaseAddress(host);
  if (!base.empty()) hosts.pageBase = hosts.qrBase = base;
  return hosts;
}

std::string SignInPageAddress(const SignInHosts& hosts) {
  return hosts.pageBase + "/cgi-bin/xlogin?" + std::string(kSignInApp) +
         "&s_url=" + PercentEncode(kSignInReturn);
}

std::string QrCodeAddress(const SignInHosts& hosts, std::string_view nonce) {
  return hosts.qrBase + "/ptqrshow?appid=549000912&e=2&l=M&s=3&d=72&v=4&t=" + PercentEncode(nonce) +
         "&daid=5&pt_3rd_aid=0";
}

std::string QrPollAddress(const SignInHosts& hosts, std::string_view qrsig, long long nowMs) {
  return hosts.qrBase + "/ptqrlogin?u1=" + PercentEncode(kSignInReturn) +
         "&ptqrtoken=" + std::to_string(ServiceHash(qrsig, 0)) +
         "&ptredirect=0&h=1&t=1&g=1&from_ui=1&ptlang=2052&action=0-0-" + std::to_string(nowMs) +
         "&js_type=1&login_sig=&pt_uistyle=40&aid=549000912&daid=5";
}

std::optional<QrPoll> ReadQrPoll(std::string_view reply) {
  // ptuiCB('code', '0', 'address', '0', 'message', 'nickname')
  const auto arguments = QuotedArguments(reply, "ptuiCB");
  if (!arguments || arguments->empty() || (*arguments)[0].empty() ||
      (*arguments)[0].find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const auto argument = [&](size_t i) { return i < arguments->size() ? (*arguments)[i] : std::string(); };
  QrPoll poll;
  poll.code = argument(0);
  poll.address = argument(2);
  poll.message = argument(4);
  poll.nickname = argument(5);
  if (poll.code == "66") poll.state = QrPoll::State::kWaiting;
  if (poll.code == "67") poll.state = QrPoll::State::kScanned;
  if (poll.code == "65") poll.state = QrPoll::State::kExpired;
  if (poll.code == "68") poll.state = QrPoll::State::kRefused;
  if (poll.code == "0" && !poll.address.empty()) poll.state = QrPoll::State::kSignedIn;
  return poll;
}

std::string_view JsonpPayload(std::string_view reply) {
  const size_t open = reply.find('(');
  const size_t close = reply.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close <= open) return reply;
  return reply.substr(open + 1, close - open - 1);
}

std::string RepairJson(std::string_view json) {
  std::string out;
  out.reserve(json.size());
  bool inString = false;
  for (size_t i = 0; i < json.size();) {
    const char c = json[i];
    const size_t length = Utf8Length(json, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD for a byte that begins no character
      ++i;
      continue;
    }
    if (length > 1) {
      out.append(json, i, length);
      i += length;
      continue;
    }
    if (inString) {
      if (c == '\\' && i + 1 < json.size() && static_cast<unsigned char>(json[i + 1]) >= 0x20 &&
          static_cast<unsigned char>(json[i + 1]) < 0x80) {
        out.append(json, i, 2);  // an escape: the character after the backslash never ends the string
        i += 2;
        continue;
      }
      if (c == '"') inString = false;
      if (static_cast<unsigned char>(c) < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
        out += escaped;
      } else {
        out += c;
      }
      ++i;
      continue;
    }
    if (c == '"') inString = true;
    if (c == 'u' && json.substr(i, 9) == "undefined" && (i == 0 || !IsWordByte(json[i - 1])) &&
        (i + 9 == json.size() || !IsWordByte(json[i + 9]))) {
      out += "null";
      i += 9;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

CurrentAlbumPage ReadCurrentAlbumPage(std::string_view text) {
  CurrentAlbumPage page;
  const Reply reply = ReadReply(text);
  page.status = reply.status;
  page.readable = reply.readable;
  if (!reply.readable || !page.status.ok()) return page;
  page.albumsInUser = static_cast<int>(Number(reply.data, u"albumsInUser"));
  const TqzJSONbase* list = Field(reply.data, u"albumList");
  for (int i = 0; list != nullptr && i < list->ItemCount(); ++i) {
    const TqzJSONobject* a = AsObject(list->ItemAt(i));
    if (a == nullptr) continue;
    CurrentAlbum album;
    album.fields.id = Text(a, u"id");
    if (album.fields.id.empty()) continue;
    album.fields.priv = Text(a, u"priv");
    album.fields.name = Text(a, u"name");
    album.fields.total = Text(a, u"total");
    album.fields.desc = Text(a, u"desc");
    album.cover = Text(a, u"pre");
    album.allowAccess = Field(a, u"allowAccess") == nullptr || Number(a, u"allowAccess", 1) != 0;
    page.albums.push_back(std::move(album));
  }
  return page;
}

CurrentPhotoPage ReadCurrentPhotoPage(std::string_view text) {
  CurrentPhotoPage page;
  const Reply reply = ReadReply(text);
  page.status = reply.status;
  page.readable = reply.readable;
  if (!reply.readable || !page.status.ok()) return page;
  page.totalInAlbum = static_cast<int>(Number(reply.data, u"totalInAlbum"));
  const TqzJSONbase* list = Field(reply.data, u"photoList");
  for (int i = 0; list != nullptr && i < list->ItemCount(); ++i) {
    const TqzJSONobject* p = AsObject(list->ItemAt(i));
    CurrentPhoto photo;
    if (p != nullptr) {
      photo.name = Text(p, u"name");
      photo.desc = Text(p, u"desc");
      photo.phototype = Text(p, u"phototype");
      if (Flag(p, u"is_video")) {
        const TqzJSONobject* video = AsObject(Field(p, u"video_info"));
        photo.url = Text(video, u"download_url");
        if (photo.url.empty()) photo.url = Text(video, u"video_url");
        photo.video = true;
      } else {
        if (Flag(p, u"raw_upload")) photo.url = Text(p, u"raw");
        if (photo.url.empty()) photo.url = Text(p, u"origin_url");
        if (photo.url.empty()) photo.url = Text(p, u"origin");
        if (photo.url.empty()) photo.url = Text(p, u"url");
      }
      photo.taken = ServiceTime(Text(p, u"rawshoottime"));
      if (photo.taken == 0) photo.taken = ServiceTime(Text(p, u"uploadtime"));
    }
    if (photo.url.empty()) {
      ++page.unreadable;
      continue;
    }
    page.photos.push_back(std::move(photo));
  }
  return page;
}

namespace {

// The host name of a base address ("https://user.qzone.qq.com:443" gives "user.qzone.qq.com").
std::string HostName(const std::string& base) {
  const size_t scheme = base.find("://");
  std::string host = base.substr(scheme == std::string::npos ? 0 : scheme + 3);
  host = host.substr(0, host.find('/'));
  if (host.rfind('[', 0) != 0) host = host.substr(0, host.find(':'));
  return host;
}

// A cookie of `domain` goes to `host`: the same host, or a subdomain of a domain cookie.
bool CookieReaches(std::string_view domain, const std::string& host) {
  if (!domain.empty() && domain[0] == '.') domain.remove_prefix(1);
  return !domain.empty() &&
         (host == domain || (host.size() > domain.size() && host.ends_with("." + std::string(domain))));
}

}  // namespace

std::optional<SiteSession> SiteSignIn(const std::vector<Cookie>& cookies, const SiteHosts& hosts) {
  const std::string host = HostName(hosts.listBase);
  std::string pskey, skey, uin, puin;
  for (const Cookie& c : cookies) {
    if (!CookieReaches(c.domain, host)) continue;
    if (c.name == "p_skey") pskey = c.value;
    if (c.name == "skey") skey = c.value;
    if (c.name == "uin") uin = QQFromUinCookie(c.value);
    if (c.name == "p_uin") puin = QQFromUinCookie(c.value);
  }
  const std::string& key = !pskey.empty() ? pskey : skey;
  SiteSession site;
  site.hosts = hosts;
  site.uin = !uin.empty() ? uin : puin;
  if (key.empty() || site.uin.empty()) return std::nullopt;
  site.token = RequestToken(key);
  return site;
}

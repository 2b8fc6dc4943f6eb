#include "tools/albumd/current.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "tools/albumd/account.h"

namespace albumd {
namespace {

constexpr const char* kAlbumListPath = "/proxy/domain/photo.qzone.qq.com/fcgi-bin/fcg_list_album_v3";
constexpr const char* kPhotoListPath = "/proxy/domain/photo.qzone.qq.com/fcgi-bin/cgi_list_photo";
constexpr const char* kJsType = "application/javascript; charset=utf-8";

// The service hands out no more than this per reply, whatever pageNum asks for.
constexpr size_t kAlbumsPerReply = 30;
constexpr size_t kPhotosPerReply = 500;
// The photo key changes with every hundred photos a client pages through.
constexpr size_t kPhotosPerKey = 100;
constexpr const char* kPhotoKeyCookie = "qq_photo_key";
// The video host serves only requests that come from the album site.
constexpr const char* kVideoReferer = "https://user.qzone.qq.com/";

constexpr const char* kNotSignedIn = "对不起，您尚未登录或者登录超时";
constexpr const char* kBusy = "使用人数过多，请稍后再试";
constexpr const char* kNoPermission = "对不起，您没有权限访问该相册";
constexpr const char* kWrongAnswer = "对不起，密码或答案错误";

// Album number i was created a week after album i - 1, the first on 2020-01-01 (UTC); its photos were
// uploaded a minute apart, starting ten minutes after it was created.
constexpr std::time_t kFirstAlbumCreated = 1577836800;
std::time_t CreateTime(size_t album) {
  return kFirstAlbumCreated + static_cast<std::time_t>(album) * 7 * 86400;
}
std::time_t UploadTime(size_t album, size_t photo) {
  return CreateTime(album) + 600 + static_cast<std::time_t>(photo) * 60;
}

// "YYYY-MM-DD HH:MM:SS" in China's time (UTC+8), as the service writes its times.
std::string ChinaTime(std::time_t when) {
  when += 8 * 3600;
  std::tm tm{};
  gmtime_r(&when, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string EscapeJson(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string JsonText(const std::string& text) {
  return "\"" + EscapeJson(text) + "\"";
}

// The name with a raw line feed after its first character: what the service sometimes sends for a name
// typed with a line break, and what no strict JSON reader accepts.
std::string JsonTextWithRawLineFeed(const std::string& text) {
  size_t first = 0;
  if (!text.empty()) {
    const auto lead = static_cast<unsigned char>(text[0]);
    first = std::min(text.size(), size_t{lead < 0x80 ? 1u : lead >= 0xF0 ? 4u : lead >= 0xE0 ? 3u : 2u});
  }
  return "\"" + EscapeJson(text.substr(0, first)) + "\n" + EscapeJson(text.substr(first)) + "\"";
}

// A number as the service writes it: "o" and leading zeros dropped ("o0010080" is 10080); "" when the
// text is no number.
std::string UinNumber(const std::string& text) {
  size_t at = !text.empty() && (text[0] == 'o' || text[0] == 'O') ? 1 : 0;
  while (at < text.size() && text[at] == '0') ++at;
  std::string number = text.substr(at);
  return IsQQText(number) ? number : "";
}

std::vector<std::pair<std::string, std::string>> CookiesOf(const httplib::Request& req) {
  std::vector<std::string> headers;
  auto range = req.headers.equal_range("Cookie");
  for (auto it = range.first; it != range.second; ++it) headers.push_back(it->second);
  return ParseCookies(headers);
}

bool ParseCount(const std::string& text, size_t& out) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = std::stoul(text);
  return true;
}

size_t PageParam(const httplib::Request& req, const char* name, size_t fallback) {
  size_t value = fallback;
  ParseCount(req.get_param_value(name), value);
  return value;
}

// The reply goes to the page's callback: "shine0_Callback(...);" for callbackFun=shine0. Only name
// characters are kept, so the reply stays a single call whatever the parameter holds.
Reply Wrapped(const httplib::Request& req, const std::string& json) {
  std::string name;
  for (char c : req.get_param_value("callbackFun")) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$') name += c;
  }
  return {200, kJsType, name + "_Callback(" + json + ");"};
}

Reply Failure(const httplib::Request& req, int code, int subcode, const char* message) {
  return Wrapped(req, "{\"code\":" + std::to_string(code) + ",\"subcode\":" + std::to_string(subcode) +
                          ",\"message\":" + JsonText(message) + ",\"data\":{}}");
}

Reply NotSignedIn(const httplib::Request& req) {
  return Failure(req, -3000, -4001, kNotSignedIn);
}

Reply Success(const httplib::Request& req, const std::string& data) {
  return Wrapped(req, "{\"code\":0,\"subcode\":0,\"message\":\"\",\"data\":" + data + "}");
}

// The album's total as the lists give it: its "total" when that is a number, else its photo count.
size_t ListedTotal(const Album& album) {
  size_t total = album.photos.size();
  if (album.total) ParseCount(*album.total, total);
  return total;
}

// The signed-in user may open the album: the account has not closed it to them, and a private album is
// opened only by its owner.
bool Openable(const Account& account, const Album& album, bool owner) {
  return album.allowAccess && (owner || !NeedsSignIn(account, album));
}

bool ReadFile(const std::filesystem::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream bytes;
  bytes << in.rdbuf();
  out = bytes.str();
  return true;
}

struct ImageInfo {
  int type = 1;  // 1 JPEG, 2 GIF, 3 PNG, 4 BMP
  unsigned width = 0;
  unsigned height = 0;
};

unsigned Big16(const std::string& b, size_t at) {
  return static_cast<unsigned>(static_cast<unsigned char>(b[at])) << 8 |
         static_cast<unsigned char>(b[at + 1]);
}
unsigned Little16(const std::string& b, size_t at) {
  return static_cast<unsigned>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<unsigned char>(b[at]);
}

// The type and size of an image, read from its bytes (not its name).
ImageInfo ReadImageInfo(const std::string& b) {
  ImageInfo info;
  if (b.size() >= 24 && b.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) {
    info.type = 3;
    info.width = Big16(b, 18);  // the IHDR's 32-bit sizes; no test image needs the upper half
    info.height = Big16(b, 22);
  } else if (b.size() >= 10 && b.compare(0, 4, "GIF8") == 0) {
    info.type = 2;
    info.width = Little16(b, 6);
    info.height = Little16(b, 8);
  } else if (b.size() >= 26 && b.compare(0, 2, "BM") == 0) {
    info.type = 4;
    info.width = Little16(b, 18);
    info.height = Little16(b, 22);
  } else {
    // JPEG: the first start-of-frame segment holds the size.
    size_t at = 2;
    while (at + 9 <= b.size() && static_cast<unsigned char>(b[at]) == 0xFF) {
      const auto marker = static_cast<unsigned char>(b[at + 1]);
      if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
        info.height = Big16(b, at + 5);
        info.width = Big16(b, at + 7);
        break;
      }
      at += 2 + Big16(b, at + 2);
    }
  }
  return info;
}

// The photo an "/originals/QQ/A/P.ext" or "/videos/QQ/A/P.mp4" address names.
struct PhotoRef {
  std::shared_ptr<const Account> account;
  size_t album = 0;
  size_t photo = 0;
  const Photo& Entry() const { return account->albums[album].photos[photo]; }
};

std::optional<PhotoRef> FindPhoto(const std::string& dataDir, const std::vector<std::string>& parts) {
  PhotoRef ref;
  if (parts.size() != 4 || !IsQQText(parts[1]) || !ParseCount(parts[2], ref.album) ||
      !ParseCount(parts[3].substr(0, parts[3].find('.')), ref.photo))
    return std::nullopt;
  ref.account = LoadAccount(dataDir, parts[1]);
  if (!ref.account || ref.album >= ref.account->albums.size() ||
      ref.photo >= ref.account->albums[ref.album].photos.size())
    return std::nullopt;
  return ref;
}

Reply NotFound() {
  return {404, "text/plain", "not found\n"};
}

// GIF's LZW: codes of growing width, least significant bit first, in sub-blocks of up to 255 bytes.
std::string LzwBlocks(const std::vector<unsigned char>& pixels, int minCodeSize) {
  const int clear = 1 << minCodeSize;
  std::map<std::pair<int, unsigned char>, int> table;
  int maxCode = clear + 1;
  int width = minCodeSize + 1;
  std::string data;
  uint32_t bits = 0;
  int pending = 0;
  auto emit = [&](int code) {
    bits |= static_cast<uint32_t>(code) << pending;
    for (pending += width; pending >= 8; pending -= 8, bits >>= 8) data += static_cast<char>(bits & 0xFF);
  };
  // A decoder adds a table entry for every code after the first, one code behind the encoder; the width
  // grows when the table reaches the next power of two, for both at the same code.
  auto grow = [&] {
    if (++maxCode >= (1 << width) && width < 12) ++width;
  };
  emit(clear);
  int prefix = pixels[0];
  for (size_t i = 1; i < pixels.size(); ++i) {
    auto it = table.find({prefix, pixels[i]});
    if (it != table.end()) {
      prefix = it->second;
      continue;
    }
    emit(prefix);
    table[{prefix, pixels[i]}] = maxCode + 1;
    grow();
    if (maxCode == 4095) {
      emit(clear);
      table.clear();
      maxCode = clear + 1;
      width = minCodeSize + 1;
    }
    prefix = pixels[i];
  }
  emit(prefix);
  grow();
  emit(clear + 1);
  if (pending > 0) data += static_cast<char>(bits & 0xFF);

  std::string blocks;
  for (size_t at = 0; at < data.size(); at += 255) {
    const std::string block = data.substr(at, 255);
    blocks += static_cast<char>(block.size());
    blocks += block;
  }
  return blocks + '\0';
}

std::string BuildPlaceholderGif() {
  constexpr int kSide = 96;
  // A padlock with a keyhole inside a frame, in three greys.
  std::vector<unsigned char> pixels(kSide * kSide, 0);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const int sx = x - 48, sy = y - 42;
      const int kx = x - 48, ky = y - 58;
      unsigned char c = 0;
      if (x < 3 || y < 3 || x >= kSide - 3 || y >= kSide - 3) {
        c = 1;
      } else if (y < 46 && sx * sx + sy * sy >= 13 * 13 && sx * sx + sy * sy <= 19 * 19) {
        c = 1;
      } else if (x >= 26 && x < 70 && y >= 46 && y < 82) {
        c = (kx * kx + ky * ky <= 25 || (kx >= -2 && kx <= 2 && ky >= 0 && ky < 14)) ? 2 : 1;
      }
      pixels[static_cast<size_t>(y * kSide + x)] = c;
    }
  }
  std::string gif = "GIF89a";
  gif += std::string("\x60\0\x60\0", 4);  // 96 x 96
  gif += std::string("\xF1\0\0", 3);      // a global table of 4 colours, background 0
  gif += "\xD8\xD8\xD8\x6E\x6E\x6E\xF4\xF4\xF4";
  gif += std::string("\0\0\0", 3);
  const std::string comment = "加密照片";  // what the service's placeholder reads
  gif += "\x21\xFE" + std::string(1, static_cast<char>(comment.size())) + comment + '\0';
  gif += std::string("\x2C\0\0\0\0\x60\0\x60\0\0", 10);  // one image, the whole screen
  gif += '\x02';                                         // LZW minimum code size
  gif += LzwBlocks(pixels, 2);
  gif += '\x3B';
  return gif;
}

// An "ftyp" box and an empty media data box: enough for a client to see that an MP4 came.
const std::string& VideoBytes() {
  static const std::string bytes = std::string(
                                       "\0\0\0\x18"
                                       "ftyp"
                                       "isom"
                                       "\0\0\x02\0"
                                       "isom"
                                       "mp41",
                                       24) +
                                   std::string(
                                       "\0\0\0\x08"
                                       "mdat",
                                       8);
  return bytes;
}

}  // namespace

CurrentCalls::CurrentCalls(std::string dataDir, Sessions& sessions)
    : dataDir_(std::move(dataDir)), sessions_(sessions) {}

bool CurrentCalls::Serves(const std::string& path, const std::vector<std::string>& parts) {
  return path == kAlbumListPath || path == kPhotoListPath ||
         (!parts.empty() && (parts[0] == "originals" || parts[0] == "videos"));
}

CurrentReply CurrentCalls::Answer(const httplib::Request& req, const std::string& path,
                                  const std::vector<std::string>& parts, const std::string& host) {
  CurrentReply out;
  if (path == kAlbumListPath) {
    out.reply = AlbumList(req, host);
  } else if (path == kPhotoListPath) {
    out.reply = PhotoList(req, host, out.setCookies);
  } else if (parts[0] == "originals") {
    out.reply = Original(req, parts);
  } else {
    out.reply = Video(req, parts);
  }
  return out;
}

std::string CurrentCalls::SignedInUser(const httplib::Request& req) {
  const std::string qq = UinNumber(req.get_param_value("uin"));
  if (qq.empty()) return "";
  const auto cookies = CookiesOf(req);
  const bool uinCookie = std::any_of(cookies.begin(), cookies.end(), [&](const auto& cookie) {
    return cookie.first == kUinCookie && UinNumber(cookie.second) == qq;
  });
  if (!uinCookie) return "";
  const std::string token = req.get_param_value("g_tk");
  for (const auto& [name, value] : cookies) {
    if (name == kSessionCookie && std::to_string(RequestToken(value)) == token && sessions_.Accept(value, qq))
      return qq;
  }
  return "";
}

bool CurrentCalls::HasSession(const httplib::Request& req, const std::string& qq) {
  for (const auto& [name, value] : CookiesOf(req)) {
    if (name == kSessionCookie && sessions_.Accept(value, qq)) return true;
  }
  return false;
}

int CurrentCalls::CountCall(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  return ++calls_[key];
}

Reply CurrentCalls::AlbumList(const httplib::Request& req, const std::string& host) {
  const std::string user = SignedInUser(req);
  if (user.empty()) return NotSignedIn(req);
  const std::string owner = req.has_param("hostUin") ? UinNumber(req.get_param_value("hostUin")) : user;
  if (owner.empty()) return {400, "text/plain", "hostUin must be a QQ number\n"};
  auto account = LoadAccount(dataDir_, owner);
  if (account && (account->busyReplies > 0 || account->notSignedInReplies > 0)) {
    const int call = CountCall("albumlist/" + owner);
    if (call <= account->busyReplies) return Failure(req, -10000, 0, kBusy);
    if (call <= account->busyReplies + account->notSignedInReplies) return NotSignedIn(req);
  }

  const size_t all = account ? account->albums.size() : 0;
  const size_t start = std::min(PageParam(req, "pageStart", 0), all);
  const size_t count = std::min({PageParam(req, "pageNum", kAlbumsPerReply), kAlbumsPerReply, all - start});
  std::string list;
  for (size_t i = start; i < start + count; ++i) {
    const Album& album = account->albums[i];
    const std::time_t created = CreateTime(i);
    const std::time_t lastUpload = album.photos.empty() ? created : UploadTime(i, album.photos.size() - 1);
    size_t priv = 1;
    ParseCount(album.priv, priv);
    if (!list.empty()) list += ",";
    list += "{\"id\":" + JsonText(album.id) + ",\"name\":" + JsonText(album.name) +
            ",\"desc\":" + JsonText(album.desc) + ",\"total\":" + std::to_string(ListedTotal(album)) +
            ",\"priv\":" + std::to_string(priv) +
            ",\"allowAccess\":" + (Openable(*account, album, owner == user) ? "1" : "0") +
            ",\"pre\":" + JsonText(album.cover.empty() ? "" : CoverAddress(host, *account, i)) +
            ",\"createtime\":" + std::to_string(created) + ",\"modifytime\":" + std::to_string(lastUpload) +
            ",\"lastuploadtime\":" + std::to_string(lastUpload) + "}";
  }
  return Success(req, "{\"albumList\":" + (count > 0 ? "[" + list + "]" : std::string("null")) +
                          ",\"albumsInUser\":" + std::to_string(all) +
                          ",\"nextPageStart\":" + std::to_string(start + count) + "}");
}

Reply CurrentCalls::PhotoList(const httplib::Request& req, const std::string& host,
                              std::vector<std::string>& setCookies) {
  const std::string user = SignedInUser(req);
  if (user.empty()) return NotSignedIn(req);
  const std::string owner = req.has_param("hostUin") ? UinNumber(req.get_param_value("hostUin")) : user;
  if (owner.empty()) return {400, "text/plain", "hostUin must be a QQ number\n"};
  auto account = LoadAccount(dataDir_, owner);
  const std::string id = req.get_param_value("topicId");
  size_t index = 0;
  while (account && index < account->albums.size() && account->albums[index].id != id) ++index;
  if (!account || index == account->albums.size()) return Failure(req, -4009, 0, kNoPermission);
  const Album& album = account->albums[index];
  const int code = album.listCode.value_or(Openable(*account, album, owner == user) ? 0 : -4009);
  if (code == -4009) return Failure(req, -4009, 0, kNoPermission);
  if (code == -10805) return Failure(req, -10805, 0, kWrongAnswer);

  const size_t all = album.photos.size();
  const size_t start = std::min(PageParam(req, "pageStart", 0), all);
  const size_t count = std::min({PageParam(req, "pageNum", kPhotosPerReply), kPhotosPerReply, all - start});
  std::map<std::string, ImageInfo> infos;  // per image file: a generated album names only three
  std::string list;
  for (size_t p = start; p < start + count; ++p) {
    const Photo& photo = album.photos[p];
    auto info = infos.find(photo.image);
    if (info == infos.end()) {
      std::string bytes;
      ReadFile(std::filesystem::path(dataDir_) / "images" / photo.image, bytes);
      info = infos.emplace(photo.image, ReadImageInfo(bytes)).first;
    }
    const std::string url = ListedPhotoAddress(host, *account, index, p);
    const std::string where = owner + "/" + std::to_string(index) + "/" + std::to_string(p);
    const std::string raw = photo.original.empty() ? ""
                                                   : "http://" + host + "/originals/" + where + "." +
                                                         ImageExtension(photo.original);
    const std::string key = "L" + owner + "A" + std::to_string(index) + "P" + std::to_string(p);
    const std::time_t uploaded = UploadTime(index, p);
    // Every third photo has no shoot time, as photos without camera data have.
    const std::string shot = p % 3 == 2 ? "" : ChinaTime(uploaded - 86400);
    const bool malformed = index == 0;
    if (!list.empty()) list += ",";
    list += "{\"name\":" +
            (malformed && account->malformedControl && p == 0 ? JsonTextWithRawLineFeed(photo.name)
                                                              : JsonText(photo.name)) +
            ",\"desc\":" +
            (malformed && account->malformedUndefined && p == 1 ? "undefined" : JsonText(photo.desc)) +
            ",\"url\":" + JsonText(url) + ",\"raw\":" + JsonText(raw) +
            ",\"raw_upload\":" + (raw.empty() ? "0" : "1") + ",\"origin_url\":\"\"" +
            ",\"pre\":" + JsonText(album.cover.empty() ? url : CoverAddress(host, *account, index)) +
            ",\"lloc\":" + JsonText(key) + ",\"sloc\":" + JsonText(key) +
            ",\"uploadtime\":" + JsonText(ChinaTime(uploaded)) + ",\"rawshoottime\":" + JsonText(shot) +
            ",\"width\":" + std::to_string(info->second.width) +
            ",\"height\":" + std::to_string(info->second.height) +
            ",\"phototype\":" + std::to_string(info->second.type) +
            ",\"is_video\":" + (photo.video ? "true" : "false") + ",\"video_info\":" +
            (photo.video ? "{\"download_url\":" + JsonText("http://" + host + "/videos/" + where + ".mp4") +
                               ",\"video_url\":\"\"}"
                         : std::string("{}")) +
            "}";
  }
  if (account->friendsOnly)
    setCookies.push_back(std::string(kPhotoKeyCookie) + "=" + HandOutPhotoKey(*account, start) + "; Path=/");
  return Success(req, "{\"photoList\":" + (count > 0 ? "[" + list + "]" : std::string("null")) +
                          ",\"totalInAlbum\":" + std::to_string(ListedTotal(album)) +
                          ",\"totalInPage\":" + std::to_string(count) + "}");
}

Reply CurrentCalls::Original(const httplib::Request& req, const std::vector<std::string>& parts) {
  auto ref = FindPhoto(dataDir_, parts);
  if (!ref || ref->Entry().original.empty()) return NotFound();
  if (NeedsSignIn(*ref->account, ref->account->albums[ref->album]) && !HasSession(req, parts[1]))
    return ForbiddenReply();
  if (LacksPhotoKey(req, *ref->account)) return PhotoKeyPlaceholder();
  std::string bytes;
  if (!ReadFile(std::filesystem::path(dataDir_) / "images" / ref->Entry().original, bytes)) return NotFound();
  return {200, ImageContentType(ref->Entry().original), bytes};
}

Reply CurrentCalls::Video(const httplib::Request& req, const std::vector<std::string>& parts) const {
  auto ref = FindPhoto(dataDir_, parts);
  if (!ref || !ref->Entry().video) return NotFound();
  if (req.get_header_value("Referer").rfind(kVideoReferer, 0) != 0) return ForbiddenReply();
  return {200, "video/mp4", VideoBytes()};
}

std::string CurrentCalls::HandOutPhotoKey(const Account& account, size_t start) {
  const std::string page = "k" + std::to_string(start / kPhotosPerKey);
  std::lock_guard<std::mutex> lock(mutex_);
  if (account.photoKeyUses == 0) {
    photoKeys_.insert(page);
    return page;
  }
  // A key that wears out is new with every list, so a client that lists again has a working one.
  const std::string key = page + "-" + std::to_string(++keySerial_);
  countedKeys_[key] = CountedKey{account.qq, account.photoKeyUses};
  return key;
}

bool CurrentCalls::LacksPhotoKey(const httplib::Request& req, const Account& account) {
  if (!account.friendsOnly) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [name, value] : CookiesOf(req)) {
    if (name != kPhotoKeyCookie) continue;
    if (account.photoKeyUses == 0) {
      if (photoKeys_.count(value)) return false;
      continue;
    }
    auto it = countedKeys_.find(value);
    if (it == countedKeys_.end() || it->second.qq != account.qq) continue;
    if (--it->second.usesLeft == 0) countedKeys_.erase(it);
    return false;
  }
  return true;
}

Reply CurrentCalls::PhotoKeyPlaceholder() {
  static const std::string gif = BuildPlaceholderGif();
  return {200, "image/gif", gif};
}

}  // namespace albumd

#include "tools/albumd/account.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

namespace albumd {
namespace {

// Generated accounts stay within what a benchmark needs, so a typo cannot make albumd build a
// list of millions of entries per request.
constexpr int kMaxGeneratedAlbums = 1000;
constexpr int kMaxGeneratedPhotos = 10000;

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t' || text[begin] == '\r')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
  return text.substr(begin, end - begin);
}

// A value may be written in double quotes to keep blanks at its ends; one outer pair is removed.
std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    return value.substr(1, value.size() - 2);
  return value;
}

std::vector<std::string> SplitList(const std::string& value) {
  std::vector<std::string> items;
  std::stringstream in(value);
  std::string item;
  while (std::getline(in, item, ',')) {
    item = Trim(item);
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

bool ParseInt(const std::string& text, int& out) {
  if (text.empty() || text.size() > 9) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  out = value;
  return true;
}

std::string DefaultType(const std::string& image) {
  auto dot = image.rfind('.');
  std::string ext = dot == std::string::npos ? "" : image.substr(dot + 1);
  if (ext == "gif") return "2";
  if (ext == "png") return "3";
  return "1";
}

const std::map<std::string, PhotoServe>& ServeNames() {
  static const std::map<std::string, PhotoServe> names = {
      {"ok", PhotoServe::kOk},         {"404", PhotoServe::kNotFound},    {"truncate", PhotoServe::kTruncate},
      {"stall", PhotoServe::kStall},   {"html", PhotoServe::kHtml},       {"empty", PhotoServe::kEmpty},
      {"429", PhotoServe::kTooMany},   {"500", PhotoServe::kServerError}, {"redirect", PhotoServe::kRedirect},
      {"excess", PhotoServe::kExcess}, {"dribble", PhotoServe::kDribble}, {"endless", PhotoServe::kEndless},
      {"huge", PhotoServe::kHuge},
  };
  return names;
}

void AppendUtf8(char32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

class Parser {
 public:
  Parser(const std::string& qq, const std::string& fileName) : fileName_(fileName) { account_.qq = qq; }

  Account Parse(const std::string& text) {
    std::stringstream in(text);
    std::string raw;
    while (std::getline(in, raw)) {
      ++line_;
      std::string trimmed = Trim(raw);
      if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';') continue;
      if (trimmed.front() == '[') {
        OpenSection(trimmed);
        continue;
      }
      auto eq = raw.find('=');
      if (eq == std::string::npos) Fail("expected \"key = value\"");
      SetValue(Trim(raw.substr(0, eq)), Unescape(Unquote(Trim(raw.substr(eq + 1)))));
    }
    FinishPhoto();
    FinishAlbum();
    return std::move(account_);
  }

 private:
  enum class Section { kNone, kAccount, kAlbum, kPhoto };

  [[noreturn]] void Fail(const std::string& message) const {
    throw DataError(fileName_ + ":" + std::to_string(line_) + ": " + message);
  }

  // "\u{XXXX}" (1 to 6 hex digits) stands for the character U+XXXX, so that a file can hold line feeds,
  // tabs, control and invisible formatting characters, which an editor would show ambiguously or not at
  // all. Every other backslash stays as written: names such as "back\slash" read as before.
  std::string Unescape(const std::string& value) const {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
      if (value.compare(i, 3, "\\u{") != 0) {
        out += value[i];
        continue;
      }
      size_t close = value.find('}', i + 3);
      if (close == std::string::npos || close == i + 3 || close - (i + 3) > 6)
        Fail("\\u{...} takes 1 to 6 hex digits");
      char32_t code = 0;
      for (size_t k = i + 3; k < close; ++k) {
        char c = value[k];
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0) Fail("\\u{...} takes 1 to 6 hex digits");
        code = code * 16 + static_cast<char32_t>(digit);
      }
      // NUL would cut the text short in C strings; surrogates and values past U+10FFFF are no characters.
      if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        Fail("\\u{" + value.substr(i + 3, close - i - 3) + "} is not a character albumd can serve");
      AppendUtf8(code, out);
      i = close;
    }
    return out;
  }

  void OpenSection(const std::string& header) {
    FinishPhoto();
    if (header == "[account]") {
      FinishAlbum();
      section_ = Section::kAccount;
    } else if (header == "[album]") {
      FinishAlbum();
      album_ = Album{};
      section_ = Section::kAlbum;
    } else if (header == "[photo]") {
      if (!album_) Fail("[photo] outside an [album]");
      photo_ = Photo{};
      section_ = Section::kPhoto;
    } else {
      Fail("unknown section " + header);
    }
  }

  void SetValue(const std::string& key, const std::string& value) {
    switch (section_) {
      case Section::kNone:
        Fail("key \"" + key + "\" before any section");
      case Section::kAccount:
        return SetAccountValue(key, value);
      case Section::kAlbum:
        return SetAlbumValue(key, value);
      case Section::kPhoto:
        return SetPhotoValue(key, value);
    }
  }

  void SetAccountValue(const std::string& key, const std::string& value) {
    if (key == "route") {
      static const char* const kRoutes[] = {"wrapped", "plain",   "notjson", "404",
                                            "nohosts", "numeric", "bracket"};
      RequireOneOf(value, kRoutes);
      account_.route = value;
    } else if (key == "albumlist") {
      static const char* const kLists[] = {"ok", "404", "notxml", "nodata", "noalbum", "stall"};
      RequireOneOf(value, kLists);
      account_.albumList = value;
    } else if (key == "stall") {
      account_.stallSeconds = StallSeconds(value);
    } else if (key == "cdata") {
      account_.cdata = (value == "yes");
    } else if (key == "generate") {
      Generate(value);
    } else if (key == "signin") {
      static const char* const kSignin[] = {"required", "no"};
      RequireOneOf(value, kSignin);
      account_.signinRequired = (value == "required");
    } else if (key == "password") {
      account_.password = value;
    } else if (key == "busy") {
      account_.busyReplies = ReplyCount(value);
    } else if (key == "notsignedin") {
      account_.notSignedInReplies = ReplyCount(value);
    } else if (key == "friendsonly") {
      static const char* const kYesNo[] = {"yes", "no"};
      RequireOneOf(value, kYesNo);
      account_.friendsOnly = (value == "yes");
    } else if (key == "malformed") {
      static const char* const kFaults[] = {"control", "undefined"};
      for (const std::string& fault : SplitList(value)) {
        RequireOneOf(fault, kFaults);
        (fault == "control" ? account_.malformedControl : account_.malformedUndefined) = true;
      }
    } else if (key == "sessionrequests") {
      account_.sessionRequests = UseCount(value, "sessionrequests");
    } else if (key == "photokeyuses") {
      account_.photoKeyUses = UseCount(value, "photokeyuses");
    } else if (key == "nickname") {
      account_.nickname = value;
    } else if (key == "sessionseconds") {
      // At least a second, so that a cookie handed out is never dead on arrival; at most a day.
      if (!ParseInt(value, account_.sessionSeconds) || account_.sessionSeconds < 1 ||
          account_.sessionSeconds > 86400)
        Fail("sessionseconds takes 1..86400");
    } else {
      Fail("unknown account key \"" + key + "\"");
    }
  }

  void SetAlbumValue(const std::string& key, const std::string& value) {
    Album& album = *album_;
    if (key == "id") {
      album.id = value;
    } else if (key == "name") {
      album.name = value;
    } else if (key == "desc") {
      album.desc = value;
    } else if (key == "priv") {
      album.priv = value;
    } else if (key == "cover") {
      album.cover = value;
    } else if (key == "total") {
      album.total = value;
    } else if (key == "omit") {
      album.omit = SplitList(value);
    } else if (key == "photolist") {
      static const char* const kLists[] = {"ok", "404", "nopic", "notxml", "wrongroot", "stall", "badgbk"};
      RequireOneOf(value, kLists);
      album.photoList = value;
    } else if (key == "stall") {
      album.stallSeconds = StallSeconds(value);
    } else if (key == "signin") {
      static const char* const kSignin[] = {"yes", "no"};
      RequireOneOf(value, kSignin);
      album.signin = (value == "yes");
    } else if (key == "access") {
      static const char* const kAccess[] = {"0", "1"};
      RequireOneOf(value, kAccess);
      album.allowAccess = (value == "1");
    } else if (key == "listcode") {
      static const char* const kCodes[] = {"0", "-4009", "-10805"};
      RequireOneOf(value, kCodes);
      album.listCode = std::stoi(value);
    } else if (key == "generate") {
      int photos = 0;
      if (!ParseInt(value, photos) || photos > kMaxGeneratedPhotos)
        Fail("generate takes 0.." + std::to_string(kMaxGeneratedPhotos) + " photos");
      AppendGeneratedPhotos(album, photos);
    } else {
      Fail("unknown album key \"" + key + "\"");
    }
  }

  void SetPhotoValue(const std::string& key, const std::string& value) {
    Photo& photo = *photo_;
    if (key == "name") {
      photo.name = value;
    } else if (key == "image") {
      photo.image = value;
    } else if (key == "type") {
      photo.phototype = value;
      typeSet_ = true;
    } else if (key == "url") {
      photo.url = value;
    } else if (key == "omit") {
      photo.omit = SplitList(value);
    } else if (key == "serve") {
      auto it = ServeNames().find(value);
      if (it == ServeNames().end()) Fail("unknown serve \"" + value + "\"");
      photo.serve = it->second;
    } else if (key == "stall") {
      photo.stallSeconds = StallSeconds(value);
    } else if (key == "excessimage") {
      photo.excessImage = value;
    } else if (key == "excessdelay") {
      if (!ParseInt(value, photo.excessDelayMs) || photo.excessDelayMs > 600000)
        Fail("excessdelay takes 0..600000 milliseconds");
    } else if (key == "dribble") {
      if (!ParseInt(value, photo.dribbleRate) || photo.dribbleRate < 1 || photo.dribbleRate > 10000000)
        Fail("dribble takes 1..10000000 bytes per second");
    } else if (key == "original") {
      photo.original = value;
    } else if (key == "desc") {
      photo.desc = value;
    } else if (key == "video") {
      static const char* const kYesNo[] = {"yes", "no"};
      RequireOneOf(value, kYesNo);
      photo.video = (value == "yes");
    } else {
      Fail("unknown photo key \"" + key + "\"");
    }
  }

  // How many times a list answers with an error before it answers normally; per albumd run.
  int ReplyCount(const std::string& value) {
    int count = 0;
    if (!ParseInt(value, count) || count > 1000) Fail("takes 0..1000 replies");
    return count;
  }

  // How many requests a session or a photo key serves; 0 would be none at all, which no account needs.
  int UseCount(const std::string& value, const std::string& key) {
    int count = 0;
    if (!ParseInt(value, count) || count < 1 || count > 1000000) Fail(key + " takes 1..1000000");
    return count;
  }

  int StallSeconds(const std::string& value) {
    int seconds = 0;
    if (!ParseInt(value, seconds) || seconds > 3600) Fail("stall takes 0..3600 seconds");
    return seconds;
  }

  template <size_t N>
  void RequireOneOf(const std::string& value, const char* const (&allowed)[N]) {
    for (const char* name : allowed) {
      if (value == name) return;
    }
    Fail("unknown value \"" + value + "\"");
  }

  // "generate = ALBUMSxPHOTOS" appends that many albums of that many photos, cycling through the three
  // photo types and the four privacy codes.
  void Generate(const std::string& value) {
    auto x = value.find('x');
    int albums = 0;
    int photos = 0;
    if (x == std::string::npos || !ParseInt(Trim(value.substr(0, x)), albums) ||
        !ParseInt(Trim(value.substr(x + 1)), photos) || albums > kMaxGeneratedAlbums ||
        photos > kMaxGeneratedPhotos) {
      Fail("generate takes ALBUMSxPHOTOS, at most " + std::to_string(kMaxGeneratedAlbums) + "x" +
           std::to_string(kMaxGeneratedPhotos));
    }
    static const char* const kPrivs[] = {"1", "2", "3", "0"};
    for (int a = 0; a < albums; ++a) {
      Album album;
      album.id = "g" + std::to_string(a + 1);
      album.name = "生成相册" + std::to_string(a + 1);
      album.desc = "第" + std::to_string(a + 1) + "个生成的相册";
      album.priv = kPrivs[a % 4];
      album.cover = "cover.jpg";
      AppendGeneratedPhotos(album, photos);
      account_.albums.push_back(std::move(album));
    }
  }

  // Generated photos cycle through the three photo types.
  static void AppendGeneratedPhotos(Album& album, int photos) {
    static const char* const kImages[] = {"sky.jpg", "sun.gif", "leaf.png"};
    const size_t first = album.photos.size();
    for (size_t p = first; p < first + static_cast<size_t>(photos); ++p) {
      Photo photo;
      photo.name = "照片" + std::to_string(p + 1);
      photo.image = kImages[p % 3];
      photo.phototype = DefaultType(photo.image);
      album.photos.push_back(std::move(photo));
    }
  }

  void FinishPhoto() {
    if (!photo_) return;
    if (photo_->image.empty()) photo_->image = "sky.jpg";
    if (!typeSet_) photo_->phototype = DefaultType(photo_->image);
    // The same file as both would hide a client that fetches the photo where it meant the original.
    if (photo_->original == photo_->image) Fail("original must be another image than the photo's");
    album_->photos.push_back(std::move(*photo_));
    photo_.reset();
    typeSet_ = false;
  }

  void FinishAlbum() {
    FinishPhoto();
    if (!album_) return;
    if (album_->id.empty()) Fail("an album needs an id");
    account_.albums.push_back(std::move(*album_));
    album_.reset();
  }

  std::string fileName_;
  int line_ = 0;
  Section section_ = Section::kNone;
  Account account_;
  std::optional<Album> album_;
  std::optional<Photo> photo_;
  bool typeSet_ = false;
};

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string::npos && name.find('\\') == std::string::npos;
}

}  // namespace

bool IsQQText(const std::string& text) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool NeedsSignIn(const Account& account, const Album& album) {
  if (!account.signinRequired) return false;
  return album.signin.value_or(album.priv == "3");
}

Account ParseAccount(const std::string& text, const std::string& qq, const std::string& fileName) {
  return Parser(qq, fileName).Parse(text);
}

std::shared_ptr<const Account> LoadAccount(const std::string& dataDir, const std::string& qq) {
  if (!IsQQText(qq)) return nullptr;
  std::filesystem::path file = std::filesystem::path(dataDir) / "accounts" / (qq + ".ini");
  std::ifstream in(file, std::ios::binary);
  if (!in) return nullptr;
  std::stringstream read;
  read << in.rdbuf();
  std::string text = read.str();

  struct Cached {
    std::string text;
    std::shared_ptr<const Account> account;
  };
  static std::mutex mutex;
  static std::map<std::string, Cached> cache;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(file.string());
    if (it != cache.end() && it->second.text == text) return it->second.account;
  }

  auto account = std::make_shared<Account>(ParseAccount(text, qq, file.string()));
  // Images are named, never given as paths: the data folder is the only place albumd reads from.
  auto images = std::filesystem::path(dataDir) / "images";
  std::set<std::string> named;
  for (const Album& album : account->albums) {
    if (!album.cover.empty()) named.insert(album.cover);
    for (const Photo& photo : album.photos) {
      named.insert(photo.image);
      if (!photo.original.empty()) named.insert(photo.original);
      if (photo.serve == PhotoServe::kExcess) named.insert(photo.excessImage);
    }
  }
  for (const std::string& image : named) {
    if (!IsPlainFileName(image))
      throw DataError(file.string() + ": image \"" + image + "\" is not a plain file name");
    if (!std::filesystem::is_regular_file(images / image))
      throw DataError(file.string() + ": image \"" + image + "\" is not in " + images.string());
  }

  std::lock_guard<std::mutex> lock(mutex);
  cache[file.string()] = Cached{std::move(text), account};
  return account;
}

}  // namespace albumd

#include "core/albummanifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "core/textutil.h"
#include "core/wholefile.h"
#include "json/jsonwriter.h"
#include "json/qzjson.h"
#include "net/digest.h"

namespace {

// A text the manifest keeps; it must come back byte for byte, which JSON can promise only for UTF-8.
std::string_view Recorded(std::string_view text) {
  if (!IsValidUtf8(text))
    throw std::runtime_error("cannot record a name that is not valid UTF-8: " + EscapeForTerminal(text));
  return text;
}

void WritePhoto(JsonWriter& w, const ManifestPhoto& p) {
  w.Object().Key("url").String(Recorded(p.url)).Key("file").String(Recorded(p.file));
  if (p.size >= 0) w.Key("size").Number(p.size).Key("fetched").String(UtcTimeText(p.fetched));
  if (!p.md5.empty()) w.Key("md5").String(p.md5);
  if (p.deleted) w.Key("deleted").Boolean(true);
  if (!p.desc.empty()) w.Key("desc").String(Recorded(p.desc));
  w.End();
}

std::string PhotoJson(const ManifestPhoto& p) {
  JsonWriter w;
  WritePhoto(w, p);
  return w.Text();
}

const TqzJSONobject& AsObject(const TqzJSONbase* node, const char* what) {
  const auto* object = dynamic_cast<const TqzJSONobject*>(node);
  if (object == nullptr) throw ManifestError(std::string(what) + " is not an object");
  return *object;
}

const TqzJSONbase* Field(const TqzJSONobject& object, std::u16string_view name) {
  return object.FieldByName(name);
}

std::string Text(const TqzJSONobject& object, std::u16string_view name, bool required, const char* what) {
  const auto* node = dynamic_cast<const TqzJSONstring*>(Field(object, name));
  if (node == nullptr) {
    if (!required && Field(object, name) == nullptr) return {};
    throw ManifestError(std::string(what) + " lacks a text field");
  }
  return VariantText(node->AsVariant());
}

long long WholeNumber(const TqzJSONobject& object, std::u16string_view name, const char* what) {
  const auto* node = dynamic_cast<const TqzJSONnumber*>(Field(object, name));
  if (node == nullptr) throw ManifestError(std::string(what) + " lacks a number field");
  const long double v = node->Value();
  if (!(v >= 0 && v < 9.0e18L) || std::floor(v) != v) throw ManifestError(std::string(what) + ": bad number");
  return static_cast<long long>(v);
}

ManifestPhoto ParsePhoto(const TqzJSONbase* node) {
  const TqzJSONobject& o = AsObject(node, "a photo entry");
  ManifestPhoto p;
  p.url = Text(o, u"url", true, "a photo entry");
  p.file = Text(o, u"file", true, "a photo entry");
  if (p.url.empty() || p.file.empty() || p.file.find('/') != std::string::npos || p.file == "." ||
      p.file == "..")
    throw ManifestError("a photo entry has an empty address or a file name that is not a plain name");
  if (Field(o, u"size") != nullptr) {
    p.size = WholeNumber(o, u"size", "a photo entry");
    p.fetched = ParseUtcTimeText(Text(o, u"fetched", true, "a photo entry"));
    if (p.fetched < 0) throw ManifestError("a photo entry has a bad time");
  }
  if (const auto* deleted = dynamic_cast<const TqzJSONboolean*>(Field(o, u"deleted")))
    p.deleted = deleted->Value();
  p.md5 = Text(o, u"md5", false, "a photo entry");
  p.desc = Text(o, u"desc", false, "a photo entry");
  if (!p.md5.empty() &&
      (p.md5.size() != 32 || p.md5.find_first_not_of("0123456789abcdef") != std::string::npos))
    throw ManifestError("a photo entry has a digest that is not 32 hexadecimal digits");
  return p;
}

std::string ReadWhole(const std::string& path, bool& exists) {
  std::ifstream in(path, std::ios::binary);
  exists = static_cast<bool>(in);
  std::ostringstream s;
  if (exists) s << in.rdbuf();
  return s.str();
}

std::string JoinPath(const std::string& folder, std::string_view name) {
  std::string p = folder;
  if (!p.empty() && p.back() != '/') p += '/';
  return p + std::string(name);
}

// Applies journal lines to a manifest: a report fills in the size of its photo's record, a line for a
// photo the manifest lacks adds it.
class Replayer {
 public:
  explicit Replayer(AlbumManifest& m) : m_(m) {
    for (size_t i = 0; i < m.photos.size(); ++i) index_.emplace(Key(m.photos[i]), i);
  }
  void Apply(const ManifestPhoto& line) {
    auto [it, added] = index_.emplace(Key(line), m_.photos.size());
    if (added) {
      m_.photos.push_back(line);
      return;
    }
    ManifestPhoto& p = m_.photos[it->second];
    if (line.size >= 0) {
      p.size = line.size;
      p.fetched = line.fetched;
      p.md5 = line.md5;
      p.deleted = false;
    }
  }

 private:
  static std::pair<std::string, std::string> Key(const ManifestPhoto& p) { return {p.url, p.file}; }
  AlbumManifest& m_;
  std::map<std::pair<std::string, std::string>, size_t> index_;
};

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string UtcTimeText(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::time_t ParseUtcTimeText(std::string_view text) {
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z')
    return -1;
  auto num = [&](size_t at, size_t len) {
    int v = 0;
    for (size_t i = at; i < at + len; ++i) {
      if (text[i] < '0' || text[i] > '9') return -1;
      v = v * 10 + (text[i] - '0');
    }
    return v;
  };
  std::tm tm{};
  tm.tm_year = num(0, 4) - 1900;
  tm.tm_mon = num(5, 2) - 1;
  tm.tm_mday = num(8, 2);
  tm.tm_hour = num(11, 2);
  tm.tm_min = num(14, 2);
  tm.tm_sec = num(17, 2);
  if (tm.tm_year < 70 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 ||
      tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 || tm.tm_sec > 60)
    return -1;
  return timegm(&tm);
}

std::string ManifestJson(const AlbumManifest& m) {
  JsonWriter w;
  w.Object().Key("format").Number(kManifestFormat);
  w.Break().Key("album").Object();
  w.Key("id")
      .String(Recorded(m.id))
      .Key("name")
      .String(Recorded(m.name))
      .Key("desc")
      .String(Recorded(m.desc));
  w.Key("priv").String(Recorded(m.priv)).Key("total").String(Recorded(m.total)).End();
  w.Break().Key("photos").Array();
  for (const ManifestPhoto& p : m.photos) WritePhoto(w.Break(), p);
  w.Break().End().End();
  return w.Text() + "\n";
}

AlbumManifest ParseManifest(std::string_view json) {
  const std::unique_ptr<TqzJSONbase> root = TqzJSON::ParseValue(json);
  if (root == nullptr) throw ManifestError("not JSON");
  AlbumManifest m;
  try {
    const TqzJSONobject& top = AsObject(root.get(), "the manifest");
    const long long format = WholeNumber(top, u"format", "the manifest");
    if (format > kManifestFormat)
      throw ManifestError("written by a newer version (format " + std::to_string(format) + ")");
    if (format < 1) throw ManifestError("unknown format");
    const TqzJSONobject& album = AsObject(Field(top, u"album"), "\"album\"");
    m.id = Text(album, u"id", true, "\"album\"");
    m.name = Text(album, u"name", false, "\"album\"");
    m.desc = Text(album, u"desc", false, "\"album\"");
    m.priv = Text(album, u"priv", false, "\"album\"");
    m.total = Text(album, u"total", false, "\"album\"");
    const auto* photos = dynamic_cast<const TqzJSONlist*>(Field(top, u"photos"));
    if (photos == nullptr) throw ManifestError("\"photos\" is not a list");
    for (int i = 0; i < photos->ItemCount(); ++i) m.photos.push_back(ParsePhoto(photos->ItemAt(i)));
  } catch (const ManifestError&) {
    throw;
  } catch (const std::exception& e) {
    throw ManifestError(e.what());
  }
  return m;
}

std::optional<AlbumManifest> ReadAlbumManifest(const std::string& folder) {
  bool hasManifest = false, hasJournal = false;
  const std::string text = ReadWhole(JoinPath(folder, kManifestFileName), hasManifest);
  const std::string journal = ReadWhole(JoinPath(folder, kJournalFileName), hasJournal);
  if (!hasManifest && !hasJournal) return std::nullopt;
  // The job writes the manifest before the first journal line; a journal alone means the manifest was
  // removed by hand. Its reservations still name files of this folder, so they are kept (under no id).
  AlbumManifest m = hasManifest ? ParseManifest(text) : AlbumManifest{};
  Replayer replay(m);
  size_t from = 0;
  while (from < journal.size()) {
    size_t end = journal.find('\n', from);
    const bool last = end == std::string::npos;
    if (last) end = journal.size();
    const std::string_view line(journal.data() + from, end - from);
    from = end + 1;
    if (line.empty()) continue;
    try {
      const std::unique_ptr<TqzJSONbase> node = TqzJSON::ParseValue(line);
      if (node == nullptr) throw ManifestError("a journal line is not JSON");
      replay.Apply(ParsePhoto(node.get()));
    } catch (const ManifestError&) {
      if (last) break;  // cut off by a kill while it was written
      throw ManifestError("the journal " + JoinPath(folder, kJournalFileName) + " has a damaged line");
    }
  }
  return m;
}

void WriteAlbumManifest(const std::string& folder, const AlbumManifest& manifest) {
  const std::string json = ManifestJson(manifest);  // before the file: a text it refuses leaves nothing
  WriteWholeFile(JoinPath(folder, kManifestFileName), json);
  // Only once the manifest holds every journal line (and is on the disk) may the journal go.
  ::unlink(JoinPath(folder, kJournalFileName).c_str());
}

ManifestJournal::ManifestJournal(const std::string& folder) {
  const std::string path = JoinPath(folder, kJournalFileName);
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd_ < 0) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

ManifestJournal::~ManifestJournal() {
  if (fd_ >= 0) ::close(fd_);
}

void ManifestJournal::Fetched(std::string_view url, std::string_view file, long long size, std::time_t when,
                              std::string_view md5) {
  ManifestPhoto p{std::string(url), std::string(file), size, when};
  p.md5 = std::string(md5);
  Append(PhotoJson(p) + "\n");
}

void ManifestJournal::Append(const std::string& line) {
  if (!WriteAll(fd_, line))
    throw std::runtime_error(std::string("cannot write the journal: ") + std::strerror(errno));
}

std::string PhotoDigest(const std::string& path) {
  return FileMd5Hex(path);
}

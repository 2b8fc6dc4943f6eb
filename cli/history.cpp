#include "cli/history.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "cli/config.h"
#include "core/albummanifest.h"
#include "json/jsonwriter.h"
#include "json/qzjson.h"
#include "json/variant.h"

namespace fs = std::filesystem;

namespace {

const TqzJSONbase* Field(const TqzJSONobject* o, std::u16string_view name) {
  return o == nullptr ? nullptr : o->FieldByName(name);
}

bool Text(const TqzJSONobject* o, std::u16string_view name, std::string& out) {
  const auto* node = dynamic_cast<const TqzJSONstring*>(Field(o, name));
  if (node == nullptr) return false;
  out = VariantText(node->AsVariant());
  return true;
}

bool Number(const TqzJSONbase* node, long double& out) {
  const auto* number = dynamic_cast<const TqzJSONnumber*>(node);
  if (number == nullptr || !std::isfinite(number->Value())) return false;
  out = number->Value();
  return true;
}

}  // namespace

std::string DefaultHistoryPath() {
  return XdgFile("XDG_STATE_HOME", ".local/state", "history.jsonl");
}

std::string HistoryLine(const HistoryEntry& e) {
  JsonWriter w;
  w.Object().Key("when").String(UtcTimeText(e.when)).Key("account").String(e.account);
  w.Key("photosNew").Number(e.photosNew).Key("failures").Object();
  for (const auto& [reason, count] : e.failures) w.Key(reason).Number(count);
  // Whole seconds: what a person looks back on.
  w.End().Key("seconds").Number(std::llround(e.seconds));
  w.Key("exitCode").Number(e.exitCode);
  if (!e.albumRoot.empty()) w.Key("albumRoot").String(e.albumRoot);
  return w.End().Text();
}

void AppendHistory(const std::string& path, const HistoryEntry& entry) {
  std::error_code ec;
  const fs::path folder = fs::path(path).parent_path();
  if (!folder.empty() && !fs::is_directory(folder, ec)) {
    fs::create_directories(folder, ec);
    if (!ec) fs::permissions(folder, fs::perms::owner_all, ec);
  }
  const std::string line = HistoryLine(entry) + "\n";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  // One write: lines of two runs at once never interleave, and a full disk leaves at most a cut last line.
  const ssize_t n = ::write(fd, line.data(), line.size());
  const int error = errno;
  ::close(fd);
  if (n != static_cast<ssize_t>(line.size()))
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(n < 0 ? error : ENOSPC));
}

std::vector<HistoryEntry> ReadHistory(const std::string& path, int& unreadable) {
  unreadable = 0;
  std::vector<HistoryEntry> entries;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const std::unique_ptr<TqzJSONbase> root = TqzJSON::ParseValue(line);
    const auto* o = dynamic_cast<const TqzJSONobject*>(root.get());
    HistoryEntry e;
    std::string when;
    long double photos = 0, seconds = 0, code = 0;
    if (!Text(o, u"when", when) || !Text(o, u"account", e.account) || e.account.empty() ||
        !Number(Field(o, u"photosNew"), photos) || !Number(Field(o, u"seconds"), seconds) ||
        !Number(Field(o, u"exitCode"), code) || (e.when = ParseUtcTimeText(when)) < 0) {
      ++unreadable;
      continue;
    }
    e.photosNew = static_cast<long long>(photos);
    e.seconds = static_cast<double>(seconds);
    e.exitCode = static_cast<int>(code);
    Text(o, u"albumRoot", e.albumRoot);
    if (const auto* failures = dynamic_cast<const TqzJSONobject*>(Field(o, u"failures"))) {
      for (int i = 0; i < failures->ItemCount(); ++i) {
        std::string reason;
        long double count = 0;
        if (Number(failures->EntryAt(i, reason), count)) e.failures[reason] = static_cast<long long>(count);
      }
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

std::vector<HistoryEntry> LastRuns(const std::vector<HistoryEntry>& entries) {
  std::vector<HistoryEntry> last;
  for (const HistoryEntry& e : entries) {
    auto it =
        std::find_if(last.begin(), last.end(), [&](const HistoryEntry& l) { return l.account == e.account; });
    if (it != last.end()) last.erase(it);
    last.push_back(e);
  }
  return last;
}

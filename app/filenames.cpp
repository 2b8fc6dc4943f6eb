#include "app/filenames.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "app/textutil.h"
#include "machine/md5unit.h"

namespace {

// Beyond this many numbered tries something is badly wrong with the folder; give up on the album.
constexpr int kMaxNumberedTries = 100000;

std::string Md5Prefix(std::string_view text) {
  return Md5Hex(text).substr(0, 15);
}

bool IsDotName(std::string_view name) {
  return name.empty() || name == "." || name == "..";
}

}  // namespace

namespace {

// Length of a character at text[i] that has no place in a file name: a control character (C0, DEL, C1)
// or an invisible bidirectional override or isolate, or a byte-order mark, all of which would make a
// name show as something it is not (or break the lines of a listing); 0 for anything else.
size_t HiddenCharacterAt(std::string_view text, size_t i) {
  const auto at = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
  const unsigned lead = at(i);
  if (lead < 0x20 || lead == 0x7F) return 1;
  if (lead == 0xC2 && at(i + 1) >= 0x80 && at(i + 1) <= 0x9F) return 2;  // U+0080..U+009F
  if (lead == 0xE2 && at(i + 1) == 0x80 && at(i + 2) >= 0xAA && at(i + 2) <= 0xAE) return 3;  // U+202A..E
  if (lead == 0xE2 && at(i + 1) == 0x81 && at(i + 2) >= 0xA6 && at(i + 2) <= 0xA9) return 3;  // U+2066..9
  if (lead == 0xEF && at(i + 1) == 0xBB && at(i + 2) == 0xBF) return 3;                       // U+FEFF
  return 0;
}

}  // namespace

std::string SafeFileName(std::string_view text) {
  const std::string trimmed = TrimBlanks(text);
  std::string name;
  name.reserve(trimmed.size());
  for (size_t i = 0; i < trimmed.size();) {
    if (const size_t hidden = HiddenCharacterAt(trimmed, i)) {
      name += '0';
      i += hidden;
      continue;
    }
    char c = trimmed[i++];
    switch (c) {
      case ' ':
      case '*':
      case '/':
      case ':':
      case '<':
      case '>':
      case '?':
      case '\\':
      case '|':
        c = '0';
        break;
      default:
        break;
    }
    name += c;
  }
  return TrimBlanks(name);
}

std::string PhotoExtension(std::string_view phototype) {
  if (phototype == "2") return "GIF";
  if (phototype == "3") return "PNG";
  return "JPG";
}

std::string FitComponent(std::string_view base, std::string_view tail) {
  if (base.size() + tail.size() <= kMaxComponentBytes) return std::string(base) + std::string(tail);
  size_t keep = tail.size() < kMaxComponentBytes ? kMaxComponentBytes - tail.size() : 0;
  // Never cut a multi-byte character in two: back off to the start of the character at the cut.
  while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
  return std::string(base.substr(0, keep)) + std::string(tail);
}

std::string WithTrailingSlash(std::string_view folder) {
  std::string out(folder);
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

std::string AlbumRootFolder(std::string_view downloadFolder, std::string_view qqNumber) {
  return WithTrailingSlash(downloadFolder) + std::string(qqNumber) + "的相册/";
}

std::string BackupFolderName(std::string_view downloadFolder, std::string_view qqNumber,
                             const std::tm& when) {
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &when);
  return WithTrailingSlash(downloadFolder) + std::string(qqNumber) + "的相册_BAK_" + stamp;
}

std::string BackupFolderName(std::string_view downloadFolder, std::string_view qqNumber, std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return BackupFolderName(downloadFolder, qqNumber, local);
}

std::string UniqueBackupFolderName(std::string_view downloadFolder, std::string_view qqNumber,
                                   std::time_t when) {
  const std::string first = BackupFolderName(downloadFolder, qqNumber, when);
  if (!PathTaken(first)) return first;
  for (int n = 2; n < kMaxNumberedTries; ++n) {
    std::string candidate = first + "_" + std::to_string(n);
    if (!PathTaken(candidate)) return candidate;
  }
  throw std::runtime_error("no free backup name");
}

bool PathTaken(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(path, ec);
  // An error other than "not found" (no permission to look, for one) counts as taken: better a longer
  // name than a write over something we could not see.
  if (ec) return ec != std::errc::no_such_file_or_directory;
  return std::filesystem::exists(status);
}

std::string AlbumFolderPath(std::string_view albumRoot, std::string_view albumName,
                            std::string_view albumId) {
  const std::string root = WithTrailingSlash(albumRoot);
  const std::string safe = SafeFileName(albumName);
  if (!IsDotName(safe)) {
    std::string first = root + FitComponent(safe, "");
    if (!PathTaken(first)) return first;
  }
  const std::string suffix = "_" + Md5Prefix(albumId);
  std::string second = root + FitComponent(safe, suffix);
  if (!PathTaken(second)) return second;
  for (int n = 2; n < kMaxNumberedTries; ++n) {
    std::string candidate = root + FitComponent(safe, suffix + "_" + std::to_string(n));
    if (!PathTaken(candidate)) return candidate;
  }
  throw std::runtime_error("no free album folder name");
}

std::string LastComponent(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string AlbumFolderPathAsDownloaded(std::string_view albumRoot, std::string_view albumName,
                                        std::string_view albumId, std::set<std::string>& handedOut) {
  const std::string root = WithTrailingSlash(albumRoot);
  const std::string safe = SafeFileName(albumName);
  std::string chosen = root + FitComponent(safe, "");
  if (IsDotName(safe) || handedOut.count(chosen)) {
    const std::string suffix = "_" + Md5Prefix(albumId);
    chosen = root + FitComponent(safe, suffix);
    for (int n = 2; handedOut.count(chosen) && n < kMaxNumberedTries; ++n)
      chosen = root + FitComponent(safe, suffix + "_" + std::to_string(n));
  }
  handedOut.insert(chosen);
  return chosen;
}

PhotoFileNamer::PhotoFileNamer(std::string albumFolder, bool onDisk)
    : folder_(std::move(albumFolder)), onDisk_(onDisk) {
  while (!folder_.empty() && folder_.back() == '/') folder_.pop_back();
}

bool PhotoFileNamer::Taken(const std::string& path) const {
  return handedOut_.count(path) != 0 || (onDisk_ && PathTaken(path));
}

std::string PhotoFileNamer::NextPath(std::string_view photoName, std::string_view url,
                                     std::string_view phototype) {
  std::string safe = SafeFileName(photoName);
  if (safe.empty()) safe = Md5Hex(url);
  const std::string extension = "." + PhotoExtension(phototype);
  const std::string prefix = folder_ + "/";

  std::string chosen = prefix + FitComponent(safe, extension);
  if (Taken(chosen)) {
    const std::string suffix = "_" + Md5Prefix(url);
    chosen = prefix + FitComponent(safe, suffix + extension);
    for (int n = 2; Taken(chosen); ++n) {
      if (n >= kMaxNumberedTries) throw std::runtime_error("no free photo file name");
      chosen = prefix + FitComponent(safe, suffix + "_" + std::to_string(n) + extension);
    }
  }
  handedOut_.insert(chosen);
  return chosen;
}

#include "core/filenames.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <system_error>

#include "core/textutil.h"
#include "machine/md5unit.h"
#include "text/utf8.h"

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

namespace {

// Windows opens none of these as a file, whatever follows the first dot.
bool IsDeviceName(std::string_view stem) {
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  const std::string upper = AsciiUpper(stem);
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
  return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) && upper[3] >= '0' &&
         upper[3] <= '9';
}

bool RefusedOnWindows(char32_t c) {
  if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) return true;
  return c < 0x80 && std::strchr("\"*/:<>?\\|", static_cast<int>(c)) != nullptr;
}

// The C library's Unicode case table, independent of the user's locale; nullptr where the system lacks
// the locale (then only ASCII is folded).
locale_t UnicodeLocale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

std::string FoldCase(std::string_view text) {
  const locale_t locale = UnicodeLocale();
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const Utf8Char ch = Utf8At(text, i);
    if (ch.length == 0) {
      out += text[i++];
      continue;
    }
    char32_t code = ch.code;
    if (code < 0x80) {
      if (code >= 'a' && code <= 'z') code -= 'a' - 'A';
    } else if (locale != static_cast<locale_t>(0)) {
      code = static_cast<char32_t>(towupper_l(static_cast<wint_t>(code), locale));
    }
    AppendUtf8(out, code);
    i += ch.length;
  }
  return out;
}

// True when the disk answers that it cannot hold a file of this name at all (as opposed to "there is one
// already" or "you may not"): exFAT over FUSE says "no such file" for a double quote, the kernel's
// drivers "invalid argument", a disk that keeps names as UTF-8 "illegal byte sequence".
bool DiskRefuses(const std::string& folder, const std::string& name) {
  struct stat st {};
  const std::string dir = WithTrailingSlash(folder);
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // Tried under a name of its own with the same characters, so that a run killed right here leaves no
  // empty file under a name a photo may get (an update would take it for that photo).
  static std::atomic<unsigned> tries{0};
  const std::string stem = ".lvp" + std::to_string(::getpid()) + "-" + std::to_string(tries++) + "-";
  const std::string path = dir + stem + CutOnCharacter(name, kMaxComponentBytes - stem.size());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) {
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  return errno == EINVAL || errno == EILSEQ || errno == ENOENT;
}

}  // namespace

NameRules ProbeNameRules(const std::string& folder) {
  NameRules rules;
  thread_local std::mt19937_64 random{std::random_device{}()};
  char stem[64];
  std::snprintf(stem, sizeof stem, ".lorvanta-probe-%ld-%016llx", static_cast<long>(::getpid()),
                static_cast<unsigned long long>(random()));
  const std::string dir = WithTrailingSlash(folder);
  const std::string lower = dir + stem + "-case";
  const int fd = ::open(lower.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return rules;
  ::close(fd);
  struct stat st {};
  // The probe's name in upper case was never made: if the disk finds it, it compares without case.
  rules.foldsCase = ::lstat((dir + AsciiUpper(std::string(stem) + "-case")).c_str(), &st) == 0;
  const std::string quoted = dir + stem + "-\"q\"";
  const int qfd = ::open(quoted.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (qfd >= 0) {
    ::close(qfd);
    ::unlink(quoted.c_str());
  } else {
    rules.portable = errno != EEXIST && errno != EACCES && errno != ENOSPC && errno != EDQUOT;
  }
  ::unlink(lower.c_str());
  return rules;
}

std::string PortableName(std::string_view component) {
  std::string out;
  out.reserve(component.size() + 1);
  for (size_t i = 0; i < component.size();) {
    const Utf8Char ch = Utf8At(component, i);
    if (ch.length == 0 || RefusedOnWindows(ch.code)) {
      out += '0';
      i += ch.length == 0 ? 1 : ch.length;
      continue;
    }
    out.append(component.substr(i, ch.length));
    i += ch.length;
  }
  for (size_t j = out.size(); j > 0 && (out[j - 1] == '.' || out[j - 1] == ' '); --j) out[j - 1] = '0';
  const size_t stemEnd = std::min(out.find('.'), out.size());
  if (IsDeviceName(std::string_view(out).substr(0, stemEnd))) out.insert(stemEnd, "_");
  return out;
}

std::string NameKey(std::string_view path, const NameRules& rules) {
  return rules.foldsCase ? FoldCase(path) : std::string(path);
}

std::string DiskComponent(const std::string& folder, const std::string& name, const NameRules& rules) {
  std::string portable = PortableName(name);
  if (portable == name) return name;
  if (rules.portable || DiskRefuses(folder, name)) return portable;
  return name;
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

std::string AlbumFolderPath(std::string_view albumRoot, std::string_view albumName, std::string_view albumId,
                            const NameRules& rules) {
  const std::string root = WithTrailingSlash(albumRoot);
  const std::string safe = SafeFileName(albumName);
  const auto at = [&](std::string_view tail) {
    return root + DiskComponent(root, FitComponent(safe, tail), rules);
  };
  if (!IsDotName(safe)) {
    std::string first = at("");
    if (!PathTaken(first)) return first;
  }
  const std::string suffix = "_" + Md5Prefix(albumId);
  std::string second = at(suffix);
  if (!PathTaken(second)) return second;
  for (int n = 2; n < kMaxNumberedTries; ++n) {
    std::string candidate = at(suffix + "_" + std::to_string(n));
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
                                        std::string_view albumId, std::set<std::string>& handedOut,
                                        const NameRules& rules) {
  const std::string root = WithTrailingSlash(albumRoot);
  const std::string safe = SafeFileName(albumName);
  const auto at = [&](std::string_view tail) {
    return root + DiskComponent(root, FitComponent(safe, tail), rules);
  };
  const auto taken = [&](const std::string& path) { return handedOut.count(NameKey(path, rules)) != 0; };
  std::string chosen = at("");
  if (IsDotName(safe) || taken(chosen)) {
    const std::string suffix = "_" + Md5Prefix(albumId);
    chosen = at(suffix);
    for (int n = 2; taken(chosen) && n < kMaxNumberedTries; ++n)
      chosen = at(suffix + "_" + std::to_string(n));
  }
  handedOut.insert(NameKey(chosen, rules));
  return chosen;
}

PhotoFileNamer::PhotoFileNamer(std::string albumFolder, bool onDisk, NameRules rules)
    : folder_(std::move(albumFolder)), onDisk_(onDisk), rules_(rules) {
  while (!folder_.empty() && folder_.back() == '/') folder_.pop_back();
}

bool PhotoFileNamer::Taken(const std::string& path) const {
  return handedOut_.count(NameKey(path, rules_)) != 0 || (onDisk_ && PathTaken(path));
}

std::string PhotoFileNamer::NextPath(std::string_view photoName, std::string_view url,
                                     std::string_view phototype) {
  return NextPathAs(photoName, url, PhotoExtension(phototype));
}

std::string PhotoFileNamer::NextPathAs(std::string_view photoName, std::string_view url,
                                       std::string_view ext) {
  std::string safe = SafeFileName(photoName);
  if (safe.empty()) safe = Md5Hex(url);
  const std::string extension = "." + std::string(ext);
  const std::string prefix = folder_ + "/";

  const auto at = [&](const std::string& tail) {
    return prefix + DiskComponent(folder_, FitComponent(safe, tail), rules_);
  };
  std::string chosen = at(extension);
  if (Taken(chosen)) {
    const std::string suffix = "_" + Md5Prefix(url);
    chosen = at(suffix + extension);
    for (int n = 2; Taken(chosen); ++n) {
      if (n >= kMaxNumberedTries) throw std::runtime_error("no free photo file name");
      chosen = at(suffix + "_" + std::to_string(n) + extension);
    }
  }
  handedOut_.insert(NameKey(chosen, rules_));
  return chosen;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  return names;
}

// lorvanta-cli: the album preview and the album download of the window, for machines without a display and
// for scripts. It runs the very same jobs with a terminal host: the same retrieval, folder tree, backups,
// names and counters.
#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/albumdownload.h"
#include "app/albumlist.h"
#include "app/albumpage.h"
#include "app/albumscripts.h"
#include "app/browser/fetchtofile.h"
#include "app/hosts.h"
#include "app/qqnumber.h"
#include "app/startup.h"
#include "app/textutil.h"
#include "app/xmldoc.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kVersion = "lorvanta-cli 0.1.0";

constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoAlbumList = 3;
constexpr int kExitManifest = 4;
constexpr int kExitInterrupted = 130;

std::atomic<bool> g_stop{false};
std::atomic<bool> g_abort{false};

void OnSignal(int) {
  // A second interrupt also ends the photo being fetched; the first lets it finish.
  if (g_stop.exchange(true)) g_abort = true;
}

const char* kUsage =
    "usage: lorvanta-cli preview QQ [--route-host H] [--json] [--page FILE] [--client-number N]\n"
    "       lorvanta-cli download QQ [--to DIR] [--album ID]... [--skip ID]... [--route-host H]\n"
    "                                [--jobs N] [--retries N] [--rate LIMIT] [--max-photo-size SIZE]\n"
    "                                [--update [--keep-deleted]] [--write-metadata] [--quiet] [--json]\n"
    "       lorvanta-cli --help | --version\n"
    "\n"
    "preview   lists the albums of a QQ number (number, id, privacy, photo count, name);\n"
    "          --page FILE writes the album list page as the window shows it (GBK bytes).\n"
    "download  downloads the albums (all unless --album names some; --skip leaves some out) into\n"
    "          DIR/<QQ>的相册/, one folder per album; an older copy is moved aside to a backup name.\n"
    "          --jobs N fetches up to N photos of an album at once (default 1, at most 32); the\n"
    "          folder tree is the same for every N. --retries N tries a photo again up to N times\n"
    "          (default 0) after a connection error, a time-out, 429 or 5xx, waiting longer each\n"
    "          time and at least as long as the server's Retry-After asks. --rate LIMIT caps the\n"
    "          download rate in bytes per second (suffix k or m for KiB, MiB), one budget shared by\n"
    "          all --jobs. --max-photo-size SIZE (default 256m; suffix k, m or g) fails a photo\n"
    "          that is larger. A reply slower than 1 KiB/s for 30 s fails too (retries apply).\n"
    "--update  keeps the album root and fetches only the photos that are not there yet (new albums\n"
    "          too), by a manifest (.lorvanta-album.json) in each album folder; a photo deleted by\n"
    "          hand comes back, unless --keep-deleted. Folders without a manifest are left alone and\n"
    "          the albums get new folders. --write-metadata writes the manifest (album fields and\n"
    "          photos) without --update too; a plain download writes the window's tree only.\n"
    "\n"
    "--route-host defaults to LORVANTA_ROUTE_HOST, else the built-in album route service.\n"
    "--album ID that the list does not hold is bad usage (nothing is changed); an unknown --skip ID\n"
    "is a warning. Failed photos and albums are named with their reason.\n"
    "exit codes: 0 all downloaded, 1 some photos or albums failed, or an output could not be\n"
    "            written, 2 bad usage or invalid QQ number,\n"
    "            3 the album list could not be retrieved, 4 a manifest of the album root cannot be\n"
    "            read (nothing was fetched or changed), 130 interrupted.\n";

struct Options {
  std::string command;
  std::string qq;
  std::string routeHost;
  std::string to = ".";
  std::set<std::string> albums;
  std::set<std::string> skips;
  std::string pageFile;
  int clientNumber = -1;
  int jobs = 1;
  int retries = 0;
  long long rate = 0;
  long long maxPhotoBytes = 256LL * 1024 * 1024;
  bool update = false;
  bool keepDeleted = false;
  bool writeMetadata = false;
  bool json = false;
  bool quiet = false;
};

[[noreturn]] void UsageError(const std::string& message) {
  std::cerr << "lorvanta-cli: " << message << "\n(try lorvanta-cli --help)\n";
  std::exit(kExitUsage);
}

int CountValue(const std::string& option, const std::string& v, int least, int most) {
  const bool digits = !v.empty() && v.size() <= 4 && v.find_first_not_of("0123456789") == std::string::npos;
  const int n = digits ? std::stoi(v) : -1;
  if (n < least || n > most)
    UsageError(option + " takes a whole number from " + std::to_string(least) + " to " +
               std::to_string(most));
  return n;
}

// "500000", "300k", "2M", "1g": a number of bytes; 0 for text of another shape.
long long ByteCount(const std::string& v, bool gigabytes) {
  size_t digits = 0;
  while (digits < v.size() && digits < 12 && v[digits] >= '0' && v[digits] <= '9') ++digits;
  const std::string unit = v.substr(digits);
  long long factor = 0;
  if (unit.empty()) factor = 1;
  if (unit == "k" || unit == "K") factor = 1024;
  if (unit == "m" || unit == "M") factor = 1024 * 1024;
  if (gigabytes && (unit == "g" || unit == "G")) factor = 1024LL * 1024 * 1024;
  return digits > 0 && factor > 0 ? std::stoll(v.substr(0, digits)) * factor : 0;
}

// Bytes per second, at least 1 KiB.
long long RateValue(const std::string& v) {
  const long long n = ByteCount(v, false);
  if (n < 1024) UsageError("--rate takes bytes per second, at least 1024 (e.g. 500k, 2M): " + v);
  return n;
}

long long PhotoSizeValue(const std::string& v) {
  const long long n = ByteCount(v, true);
  if (n < 1024 || n > 64LL * 1024 * 1024 * 1024)
    UsageError("--max-photo-size takes a size from 1k to 64g (e.g. 50m): " + v);
  return n;
}

Options ParseArguments(int argc, char** argv) {
  Options o;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) UsageError("no command given");
  for (const auto& a : args) {
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      std::exit(kExitOk);
    }
    if (a == "--version") {
      std::cout << kVersion << "\n";
      std::exit(kExitOk);
    }
  }
  o.command = args[0];
  if (o.command != "preview" && o.command != "download") UsageError("unknown command: " + o.command);
  const bool download = o.command == "download";
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--route-host") {
      o.routeHost = value();
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--page" && !download) {
      o.pageFile = value();
    } else if (a == "--client-number" && !download) {
      const std::string v = value();
      if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos)
        UsageError("--client-number takes a whole number");
      o.clientNumber = std::stoi(v);
    } else if (a == "--to" && download) {
      o.to = value();
    } else if (a == "--album" && download) {
      o.albums.insert(value());
    } else if (a == "--skip" && download) {
      o.skips.insert(value());
    } else if (a == "--jobs" && download) {
      o.jobs = CountValue(a, value(), 1, 32);
    } else if (a == "--retries" && download) {
      o.retries = CountValue(a, value(), 0, 100);
    } else if (a == "--rate" && download) {
      o.rate = RateValue(value());
    } else if (a == "--max-photo-size" && download) {
      o.maxPhotoBytes = PhotoSizeValue(value());
    } else if (a == "--update" && download) {
      o.update = true;
    } else if (a == "--keep-deleted" && download) {
      o.keepDeleted = true;
    } else if (a == "--write-metadata" && download) {
      o.writeMetadata = true;
    } else if (a == "--quiet" && download) {
      o.quiet = true;
    } else if (!a.empty() && a[0] == '-') {
      UsageError("unknown option for " + o.command + ": " + a);
    } else if (o.qq.empty()) {
      o.qq = a;
      if (o.qq.empty()) UsageError("empty QQ number");
    } else {
      UsageError("unexpected argument: " + a);
    }
  }
  if (o.qq.empty()) UsageError("no QQ number given");
  if (o.keepDeleted && !o.update) UsageError("--keep-deleted needs --update");
  if (!IsValidQQNumber(o.qq)) {
    std::cerr << "lorvanta-cli: not a valid QQ number: at least 5 digits, digits only\n";
    std::exit(kExitUsage);
  }
  if (o.routeHost.empty()) o.routeHost = RouteHost();
  return o;
}

const char* PrivacyWord(const std::string& priv) {
  if (priv == "2") return "protected";
  if (priv == "3") return "private";
  return "open";
}

constexpr std::string_view kReplyFolderPrefix = "lorvanta-cli-";

std::string TemporaryBase() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp ? tmp : "/tmp";
}

// Reply folders of runs that were killed: named with a process number that is no longer running, and ours.
void RemoveStaleReplyFolders(const std::string& base) {
  DIR* dir = opendir(base.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> stale;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind(kReplyFolderPrefix, 0) != 0) continue;
    const std::string rest = name.substr(kReplyFolderPrefix.size());
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || rest.find_first_not_of("0123456789") != dash) continue;
    const long pid = std::strtol(rest.c_str(), nullptr, 10);
    if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    const std::string path = base + "/" + name;
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()) stale.push_back(path);
  }
  closedir(dir);
  for (const std::string& path : stale) {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
}

// A private folder for the three reply files, so two runs never read each other's replies. Its name
// carries the process number, so a later run can tell the folder of a killed run and remove it.
class ReplyFolder {
 public:
  ReplyFolder() {
    const std::string base = TemporaryBase();
    RemoveStaleReplyFolders(base);
    std::string pattern = base + "/" + std::string(kReplyFolderPrefix) + std::to_string(::getpid()) + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
      std::cerr << "lorvanta-cli: cannot create a temporary folder in " << base << ": " << std::strerror(errno)
                << "\n";
      std::exit(kExitSomeFailed);
    }
    path_ = buf.data();
    paths_ = MakeTempFilePaths(path_ + "/");
  }
  ~ReplyFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const TTempFilePaths& Paths() const { return paths_; }

 private:
  std::string path_;
  TTempFilePaths paths_;
};

// Names from the album service go to the terminal and to logs only with their control characters
// escaped: a name must never move the cursor, start an escape sequence or turn text around.
std::string Shown(std::string_view text) {
  return EscapeForTerminal(text);
}

// Standard output was written in full (a full disk or a closed pipe is an I/O failure, not success).
bool OutputWritten() {
  std::cout.flush();
  const bool ok = std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good();
  if (!ok) std::cerr << "lorvanta-cli: cannot write the output: " << std::strerror(errno ? errno : EIO) << "\n";
  return ok;
}

// The preview host of the terminal: keeps what the job hands over.
class TerminalPreviewHost : public PreviewHost {
 public:
  void RouteFailed(const PreviewResult& r) override { result = r; }
  void PreviewFailed(const PreviewResult& r) override { result = r; }
  void ShowAlbumPage(const PreviewResult& r) override { result = r; }
  void PreviewDone(const PreviewResult& r) override { result = r; }
  PreviewResult result;
};

const char* PreviewFailureText(PreviewOutcome::End end) {
  switch (end) {
    case PreviewOutcome::End::kRouteFailed:
      return "the album route service could not be reached";
    case PreviewOutcome::End::kSilentEnd:
      return "the route reply or the album list could not be read";
    case PreviewOutcome::End::kNoAlbumList:
      return "the album list holds no albums (no \"data\" or \"album\")";
    case PreviewOutcome::End::kNoAlbumListed:
      return "no album of the list could be read";
    case PreviewOutcome::End::kListed:
      return "";
  }
  return "";
}

PreviewOutcome RunPreview(const Options& o, const ReplyFolder& replies, int clientNumber) {
  PreviewInput in;
  in.jobId = 1;
  in.qqNumber = o.qq;
  in.routeHost = o.routeHost;
  in.clientNumber = clientNumber;
  in.routeFile = replies.Paths().routeFile;
  in.albumListFile = replies.Paths().albumListFile;
  // The list is one request: an interrupt ends it at once (a download's first interrupt lets the photo
  // under way finish instead).
  in.fetchAbort = &g_stop;
  TerminalPreviewHost host;
  PreviewOutcome outcome = RetrieveAlbumList(in, host);
  if (outcome.end != PreviewOutcome::End::kListed && outcome.result.albumEntries.empty())
    outcome.result = host.result;
  if (outcome.result.listCut) {
    std::cerr << "lorvanta-cli: warning: the album list has more than " << kMaxAlbumNodes
              << " entries; only the albums among the first " << kMaxAlbumNodes << " are used\n";
  }
  return outcome;
}

// The preview's end as an exit: interrupted, or the list could not be had.
int PreviewFailed(const Options& o, const PreviewOutcome& outcome) {
  if (g_stop) {
    std::cerr << "lorvanta-cli: interrupted\n";
    return kExitInterrupted;
  }
  std::cerr << "lorvanta-cli: " << o.qq << ": " << PreviewFailureText(outcome.end) << "\n";
  return kExitNoAlbumList;
}

// Writes the file whole or not at all; the reason on failure.
std::string WriteFileAtomically(const std::string& path, const std::string& bytes) {
  const std::string temp = path + ".part";
  std::FILE* out = std::fopen(temp.c_str(), "wb");
  if (out == nullptr) return std::strerror(errno);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  int error = errno;
  const bool closed = std::fclose(out) == 0;
  if (written && !closed) error = errno;
  if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
    if (written && closed) error = errno;
    std::remove(temp.c_str());
    return std::strerror(error ? error : EIO);
  }
  return {};
}

int Preview(const Options& o, int clientNumber) {
  ReplyFolder replies;
  PreviewOutcome outcome = RunPreview(o, replies, clientNumber);
  if (outcome.end != PreviewOutcome::End::kListed) return PreviewFailed(o, outcome);
  const auto& albums = outcome.result.albums;
  if (!o.pageFile.empty()) {
    const std::string trouble = WriteFileAtomically(o.pageFile, EncodeGbk(JoinPageLines(outcome.result.pageLines)));
    if (!trouble.empty()) {
      std::cerr << "lorvanta-cli: cannot write " << o.pageFile << ": " << trouble << "\n";
      return kExitSomeFailed;
    }
  }
  if (o.json) {
    std::cout << "{\"qq\":" << JsonQuote(o.qq) << ",\"albums\":[";
    for (size_t n = 0; n < albums.size(); ++n) {
      const AlbumEntryFields& f = albums[n];
      std::cout << (n ? "," : "") << "{\"number\":" << n << ",\"id\":" << JsonQuote(f.id)
                << ",\"priv\":" << JsonQuote(f.priv) << ",\"privacy\":" << JsonQuote(PrivacyWord(f.priv))
                << ",\"total\":" << JsonQuote(f.total) << ",\"name\":" << JsonQuote(f.name)
                << ",\"desc\":" << JsonQuote(f.desc) << "}";
    }
    std::cout << "]";
    if (outcome.result.listCut) std::cout << ",\"listCut\":true";
    std::cout << "}\n";
    return OutputWritten() ? kExitOk : kExitSomeFailed;
  }
  std::printf("%-4s %-24s %-10s %6s  %s\n", "N", "ID", "PRIVACY", "PHOTOS", "NAME");
  for (size_t n = 0; n < albums.size(); ++n) {
    const AlbumEntryFields& f = albums[n];
    std::printf("%-4zu %-24s %-10s %6s  %s\n", n, Shown(f.id).c_str(), PrivacyWord(f.priv), Shown(f.total).c_str(),
                Shown(f.name).c_str());
  }
  return OutputWritten() ? kExitOk : kExitSomeFailed;
}

struct AlbumReport {
  std::string id, name, folder, reason;
  int photos = 0, ok = 0, failed = 0;
  long long bytes = 0;
  std::string state = "skipped";  // skipped, failed, abandoned, done; "started" while it is under way
};

const char* StateWord(AlbumState state) {
  return state == AlbumState::kFailed ? "failed" : "abandoned";
}

// The download host of the terminal: the folder is given, the tick boxes follow --album/--skip, the
// summary is printed instead of asked.
class TerminalDownloadHost : public DownloadHost {
 public:
  TerminalDownloadHost(const Options& o, const std::vector<AlbumEntryFields>& albums) : o_(o) {
    tty_ = !o.quiet && !o.json && isatty(STDOUT_FILENO);
    plain_ = !o.quiet && !o.json && !tty_;
    for (const AlbumEntryFields& f : albums) {
      AlbumReport r;
      r.id = f.id;
      r.name = f.name;
      reports.push_back(r);
    }
  }

  bool ChooseFolder(const std::string&, std::string& folder) override {
    folder = target;
    return true;
  }
  std::string ReadAlbumCheck(int n) override {
    if (n < 0 || n >= static_cast<int>(reports.size())) return "";
    const std::string& id = reports[n].id;
    const bool wanted = (o_.albums.empty() || o_.albums.count(id)) && !o_.skips.count(id);
    if (wanted) reports[n].state = "started";
    return wanted ? "true" : "false";
  }
  void ShowAlbumStatus(const AlbumStatusUpdate& u) override {
    if (u.currentAlbum < 0 || u.currentAlbum >= static_cast<int>(reports.size())) return;
    AlbumReport& r = reports[u.currentAlbum];
    if (u.state == AlbumState::kFailed || u.state == AlbumState::kAbandoned) {
      r.state = StateWord(u.state);
      r.reason = u.reason;
      EndLine();
      std::cerr << "lorvanta-cli: album " << u.currentAlbum << " \"" << Shown(r.name) << "\" " << r.state << ": "
                << Shown(u.reason) << "\n";
    } else if (u.state == AlbumState::kDone) {
      r.state = "done";
      r.folder = u.currentAlbumName;
      if (tty_) {
        DrawLine(u.currentAlbum);
        std::printf("\n");
        lineOpen_ = false;
      } else if (plain_) {
        std::printf("album %d %s: %d of %d photos, %lld bytes\n", u.currentAlbum, Shown(r.name).c_str(), r.ok,
                    r.photos, r.bytes);
      }
      std::fflush(stdout);
    }
  }
  void SetStatusText(const std::string&) override {}
  void DownloadFolderPrepared(const std::string& root) override { albumRoot = root; }
  bool AskOpenFolder(const std::string&) override { return false; }
  void OpenFolder(const std::string&) override {}
  void DownloadFinished(const DownloadCounters& c) override { counters = c; }
  void Warning(const std::string& text) override {
    EndLine();
    std::cerr << "lorvanta-cli: warning: " << Shown(text) << "\n";
  }

  void PhotoStarted(const PhotoProgress& p) override {
    if (p.album < 0 || p.album >= static_cast<int>(reports.size())) return;
    reports[p.album].photos = p.photoCount;
    if (p.photo == 0) albumStart_ = std::chrono::steady_clock::now();
    if (tty_) DrawLine(p.album);
  }
  void PhotoFinished(const PhotoProgress& p, const FetchReport& report) override {
    if (p.album < 0 || p.album >= static_cast<int>(reports.size())) return;
    AlbumReport& r = reports[p.album];
    r.photos = p.photoCount;
    (report.ok ? r.ok : r.failed) += 1;
    if (report.ok) {
      r.bytes += report.bytes;
    } else {
      ++failures[std::string(FetchFailureKey(report.failure))];
      EndLine();
      std::cerr << "lorvanta-cli: 下载失败：" << Shown(p.name) << ": " << Shown(report.error) << "\n";
    }
    if (tty_) DrawLine(p.album);
    if (plain_ && report.ok) std::printf("  %s (%lld bytes)\n", Shown(p.file).c_str(), report.bytes);
  }

  void EndLine() {
    if (lineOpen_) {
      std::printf("\n");
      std::fflush(stdout);
      lineOpen_ = false;
    }
  }

  std::string target;
  std::string albumRoot;
  DownloadCounters counters;
  std::vector<AlbumReport> reports;
  std::map<std::string, int> failures;  // failed photos by reason

 private:
  void DrawLine(int n) {
    const AlbumReport& r = reports[n];
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - albumStart_).count();
    const double kib = r.bytes / 1024.0;
    std::printf("\r\033[K%s: %d/%d photos, %.1f KiB, %.1f KiB/s, %.1f s", Shown(r.name).c_str(), r.ok + r.failed,
                r.photos, kib, secs > 0 ? kib / secs : 0.0, secs);
    std::fflush(stdout);
    lineOpen_ = true;
  }

  const Options& o_;
  bool tty_ = false, plain_ = false, lineOpen_ = false;
  std::chrono::steady_clock::time_point albumStart_;
};

// Checks --to before anything is fetched, without changing anything on disk: it must be a writable
// folder, or a folder that can be made inside the nearest one that exists.
std::string CheckTarget(const std::string& to) {
  std::error_code ec;
  fs::path p = fs::absolute(to, ec);
  if (ec) UsageError("cannot resolve --to " + to);
  p = p.lexically_normal();
  if (fs::exists(p, ec) && !fs::is_directory(p, ec)) UsageError("--to " + to + " is not a folder");
  fs::path existing = p;
  while (!fs::exists(existing, ec) && existing.has_parent_path() && existing != existing.parent_path())
    existing = existing.parent_path();
  if (!fs::is_directory(existing, ec)) UsageError("--to " + to + ": " + existing.string() + " is not a folder");
  if (access(existing.c_str(), W_OK | X_OK) != 0) UsageError("the folder " + existing.string() + " is not writable");
  std::string s = p.string();
  if (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// Makes the --to folder once the run is sure to go ahead.
bool MakeTarget(const std::string& target) {
  std::error_code ec;
  fs::create_directories(target, ec);
  if (ec || !fs::is_directory(target, ec)) {
    std::cerr << "lorvanta-cli: cannot create the folder " << Shown(target) << ": " << ec.message() << "\n";
    return false;
  }
  return true;
}

int Download(const Options& o, int clientNumber) {
  const std::string target = CheckTarget(o.to);
  ReplyFolder replies;
  PreviewOutcome preview = RunPreview(o, replies, clientNumber);
  if (preview.end != PreviewOutcome::End::kListed) return PreviewFailed(o, preview);
  if (g_stop) {
    std::cerr << "lorvanta-cli: interrupted\n";
    return kExitInterrupted;
  }
  // The album list was asked on this thread's connection; with several fetching threads it would be one
  // connection more to the same host than --jobs allows.
  if (o.jobs > 1) FetchReleaseThreadHandles();
  const std::vector<AlbumEntryFields>& albums = preview.result.albums;
  auto listed = [&](const std::string& id) {
    return std::any_of(albums.begin(), albums.end(), [&](const AlbumEntryFields& f) { return f.id == id; });
  };
  // A mistyped --album must not move the older copy aside and leave an empty one: nothing has changed yet.
  std::vector<std::string> unknown;
  for (const auto& id : o.albums) {
    if (!listed(id)) unknown.push_back(id);
  }
  if (!unknown.empty()) {
    std::cerr << "lorvanta-cli: the album list of " << o.qq << " has no album with id";
    for (const auto& id : unknown) std::cerr << " \"" << Shown(id) << "\"";
    std::cerr << " (lorvanta-cli preview " << o.qq << " lists them); nothing was changed\n";
    return kExitUsage;
  }
  for (const auto& id : o.skips) {
    if (!listed(id)) std::cerr << "lorvanta-cli: warning: --skip " << Shown(id) << ": no album with that id\n";
  }
  if (!MakeTarget(target)) return kExitSomeFailed;

  DownloadInput in;
  in.qqNumber = o.qq;
  in.photoListHost = preview.result.photoListHost;
  in.albumViewHost = preview.result.albumViewHost;
  in.albums = albums;
  in.downloadFolder = target;
  in.photoListFile = replies.Paths().photoListFile;
  in.stopRequested = &g_stop;
  in.fetchAbort = &g_abort;
  in.parallelFetches = o.jobs;
  in.retry.retries = o.retries;
  in.update = o.update;
  in.keepDeleted = o.keepDeleted;
  in.writeManifest = o.writeMetadata;
  in.fetchOptions.maxBytes = o.maxPhotoBytes;
  std::unique_ptr<RateBudget> budget;
  if (o.rate > 0) {
    budget = std::make_unique<RateBudget>(o.rate);
    in.fetchOptions.rateBudget = budget.get();
    // Each connection gets about rate/jobs; the low-speed floor must stay well under that, or a capped
    // run would give up on photos that are merely sharing the budget.
    in.fetchOptions.lowSpeedBytesPerSec =
        std::clamp<long>(static_cast<long>(o.rate / (4LL * o.jobs)), 1L, in.fetchOptions.lowSpeedBytesPerSec);
  }

  TerminalDownloadHost host(o, albums);
  host.target = target;
  DownloadOutcome outcome = DownloadCheckedAlbums(in, host);
  host.EndLine();
  const DownloadCounters& c = outcome.counters;

  if (o.json) {
    std::cout << "{\"qq\":" << JsonQuote(o.qq) << ",\"albumRoot\":" << JsonQuote(outcome.albumRoot)
              << ",\"completed\":" << (outcome.end == DownloadOutcome::End::kCompleted ? "true" : "false")
              << ",\"albumsOk\":" << c.albumsOk << ",\"albumsFailed\":" << c.albumsFailed
              << ",\"photosOk\":" << c.photosOk << ",\"photosFailed\":" << c.photosFailed
              << ",\"photosPresent\":" << c.photosPresent << ",\"photosLeftOut\":" << c.photosLeftOut;
    if (!outcome.error.empty()) std::cout << ",\"error\":" << JsonQuote(outcome.error);
    std::cout << ",\"failures\":{";
    bool first = true;
    for (const auto& [reason, count] : host.failures) {
      std::cout << (first ? "" : ",") << JsonQuote(reason) << ":" << count;
      first = false;
    }
    std::cout << "},\"albums\":[";
    for (size_t n = 0; n < host.reports.size(); ++n) {
      const AlbumReport& r = host.reports[n];
      std::cout << (n ? "," : "") << "{\"number\":" << n << ",\"id\":" << JsonQuote(r.id)
                << ",\"name\":" << JsonQuote(r.name) << ",\"state\":" << JsonQuote(r.state)
                << ",\"folder\":" << JsonQuote(r.folder) << ",\"photosOk\":" << r.ok
                << ",\"photosFailed\":" << r.failed << ",\"bytes\":" << r.bytes;
      if (!r.reason.empty()) std::cout << ",\"reason\":" << JsonQuote(r.reason);
      std::cout << "}";
    }
    std::cout << "]}\n";
  } else if (!o.quiet && outcome.end != DownloadOutcome::End::kManifestError) {
    if (o.update) {
      std::printf("%s: albums downloaded %d, albums failed %d, photos new %d, already present %d, failed %d",
                  o.qq.c_str(), c.albumsOk, c.albumsFailed, c.photosOk, c.photosPresent, c.photosFailed);
      if (c.photosLeftOut > 0) std::printf(", left out as deleted %d", c.photosLeftOut);
      std::printf("\n");
    } else {
      std::printf("%s: albums downloaded %d, albums failed %d, photos downloaded %d, photos failed %d\n",
                  o.qq.c_str(), c.albumsOk, c.albumsFailed, c.photosOk, c.photosFailed);
    }
    if (!outcome.albumRoot.empty()) std::printf("photos in %s\n", Shown(outcome.albumRoot).c_str());
  }
  const bool written = OutputWritten();

  switch (outcome.end) {
    case DownloadOutcome::End::kStopped:
      std::cerr << "lorvanta-cli: interrupted\n";
      return kExitInterrupted;
    case DownloadOutcome::End::kEntryLimit:
      std::cerr << "lorvanta-cli: an album's photo list is too long; the download stopped there\n";
      return kExitSomeFailed;
    case DownloadOutcome::End::kCancelled:
      std::cerr << "lorvanta-cli: the download could not start\n";
      return kExitSomeFailed;
    case DownloadOutcome::End::kManifestError:
      std::cerr << "lorvanta-cli: cannot update: " << Shown(outcome.error)
                << "\nlorvanta-cli: nothing was fetched or changed; move that folder aside or repair it\n";
      return kExitManifest;
    case DownloadOutcome::End::kCompleted:
      break;
  }
  return (c.albumsFailed > 0 || c.photosFailed > 0 || !written) ? kExitSomeFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = ParseArguments(argc, argv);

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  FetchGlobalInit();
  InitXmlLayer();

  int clientNumber = o.clientNumber;
  if (clientNumber < 0) {
    TProgramRandom random;
    clientNumber = MakeClientNumber(random);
  }
  try {
    return o.command == "preview" ? Preview(o, clientNumber) : Download(o, clientNumber);
  } catch (const std::exception& e) {
    std::cerr << "lorvanta-cli: " << e.what() << "\n";
    return kExitSomeFailed;
  }
}

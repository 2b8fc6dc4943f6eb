// lorvanta-cli: the album preview and the album download of the window, for machines without a display and
// for scripts. It runs the very same jobs with a terminal host: the same retrieval, folder tree, backups,
// names and counters.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
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
    "                                [--jobs N] [--retries N] [--rate LIMIT] [--update [--keep-deleted]]\n"
    "                                [--write-metadata] [--quiet] [--json]\n"
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
    "          download rate in bytes per second (suffix k or m for KiB, MiB), shared by the --jobs.\n"
    "--update  keeps the album root and fetches only the photos that are not there yet (new albums\n"
    "          too), by a manifest (.lorvanta-album.json) in each album folder; a photo deleted by\n"
    "          hand comes back, unless --keep-deleted. Folders without a manifest are left alone and\n"
    "          the albums get new folders. --write-metadata writes the manifest (album fields and\n"
    "          photos) without --update too; a plain download writes the window's tree only.\n"
    "\n"
    "--route-host defaults to LORVANTA_ROUTE_HOST, else the built-in album route service.\n"
    "exit codes: 0 all downloaded, 1 some photos or albums failed, 2 bad usage or invalid QQ number,\n"
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

// "500000", "300k", "2M": bytes per second, at least 1 KiB.
long long RateValue(const std::string& v) {
  size_t digits = 0;
  while (digits < v.size() && digits < 12 && v[digits] >= '0' && v[digits] <= '9') ++digits;
  const std::string unit = v.substr(digits);
  long long factor = 0;
  if (unit.empty()) factor = 1;
  if (unit == "k" || unit == "K") factor = 1024;
  if (unit == "m" || unit == "M") factor = 1024 * 1024;
  const long long n = digits > 0 && factor > 0 ? std::stoll(v.substr(0, digits)) * factor : 0;
  if (n < 1024) UsageError("--rate takes bytes per second, at least 1024 (e.g. 500k, 2M): " + v);
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

// A private folder for the three reply files, so two runs never read each other's replies.
class ReplyFolder {
 public:
  ReplyFolder() {
    std::string base = (std::getenv("TMPDIR") && *std::getenv("TMPDIR")) ? std::getenv("TMPDIR") : "/tmp";
    std::string pattern = base + "/lorvanta-cli-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
      std::cerr << "lorvanta-cli: cannot create a temporary folder in " << base << "\n";
      std::exit(kExitUsage);
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
  in.fetchAbort = &g_abort;
  TerminalPreviewHost host;
  PreviewOutcome outcome = RetrieveAlbumList(in, host);
  if (outcome.end != PreviewOutcome::End::kListed && outcome.result.albumEntries.empty())
    outcome.result = host.result;
  return outcome;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
  const std::string temp = path + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

int Preview(const Options& o, int clientNumber) {
  ReplyFolder replies;
  PreviewOutcome outcome = RunPreview(o, replies, clientNumber);
  if (outcome.end != PreviewOutcome::End::kListed) {
    std::cerr << "lorvanta-cli: " << o.qq << ": " << PreviewFailureText(outcome.end) << "\n";
    return kExitNoAlbumList;
  }
  const auto& entries = outcome.result.albumEntries;
  if (!o.pageFile.empty()) {
    if (!WriteFileAtomically(o.pageFile, EncodeGbk(JoinPageLines(outcome.result.pageLines)))) {
      std::cerr << "lorvanta-cli: cannot write " << o.pageFile << "\n";
      return kExitUsage;
    }
  }
  if (o.json) {
    std::cout << "{\"qq\":" << JsonQuote(o.qq) << ",\"albums\":[";
    for (size_t n = 0; n < entries.size(); ++n) {
      AlbumEntryFields f = SplitAlbumEntry(entries[n]);
      std::cout << (n ? "," : "") << "{\"number\":" << n << ",\"id\":" << JsonQuote(f.id)
                << ",\"priv\":" << JsonQuote(f.priv) << ",\"privacy\":" << JsonQuote(PrivacyWord(f.priv))
                << ",\"total\":" << JsonQuote(f.total) << ",\"name\":" << JsonQuote(f.name)
                << ",\"desc\":" << JsonQuote(f.desc) << "}";
    }
    std::cout << "]}\n";
    return kExitOk;
  }
  std::printf("%-4s %-24s %-10s %6s  %s\n", "N", "ID", "PRIVACY", "PHOTOS", "NAME");
  for (size_t n = 0; n < entries.size(); ++n) {
    AlbumEntryFields f = SplitAlbumEntry(entries[n]);
    std::printf("%-4zu %-24s %-10s %6s  %s\n", n, f.id.c_str(), PrivacyWord(f.priv), f.total.c_str(),
                f.name.c_str());
  }
  return kExitOk;
}

struct AlbumReport {
  std::string id, name, folder;
  int photos = 0, ok = 0, failed = 0;
  long long bytes = 0;
  std::string state = "skipped";  // skipped, failed, done, abandoned
};

// The download host of the terminal: the folder is given, the tick boxes follow --album/--skip, the
// summary is printed instead of asked.
class TerminalDownloadHost : public DownloadHost {
 public:
  TerminalDownloadHost(const Options& o, const std::vector<std::string>& entries) : o_(o) {
    tty_ = !o.quiet && !o.json && isatty(STDOUT_FILENO);
    plain_ = !o.quiet && !o.json && !tty_;
    for (const auto& line : entries) {
      AlbumEntryFields f = SplitAlbumEntry(line);
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
    if (wanted) reports[n].state = "abandoned";  // until the job says otherwise
    return wanted ? "true" : "false";
  }
  void ShowAlbumStatus(const AlbumStatusUpdate& u) override {
    if (u.currentAlbum < 0 || u.currentAlbum >= static_cast<int>(reports.size())) return;
    AlbumReport& r = reports[u.currentAlbum];
    if (u.statusHtml == FailedStatusHtml()) {
      r.state = "failed";
      EndLine();
      std::cerr << "lorvanta-cli: album " << u.currentAlbum << " \"" << r.name
                << "\": the photo list could not be read\n";
    } else if (u.statusHtml.find("#GOTO2:") != std::string::npos) {
      r.state = "done";
      r.folder = u.currentAlbumName;
      if (tty_) {
        DrawLine(u.currentAlbum);
        std::printf("\n");
        lineOpen_ = false;
      } else if (plain_) {
        std::printf("album %d %s: %d of %d photos, %lld bytes\n", u.currentAlbum, r.name.c_str(), r.ok,
                    r.photos, r.bytes);
      }
      std::fflush(stdout);
    }
  }
  void SetStatusText(const std::string& text) override {
    if (text.rfind("下载失败：", 0) == 0) {
      EndLine();
      std::cerr << "lorvanta-cli: " << text << "\n";
    }
  }
  void DownloadFolderPrepared(const std::string& root) override { albumRoot = root; }
  bool AskOpenFolder(const std::string&) override { return false; }
  void OpenFolder(const std::string&) override {}
  void DownloadFinished(const DownloadCounters& c) override { counters = c; }

  void PhotoStarted(const PhotoProgress& p) override {
    if (p.album < 0 || p.album >= static_cast<int>(reports.size())) return;
    reports[p.album].photos = p.photoCount;
    if (p.photo == 0) albumStart_ = std::chrono::steady_clock::now();
    if (tty_) DrawLine(p.album);
  }
  void PhotoFinished(const PhotoProgress& p, bool ok, long long bytes) override {
    if (p.album < 0 || p.album >= static_cast<int>(reports.size())) return;
    AlbumReport& r = reports[p.album];
    r.photos = p.photoCount;
    (ok ? r.ok : r.failed) += 1;
    if (ok) r.bytes += bytes;
    if (tty_) DrawLine(p.album);
    if (plain_ && ok) std::printf("  %s (%lld bytes)\n", p.file.c_str(), bytes);
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

 private:
  void DrawLine(int n) {
    const AlbumReport& r = reports[n];
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - albumStart_).count();
    const double kib = r.bytes / 1024.0;
    std::printf("\r\033[K%s: %d/%d photos, %.1f KiB, %.1f KiB/s, %.1f s", r.name.c_str(), r.ok + r.failed,
                r.photos, kib, secs > 0 ? kib / secs : 0.0, secs);
    std::fflush(stdout);
    lineOpen_ = true;
  }

  const Options& o_;
  bool tty_ = false, plain_ = false, lineOpen_ = false;
  std::chrono::steady_clock::time_point albumStart_;
};

// Checks --to before anything is fetched: it must be (or become) a writable folder.
std::string PrepareTarget(const std::string& to) {
  std::error_code ec;
  fs::path p = fs::absolute(to, ec);
  if (ec) UsageError("cannot resolve --to " + to);
  if (fs::exists(p, ec) && !fs::is_directory(p, ec)) UsageError("--to " + to + " is not a folder");
  if (!fs::exists(p, ec)) {
    fs::create_directories(p, ec);
    if (ec) UsageError("cannot create the folder " + to + ": " + ec.message());
  }
  if (access(p.c_str(), W_OK | X_OK) != 0) UsageError("the folder " + to + " is not writable");
  std::string s = p.lexically_normal().string();
  if (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

int Download(const Options& o, int clientNumber) {
  const std::string target = PrepareTarget(o.to);
  ReplyFolder replies;
  PreviewOutcome preview = RunPreview(o, replies, clientNumber);
  if (preview.end != PreviewOutcome::End::kListed) {
    std::cerr << "lorvanta-cli: " << o.qq << ": " << PreviewFailureText(preview.end) << "\n";
    return kExitNoAlbumList;
  }
  if (g_stop) return kExitInterrupted;
  // The album list was asked on this thread's connection; with several fetching threads it would be one
  // connection more to the same host than --jobs allows.
  if (o.jobs > 1) FetchReleaseThreadHandles();
  for (const auto& id : o.albums) {
    bool found = false;
    for (const auto& line : preview.result.albumEntries) found = found || SplitAlbumEntry(line).id == id;
    if (!found) std::cerr << "lorvanta-cli: warning: no album with id " << id << "\n";
  }

  DownloadInput in;
  in.qqNumber = o.qq;
  in.photoListHost = preview.result.photoListHost;
  in.albumViewHost = preview.result.albumViewHost;
  in.albumEntries = preview.result.albumEntries;
  in.downloadFolder = target;
  in.photoListFile = replies.Paths().photoListFile;
  in.stopRequested = &g_stop;
  in.fetchAbort = &g_abort;
  in.parallelFetches = o.jobs;
  in.retry.retries = o.retries;
  in.update = o.update;
  in.keepDeleted = o.keepDeleted;
  in.writeManifest = o.writeMetadata;
  if (o.rate > 0) in.fetchOptions.maxRecvBytesPerSecond = std::max(1LL, o.rate / o.jobs);

  TerminalDownloadHost host(o, in.albumEntries);
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
    std::cout << ",\"albums\":[";
    for (size_t n = 0; n < host.reports.size(); ++n) {
      const AlbumReport& r = host.reports[n];
      std::cout << (n ? "," : "") << "{\"number\":" << n << ",\"id\":" << JsonQuote(r.id)
                << ",\"name\":" << JsonQuote(r.name) << ",\"state\":" << JsonQuote(r.state)
                << ",\"folder\":" << JsonQuote(r.folder) << ",\"photosOk\":" << r.ok
                << ",\"photosFailed\":" << r.failed << ",\"bytes\":" << r.bytes << "}";
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
    if (!outcome.albumRoot.empty()) std::printf("photos in %s\n", outcome.albumRoot.c_str());
  }

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
      std::cerr << "lorvanta-cli: cannot update: " << outcome.error
                << "\nlorvanta-cli: nothing was fetched or changed; move that folder aside or repair it\n";
      return kExitManifest;
    case DownloadOutcome::End::kCompleted:
      break;
  }
  return (c.albumsFailed > 0 || c.photosFailed > 0) ? kExitSomeFailed : kExitOk;
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

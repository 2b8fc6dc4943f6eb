// lorvanta-cli: the album preview and the album download of the window, for machines without a display and
// for scripts. It runs the very same jobs with a terminal host: the same retrieval, folder tree, backups,
// names and counters.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/foldercommands.h"
#include "cli/history.h"
#include "cli/login.h"
#include "cli/options.h"
#include "cli/replyfolder.h"
#include "cli/runreport.h"
#include "cli/terminalhost.h"
#include "core/albumdownload.h"
#include "core/albumlist.h"
#include "core/albumpage.h"
#include "core/currentservice.h"
#include "core/hosts.h"
#include "core/photolists.h"
#include "core/startup.h"
#include "core/textutil.h"
#include "core/wholefile.h"
#include "core/xmldoc.h"
#include "json/jsonwriter.h"
#include "net/cookiejar.h"
#include "net/fetchtofile.h"
#include "text/gbk.h"

namespace fs = std::filesystem;

namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_abort{false};

void OnSignal(int) {
  // A second interrupt also ends the photo being fetched; the first lets it finish.
  if (g_stop.exchange(true)) g_abort = true;
}

const char* PrivacyWord(const std::string& priv) {
  if (priv == "2") return "protected";
  if (priv == "3") return "private";
  return "open";
}

// Standard output was written in full (a full disk or a closed pipe is an I/O failure, not success).
bool OutputWritten() {
  std::cout.flush();
  const bool ok = std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good();
  if (!ok)
    std::cerr << "lorvanta-cli: cannot write the output: " << std::strerror(errno ? errno : EIO) << "\n";
  return ok;
}

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
    case PreviewOutcome::End::kSignInNeeded:
      return "the album site wants a sign-in: the session is not signed in or has expired";
    case PreviewOutcome::End::kRefused:
      return "the album site refused the album list";
    case PreviewOutcome::End::kListed:
      return "";
  }
  return "";
}

// A busy album site, waited for: said on the terminal, in the preview and the download alike.
void SayBusy(int waitMs) {
  std::cerr << "lorvanta-cli: the album site is busy; waiting " << (waitMs + 999) / 1000 << " s\n";
}

// The run's session: every request takes its cookies, and cookies that replies set stay for the run.
CookieJar* g_session = nullptr;

// The album site's session when this run goes through today's album site: asked for by --service current,
// or by auto when the session holds the site's sign-in cookies (p_skey or skey, and uin). Set once by
// main before a command runs.
std::optional<SiteSession> g_site;
constexpr int kSitePhotoJobs = 4;

// Exits with kExitSignIn when --service current finds no signed-in session.
std::optional<SiteSession> ChooseSite(const Options& o, const CookieJar& jar) {
  if (o.service == "classic") return std::nullopt;
  const SiteHosts hosts = MakeSiteHosts(!o.siteHost.empty() ? o.siteHost : SiteHostOverride());
  std::optional<SiteSession> site = SiteSignIn(jar.All(), hosts);
  if (!site) {
    if (o.service == "auto") return std::nullopt;
    std::cerr << "lorvanta-cli: --service current needs a session signed in to the album site ("
              << Shown(hosts.listBase) << "): give --cookies FILE with its uin and p_skey cookies\n";
    std::exit(kExitSignIn);
  }
  if (o.listPauseSeconds >= 0)
    site->pauseMinMs = site->pauseMaxMs = static_cast<int>(o.listPauseSeconds * 1000);
  if (o.busyPauseSeconds >= 0) site->busyPauseMs = static_cast<int>(o.busyPauseSeconds * 1000);
  if (o.maxRequestsPerMinute == 0) site->budget.reset();
  if (o.maxRequestsPerMinute > 0) site->budget = std::make_shared<CallBudget>(o.maxRequestsPerMinute);
  return site;
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
  in.cookies = g_session;
  if (g_site) in.site = &*g_site;
  in.onBusy = SayBusy;
  PreviewHost quiet;  // the outcome holds everything the terminal shows
  PreviewOutcome outcome = RetrieveAlbumList(in, quiet);
  for (const std::string& name : outcome.result.inaccessibleAlbums) {
    std::cerr << "lorvanta-cli: album \"" << Shown(name)
              << "\" is not open to the signed-in user; it is left out\n";
  }
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
  std::cerr << "lorvanta-cli: " << o.qq << ": " << PreviewFailureText(outcome.end)
            << (outcome.error.empty() ? "" : " (" + Shown(outcome.error) + ")") << "\n";
  return outcome.end == PreviewOutcome::End::kSignInNeeded ? kExitSignIn : kExitNoAlbumList;
}

// Writes the file whole or not at all; the reason on failure.
std::string WriteOutputFile(const std::string& path, const std::string& bytes) {
  try {
    WriteWholeFile(path, bytes);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return {};
}

int Preview(const Options& o, int clientNumber) {
  ReplyFolder replies;
  PreviewOutcome outcome = RunPreview(o, replies, clientNumber);
  if (outcome.end != PreviewOutcome::End::kListed) return PreviewFailed(o, outcome);
  const auto& albums = outcome.result.albums;
  if (!o.pageFile.empty()) {
    const std::string trouble =
        WriteOutputFile(o.pageFile, EncodeGbk(JoinPageLines(outcome.result.pageLines)));
    if (!trouble.empty()) {
      std::cerr << "lorvanta-cli: " << Shown(trouble) << "\n";
      return kExitSomeFailed;
    }
  }
  if (o.json) {
    JsonWriter w;
    w.Object().Key("qq").String(o.qq).Key("albums").Array();
    for (size_t n = 0; n < albums.size(); ++n) {
      const AlbumEntryFields& f = albums[n];
      w.Object().Key("number").Number(static_cast<long long>(n)).Key("id").String(f.id);
      w.Key("priv").String(f.priv).Key("privacy").String(PrivacyWord(f.priv)).Key("total").String(f.total);
      w.Key("name").String(f.name).Key("desc").String(f.desc).End();
    }
    w.End();
    if (outcome.result.listCut) w.Key("listCut").Boolean(true);
    std::cout << w.End().Text() << "\n";
    return OutputWritten() ? kExitOk : kExitSomeFailed;
  }
  std::printf("%-4s %-24s %-10s %6s  %s\n", "N", "ID", "PRIVACY", "PHOTOS", "NAME");
  for (size_t n = 0; n < albums.size(); ++n) {
    const AlbumEntryFields& f = albums[n];
    std::printf("%-4zu %-24s %-10s %6s  %s\n", n, Shown(f.id).c_str(), PrivacyWord(f.priv),
                Shown(f.total).c_str(), Shown(f.name).c_str());
  }
  return OutputWritten() ? kExitOk : kExitSomeFailed;
}

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
  if (!fs::is_directory(existing, ec))
    UsageError("--to " + to + ": " + existing.string() + " is not a folder");
  if (access(existing.c_str(), W_OK | X_OK) != 0)
    UsageError("the folder " + existing.string() + " is not writable");
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

// What one account's download came to, for the run's summaries and the history.
struct AccountResult {
  std::string json;  // its --json summary
  std::string albumRoot;
  long long photosNew = 0;
  std::map<std::string, long long> failures;  // failed photos and albums by reason
};

int DownloadAccount(const Options& o, int clientNumber, AccountResult& result) {
  const std::string target = CheckTarget(o.to);
  ReplyFolder replies;
  PreviewOutcome preview = RunPreview(o, replies, clientNumber);
  if (preview.end != PreviewOutcome::End::kListed) {
    const int code = PreviewFailed(o, preview);
    const std::string reason = g_stop ? "interrupted" : PreviewFailureText(preview.end);
    result.failures[reason] = 1;
    JsonWriter w;
    w.Object().Key("qq").String(o.qq).Key("completed").Boolean(false).Key("error").String(reason);
    result.json = w.Key("exitCode").Number(code).End().Text();
    return code;
  }
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
    if (!listed(id))
      std::cerr << "lorvanta-cli: warning: --skip " << Shown(id) << ": no album with that id\n";
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
  in.fetchOptions.cookies = g_session;
  std::unique_ptr<CurrentPhotoLists> siteLists;
  if (g_site) {
    CurrentPhotoLists::Setup setup =
        CurrentPhotoLists::ForSession(*g_site, o.qq, replies.Paths().photoListFile);
    setup.options.cookies = g_session;
    setup.options.abort = &g_abort;
    setup.retry.retries = o.retries;
    setup.stopRequested = &g_stop;
    setup.onBusy = SayBusy;
    setup.onPace = [perMinute = g_site->budget ? g_site->budget->CallsPerMinute() : 0](long waitMs) {
      if (waitMs >= 5000 && perMinute > 0)
        std::cerr << "lorvanta-cli: waiting " << (waitMs + 999) / 1000 << " s to ask the album site at most "
                  << perMinute << " times a minute (--max-requests-per-minute)\n";
    };
    siteLists = std::make_unique<CurrentPhotoLists>(std::move(setup));
    in.photoLists = siteLists.get();
    // The album site has frozen accounts that fetched too eagerly: a handful of photos at once, no more.
    if (in.parallelFetches > kSitePhotoJobs) {
      std::cerr << "lorvanta-cli: warning: the album site gets at most " << kSitePhotoJobs
                << " photo fetches at once (--jobs " << o.jobs << " asked for more)\n";
      in.parallelFetches = kSitePhotoJobs;
    }
  }
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
  in.selection = std::make_shared<AlbumSelection>(host.Ticks());
  DownloadOutcome outcome = DownloadCheckedAlbums(in, host);
  host.EndLine();
  const DownloadCounters& c = outcome.counters;
  // The copy becomes browsable, unless asked not to; a failure here is a warning.
  std::string viewer;
  const bool refused =
      outcome.end == DownloadOutcome::End::kManifestError || outcome.end == DownloadOutcome::End::kLocked;
  if (!o.noViewer) {
    const DownloadViewer built = ViewerAfterDownload(outcome, host.notes);
    viewer = built.page;
    if (!built.trouble.empty())
      std::cerr << "lorvanta-cli: warning: no viewer: " << Shown(built.trouble) << "\n";
  }

  if (o.json) {
    JsonWriter w;
    w.Object().Key("qq").String(o.qq).Key("albumRoot").String(outcome.albumRoot);
    w.Key("completed").Boolean(outcome.end == DownloadOutcome::End::kCompleted);
    w.Key("albumsOk").Number(c.albumsOk).Key("albumsFailed").Number(c.albumsFailed);
    w.Key("photosOk").Number(c.photosOk).Key("photosFailed").Number(c.photosFailed);
    w.Key("photosPresent").Number(c.photosPresent).Key("photosLeftOut").Number(c.photosLeftOut);
    w.Key("albumsIncomplete")
        .Number(static_cast<long long>(std::count_if(host.reports.begin(), host.reports.end(),
                                                     [](const AlbumReport& r) { return r.Incomplete(); })));
    if (outcome.end == DownloadOutcome::End::kLocked) w.Key("locked").Boolean(true);
    if (!outcome.error.empty()) w.Key("error").String(outcome.error);
    if (!viewer.empty()) w.Key("viewer").String(viewer);
    w.Key("failures").Object();
    for (const auto& [reason, count] : host.failures) w.Key(reason).Number(count);
    w.End().Key("albums").Array();
    for (size_t n = 0; n < host.reports.size(); ++n) {
      const AlbumReport& r = host.reports[n];
      w.Object()
          .Key("number")
          .Number(static_cast<long long>(n))
          .Key("id")
          .String(r.id)
          .Key("name")
          .String(r.name);
      w.Key("state").String(r.state).Key("folder").String(r.folder).Key("photosOk").Number(r.ok);
      w.Key("photosFailed").Number(r.failed).Key("bytes").Number(r.bytes);
      if (!r.reason.empty()) w.Key("reason").String(r.reason);
      if (r.listed >= 0) w.Key("photosListed").Number(r.listed).Key("photosSaved").Number(r.saved);
      if (r.Incomplete()) w.Key("incomplete").Boolean(true);
      w.End();
    }
    result.json = w.End().End().Text();
  } else if (!o.quiet && !refused) {
    if (o.update) {
      std::printf("%s: albums downloaded %d, albums failed %d, photos new %d, already present %d, failed %d",
                  o.qq.c_str(), c.albumsOk, c.albumsFailed, c.photosOk, c.photosPresent, c.photosFailed);
      if (c.photosLeftOut > 0) std::printf(", left out as deleted %d", c.photosLeftOut);
      std::printf("\n");
    } else {
      std::printf("%s: albums downloaded %d, albums failed %d, photos downloaded %d, photos failed %d\n",
                  o.qq.c_str(), c.albumsOk, c.albumsFailed, c.photosOk, c.photosFailed);
    }
    for (size_t n = 0; n < host.reports.size(); ++n) {
      const AlbumReport& r = host.reports[n];
      if (!r.Incomplete()) continue;
      std::printf("incomplete: album %zu \"%s\": ", n, Shown(r.name).c_str());
      const bool cut = r.saved < r.listed;
      if (cut) std::printf("%d of %d listed photos saved", r.saved, r.listed);
      if (!r.total.empty() && r.total != std::to_string(r.listed)) {
        std::printf("%sits photo list holds %d of the %s photos the album lists", cut ? "; " : "", r.listed,
                    Shown(r.total).c_str());
      }
      std::printf("\n");
    }
    if (!outcome.albumRoot.empty()) std::printf("photos in %s\n", Shown(outcome.albumRoot).c_str());
    if (!viewer.empty()) std::printf("browse them: %s\n", Shown(viewer).c_str());
  }
  const bool written = OutputWritten();
  result.albumRoot = outcome.albumRoot;
  result.photosNew = c.photosOk;
  for (const auto& [reason, count] : host.failures) result.failures[reason] += count;
  // An album the site would not list for want of a sign-in: the session ran out, and the run says so.
  bool signInNeeded = false;
  for (const AlbumReport& r : host.reports) {
    if (r.state != "failed" && r.state != "abandoned") continue;
    ++result.failures[r.reason.rfind(kSignInNeededReason, 0) == 0 ? "sign-in needed" : "album: " + r.reason];
    signInNeeded = signInNeeded || r.reason.rfind(kSignInNeededReason, 0) == 0;
  }

  switch (outcome.end) {
    case DownloadOutcome::End::kStopped:
      std::cerr << "lorvanta-cli: interrupted\n";
      return kExitInterrupted;
    case DownloadOutcome::End::kEntryLimit:
      std::cerr << "lorvanta-cli: an album's photo list is too long; the download stopped there\n";
      return kExitSomeFailed;
    case DownloadOutcome::End::kManifestError:
      std::cerr << "lorvanta-cli: cannot update: " << Shown(outcome.error)
                << "\nlorvanta-cli: nothing was fetched or changed; move that folder aside or repair it\n";
      return kExitManifest;
    case DownloadOutcome::End::kLocked:
      std::cerr << "lorvanta-cli: cannot download: " << Shown(outcome.error)
                << "\nlorvanta-cli: nothing was fetched or changed; try again when that run has ended\n";
      return kExitLocked;
    case DownloadOutcome::End::kCompleted:
      break;
  }
  if (signInNeeded) {
    std::cerr << "lorvanta-cli: " << o.qq
              << ": the album site's session ran out during the run; what was fetched is kept. Sign in again"
                 " (lorvanta-cli login) and run it again to fetch the rest\n";
    return kExitSignIn;
  }
  return (c.albumsFailed > 0 || c.photosFailed > 0 || !written) ? kExitSomeFailed : kExitOk;
}

// Every account of the run, one after another: one that fails does not stop the others, and the run's
// exit is the worst of theirs. backup notes each in the history.
int Download(const Options& o, int clientNumber) {
  const bool several = o.qqs.size() > 1;
  const std::string historyPath = o.command == "backup" ? DefaultHistoryPath() : std::string();
  int worst = kExitOk;
  std::vector<std::string> summaries;
  std::vector<HistoryEntry> runs;
  bool signedOut = false;  // the album site's session ran out: it is not asked again in this run
  for (size_t i = 0; i < o.qqs.size() && !g_stop; ++i) {
    Options account = o;
    account.qq = o.qqs[i];
    if (several && !o.quiet && !o.json)
      std::printf("account %s (%zu of %zu)\n", account.qq.c_str(), i + 1, o.qqs.size());
    const auto start = std::chrono::steady_clock::now();
    AccountResult result;
    int code = kExitSignIn;
    if (signedOut) {
      std::cerr << "lorvanta-cli: " << account.qq
                << ": sign-in needed: the album site's session ran out earlier in this run; not asked\n";
      result.failures["sign-in needed"] = 1;
      JsonWriter w;
      w.Object()
          .Key("qq")
          .String(account.qq)
          .Key("completed")
          .Boolean(false)
          .Key("error")
          .String("sign-in needed");
      result.json = w.Key("exitCode").Number(code).End().Text();
    } else {
      code = DownloadAccount(account, clientNumber, result);
      signedOut = g_site && code == kExitSignIn;
    }
    worst = WorseExit(worst, code);
    summaries.push_back(result.json);
    HistoryEntry run;
    run.when = std::time(nullptr);
    run.account = account.qq;
    run.photosNew = result.photosNew;
    run.failures = result.failures;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = code;
    run.albumRoot = result.albumRoot;
    runs.push_back(run);
    if (!historyPath.empty()) {
      try {
        AppendHistory(historyPath, run);
      } catch (const std::exception& e) {
        std::cerr << "lorvanta-cli: warning: the history was not written: " << Shown(e.what()) << "\n";
      }
    }
  }
  if (o.json) {
    if (several) {
      std::string all = "[";
      for (size_t i = 0; i < summaries.size(); ++i) all += (i > 0 ? ",\n" : "") + summaries[i];
      std::cout << all << "]\n";
    } else if (!summaries.empty() && !summaries.front().empty()) {
      std::cout << summaries.front() << "\n";
    }
    if (!OutputWritten()) worst = WorseExit(worst, kExitSomeFailed);
  }
  NotifyRunEnd(o, runs, worst);
  return worst;
}

// The session of the run, from --cookies when given. A file that cannot be read is bad usage; one that
// others may read still works, with a warning, since it may hold a sign-in.
void OpenSession(const Options& o, CookieJar& jar) {
  if (o.cookiesIn.empty()) return;
  try {
    jar.LoadFile(o.cookiesIn);
  } catch (const CookieFileError& e) {
    std::cerr << "lorvanta-cli: " << Shown(e.what()) << "\n";
    std::exit(kExitUsage);
  }
  struct stat st {};
  if (::stat(o.cookiesIn.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    std::cerr << "lorvanta-cli: warning: " << Shown(o.cookiesIn)
              << " may be read by other users; it holds a session (chmod 600 it)\n";
  }
}

// --cookies-out: the session as it stands at the end of the run.
int SaveSession(const Options& o, const CookieJar& jar, int code) {
  if (o.cookiesOut.empty()) return code;
  try {
    WriteWholeFile(o.cookiesOut, jar.FileText(), 0600);  // a session: the owner's alone, whatever was there
  } catch (const std::exception& e) {
    std::cerr << "lorvanta-cli: the session was not saved: " << Shown(e.what()) << "\n";
    return code == kExitOk ? kExitSomeFailed : code;
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  const ParseResult parsed = ParseArguments(argc, argv);
  if (!parsed.Run()) {
    std::cout << parsed.out;
    std::cerr << parsed.error;
    return OutputWritten() ? parsed.exitCode : kExitSomeFailed;
  }
  const Options& o = parsed.options;
  if (o.command == "viewer") return RunViewerCommand(o);
  if (o.command == "verify") return RunVerifyCommand(o);
  if (o.command == "status") return RunStatusCommand(o);

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  FetchGlobalInit();
  if (o.command == "login") return RunLoginCommand(o, g_stop);
  InitXmlLayer();

  int clientNumber = o.clientNumber;
  if (clientNumber < 0) {
    TProgramRandom random;
    clientNumber = MakeClientNumber(random);
  }
  CookieJar session;
  OpenSession(o, session);
  g_session = &session;
  g_site = ChooseSite(o, session);
  try {
    const int code = o.command == "preview" ? Preview(o, clientNumber) : Download(o, clientNumber);
    return SaveSession(o, session, code);
  } catch (const std::exception& e) {
    std::cerr << "lorvanta-cli: " << e.what() << "\n";
    return kExitSomeFailed;
  }
}

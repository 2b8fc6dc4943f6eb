// How fast the album download job fetches photos, beside wget fetching the very same photo addresses.
//
// Starts the bundled album service with a per-reply latency (as a real server has), previews the account,
// reads every album's photo list once to collect the photo addresses, then, for each run, downloads the
// albums with DownloadCheckedAlbums (no window: a host that ticks every album) and lets `wget -q -i` fetch
// the collected addresses. Prints photos per second of both and the ratio of their times. The order of the
// two alternates from run to run so that neither always meets a warm server.
//
//   download_bench [--qq 20000] [--albums N] [--latency-ms 5] [--runs 1] [--wget PATH] [--keep]
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench/support/benchsupport.h"
#include "core/albumdownload.h"
#include "core/xmldoc.h"
#include "net/fetchtofile.h"
#include "tools/albumd/testing/albumdprocess.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string qq = "20000";
  int albums = 0;  // 0: every album of the account
  int latencyMs = 5;
  int runs = 1;
  std::string wget = "wget";
  bool keep = false;
};

[[noreturn]] void Usage(const std::string& message) {
  std::cerr << "download_bench: " << message
            << "\nusage: download_bench [--qq QQ] [--albums N] [--latency-ms N] [--runs N] [--wget PATH]"
               " [--keep]\n";
  std::exit(2);
}

int WholeNumber(const std::string& option, const std::string& text, int least) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    Usage(option + " takes a whole number");
  const int n = std::stoi(text);
  if (n < least) Usage(option + " must be at least " + std::to_string(least));
  return n;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(a + " needs a value");
      return argv[++i];
    };
    if (a == "--qq") {
      o.qq = value();
    } else if (a == "--albums") {
      o.albums = WholeNumber(a, value(), 1);
    } else if (a == "--latency-ms") {
      o.latencyMs = WholeNumber(a, value(), 0);
    } else if (a == "--runs") {
      o.runs = WholeNumber(a, value(), 1);
    } else if (a == "--wget") {
      o.wget = value();
    } else if (a == "--keep") {
      o.keep = true;
    } else {
      Usage("unknown argument: " + a);
    }
  }
  return o;
}

// The job's host without a window. It adds up
// the time spent in photo fetches, so the photo part can be told from the photo lists.
class BenchDownloadHost : public DownloadHost {
 public:
  void ShowAlbumStatus(const AlbumStatusUpdate&) override {}
  void SetStatusText(const std::string&) override {}
  void DownloadFolderPrepared(const std::string&) override {}
  void PhotoStarted(const PhotoProgress&) override { photoStart_ = Clock::now(); }
  void PhotoFinished(const PhotoProgress&, const FetchReport& report) override {
    photoSeconds += std::chrono::duration<double>(Clock::now() - photoStart_).count();
    if (report.ok) bytes += report.bytes;
  }

  double photoSeconds = 0;
  long long bytes = 0;

 private:
  Clock::time_point photoStart_;
};

// Every photo address of the listed albums, in list order, read from their photo lists the way the job
// reads them.
std::vector<std::string> CollectPhotoAddresses(const PreviewResult& preview,
                                               const std::vector<AlbumEntryFields>& entries,
                                               const std::string& work) {
  std::vector<std::string> urls;
  const std::string listFile = work + "photolist.txt";
  const std::string scratch = work + "plan/";
  fs::create_directories(scratch);
  for (const AlbumEntryFields& album : entries) {
    const std::string address =
        PhotoListAddress(album, preview.qqNumber, preview.photoListHost, preview.albumViewHost);
    if (!FetchToFile(address, listFile)) throw std::runtime_error("photo list not fetched: " + address);
    const XmlDocument doc = XmlDocument::LoadFromFile(listFile);
    const AlbumPlan plan = PlanAlbumPhotos(ListPhotoNodes(FirstPhotoNode(doc)), scratch, album.name);
    for (const PlannedPhoto& photo : plan.photos) {
      if (photo.kind == PlannedPhoto::Kind::kFetch) urls.push_back(photo.url);
    }
  }
  return urls;
}

// Runs a program to its end; its exit status, or -1 when it could not be started or was killed.
int RunProgram(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct FolderCount {
  long long files = 0, bytes = 0;
};
FolderCount CountFiles(const std::string& folder) {
  FolderCount c;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec)) {
      ++c.files;
      c.bytes += static_cast<long long>(it->file_size(ec));
    }
  }
  return c;
}

struct Figures {
  double seconds = 0;
  long long photos = 0, bytes = 0;
  size_t requests = 0;
  double photoSeconds = 0;  // the job only: time inside photo fetches
};

Figures RunJob(const Options& o, const PreviewResult& preview, const std::vector<AlbumEntryFields>& entries,
               const std::string& folder, const AlbumdProcess& albumd) {
  DownloadInput in;
  in.qqNumber = o.qq;
  in.photoListHost = preview.photoListHost;
  in.albumViewHost = preview.albumViewHost;
  in.albums = entries;
  in.downloadFolder = folder;
  in.photoListFile = folder + "photolist.txt";
  BenchDownloadHost host;
  const size_t before = albumd.LogLines().size();
  const auto start = Clock::now();
  const DownloadOutcome outcome = DownloadCheckedAlbums(in, host);
  Figures f;
  f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  f.requests = albumd.LogLines().size() - before;
  f.photos = outcome.counters.photosOk;
  f.bytes = host.bytes;
  f.photoSeconds = host.photoSeconds;
  if (outcome.end != DownloadOutcome::End::kCompleted || outcome.counters.photosFailed != 0 ||
      outcome.counters.albumsFailed != 0) {
    throw std::runtime_error(
        "the download job did not complete cleanly: " + std::to_string(outcome.counters.photosFailed) +
        " photos and " + std::to_string(outcome.counters.albumsFailed) + " albums failed");
  }
  return f;
}

Figures RunWget(const Options& o, const std::string& urlFile, const std::string& folder,
                const AlbumdProcess& albumd) {
  const size_t before = albumd.LogLines().size();
  const auto start = Clock::now();
  const int rc = RunProgram({o.wget, "-q", "-i", urlFile, "-P", folder});
  Figures f;
  f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  f.requests = albumd.LogLines().size() - before;
  if (rc < 0) throw std::runtime_error(o.wget + " could not be run (Debian package wget; or --wget PATH)");
  if (rc != 0) throw std::runtime_error(o.wget + " ended with status " + std::to_string(rc));
  const FolderCount c = CountFiles(folder);
  f.photos = c.files;
  f.bytes = c.bytes;
  return f;
}

void PrintLine(const char* who, const Figures& f) {
  std::printf("  %-6s %8.2f s  %6lld photos  %9lld bytes  %6zu requests  %8.1f photos/s\n", who, f.seconds,
              f.photos, f.bytes, f.requests, f.photos / f.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  try {
    FetchGlobalInit();
    InitXmlLayer();
    AlbumdProcess::Options ao;
    ao.latencyMs = o.latencyMs;
    const auto albumd = AlbumdProcess::Start(ao);
    bench::ScratchFolder work("lorvanta-download-bench");
    if (o.keep) work.Keep();

    const PreviewResult preview = bench::PreviewAccount(albumd->HostPort(), o.qq, work.path());
    std::vector<AlbumEntryFields> entries = preview.albums;
    if (o.albums > 0 && static_cast<size_t>(o.albums) < entries.size()) entries.resize(o.albums);
    const std::vector<std::string> urls = CollectPhotoAddresses(preview, entries, work.path());
    const std::string urlFile = work.path() + "urls.txt";
    {
      std::ofstream out(urlFile);
      for (const std::string& u : urls) out << u << "\n";
      if (!out) throw std::runtime_error("cannot write " + urlFile);
    }
    std::printf("account %s: %zu albums, %zu photos; albumd latency %d ms per reply; %d run(s)\n",
                o.qq.c_str(), entries.size(), urls.size(), o.latencyMs, o.runs);

    std::vector<double> ratios, photoRatios;
    for (int run = 0; run < o.runs; ++run) {
      const std::string jobFolder = work.path() + "job" + std::to_string(run) + "/";
      const std::string wgetFolder = work.path() + "wget" + std::to_string(run) + "/";
      fs::create_directories(jobFolder);
      Figures job, wget;
      if (run % 2 == 0) {
        job = RunJob(o, preview, entries, jobFolder, *albumd);
        wget = RunWget(o, urlFile, wgetFolder, *albumd);
      } else {
        wget = RunWget(o, urlFile, wgetFolder, *albumd);
        job = RunJob(o, preview, entries, jobFolder, *albumd);
      }
      if (job.photos != static_cast<long long>(urls.size()) || wget.photos != job.photos ||
          wget.bytes != job.bytes) {
        throw std::runtime_error("the two downloads differ: job " + std::to_string(job.photos) + " photos, " +
                                 std::to_string(job.bytes) + " bytes; wget " + std::to_string(wget.photos) +
                                 " photos, " + std::to_string(wget.bytes) + " bytes");
      }
      std::printf("run %d (%s first)\n", run + 1, run % 2 == 0 ? "job" : "wget");
      PrintLine("job", job);
      PrintLine("wget", wget);
      const double ratio = job.seconds / wget.seconds;
      const double photoRatio = job.photoSeconds / wget.seconds;
      std::printf(
          "  job/wget time %.3f (photo fetches alone %.2f s, %.3f of wget; the rest is %zu photo lists)\n",
          ratio, job.photoSeconds, photoRatio, entries.size());
      ratios.push_back(ratio);
      photoRatios.push_back(photoRatio);
      if (!o.keep) {
        std::error_code ec;
        fs::remove_all(jobFolder, ec);
        fs::remove_all(wgetFolder, ec);
      }
    }
    std::sort(ratios.begin(), ratios.end());
    std::sort(photoRatios.begin(), photoRatios.end());
    const double median = ratios[ratios.size() / 2];
    std::printf("median job/wget time %.3f (photo fetches alone %.3f); target at most 1.050: %s\n", median,
                photoRatios[photoRatios.size() / 2], median <= 1.05 ? "met" : "NOT met");
    if (o.keep) std::printf("kept %s\n", work.path().c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "download_bench: %s\n", e.what());
    return 1;
  }
}

#include "app/albumdownload.h"

#include <filesystem>
#include <system_error>

#include "app/albumscripts.h"
#include "app/fetchpool.h"
#include "app/filenames.h"
#include "app/textutil.h"
#include "machine/md5unit.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxDescBytes = 10000;
constexpr std::string_view kBr = "\n\r";

bool Stopped(const DownloadInput& input) {
  return input.stopRequested != nullptr && input.stopRequested->load(std::memory_order_relaxed);
}

bool IsWebAddress(std::string_view url) {
  const std::string lower = AsciiUpper(url.substr(0, 8));
  return lower.rfind("HTTP://", 0) == 0 || lower.rfind("HTTPS://", 0) == 0;
}

// An empty body or a text page (a server's error page answered with 200) is no photo: saving it under a
// photo's name would report a failure as a success.
bool LooksLikeImage(const FetchReport& report) {
  if (report.bytes <= 0) return false;
  const std::string type = AsciiUpper(TrimBlanks(report.contentType));
  return type.rfind("TEXT/", 0) != 0;
}

void RemoveFile(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

// Moves an older album root aside under a fresh backup name; a failure is ignored (the job then writes
// into the old folder, never over its files).
void MoveOldRootAside(const std::string& downloadFolder, const DownloadInput& input,
                      const std::string& root) {
  std::error_code ec;
  const std::string bare = root.substr(0, root.size() - 1);
  if (!fs::is_directory(fs::symlink_status(bare, ec))) return;
  try {
    const std::time_t now = input.clock ? input.clock() : std::time(nullptr);
    fs::rename(bare, UniqueBackupFolderName(downloadFolder, input.qqNumber, now), ec);
  } catch (const std::runtime_error&) {
  }
}

class Job {
 public:
  Job(const DownloadInput& input, DownloadHost& host)
      : input_(input), host_(host), pool_(input.parallelFetches) {
    options_ = input.fetchOptions;
    options_.abort = input.fetchAbort;
    photoOptions_ = options_;
    photoOptions_.accept = [outer = options_.accept](const std::string& temp, const FetchReport& report) {
      return LooksLikeImage(report) && (!outer || outer(temp, report));
    };
  }

  DownloadOutcome Run();

 private:
  enum class AlbumEnd { kNext, kStop, kEntryLimit };

  AlbumEnd DownloadAlbum(int n);
  bool FetchPhotoList(const std::string& url);
  void PhotoDone(int n, const AlbumEntryFields& album, const std::string& linkName, const PlannedPhoto& photo,
                 const PhotoProgress& progress, const FetchReport& report, int& k);
  void Status(int n, std::string statusHtml, std::string_view rowColor, std::string linkName) {
    host_.ShowAlbumStatus({n, std::move(statusHtml), std::string(rowColor), std::move(linkName)});
  }

  const DownloadInput& input_;
  DownloadHost& host_;
  FetchOptions options_;
  FetchOptions photoOptions_;
  DownloadOutcome outcome_;
  FetchPool pool_;
};

DownloadOutcome Job::Run() {
  using End = DownloadOutcome::End;
  std::string folder = input_.downloadFolder;
  if (!host_.ChooseFolder(std::string(kChooseFolderTitle), folder)) {
    outcome_.end = End::kCancelled;
    return outcome_;
  }
  folder = WithTrailingSlash(folder);
  const std::string root = AlbumRootFolder(folder, input_.qqNumber);
  MoveOldRootAside(folder, input_, root);
  std::error_code ec;
  fs::create_directories(root, ec);
  outcome_.albumRoot = root;
  host_.DownloadFolderPrepared(root);

  const int count = static_cast<int>(input_.albumEntries.size());
  for (int n = 0; n < count; ++n) {
    if (Stopped(input_)) {
      outcome_.end = End::kStopped;
      return outcome_;
    }
    const AlbumEnd end = DownloadAlbum(n);
    if (end == AlbumEnd::kStop) {
      outcome_.end = End::kStopped;
      return outcome_;
    }
    if (end == AlbumEnd::kEntryLimit) {
      outcome_.end = End::kEntryLimit;
      return outcome_;
    }
  }

  if (host_.AskOpenFolder(DownloadSummary(input_.qqNumber, outcome_.counters))) host_.OpenFolder(root);
  host_.DownloadFinished(outcome_.counters);
  outcome_.end = End::kCompleted;
  return outcome_;
}

Job::AlbumEnd Job::DownloadAlbum(int n) {
  DownloadCounters& counters = outcome_.counters;
  if (ReadAlbumCheck(host_.ReadAlbumCheck(n)) == "FALSE") return AlbumEnd::kNext;
  try {
    const AlbumEntryFields album = SplitAlbumEntry(input_.albumEntries[n]);
    Status(n, StartedStatusHtml(), kStartedRowColor, album.name);

    // A failed fetch leaves no file, so it can never be mistaken for the previous album's list.
    RemoveFile(input_.photoListFile);
    const bool fetched = FetchPhotoList(
        PhotoListAddress(album, input_.qqNumber, input_.photoListHost, input_.albumViewHost));
    XmlNode first;
    std::unique_ptr<XmlDocument> doc;
    if (fetched) {
      doc = std::make_unique<XmlDocument>(XmlDocument::LoadFromFile(input_.photoListFile));
      first = FirstPhotoNode(*doc);
    }
    if (!first) {
      Status(n, FailedStatusHtml(), kDoneRowColor, album.name);
      ++counters.albumsFailed;
      return AlbumEnd::kNext;
    }

    ++counters.albumsOk;
    const std::string albumFolder = AlbumFolderPath(outcome_.albumRoot, album.name, album.id);
    fs::create_directories(albumFolder);
    const std::string linkName = LastComponent(albumFolder);
    const AlbumPlan plan = PlanAlbumPhotos(first, albumFolder, album.name);
    doc.reset();

    // Photos are handed to the pool in list order; with one worker each is fetched and reported before
    // the next one starts. A stop lets the fetches under way finish and be counted.
    int k = 0;
    bool stopped = false;
    const int photoCount = static_cast<int>(plan.photos.size());
    std::vector<PhotoProgress> started(plan.photos.size());
    // The fetches under way refer to the plan: whatever ends this walk waits for them first.
    struct DrainOnExit {
      FetchPool& pool;
      ~DrainOnExit() {
        while (pool.Outstanding() > 0) pool.NextDone();
      }
    } drain{pool_};
    auto takeOneDone = [&] {
      auto [i, report] = pool_.NextDone();
      PhotoDone(n, album, linkName, plan.photos[i], started[i], report, k);
    };
    for (int i = 0; i < photoCount && !stopped; ++i) {
      const PlannedPhoto& photo = plan.photos[i];
      while (pool_.Outstanding() >= pool_.Workers()) takeOneDone();
      if (Stopped(input_)) {
        stopped = true;
        break;
      }
      host_.SetStatusText("正在下载：" + photo.statusName);
      if (photo.kind == PlannedPhoto::Kind::kNoAddress) {
        ++counters.photosFailed;
        continue;
      }
      started[i] = PhotoProgress{n, i, photoCount, photo.url, photo.file};
      host_.PhotoStarted(started[i]);
      if (photo.kind == PlannedPhoto::Kind::kRefused) {
        PhotoDone(n, album, linkName, photo, started[i], FetchReport{}, k);
        continue;
      }
      pool_.Submit(i, [this, &photo] {
        return FetchWithRetries(photo.url, photo.file, photoOptions_, input_.retry, input_.stopRequested);
      });
    }
    while (pool_.Outstanding() > 0) takeOneDone();
    if (stopped) return AlbumEnd::kStop;
    if (plan.entryLimitHit) return AlbumEnd::kEntryLimit;

    Status(n, FinishedStatusHtml(linkName), kDoneRowColor, linkName);
  } catch (const std::runtime_error&) {
    // A photo list that is not well-formed, a folder that cannot be made: this album is abandoned as it
    // stands and the job goes on with the next one.
  } catch (const std::invalid_argument&) {
  }
  return AlbumEnd::kNext;
}

bool Job::FetchPhotoList(const std::string& url) {
  // Through the pool, so that the list is asked on one of its connections too.
  pool_.Submit(-1, [this, &url] {
    return FetchWithRetries(url, input_.photoListFile, options_, input_.retry, input_.stopRequested);
  });
  return pool_.NextDone().second.ok;
}

void Job::PhotoDone(int n, const AlbumEntryFields& album, const std::string& linkName,
                    const PlannedPhoto& photo, const PhotoProgress& progress, const FetchReport& report,
                    int& k) {
  DownloadCounters& counters = outcome_.counters;
  if (report.ok) {
    Status(n, ProgressStatusHtml(k, album.total), kStartedRowColor, linkName);
    ++k;
    ++counters.photosOk;
  } else {
    host_.SetStatusText("下载失败：" + photo.statusName);
    ++counters.photosFailed;
  }
  host_.PhotoFinished(progress, report.ok, report.bytes);
}

}  // namespace

AlbumEntryFields SplitAlbumEntry(std::string_view line) {
  size_t bars[4];
  size_t from = 0;
  for (size_t& bar : bars) {
    bar = line.find('|', from);
    if (bar == std::string_view::npos) throw std::invalid_argument("album entry has too few fields");
    from = bar + 1;
  }
  AlbumEntryFields f;
  f.id = std::string(line.substr(0, bars[0]));
  f.priv = std::string(line.substr(bars[0] + 1, bars[1] - bars[0] - 1));
  f.name = std::string(line.substr(bars[1] + 1, bars[2] - bars[1] - 1));
  f.total = std::string(line.substr(bars[2] + 1, bars[3] - bars[2] - 1));
  f.desc = std::string(line.substr(bars[3] + 1, kMaxDescBytes));
  return f;
}

std::string PhotoListAddress(const AlbumEntryFields& album, std::string_view qqNumber,
                             std::string_view photoListHost, std::string_view albumViewHost) {
  if (album.priv == "1") {
    return "http://" + std::string(photoListHost) + "/fcgi-bin/fcg_list_photo?uin=" + std::string(qqNumber) +
           "&albumid=" + PercentEncode(album.id);
  }
  return "http://" + std::string(albumViewHost) +
         "/cgi-bin/common/cgi_view_album?uin=" + std::string(qqNumber) +
         "&refer=portal&albumid=" + PercentEncode(album.id);
}

AlbumPlan PlanAlbumPhotos(XmlNode firstPic, const std::string& albumFolder, std::string_view albumName) {
  AlbumPlan plan;
  PhotoFileNamer namer(albumFolder);
  int entries = 0;
  for (XmlNode node = firstPic; node; node = node.Next()) {
    if (++entries > kMaxPhotoEntries) {
      plan.entryLimitHit = true;
      break;
    }
    const std::optional<TPhotoEntry> entry = ReadPhotoEntry(node);
    if (!entry) continue;
    PlannedPhoto photo;
    photo.statusName = std::string(albumName) + "/" + entry->name + "." + PhotoExtension(entry->phototype);
    photo.url = entry->url;
    if (entry->url.empty()) {
      photo.kind = PlannedPhoto::Kind::kNoAddress;
    } else if (!IsWebAddress(entry->url)) {
      // A list must not make us copy local files (file://) or talk other protocols.
      photo.kind = PlannedPhoto::Kind::kRefused;
    } else {
      try {
        photo.file = namer.NextPath(entry->name.empty() ? Md5Hex(entry->url) : entry->name, entry->url,
                                    entry->phototype);
      } catch (const std::runtime_error&) {
        photo.kind = PlannedPhoto::Kind::kRefused;
      }
    }
    plan.photos.push_back(std::move(photo));
  }
  return plan;
}

std::string DownloadSummary(std::string_view qqNumber, const DownloadCounters& c) {
  std::string s(qqNumber);
  s += "整个相册全部下载完成:";
  s += kBr;
  s += "成功下载相册数量：" + std::to_string(c.albumsOk);
  s += kBr;
  s += "下载失败相册数量：" + std::to_string(c.albumsFailed);
  s += kBr;
  s += "成功下载相片数量：" + std::to_string(c.photosOk);
  s += kBr;
  s += "下载失败相片数量：" + std::to_string(c.photosFailed);
  s += kBr;
  s += kBr;
  s += "现在打开文件夹查看吗？";
  return s;
}

DownloadOutcome DownloadCheckedAlbums(const DownloadInput& input, DownloadHost& host) {
  return Job(input, host).Run();
}

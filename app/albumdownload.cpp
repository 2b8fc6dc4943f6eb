#include "app/albumdownload.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>

#include "app/albumscripts.h"
#include "app/fetchpool.h"
#include "app/filenames.h"
#include "app/imagecheck.h"
#include "app/textutil.h"
#include "machine/md5unit.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxDescBytes = 10000;
constexpr std::string_view kBr = "\n\r";

// At most maxBytes of text, never cutting a UTF-8 character in two.
std::string CutOnCharacter(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

bool Stopped(const DownloadInput& input) {
  return input.stopRequested != nullptr && input.stopRequested->load(std::memory_order_relaxed);
}

bool IsWebAddress(std::string_view url) {
  const std::string lower = AsciiUpper(url.substr(0, 8));
  return lower.rfind("HTTP://", 0) == 0 || lower.rfind("HTTPS://", 0) == 0;
}

// A photo is accepted only when its bytes begin like an image and are as many as the server announced: an
// error page answered with 200, an empty body or a cut-off reply saved under a photo's name would report a
// failure as a success.
bool LooksLikeImage(const std::string& tempPath, FetchReport& report) {
  if (report.bytes <= 0) {
    report.error = "the reply is empty";
    return false;
  }
  if (report.contentLength >= 0 && report.contentLength != report.bytes) {
    report.error = "the reply does not match its announced length";
    return false;
  }
  if (!IsImageFile(tempPath)) {
    report.error = "the reply is not an image" +
                   (report.contentType.empty() ? std::string() : " (" + report.contentType + ")");
    return false;
  }
  return true;
}

// A run that was killed leaves its temporary files behind (its own fetch's ".part" beside a photo, a
// manifest being written). Only files of that exact naming, of a process that is gone, are removed.
void RemoveLeftoverTemporaries(const std::string& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    bool leftover = name == std::string(kManifestFileName) + ".part";
    constexpr std::string_view kFetchPrefix = ".lorvanta-fetch-";
    if (name.rfind(kFetchPrefix, 0) == 0 && name.size() > 5 &&
        name.compare(name.size() - 5, 5, ".part") == 0) {
      const long pid = std::strtol(name.c_str() + kFetchPrefix.size(), nullptr, 10);
      leftover = pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
    }
    std::error_code e2;
    if (leftover && entry.is_regular_file(e2)) fs::remove(entry.path(), e2);
  }
}

void RemoveFile(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

// Moves an older album root aside under a fresh backup name. A failure does not stop the job (it then
// writes into the old folder, never over its files); what went wrong is returned, empty when nothing did.
std::string MoveOldRootAside(const std::string& downloadFolder, const DownloadInput& input,
                             const std::string& root, std::time_t now) {
  std::error_code ec;
  const std::string bare = root.substr(0, root.size() - 1);
  if (!fs::is_directory(fs::symlink_status(bare, ec))) return {};
  std::string backup;
  try {
    backup = UniqueBackupFolderName(downloadFolder, input.qqNumber, now);
  } catch (const std::runtime_error& e) {
    return "cannot move the older copy " + bare + " aside: " + e.what() + "; writing into it";
  }
  fs::rename(bare, backup, ec);
  if (ec) return "cannot move the older copy " + bare + " to " + backup + ": " + ec.message() + "; writing into it";
  return {};
}

class Job {
 public:
  Job(const DownloadInput& input, DownloadHost& host)
      : input_(input), host_(host), pool_(input.parallelFetches) {
    options_ = input.fetchOptions;
    options_.abort = input.fetchAbort;
    photoOptions_ = options_;
    photoOptions_.accept = [outer = options_.accept](const std::string& temp, FetchReport& report) {
      return LooksLikeImage(temp, report) && (!outer || outer(temp, report));
    };
  }

  DownloadOutcome Run();

 private:
  enum class AlbumEnd { kNext, kStop, kEntryLimit };

  AlbumEnd DownloadAlbum(int n);
  AlbumEnd WalkAlbum(int n, const AlbumEntryFields& album);
  // The album is counted as failed and its status cell says so; state tells a list that was not usable
  // (kFailed) from an album that could not be finished (kAbandoned).
  AlbumEnd AlbumNotSaved(int n, const AlbumEntryFields& album, AlbumState state, std::string reason,
                         const std::string& linkName);
  void FindAlbumFolders(const std::string& root);
  std::time_t Now() const { return input_.clock ? input_.clock() : std::time(nullptr); }
  bool KeepsManifests() const { return input_.update || input_.writeManifest; }
  FetchReport FetchPhotoList(const std::string& url);
  void PhotoDone(int n, const AlbumEntryFields& album, const std::string& linkName, const PlannedPhoto& photo,
                 const PhotoProgress& progress, const FetchReport& report, int& k);
  void Status(int n, AlbumState state, const AlbumEntryFields& album, std::string linkName, int done = 0,
              std::string reason = {}) {
    AlbumStatusUpdate u;
    u.currentAlbum = n;
    u.state = state;
    u.photosDone = done;
    u.total = album.total;
    u.reason = std::move(reason);
    u.currentAlbumName = std::move(linkName);
    host_.ShowAlbumStatus(u);
  }

  const DownloadInput& input_;
  DownloadHost& host_;
  FetchOptions options_;
  FetchOptions photoOptions_;
  DownloadOutcome outcome_;
  FetchPool pool_;
  // Updating: the album folders of the root by the album id their manifest names, with the manifest.
  std::map<std::string, std::pair<std::string, AlbumManifest>> known_;
  // Why the album root could not be made; every ticked album then fails with it.
  std::string rootError_;
};

void Job::FindAlbumFolders(const std::string& root) {
  std::error_code ec;
  if (!fs::is_directory(root, ec)) return;
  std::vector<std::string> folders;
  for (const auto& entry : fs::directory_iterator(root, ec)) {
    std::error_code e2;
    if (entry.is_directory(e2) && !entry.is_symlink(e2)) folders.push_back(entry.path().string());
  }
  std::sort(folders.begin(), folders.end());
  for (const std::string& f : folders) {
    RemoveLeftoverTemporaries(f);
    std::optional<AlbumManifest> m;
    try {
      m = ReadAlbumManifest(f);
    } catch (const ManifestError& e) {
      throw ManifestError(f + "/" + std::string(kManifestFileName) + ": " + e.what());
    }
    if (!m || m->id.empty() || known_.count(m->id)) continue;
    const std::string id = m->id;  // before the manifest is moved from
    known_.emplace(id, std::make_pair(f, std::move(*m)));
  }
}

DownloadOutcome Job::Run() {
  using End = DownloadOutcome::End;
  std::string folder = input_.downloadFolder;
  if (!host_.ChooseFolder(std::string(kChooseFolderTitle), folder)) {
    outcome_.end = End::kCancelled;
    return outcome_;
  }
  folder = WithTrailingSlash(folder);
  const std::string root = AlbumRootFolder(folder, input_.qqNumber);
  if (input_.update) {
    // Every manifest is read before anything is fetched, so a damaged one stops the run untouched.
    try {
      FindAlbumFolders(root);
    } catch (const ManifestError& e) {
      outcome_.end = End::kManifestError;
      outcome_.error = e.what();
      return outcome_;
    }
  } else {
    const std::string trouble = MoveOldRootAside(folder, input_, root, Now());
    if (!trouble.empty()) host_.Warning(trouble);
  }
  std::error_code ec;
  fs::create_directories(root, ec);
  std::error_code isDir;
  if (!fs::is_directory(root, isDir)) {
    rootError_ = "cannot create the folder " + root + ": " +
                 (ec ? ec.message() : std::string("something else stands under that name"));
  }
  outcome_.albumRoot = root;
  host_.DownloadFolderPrepared(root);

  const int count = static_cast<int>(input_.albums.size());
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
  if (ReadAlbumCheck(host_.ReadAlbumCheck(n)) == "FALSE") return AlbumEnd::kNext;
  const AlbumEntryFields& album = input_.albums[n];
  Status(n, AlbumState::kStarted, album, album.name);
  if (!rootError_.empty()) return AlbumNotSaved(n, album, AlbumState::kAbandoned, rootError_, album.name);
  try {
    return WalkAlbum(n, album);
  } catch (const std::runtime_error& e) {
    // A folder that cannot be made, records that cannot be written (a full disk): this album is not
    // finished, and says so; the job goes on with the next one.
    return AlbumNotSaved(n, album, AlbumState::kAbandoned, e.what(), album.name);
  }
}

Job::AlbumEnd Job::AlbumNotSaved(int n, const AlbumEntryFields& album, AlbumState state, std::string reason,
                                 const std::string& linkName) {
  Status(n, state, album, linkName, 0, std::move(reason));
  ++outcome_.counters.albumsFailed;
  return AlbumEnd::kNext;
}

Job::AlbumEnd Job::WalkAlbum(int n, const AlbumEntryFields& album) {
  DownloadCounters& counters = outcome_.counters;
  // A failed fetch leaves no file, so it can never be mistaken for the previous album's list.
  RemoveFile(input_.photoListFile);
  const FetchReport listed =
      FetchPhotoList(PhotoListAddress(album, input_.qqNumber, input_.photoListHost, input_.albumViewHost));
  if (!listed.ok && (listed.aborted || Stopped(input_))) return AlbumEnd::kStop;
  if (!listed.ok) {
    return AlbumNotSaved(n, album, AlbumState::kFailed, "the photo list could not be fetched: " + listed.error,
                         album.name);
  }
  std::unique_ptr<XmlDocument> doc;
  try {
    doc = std::make_unique<XmlDocument>(XmlDocument::LoadFromFile(input_.photoListFile));
  } catch (const EXmlDocument& e) {
    return AlbumNotSaved(n, album, AlbumState::kFailed, std::string("the photo list cannot be read: ") + e.what(),
                         album.name);
  }
  const XmlNode first = FirstPhotoNode(*doc);
  if (!first) {
    return AlbumNotSaved(n, album, AlbumState::kFailed, "the photo list holds no photo", album.name);
  }

  AlbumManifest manifest;
  std::string albumFolder;
  if (auto it = known_.find(album.id); input_.update && it != known_.end()) {
    albumFolder = it->second.first;
    manifest = std::move(it->second.second);
    known_.erase(it);
  } else {
    albumFolder = AlbumFolderPath(outcome_.albumRoot, album.name, album.id);
  }
  fs::create_directories(albumFolder);
  const std::string linkName = LastComponent(albumFolder);
  PlanRecords records;
  records.now = Now();
  if (KeepsManifests()) {
    manifest.id = album.id;
    manifest.name = album.name;
    manifest.desc = CutOnCharacter(album.desc, kMaxDescBytes);
    manifest.priv = album.priv;
    manifest.total = album.total;
    records.manifest = &manifest;
    records.keepDeleted = input_.keepDeleted;
  }
  const AlbumPlan plan = PlanAlbumPhotos(first, albumFolder, album.name, records);
  doc.reset();
  // The planned names are reserved in the manifest before anything is fetched; each fetched photo is
  // then noted in the journal, and the manifest is written whole again at the end of the album.
  std::unique_ptr<ManifestJournal> journal;
  if (KeepsManifests()) {
    WriteAlbumManifest(albumFolder, manifest);
    journal = std::make_unique<ManifestJournal>(albumFolder);
  }
  std::map<std::pair<std::string, std::string>, size_t> recordOf;  // (address, file) -> record
  for (size_t r = 0; r < manifest.photos.size(); ++r)
    recordOf.emplace(std::make_pair(manifest.photos[r].url, manifest.photos[r].file), r);
  auto noteFetched = [&](const PlannedPhoto& photo, long long bytes) {
    if (!journal) return;
    const std::string file = LastComponent(photo.file);
    const std::time_t now = Now();
    journal->Fetched(photo.url, file, bytes, now);
    if (auto it = recordOf.find({photo.url, file}); it != recordOf.end()) {
      manifest.photos[it->second].size = bytes;
      manifest.photos[it->second].fetched = now;
    }
  };

  // Photos are handed to the pool in list order; with one worker each is fetched and reported before
  // the next one starts. A stop lets the fetches under way finish and be counted.
  int k = 0;
  bool stopped = false;
  const int photoCount = static_cast<int>(plan.photos.size());
  std::vector<PhotoProgress> started(plan.photos.size());
  int toFetch = 0;
  for (const PlannedPhoto& photo : plan.photos) {
    if (photo.kind != PlannedPhoto::Kind::kPresent && photo.kind != PlannedPhoto::Kind::kLeftOut) ++toFetch;
  }
  int startedCount = 0;
  // The fetches under way refer to the plan: whatever ends this walk waits for them first.
  struct DrainOnExit {
    FetchPool& pool;
    ~DrainOnExit() {
      while (pool.Outstanding() > 0) pool.NextDone();
    }
  } drain{pool_};
  auto takeOneDone = [&] {
    auto [i, report] = pool_.NextDone();
    if (report.ok) noteFetched(plan.photos[i], report.bytes);
    PhotoDone(n, album, linkName, plan.photos[i], started[i], report, k);
  };
  for (int i = 0; i < photoCount && !stopped; ++i) {
    const PlannedPhoto& photo = plan.photos[i];
    while (pool_.Outstanding() >= pool_.Workers()) takeOneDone();
    if (Stopped(input_)) {
      stopped = true;
      break;
    }
    if (photo.kind == PlannedPhoto::Kind::kPresent) {
      ++counters.photosPresent;
      continue;
    }
    if (photo.kind == PlannedPhoto::Kind::kLeftOut) {
      ++counters.photosLeftOut;
      continue;
    }
    host_.SetStatusText("正在下载：" + photo.statusName);
    started[i] = PhotoProgress{n, startedCount++, toFetch, photo.url, photo.file, photo.statusName};
    host_.PhotoStarted(started[i]);
    if (photo.kind == PlannedPhoto::Kind::kNoAddress || photo.kind == PlannedPhoto::Kind::kRefused) {
      FetchReport refused;
      refused.failure = photo.kind == PlannedPhoto::Kind::kNoAddress ? FetchFailure::kNoAddress
                                                                      : FetchFailure::kRefusedAddress;
      refused.error = photo.reason;
      if (photo.kind == PlannedPhoto::Kind::kNoAddress) {
        // Counted as failed, but the status panel keeps the "downloading" text of the entry.
        ++counters.photosFailed;
        host_.PhotoFinished(started[i], refused);
      } else {
        PhotoDone(n, album, linkName, photo, started[i], refused, k);
      }
      continue;
    }
    pool_.Submit(i, [this, &photo] {
      return FetchWithRetries(photo.url, photo.file, photoOptions_, input_.retry, input_.stopRequested);
    });
  }
  while (pool_.Outstanding() > 0) takeOneDone();
  if (journal) {
    journal.reset();
    WriteAlbumManifest(albumFolder, manifest);
  }
  if (stopped) return AlbumEnd::kStop;
  if (plan.entryLimitHit) return AlbumEnd::kEntryLimit;

  ++counters.albumsOk;
  Status(n, AlbumState::kDone, album, linkName);
  return AlbumEnd::kNext;
}

FetchReport Job::FetchPhotoList(const std::string& url) {
  // Through the pool, so that the list is asked on one of its connections too.
  pool_.Submit(-1, [this, &url] {
    return FetchWithRetries(url, input_.photoListFile, options_, input_.retry, input_.stopRequested);
  });
  return pool_.NextDone().second;
}

void Job::PhotoDone(int n, const AlbumEntryFields& album, const std::string& linkName,
                    const PlannedPhoto& photo, const PhotoProgress& progress, const FetchReport& report,
                    int& k) {
  DownloadCounters& counters = outcome_.counters;
  if (report.ok) {
    Status(n, AlbumState::kProgress, album, linkName, k);
    ++k;
    ++counters.photosOk;
  } else {
    host_.SetStatusText("下载失败：" + photo.statusName);
    ++counters.photosFailed;
  }
  host_.PhotoFinished(progress, report);
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
  f.desc = CutOnCharacter(line.substr(bars[3] + 1), kMaxDescBytes);
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

AlbumPlan PlanAlbumPhotos(XmlNode firstPic, const std::string& albumFolder, std::string_view albumName,
                          const PlanRecords& records) {
  AlbumPlan plan;
  PhotoFileNamer namer(albumFolder);
  const std::string prefix = WithTrailingSlash(albumFolder);

  // The records by address, in manifest order (a list may give one address to several photos).
  std::vector<ManifestPhoto> recorded;
  std::map<std::string, std::deque<size_t>> byUrl;
  if (records.manifest != nullptr) {
    recorded = std::move(records.manifest->photos);
    records.manifest->photos.clear();
    for (size_t i = 0; i < recorded.size(); ++i) {
      namer.Reserve(prefix + recorded[i].file);
      byUrl[recorded[i].url].push_back(i);
    }
  }
  std::vector<bool> used(recorded.size(), false);
  std::vector<ManifestPhoto> kept;

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
      photo.reason = "the photo list gives no address";
      plan.photos.push_back(std::move(photo));
      continue;
    }
    if (!IsWebAddress(entry->url)) {
      // A list must not make us copy local files (file://) or talk other protocols.
      photo.kind = PlannedPhoto::Kind::kRefused;
      photo.reason = "not an http or https address";
      plan.photos.push_back(std::move(photo));
      continue;
    }
    std::optional<ManifestPhoto> record;
    if (auto it = byUrl.find(entry->url); it != byUrl.end() && !it->second.empty()) {
      used[it->second.front()] = true;
      record = recorded[it->second.front()];
      it->second.pop_front();
    }
    if (record) {
      photo.file = prefix + record->file;
      std::error_code ec;
      const auto status = fs::symlink_status(photo.file, ec);
      if (fs::is_regular_file(status)) {
        const long long size = static_cast<long long>(fs::file_size(photo.file, ec));
        if (!ec && (record->size < 0 || record->size == size)) {
          photo.kind = PlannedPhoto::Kind::kPresent;
          if (record->size < 0) {  // reserved by a run that ended before it could report
            record->size = size;
            record->fetched = records.now;
          }
          kept.push_back(*record);
          plan.photos.push_back(std::move(photo));
          continue;
        }
        // Another file now stands under that name (edited or replaced by hand): it is left alone and no
        // longer counted as this photo, which is fetched under a new name.
        record.reset();
      } else if (!fs::exists(status)) {
        if (records.keepDeleted && (record->size >= 0 || record->deleted)) {
          photo.kind = PlannedPhoto::Kind::kLeftOut;
          record->deleted = true;
          kept.push_back(*record);
          plan.photos.push_back(std::move(photo));
          continue;
        }
        // Gone: it comes back under its recorded name (or the run that reserved it goes on).
        record->size = -1;
        record->fetched = 0;
        record->deleted = false;
        kept.push_back(*record);
        plan.photos.push_back(std::move(photo));
        continue;
      } else {
        record.reset();  // a folder or something else under that name: a new name
      }
    }
    try {
      photo.file = namer.NextPath(entry->name.empty() ? Md5Hex(entry->url) : entry->name, entry->url,
                                  entry->phototype);
      if (records.manifest != nullptr) kept.push_back({entry->url, LastComponent(photo.file)});
    } catch (const std::runtime_error& e) {
      photo.kind = PlannedPhoto::Kind::kRefused;
      photo.reason = std::string("no file name can be given: ") + e.what();
    }
    plan.photos.push_back(std::move(photo));
  }
  if (records.manifest != nullptr) {
    // Records of photos the list no longer has stay: their files are still in the folder.
    for (size_t i = 0; i < recorded.size(); ++i) {
      if (!used[i]) kept.push_back(recorded[i]);
    }
    records.manifest->photos = std::move(kept);
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

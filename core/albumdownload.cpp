#include "core/albumdownload.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <list>
#include <map>
#include <optional>
#include <system_error>

#include "core/albumrecords.h"
#include "core/albumroot.h"
#include "core/currentservice.h"
#include "core/filenames.h"
#include "core/imagecheck.h"
#include "core/textutil.h"
#include "net/fetchpool.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBr = "\n\r";

bool Stopped(const DownloadInput& input) {
  return input.stopRequested != nullptr && input.stopRequested->load(std::memory_order_relaxed);
}

// One album under way: from its photo list to its last photo.
struct AlbumRun {
  int n = 0;
  const AlbumEntryFields* album = nullptr;
  bool listing = true;     // its photo list is being fetched
  bool abandoned = false;  // its folder or records failed: what is still under way is waited for only
  std::string reason;      // why it was abandoned
  std::shared_ptr<PhotoListSource::Result> listed;  // what the list fetch gave
  std::unique_ptr<AlbumRecords> records;
  AlbumPlan plan;
  std::string linkName;                // its folder's last component
  std::vector<PhotoProgress> started;  // by plan index, once handed out
  int written = 0;                     // photos written so far
  int toFetch = 0;                     // photos of the plan that are to be fetched
  int startedCount = 0;                // of those, announced so far
  int next = 0;                        // the plan index to hand out next
  int outstanding = 0;                 // fetches of this album in the pool

  bool HandedOut() const { return next >= static_cast<int>(plan.photos.size()); }
};

class Job {
 public:
  Job(const DownloadInput& input, DownloadHost& host)
      : input_(input), host_(host), pool_(input.parallelFetches) {
    options_ = input.fetchOptions;
    options_.abort = input.fetchAbort;
    photoOptions_ = options_;
    // A photo never replaces another file (names are handed out free, but a case-blind disk may still
    // hold one the names did not foresee), and its bytes are on the disk before anything records it.
    photoOptions_.keepExisting = true;
    photoOptions_.durable = true;
    // The flush runs beside the next photo's transfer (the pool's placing thread), not in its way.
    photoOptions_.deferPlacing = true;
    // The records' digest comes from the bytes as they arrive, never from reading the photo back; without
    // records nobody needs it.
    photoOptions_.digest = input.update || input.writeManifest;
    photoOptions_.accept = [outer = options_.accept](const std::string& temp, FetchReport& report) {
      return LooksLikeImage(temp, report) && (!outer || outer(temp, report));
    };
    lists_ = input.photoLists;
    if (lists_ == nullptr) {
      classic_ = std::make_unique<ClassicPhotoLists>(
          ClassicPhotoLists::Setup{input.qqNumber, input.photoListHost, input.albumViewHost,
                                   input.photoListFile, options_, input.retry, input.stopRequested});
      lists_ = classic_.get();
    }
    if (auto check = lists_->PhotoCheck()) {
      photoOptions_.accept = [inner = photoOptions_.accept, check](const std::string& temp,
                                                                   FetchReport& report) {
        return inner(temp, report) && check(temp, report);
      };
    }
    // A video is checked as one, and its host wants the album site's Referer.
    videoOptions_ = photoOptions_;
    videoOptions_.headers.push_back("Referer: " + std::string(kSiteReferer));
    videoOptions_.accept = [outer = options_.accept](const std::string& temp, FetchReport& report) {
      return LooksLikeVideo(temp, report) && (!outer || outer(temp, report));
    };
  }

  DownloadOutcome Run();

 private:
  enum class AlbumEnd { kNext, kStop, kEntryLimit };
  enum class Listed { kReady, kNotSaved, kStop };

  // Every ticked album; kNext when all were walked.
  AlbumEnd WalkAlbums();
  // The next ticked album is started (its photo list asked for); false when none is left.
  bool StartNextAlbum();
  // The album's photo list has come: its folder, records and plan.
  Listed ListArrived(AlbumRun& a, const FetchReport& report);
  // Hands out the album's next photo to fetch; false when none was left.
  bool HandOut(AlbumRun& a);
  // A fetch has come back (a photo list or a photo).
  void TakeResult(int tag, const FetchReport& report);
  // Ends the albums whose every photo has come in (or that a stop or a failure ends), in list order.
  void FinishAlbums();
  // Counts a photo the plan keeps or leaves out, and announces the others; true when the photo is to be
  // fetched (a photo without an address or that is refused is reported as failed here).
  bool StartPhoto(AlbumRun& a, int i);
  void PhotoDone(AlbumRun& a, int i, const FetchReport& report);
  // The album is done: counted, with how complete it is.
  void AlbumDone(const AlbumRun& a);
  // The album is counted as failed and its status cell says so; state tells a list that was not usable
  // (kFailed) from an album that could not be finished (kAbandoned).
  void AlbumNotSaved(int n, const AlbumEntryFields& album, AlbumState state, std::string reason);
  // Which folder the album goes to (made), with the records kept in it.
  std::unique_ptr<AlbumRecords> NewRecords(const AlbumEntryFields& album);
  std::time_t Now() const { return input_.clock ? input_.clock() : std::time(nullptr); }
  void Status(int n, AlbumState state, const AlbumEntryFields& album, std::string linkName, int done = 0,
              std::string reason = {}, int listed = -1, int saved = -1) {
    AlbumStatusUpdate u;
    u.currentAlbum = n;
    u.state = state;
    u.photosDone = done;
    u.total = album.total;
    u.reason = std::move(reason);
    u.currentAlbumName = std::move(linkName);
    u.photosListed = listed;
    u.photosSaved = saved;
    host_.ShowAlbumStatus(u);
  }

  const DownloadInput& input_;
  DownloadHost& host_;
  FetchOptions options_;
  FetchOptions photoOptions_;
  FetchOptions videoOptions_;
  DownloadOutcome outcome_;
  FetchPool pool_;
  PhotoListSource* lists_ = nullptr;
  std::unique_ptr<ClassicPhotoLists> classic_;
  // Updating: the album folders of the root that earlier runs made.
  std::map<std::string, KnownAlbumFolder> known_;
  // Why the album root could not be made; every ticked album then fails with it.
  std::string rootError_;
  // How the album root's disk compares and takes names.
  NameRules rules_;
  // The walk: albums under way in list order, and what each fetch in the pool is for (its album, and the
  // photo's plan index or -1 for the photo list).
  std::list<AlbumRun> active_;
  std::map<int, std::pair<AlbumRun*, int>> tags_;
  int nextTag_ = 0;
  int nextAlbum_ = 0;
  bool limitHit_ = false;  // an album's photo list passed the entry limit: no album after it
  bool stopping_ = false;
};

DownloadOutcome Job::Run() {
  using End = DownloadOutcome::End;
  std::string folder = input_.downloadFolder;
  folder = WithTrailingSlash(folder);
  const std::string root = AlbumRootFolder(folder, input_.qqNumber);
  std::error_code ec;
  // The lock stands beside the album root, so its folder is made first (as the root would be anyway).
  fs::create_directories(folder, ec);
  AlbumRootLock::Holder holder;
  std::unique_ptr<AlbumRootLock> lock = AlbumRootLock::Take(root, AlbumRootLock::Mode::kWrite, holder);
  if (!lock) {
    // Nothing is moved aside, nothing written: the other run's copy is left to it.
    outcome_.end = End::kLocked;
    outcome_.albumRoot = root;
    outcome_.lockHolder = holder;
    outcome_.error = LockHeldText(root, holder);
    return outcome_;
  }
  if (!lock->Unlocked().empty()) host_.Warning(lock->Unlocked());
  outcome_.lock = std::move(lock);
  if (!input_.update) {
    const std::string trouble = MoveOldRootAside(folder, input_.qqNumber, root, Now());
    if (!trouble.empty()) host_.Warning(trouble);
  }
  fs::create_directories(root, ec);
  std::error_code isDir;
  if (!fs::is_directory(root, isDir)) {
    rootError_ = "cannot create the folder " + root + ": " +
                 (ec ? ec.message() : std::string("something else stands under that name"));
  } else {
    rules_ = ProbeNameRules(root);
  }
  if (input_.update) {
    // Every manifest is read before anything is fetched, so a damaged one stops the run untouched.
    try {
      known_ = FindAlbumFolders(root, input_.albums, rules_);
    } catch (const ManifestError& e) {
      outcome_.end = End::kManifestError;
      outcome_.error = e.what();
      return outcome_;
    }
  }
  outcome_.albumRoot = root;
  host_.DownloadFolderPrepared(root);

  if (const AlbumEnd end = WalkAlbums(); end != AlbumEnd::kNext) {
    outcome_.end = end == AlbumEnd::kStop ? End::kStopped : End::kEntryLimit;
    return outcome_;
  }

  outcome_.end = End::kCompleted;
  return outcome_;
}

// Albums are walked in list order; each goes through its own steps in their order (read its tick,
// started, its photos counted up one by one, done or failed), and its photos are handed out in list
// order. With one connection an album ends before the next begins. With more, waiting for that cost a good
// part of the time: the pool drained at the end of every album (its last photos with most connections
// idle), then the next photo list was fetched on its own. So there the next album's photo list is asked
// for as soon as the album at work has handed out its last photo, and its photos follow at once, while
// the last ones of the album before are still coming in. Albums begin in list order either way, so their
// folders are made, and named, in the same order for any number of connections.
Job::AlbumEnd Job::WalkAlbums() {
  const bool overlap = pool_.Workers() > 1;
  for (;;) {
    FinishAlbums();
    if (!stopping_ && Stopped(input_)) stopping_ = true;
    if (stopping_) {
      if (pool_.Outstanding() == 0) {
        FinishAlbums();
        return AlbumEnd::kStop;
      }
    } else if (pool_.HasDone()) {
      // What has come in is counted before more is handed out, so the status keeps up with the photos.
    } else if (pool_.Transferring() < pool_.Workers() && pool_.Outstanding() < 3 * pool_.Workers()) {
      AlbumRun* last = active_.empty() ? nullptr : &active_.back();
      if (last != nullptr && !last->listing && !last->abandoned && HandOut(*last)) continue;
      if (last == nullptr || (overlap && !last->listing)) {
        if (!limitHit_ && StartNextAlbum()) continue;
        if (active_.empty() && pool_.Outstanding() == 0)
          return limitHit_ ? AlbumEnd::kEntryLimit : AlbumEnd::kNext;
      }
    }
    if (pool_.Outstanding() == 0) continue;  // an album ended above without a fetch
    auto done = pool_.NextDoneOrRoom();
    if (!done) continue;  // a connection is free while the photo it fetched is being placed
    TakeResult(done->first, done->second);
  }
}

bool Job::StartNextAlbum() {
  while (nextAlbum_ < static_cast<int>(input_.albums.size())) {
    const int n = nextAlbum_++;
    if (input_.selection && !input_.selection->Ticked(n)) continue;
    const AlbumEntryFields& album = input_.albums[n];
    Status(n, AlbumState::kStarted, album, album.name);
    if (!rootError_.empty()) {
      AlbumNotSaved(n, album, AlbumState::kAbandoned, rootError_);
      return true;
    }
    AlbumRun& a = active_.emplace_back();
    a.n = n;
    a.album = &album;
    a.listed = std::make_shared<PhotoListSource::Result>();
    tags_[nextTag_] = {&a, -1};
    ++a.outstanding;
    pool_.Submit(nextTag_++, [this, &album, listed = a.listed] {
      *listed = lists_->List(album);
      return listed->report;
    });
    return true;
  }
  return false;
}

Job::Listed Job::ListArrived(AlbumRun& a, const FetchReport& report) {
  a.listing = false;
  const AlbumEntryFields& album = *a.album;
  if (!report.ok && (report.aborted || Stopped(input_))) return Listed::kStop;
  if (!report.ok) {
    AlbumNotSaved(a.n, album, AlbumState::kFailed, "the photo list could not be fetched: " + report.error);
    return Listed::kNotSaved;
  }
  if (!a.listed->unusable.empty()) {
    AlbumNotSaved(a.n, album, AlbumState::kFailed, a.listed->unusable);
    return Listed::kNotSaved;
  }
  try {
    a.records = NewRecords(album);
    a.plan = PlanAlbumPhotos(a.listed->listing, a.records->Folder(), album.name,
                             a.records->ForPlan(input_.keepDeleted), rules_);
    a.listed.reset();
    a.records->Begin();
  } catch (const std::runtime_error& e) {
    // A folder that cannot be made, records that cannot be written (a full disk): this album is not
    // finished, and says so; the job goes on with the next one.
    a.abandoned = true;
    a.reason = e.what();
    return Listed::kReady;
  }
  a.linkName = LastComponent(a.records->Folder());
  a.started.resize(a.plan.photos.size());
  for (const PlannedPhoto& photo : a.plan.photos) {
    if (photo.kind != PlannedPhoto::Kind::kPresent && photo.kind != PlannedPhoto::Kind::kLeftOut) ++a.toFetch;
  }
  if (a.plan.entryLimitHit) limitHit_ = true;
  return Listed::kReady;
}

bool Job::HandOut(AlbumRun& a) {
  while (!a.HandedOut()) {
    const int i = a.next++;
    if (!StartPhoto(a, i)) continue;
    tags_[nextTag_] = {&a, i};
    ++a.outstanding;
    const PlannedPhoto& photo = a.plan.photos[i];
    pool_.Submit(nextTag_++, [this, &photo, &album = *a.album] {
      const FetchOptions& options = photo.video ? videoOptions_ : photoOptions_;
      const int generation = lists_->KeyGeneration();
      FetchReport report =
          FetchWithRetries(photo.url, photo.file, options, input_.retry, input_.stopRequested);
      // A photo the service would not give for want of something the list hands out is tried once more
      // after the list has been asked again.
      if (!report.ok && !report.aborted && !Stopped(input_) && lists_->RenewAfter(album, report, generation))
        report = FetchWithRetries(photo.url, photo.file, options, input_.retry, input_.stopRequested);
      return report;
    });
    return true;
  }
  return false;
}

void Job::TakeResult(int tag, const FetchReport& report) {
  const auto found = tags_.find(tag);
  AlbumRun& a = *found->second.first;
  const int i = found->second.second;
  tags_.erase(found);
  --a.outstanding;
  if (i < 0) {
    const Listed listed = ListArrived(a, report);
    if (listed == Listed::kStop) {
      // A list cut short by the stop ends the run; the album is not counted.
      stopping_ = true;
      a.plan.photos.clear();
    } else if (listed == Listed::kNotSaved) {
      active_.remove_if([&](const AlbumRun& r) { return &r == &a; });
    }
    return;
  }
  if (a.abandoned) return;  // waited for only
  if (const PlannedPhoto& photo = a.plan.photos[i]; report.ok && photo.taken > 0) {
    // The time the photo was taken, where the list says, rather than when the server stored it.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {photo.taken, 0}};
    ::utimensat(AT_FDCWD, photo.file.c_str(), times, 0);
  }
  try {
    if (report.ok) a.records->Fetched(a.plan.photos[i], report.bytes, report.md5);
  } catch (const std::runtime_error& e) {
    a.abandoned = true;
    a.reason = e.what();
    return;
  }
  PhotoDone(a, i, report);
}

void Job::FinishAlbums() {
  for (auto it = active_.begin(); it != active_.end();) {
    AlbumRun& a = *it;
    if (a.listing || a.outstanding > 0 || (!a.abandoned && !a.HandedOut() && !stopping_)) {
      ++it;
      continue;
    }
    if (!a.abandoned && a.records) {
      try {
        a.records->Finish();
      } catch (const std::runtime_error& e) {
        a.abandoned = true;
        a.reason = e.what();
      }
    }
    if (a.abandoned) {
      AlbumNotSaved(a.n, *a.album, AlbumState::kAbandoned, a.reason);
    } else if (a.records && a.HandedOut() && !a.plan.entryLimitHit) {
      // An album cut by the entry limit, or by a stop before its last photo was handed out, is not
      // counted as finished.
      AlbumDone(a);
    }
    it = active_.erase(it);
  }
}

void Job::AlbumDone(const AlbumRun& a) {
  int saved = a.records->FetchedCount();
  for (const PlannedPhoto& photo : a.plan.photos) {
    if (photo.kind == PlannedPhoto::Kind::kPresent || photo.kind == PlannedPhoto::Kind::kLeftOut) ++saved;
  }
  ++outcome_.counters.albumsOk;
  Status(a.n, AlbumState::kDone, *a.album, a.linkName, 0, {}, static_cast<int>(a.plan.photos.size()), saved);
}

void Job::AlbumNotSaved(int n, const AlbumEntryFields& album, AlbumState state, std::string reason) {
  Status(n, state, album, album.name, 0, std::move(reason));
  ++outcome_.counters.albumsFailed;
}

std::unique_ptr<AlbumRecords> Job::NewRecords(const AlbumEntryFields& album) {
  AlbumManifest manifest;
  std::string folder;
  bool adopted = false;
  if (auto it = known_.find(album.id); input_.update && it != known_.end()) {
    folder = it->second.folder;
    manifest = std::move(it->second.manifest);
    adopted = it->second.adopted;
    known_.erase(it);
  } else {
    folder = AlbumFolderPath(outcome_.albumRoot, album.name, album.id, rules_);
  }
  fs::create_directories(folder);
  auto records = std::make_unique<AlbumRecords>(
      folder, std::move(manifest), album, input_.update || input_.writeManifest, [this] { return Now(); });
  if (adopted) records->Adopt();
  return records;
}

bool Job::StartPhoto(AlbumRun& a, int i) {
  const PlannedPhoto& photo = a.plan.photos[i];
  DownloadCounters& counters = outcome_.counters;
  if (photo.kind == PlannedPhoto::Kind::kPresent) {
    ++counters.photosPresent;
    return false;
  }
  if (photo.kind == PlannedPhoto::Kind::kLeftOut) {
    ++counters.photosLeftOut;
    return false;
  }
  host_.SetStatusText("正在下载：" + photo.statusName);
  a.started[i] = PhotoProgress{a.n, a.startedCount++, a.toFetch, photo.url, photo.file, photo.statusName};
  host_.PhotoStarted(a.started[i]);
  if (photo.kind != PlannedPhoto::Kind::kNoAddress && photo.kind != PlannedPhoto::Kind::kRefused) return true;
  FetchReport refused;
  refused.failure =
      photo.kind == PlannedPhoto::Kind::kNoAddress ? FetchFailure::kNoAddress : FetchFailure::kRefusedAddress;
  refused.error = photo.reason;
  if (photo.kind == PlannedPhoto::Kind::kNoAddress) {
    // Counted as failed, but the status panel keeps the "downloading" text of the entry.
    ++counters.photosFailed;
    host_.PhotoFinished(a.started[i], refused);
  } else {
    PhotoDone(a, i, refused);
  }
  return false;
}

void Job::PhotoDone(AlbumRun& a, int i, const FetchReport& report) {
  DownloadCounters& counters = outcome_.counters;
  if (report.ok) {
    Status(a.n, AlbumState::kProgress, *a.album, a.linkName, a.written);
    ++a.written;
    ++counters.photosOk;
  } else {
    host_.SetStatusText("下载失败：" + a.plan.photos[i].statusName);
    ++counters.photosFailed;
  }
  host_.PhotoFinished(a.started[i], report);
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

#include "core/albumdownload.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include "core/albumrecords.h"
#include "core/albumscripts.h"
#include "core/filenames.h"
#include "core/imagecheck.h"
#include "core/textutil.h"
#include "core/wholefile.h"
#include "net/fetchpool.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBr = "\n\r";

bool Stopped(const DownloadInput& input) {
  return input.stopRequested != nullptr && input.stopRequested->load(std::memory_order_relaxed);
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
    // Under the root's lock no other run writes here, so every temporary of a whole-file write is left over.
    bool leftover = name == std::string(kManifestFileName) + ".part" || IsWholeFileTemporary(name);
    const std::string_view kFetchPrefix = kFetchTemporaryPrefix;
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
  if (ec)
    return "cannot move the older copy " + bare + " to " + backup + ": " + ec.message() + "; writing into it";
  return {};
}

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
    photoOptions_.accept = [outer = options_.accept](const std::string& temp, FetchReport& report) {
      return LooksLikeImage(temp, report) && (!outer || outer(temp, report));
    };
  }

  DownloadOutcome Run();

 private:
  enum class AlbumEnd { kNext, kStop, kEntryLimit };

  // Every ticked album; kNext when all were walked.
  AlbumEnd WalkAlbums();
  AlbumEnd DownloadAlbum(int n);
  // With more than one worker: the albums one after another without a pause between them (see below).
  AlbumEnd DownloadPipelined();
  // One album: its photo list, its plan, its photos, its status.
  AlbumEnd WalkAlbum(int n, const AlbumEntryFields& album);
  // Fetches and reads the photo list; an end when it is not usable (the album then counts as failed).
  std::optional<AlbumEnd> ReadPhotoList(int n, const AlbumEntryFields& album,
                                        std::unique_ptr<XmlDocument>& list, XmlNode& first);
  // The album's folder (made) and the records kept in it.
  AlbumRecords OpenRecords(const AlbumEntryFields& album);
  std::unique_ptr<AlbumRecords> NewRecords(const AlbumEntryFields& album);
  // Which folder the album goes to (made), and what its manifest recorded so far.
  std::string AlbumFolderFor(const AlbumEntryFields& album, AlbumManifest& manifest);
  // Fetches the planned photos; true when a stop ended it.
  bool FetchPhotos(int n, const AlbumEntryFields& album, const std::string& linkName, const AlbumPlan& plan,
                   AlbumRecords& records);
  // The album is counted as failed and its status cell says so; state tells a list that was not usable
  // (kFailed) from an album that could not be finished (kAbandoned).
  AlbumEnd AlbumNotSaved(int n, const AlbumEntryFields& album, AlbumState state, std::string reason,
                         const std::string& linkName);
  void FindAlbumFolders(const std::string& root);
  // Updating a copy made by a download that kept no records: each album whose folder stands under the
  // name that download gave it is continued there instead of in a second folder.
  void AdoptPlainFolders(const std::string& root);
  std::time_t Now() const { return input_.clock ? input_.clock() : std::time(nullptr); }
  bool KeepsManifests() const { return input_.update || input_.writeManifest; }
  FetchReport FetchPhotoList(const std::string& url);
  // Counts a photo the plan keeps or leaves out, and announces the others; true when the photo is to be
  // fetched (a photo without an address or that is refused is reported as failed here).
  bool StartPhoto(int n, const AlbumEntryFields& album, const std::string& linkName,
                  const PlannedPhoto& photo, PhotoProgress& started, int& startedCount, int toFetch, int& k);
  FetchReport FetchPhoto(const PlannedPhoto& photo);
  void PhotoDone(int n, const AlbumEntryFields& album, const std::string& linkName, const PlannedPhoto& photo,
                 const PhotoProgress& progress, const FetchReport& report, int& k);
  // The album is done: counted, with how complete it is.
  void AlbumDone(int n, const AlbumEntryFields& album, const std::string& linkName, const AlbumPlan& plan,
                 const AlbumRecords& records);
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
  DownloadOutcome outcome_;
  FetchPool pool_;
  // Updating: the album folders of the root by the album id their manifest names, with the manifest.
  std::map<std::string, std::pair<std::string, AlbumManifest>> known_;
  // Updating: albums whose folder a download made without records (they are adopted).
  std::set<std::string> adopted_;
  // Why the album root could not be made; every ticked album then fails with it.
  std::string rootError_;
  // How the album root's disk compares and takes names.
  NameRules rules_;
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

void Job::AdoptPlainFolders(const std::string& root) {
  std::set<std::string> handedOut;
  for (const AlbumEntryFields& album : input_.albums) {
    const std::string folder = AlbumFolderPathAsDownloaded(root, album.name, album.id, handedOut, rules_);
    if (album.id.empty() || known_.count(album.id)) continue;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder, ec))) continue;
    // A folder with records belongs to the album they name (and was taken above if it is this one).
    if (fs::exists(folder + "/" + std::string(kManifestFileName), ec)) continue;
    AlbumManifest manifest;
    manifest.id = album.id;
    known_.emplace(album.id, std::make_pair(folder, std::move(manifest)));
    adopted_.insert(album.id);
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
    const std::string trouble = MoveOldRootAside(folder, input_, root, Now());
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
      FindAlbumFolders(root);
      AdoptPlainFolders(root);
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

  if (host_.AskOpenFolder(DownloadSummary(input_.qqNumber, outcome_.counters))) host_.OpenFolder(root);
  host_.DownloadFinished(outcome_.counters);
  outcome_.end = End::kCompleted;
  return outcome_;
}

Job::AlbumEnd Job::WalkAlbums() {
  if (pool_.Workers() > 1) return DownloadPipelined();
  for (int n = 0; n < static_cast<int>(input_.albums.size()); ++n) {
    if (Stopped(input_)) return AlbumEnd::kStop;
    if (const AlbumEnd end = DownloadAlbum(n); end != AlbumEnd::kNext) return end;
  }
  return AlbumEnd::kNext;
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
  std::unique_ptr<XmlDocument> list;
  XmlNode first;
  if (const std::optional<AlbumEnd> end = ReadPhotoList(n, album, list, first)) return *end;
  AlbumRecords records = OpenRecords(album);
  const AlbumPlan plan =
      PlanAlbumPhotos(first, records.Folder(), album.name, records.ForPlan(input_.keepDeleted), rules_);
  list.reset();
  records.Begin();
  const bool stopped = FetchPhotos(n, album, LastComponent(records.Folder()), plan, records);
  records.Finish();
  if (stopped) return AlbumEnd::kStop;
  if (plan.entryLimitHit) return AlbumEnd::kEntryLimit;
  AlbumDone(n, album, LastComponent(records.Folder()), plan, records);
  return AlbumEnd::kNext;
}

void Job::AlbumDone(int n, const AlbumEntryFields& album, const std::string& linkName, const AlbumPlan& plan,
                    const AlbumRecords& records) {
  int saved = records.FetchedCount();
  for (const PlannedPhoto& photo : plan.photos) {
    if (photo.kind == PlannedPhoto::Kind::kPresent || photo.kind == PlannedPhoto::Kind::kLeftOut) ++saved;
  }
  ++outcome_.counters.albumsOk;
  Status(n, AlbumState::kDone, album, linkName, 0, {}, static_cast<int>(plan.photos.size()), saved);
}

std::optional<Job::AlbumEnd> Job::ReadPhotoList(int n, const AlbumEntryFields& album,
                                                std::unique_ptr<XmlDocument>& list, XmlNode& first) {
  // A failed fetch leaves no file, so it can never be mistaken for the previous album's list.
  RemoveFile(input_.photoListFile);
  const FetchReport listed =
      FetchPhotoList(PhotoListAddress(album, input_.qqNumber, input_.photoListHost, input_.albumViewHost));
  if (!listed.ok && (listed.aborted || Stopped(input_))) return AlbumEnd::kStop;
  if (!listed.ok) {
    return AlbumNotSaved(n, album, AlbumState::kFailed,
                         "the photo list could not be fetched: " + listed.error, album.name);
  }
  try {
    list = std::make_unique<XmlDocument>(XmlDocument::LoadFromFile(input_.photoListFile));
  } catch (const EXmlDocument& e) {
    return AlbumNotSaved(n, album, AlbumState::kFailed,
                         std::string("the photo list cannot be read: ") + e.what(), album.name);
  }
  first = FirstPhotoNode(*list);
  if (!first)
    return AlbumNotSaved(n, album, AlbumState::kFailed, "the photo list holds no photo", album.name);
  return std::nullopt;
}

std::string Job::AlbumFolderFor(const AlbumEntryFields& album, AlbumManifest& manifest) {
  std::string folder;
  if (auto it = known_.find(album.id); input_.update && it != known_.end()) {
    folder = it->second.first;
    manifest = std::move(it->second.second);
    known_.erase(it);
  } else {
    folder = AlbumFolderPath(outcome_.albumRoot, album.name, album.id, rules_);
  }
  fs::create_directories(folder);
  return folder;
}

AlbumRecords Job::OpenRecords(const AlbumEntryFields& album) {
  AlbumManifest manifest;
  std::string folder = AlbumFolderFor(album, manifest);
  AlbumRecords records(folder, std::move(manifest), album, KeepsManifests(), [this] { return Now(); });
  if (adopted_.count(album.id)) records.Adopt();
  return records;
}

std::unique_ptr<AlbumRecords> Job::NewRecords(const AlbumEntryFields& album) {
  AlbumManifest manifest;
  std::string folder = AlbumFolderFor(album, manifest);
  auto records = std::make_unique<AlbumRecords>(folder, std::move(manifest), album, KeepsManifests(),
                                                [this] { return Now(); });
  if (adopted_.count(album.id)) records->Adopt();
  return records;
}

// With one worker an album ends before the next begins. With more, that pause cost a good part of the
// time: the pool drained at the end of every album (its last photos with most workers idle), then the next
// photo list was fetched on its own. So the next album's photo list is asked for as soon as the album at
// work has handed out its last photo, and its photos follow at once, while the last ones of the album
// before are still coming in. Each album still goes through its own steps in their order (read its tick,
// started, its photos counted up one by one, done or failed), albums begin in list order (so their folders
// are made, and named, in the same order as with one worker), and photos are handed out in list order.
Job::AlbumEnd Job::DownloadPipelined() {
  struct Active {
    int n = 0;
    const AlbumEntryFields* album = nullptr;
    bool listing = true;     // its photo list is being fetched
    bool abandoned = false;  // its folder or records failed: what is still under way is waited for only
    std::string reason;
    std::unique_ptr<AlbumRecords> records;
    AlbumPlan plan;
    std::string linkName;
    std::vector<PhotoProgress> started;
    int k = 0, toFetch = 0, startedCount = 0, next = 0, outstanding = 0;
  };
  std::list<Active> active;
  // What each fetch under way is: its album, and the photo's index in the plan (-1: the photo list).
  std::map<int, std::pair<Active*, int>> tags;
  int nextTag = 0;
  const int count = static_cast<int>(input_.albums.size());
  int nextAlbum = 0;
  bool limitHit = false;
  bool stopping = false;

  auto submit = [&](Active& a, int i, FetchPool::Task task) {
    tags[nextTag] = {&a, i};
    pool_.Submit(nextTag++, std::move(task));
    ++a.outstanding;
  };
  auto abandon = [&](Active& a, const std::string& reason) {
    a.abandoned = true;
    a.reason = reason;
  };
  // The photo list has come: the album's folder, records and plan.
  auto listed = [&](Active& a, FetchReport& report) -> std::optional<AlbumEnd> {
    a.listing = false;
    const AlbumEntryFields& album = *a.album;
    if (!report.ok && (report.aborted || Stopped(input_))) return AlbumEnd::kStop;
    if (!report.ok) {
      AlbumNotSaved(a.n, album, AlbumState::kFailed, "the photo list could not be fetched: " + report.error,
                    album.name);
      return AlbumEnd::kNext;
    }
    std::unique_ptr<XmlDocument> list;
    try {
      list = std::make_unique<XmlDocument>(XmlDocument::LoadFromFile(input_.photoListFile));
    } catch (const EXmlDocument& e) {
      AlbumNotSaved(a.n, album, AlbumState::kFailed,
                    std::string("the photo list cannot be read: ") + e.what(), album.name);
      return AlbumEnd::kNext;
    }
    XmlNode first = FirstPhotoNode(*list);
    if (!first) {
      AlbumNotSaved(a.n, album, AlbumState::kFailed, "the photo list holds no photo", album.name);
      return AlbumEnd::kNext;
    }
    try {
      a.records = NewRecords(album);
      a.plan = PlanAlbumPhotos(first, a.records->Folder(), album.name, a.records->ForPlan(input_.keepDeleted),
                               rules_);
      list.reset();
      a.records->Begin();
    } catch (const std::runtime_error& e) {
      abandon(a, e.what());
      return std::nullopt;
    }
    a.linkName = LastComponent(a.records->Folder());
    a.started.resize(a.plan.photos.size());
    for (const PlannedPhoto& photo : a.plan.photos) {
      if (photo.kind != PlannedPhoto::Kind::kPresent && photo.kind != PlannedPhoto::Kind::kLeftOut)
        ++a.toFetch;
    }
    if (a.plan.entryLimitHit) limitHit = true;  // no album after this one
    return std::nullopt;
  };
  // Hands out the album's next photo; false when there was none left to hand out.
  auto handOut = [&](Active& a) {
    while (a.next < static_cast<int>(a.plan.photos.size())) {
      const int i = a.next++;
      const PlannedPhoto& photo = a.plan.photos[i];
      if (!StartPhoto(a.n, *a.album, a.linkName, photo, a.started[i], a.startedCount, a.toFetch, a.k))
        continue;
      submit(a, i, [this, &photo] { return FetchPhoto(photo); });
      return true;
    }
    return false;
  };
  // Ends the albums whose every photo has come in (or that a stop or a failure ends), in list order.
  auto finishAlbums = [&] {
    for (auto it = active.begin(); it != active.end();) {
      Active& a = *it;
      const bool handedOut = a.next >= static_cast<int>(a.plan.photos.size());
      if (a.listing || a.outstanding > 0 || (!a.abandoned && !handedOut && !stopping)) {
        ++it;
        continue;
      }
      if (!a.abandoned && a.records) {
        try {
          a.records->Finish();
        } catch (const std::runtime_error& e) {
          abandon(a, e.what());
        }
      }
      if (a.abandoned) {
        AlbumNotSaved(a.n, *a.album, AlbumState::kAbandoned, a.reason, a.album->name);
      } else if (a.records && handedOut && !a.plan.entryLimitHit) {
        // An album cut by the entry limit is not counted as finished, as with one worker.
        AlbumDone(a.n, *a.album, a.linkName, a.plan, *a.records);
      }
      it = active.erase(it);
    }
  };

  for (;;) {
    finishAlbums();
    if (!stopping && Stopped(input_)) stopping = true;
    if (stopping) {
      if (pool_.Outstanding() == 0) {
        finishAlbums();
        return AlbumEnd::kStop;
      }
    } else if (pool_.Transferring() < pool_.Workers() && pool_.Outstanding() < 3 * pool_.Workers()) {
      Active* last = active.empty() ? nullptr : &active.back();
      if (last != nullptr && !last->listing && !last->abandoned && handOut(*last)) continue;
      if (last == nullptr || !last->listing) {
        if (nextAlbum < count && !limitHit) {
          const int n = nextAlbum++;
          if (ReadAlbumCheck(host_.ReadAlbumCheck(n)) == "FALSE") continue;
          const AlbumEntryFields& album = input_.albums[n];
          Status(n, AlbumState::kStarted, album, album.name);
          if (!rootError_.empty()) {
            AlbumNotSaved(n, album, AlbumState::kAbandoned, rootError_, album.name);
            continue;
          }
          Active& a = active.emplace_back();
          a.n = n;
          a.album = &album;
          // A failed fetch leaves no file, so it can never be mistaken for the previous album's list.
          RemoveFile(input_.photoListFile);
          submit(a, -1,
                 [this, url = PhotoListAddress(album, input_.qqNumber, input_.photoListHost,
                                               input_.albumViewHost)] {
                   return FetchWithRetries(url, input_.photoListFile, options_, input_.retry,
                                           input_.stopRequested);
                 });
          continue;
        }
        if (active.empty() && pool_.Outstanding() == 0) {
          return limitHit ? AlbumEnd::kEntryLimit : AlbumEnd::kNext;
        }
      }
    }
    if (pool_.Outstanding() == 0) continue;  // an album ended above without a fetch
    auto done = pool_.NextDoneOrRoom();
    if (!done) continue;  // a connection is free while the photo it fetched is being placed
    auto& [tag, report] = *done;
    const auto found = tags.find(tag);
    Active& a = *found->second.first;
    const int i = found->second.second;
    tags.erase(found);
    --a.outstanding;
    if (i < 0) {
      const std::optional<AlbumEnd> end = listed(a, report);
      if (end == AlbumEnd::kStop) {
        // As with one worker: a list cut short by the stop ends the run; the album is not counted.
        stopping = true;
        a.plan.photos.clear();
        continue;
      }
      if (end == AlbumEnd::kNext) {
        for (auto it = active.begin(); it != active.end(); ++it) {
          if (&*it == &a) {
            active.erase(it);
            break;
          }
        }
      }
      continue;
    }
    if (a.abandoned) continue;  // waited for only
    try {
      if (report.ok) a.records->Fetched(a.plan.photos[i], report.bytes);
    } catch (const std::runtime_error& e) {
      abandon(a, e.what());
      continue;
    }
    PhotoDone(a.n, *a.album, a.linkName, a.plan.photos[i], a.started[i], report, a.k);
  }
}

bool Job::FetchPhotos(int n, const AlbumEntryFields& album, const std::string& linkName,
                      const AlbumPlan& plan, AlbumRecords& records) {
  // Photos are handed to the pool in list order; with one worker each is fetched and reported before
  // the next one starts. A stop lets the fetches under way finish and be counted.
  int k = 0;
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
    if (report.ok) records.Fetched(plan.photos[i], report.bytes);
    PhotoDone(n, album, linkName, plan.photos[i], started[i], report, k);
  };
  for (int i = 0; i < photoCount; ++i) {
    const PlannedPhoto& photo = plan.photos[i];
    // A photo still being placed does not hold its connection; only a few may wait for it at once.
    while (pool_.Transferring() >= pool_.Workers() || pool_.Outstanding() > 2 * pool_.Workers())
      takeOneDone();
    while (pool_.HasDone()) takeOneDone();
    if (Stopped(input_)) {
      while (pool_.Outstanding() > 0) takeOneDone();
      return true;
    }
    if (!StartPhoto(n, album, linkName, photo, started[i], startedCount, toFetch, k)) continue;
    pool_.Submit(i, [this, &photo] { return FetchPhoto(photo); });
  }
  while (pool_.Outstanding() > 0) takeOneDone();
  return false;
}

bool Job::StartPhoto(int n, const AlbumEntryFields& album, const std::string& linkName,
                     const PlannedPhoto& photo, PhotoProgress& started, int& startedCount, int toFetch,
                     int& k) {
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
  started = PhotoProgress{n, startedCount++, toFetch, photo.url, photo.file, photo.statusName};
  host_.PhotoStarted(started);
  if (photo.kind != PlannedPhoto::Kind::kNoAddress && photo.kind != PlannedPhoto::Kind::kRefused) return true;
  FetchReport refused;
  refused.failure =
      photo.kind == PlannedPhoto::Kind::kNoAddress ? FetchFailure::kNoAddress : FetchFailure::kRefusedAddress;
  refused.error = photo.reason;
  if (photo.kind == PlannedPhoto::Kind::kNoAddress) {
    // Counted as failed, but the status panel keeps the "downloading" text of the entry.
    ++counters.photosFailed;
    host_.PhotoFinished(started, refused);
  } else {
    PhotoDone(n, album, linkName, photo, started, refused, k);
  }
  return false;
}

FetchReport Job::FetchPhoto(const PlannedPhoto& photo) {
  return FetchWithRetries(photo.url, photo.file, photoOptions_, input_.retry, input_.stopRequested);
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

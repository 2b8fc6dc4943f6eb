// The album download job: in the folder it is given, moves an older copy of the QQ number's album folder
// aside, and for every ticked album fetches its photo list and every photo in it into a folder of its own.
// Runs on a worker thread; it reports through the DownloadHost and asks nothing.
//
// Each album is walked in two steps so that a front end may fetch several photos at once: PlanAlbumPhotos
// (photoplan.h) reads the photo list and decides every file name in list order, then the photos are
// fetched.
#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/addresses.h"
#include "core/albummanifest.h"
#include "core/albumselection.h"
#include "core/jobhost.h"
#include "core/photolists.h"
#include "core/photoplan.h"
#include "core/rootlock.h"
#include "core/xmldoc.h"
#include "net/fetchretry.h"
#include "net/fetchtofile.h"

// What the job works from, taken at its start.
struct DownloadInput {
  std::string qqNumber;
  std::string photoListHost;             // for albums of priv "1"
  std::string albumViewHost;             // for every other priv
  std::vector<AlbumEntryFields> albums;  // the albums of the preview, field by field; index = album number
  std::string downloadFolder;            // where the album root goes (the folder the user chose)
  // Which albums are ticked, read as the job comes to each; null: every album.
  std::shared_ptr<const AlbumSelection> selection;
  std::string photoListFile;  // temporary reply file
  // Where the photo lists come from; null: the XML service, from the hosts and the reply file above.
  PhotoListSource* photoLists = nullptr;
  // Polled at the start of each album and before each photo: the job ends there when set. A photo being
  // fetched finishes first.
  const std::atomic<bool>* stopRequested = nullptr;
  // Ends a fetch under way (the window sets it when it closes).
  const std::atomic<bool>* fetchAbort = nullptr;
  // Time limits and the like for every fetch; its abort member is replaced by fetchAbort.
  FetchOptions fetchOptions;
  // Photos of one album fetched at once, each on a connection of its own; 1 fetches everything on the
  // job's thread. File names are decided in list order before any fetch, so the tree is the same for any
  // count; the album's k/total status then counts photos in the order they complete.
  int parallelFetches = 1;
  // Further attempts for a photo list or a photo whose fetch failed in a way that may pass.
  RetryPolicy retry;
  // Keep the existing album root (no backup) and fetch only the photos its album folders lack, as their
  // manifests tell; albums without a manifest get new folders as usual, so no file there is touched.
  // Implies writeManifest.
  bool update = false;
  // Keep a manifest (albummanifest.h) in every album folder.
  bool writeManifest = false;
  // Updating: a photo whose file was deleted by hand stays out instead of being fetched again.
  bool keepDeleted = false;
  // The clock of the backup name and of the manifests; empty means the system clock.
  std::function<std::time_t()> clock;
};

struct DownloadOutcome {
  enum class End {
    kStopped,        // stopRequested was seen
    kEntryLimit,     // an album's photo walk passed kMaxPhotoEntries nodes
    kCompleted,      // every album was walked: the front end shows DownloadSummary
    kManifestError,  // updating: a manifest in the album root could not be read; nothing was fetched
    kLocked,         // another run is writing the album root; nothing was fetched or changed
  };
  End end = End::kStopped;
  std::string error;  // with kManifestError: which folder and what is wrong; with kLocked: who holds it
  AlbumRootLock::Holder lockHolder;  // with kLocked
  DownloadCounters counters;
  std::string albumRoot;
  // The album root stays this run's while the caller holds this (its viewer is built after the job).
  std::shared_ptr<AlbumRootLock> lock;
};

// Runs the whole job. Never throws for bad replies or file-system trouble.
DownloadOutcome DownloadCheckedAlbums(const DownloadInput& input, DownloadHost& host);

// Splits an AlbumEntry line at its first four "|"; desc is at most 10000 bytes. Throws
// std::invalid_argument for a line with fewer than four. Only for lines whose fields hold no "|" (a line
// cannot tell); the job itself works from the fields as listed.
AlbumEntryFields SplitAlbumEntry(std::string_view line);

// Front ends: the folder browser's title, before the job.
inline constexpr std::string_view kChooseFolderTitle = "请选择你要将下载的相片保存到哪里";
inline constexpr std::string_view kSummaryCaption = "下载完成";
inline constexpr std::string_view kDownloadStoppedStatus = "停止下载";
inline constexpr std::string_view kDownloadFinishedStatus = "下载完成";

// The summary box text for the counters (lines separated by LF CR).
std::string DownloadSummary(std::string_view qqNumber, const DownloadCounters& counters);

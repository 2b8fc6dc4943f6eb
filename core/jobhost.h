// The hosts of the two jobs: every step that a job hands to a front end is one call here. A job only
// reports: what it needs from the user (the folder, the ticks) is in its input, and what follows it (the
// summary, the copy's viewer) is the front end's. The window runs the preview's steps on its main thread and
// waits for them; a download's status cells and texts are folded into one update per frame and never
// waited for. The command-line front end and the tests implement them directly. A job never shares state with
// another job: it works from the input it took at its start and hands its results over through its host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/fetchtofile.h"

// The fields of one listed album, as read from the album list (each trimmed). The jobs work from these;
// the AlbumEntry line that joins them with "|" is what the window keeps and shows, and since nothing in it
// is escaped it cannot be split back when a field holds "|".
struct AlbumEntryFields {
  std::string id, priv, name, total, desc;

  bool operator==(const AlbumEntryFields&) const = default;
};

// What an album list retrieval has built so far. Every preview host call carries it whole, so the window
// can adopt the results on its own thread; jobId tells a stale (stopped and superseded) retrieval's
// results from the current one's, which the window drops.
struct PreviewResult {
  std::uint64_t jobId = 0;
  std::string qqNumber;
  std::string albumListHost;              // route reply member "p"
  std::string photoListHost;              // route reply member "s"
  std::string albumViewHost;              // route reply member "nu"
  std::vector<std::string> pageLines;     // the album list page, line by line
  std::vector<std::string> albumEntries;  // one AlbumEntry line per listed album; index = album number
  std::vector<AlbumEntryFields> albums;   // the same albums field by field; index = album number
  bool listCut = false;                   // the list was longer than the walk's limit and was cut there
  // Albums the album site lists but the signed-in user may not open: left out of the page, by name.
  std::vector<std::string> inaccessibleAlbums;
};

// Every step does nothing by default: a front end without a window (the command line, a benchmark) reads
// the retrieval's outcome instead, which holds the same results.
class PreviewHost {
 public:
  virtual ~PreviewHost() = default;
  // The route reply was not fetched: notice page "无法预览相册[1]", preview caption back to idle.
  virtual void RouteFailed(const PreviewResult& result) { (void)result; }
  // The album list has no "data" or no "album", or no album was listed: notice page "无法预览相册列表！".
  virtual void PreviewFailed(const PreviewResult& result) { (void)result; }
  // The album list page is complete: load result.pageLines into the album pane.
  virtual void ShowAlbumPage(const PreviewResult& result) { (void)result; }
  // The walk is over: caption back to idle, status text kPreviewDoneStatus, and the message box
  // PreviewDoneMessage(result.qqNumber); returns when the box is closed.
  virtual void PreviewDone(const PreviewResult& result) { (void)result; }
};

// Where an album of the download stands.
enum class AlbumState {
  kStarted,    // its photo list is being fetched
  kProgress,   // one more photo was written (photosDone photos before it)
  kDone,       // every photo of its list was dealt with; currentAlbumName names its folder
  kFailed,     // its photo list was not fetched or not usable; reason says why
  kAbandoned,  // it could not be finished (a folder or its records could not be written); reason says why
};

// One status update of the album at work. The window turns it into the album page's markup and scripts
// (AlbumStatusHtml, AlbumRowColor and ShowAlbumStatus of core/albumscripts.h); other front ends read the
// state.
struct AlbumStatusUpdate {
  int currentAlbum = 0;
  AlbumState state = AlbumState::kStarted;
  int photosDone = 0;  // kProgress: photos of the album written before this one
  std::string total;   // the album's total field as listed
  std::string reason;  // kFailed, kAbandoned: what went wrong, in plain words
  // The final name component of the album's folder under the album root (what the "#GOTO2:" links
  // carry); before the folder is chosen, the album name from its entry.
  std::string currentAlbumName;
  // kDone: the photo entries its list held, and how many of them the folder now has (written in this
  // run, there already, or left out as deleted on purpose); fewer than listed, or a list shorter than
  // total, is an album that is not complete.
  int photosListed = -1;
  int photosSaved = -1;
};

struct DownloadCounters {
  int albumsOk = 0;       // ticked albums whose photo list held "album" with a "pic", walked to its end
  int albumsFailed = 0;   // ticked albums whose photo list was not usable, or that had to be abandoned
  int photosOk = 0;       // photos written to disk
  int photosFailed = 0;   // photos without an address, and photos whose download failed
  int photosPresent = 0;  // updating: photos already in the album folder, not fetched again
  int photosLeftOut = 0;  // updating: photos the user deleted and asked to keep out

  bool operator==(const DownloadCounters&) const = default;
};

// One photo of the album at work, for live progress.
struct PhotoProgress {
  int album = 0;       // the album's number N
  int photo = 0;       // position among the album's photos to fetch, from 0
  int photoCount = 0;  // how many the album has to fetch
  std::string url;
  std::string file;  // the file it is written to
  std::string name;  // album name + "/" + photo name + "." + extension, as the status panel shows it
};

class DownloadHost {
 public:
  virtual ~DownloadHost() = default;
  // Shows a status update of one album in the album page.
  virtual void ShowAlbumStatus(const AlbumStatusUpdate& update) = 0;
  // The job status text (first status-bar panel).
  virtual void SetStatusText(const std::string& text) = 0;
  // The album root is ready: the window's download folder from now on ("#GOTO2:" links resolve in it,
  // the next folder browser starts there). Ends in "/".
  virtual void DownloadFolderPrepared(const std::string& albumRoot) = 0;

  // Something the user should know that changes nothing in the run (an older copy that could not be
  // moved aside); the window keeps quiet about it.
  virtual void Warning(const std::string& text) { (void)text; }

  // Live progress for front ends that show it (the window's status feed, the command line's live line, the
  // thumbnails made during a download). report.ok tells whether the photo was written; when not,
  // report.failure and report.error say why.
  virtual void PhotoStarted(const PhotoProgress& photo) { (void)photo; }
  virtual void PhotoFinished(const PhotoProgress& photo, const FetchReport& report) {
    (void)photo, (void)report;
  }
};

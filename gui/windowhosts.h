// The window's adapter to the jobs: the preview and download hosts that a job running on the worker
// thread calls. A preview's steps are handed to the main thread (Tmainfrm::CallOnMainThread) and waited
// for; a step the window refuses because it is closing is simply not done. A download's status cells and
// texts are left for the main thread without waiting, see TDownloadStatusFeed.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/jobhost.h"
#include "viewer/downloadnotes.h"

class Tmainfrm;

class TWindowPreviewHost : public PreviewHost {
 public:
  explicit TWindowPreviewHost(Tmainfrm& win) : win_(win) {}
  void RouteFailed(const PreviewResult& result) override;
  void PreviewFailed(const PreviewResult& result) override;
  void ShowAlbumPage(const PreviewResult& result) override;
  // A stale job ends silently: its caption change and message would belong to the newer preview.
  void PreviewDone(const PreviewResult& result) override;

 private:
  Tmainfrm& win_;
};

// The download's status on its way to the page. A download used to wait on the main thread for every
// photo, and the main thread is slow to answer while the album pane renders a frame (software
// compositing without a GPU), so the job went at the renderer's pace. Now the job only leaves its update
// here and goes on; the main thread takes what has gathered at most once a frame and hands it to the
// page in one call. Updates of one album that came within one frame fold into the latest: its status
// cell and row colour are set whole by every update, so the page still ends each album exactly as its
// last update says (final k/total, then the tick). The summary box shows what gathered before it
// first, so the page, the status bar and the summary keep the job's order.
struct TDownloadStatusFeed {
  std::mutex mutex;
  std::vector<AlbumStatusUpdate> updates;  // the latest of each album, in the order the albums came
  std::optional<std::string> statusText;   // the latest status-bar text
  bool flushQueued = false;                // a flush is on its way to the main thread
  // Main thread only.
  int scrolledAlbum = -1;  // the album the page was last scrolled to
  std::chrono::steady_clock::time_point lastFlush;
};

class TWindowDownloadHost : public DownloadHost {
 public:
  // albums: the albums of the download, for the copy's viewer.
  TWindowDownloadHost(Tmainfrm& win, std::vector<AlbumEntryFields> albums);
  void ShowAlbumStatus(const AlbumStatusUpdate& update) override;
  void SetStatusText(const std::string& text) override;
  void DownloadFolderPrepared(const std::string& albumRoot) override;
  // The copy's viewer keeps each album's photos in this order.
  void PhotoStarted(const PhotoProgress& photo) override { notes_.PhotoStarted(photo); }

  // Shows on the main thread what the feed holds (nothing when it is empty).
  static void FlushStatus(Tmainfrm& win, TDownloadStatusFeed& feed);
  // Main thread: what the job left so far is shown now (before the summary, after a refusal).
  void FlushNow() { FlushStatus(win_, *feed_); }
  // For the copy's viewer, once the job has ended (job thread).
  DownloadNotes& Notes() { return notes_; }

 private:
  // Job thread: makes sure a flush is on its way.
  void QueueFlush(bool queued);

  Tmainfrm& win_;
  // Shared with the flushes still on their way when the job (and this host) has ended.
  std::shared_ptr<TDownloadStatusFeed> feed_;
  DownloadNotes notes_;
};

// What a download tells the viewer: the albums in list order, and for each one the download handled, its
// folder or why it failed. Both front ends feed it from the job's status updates and build the viewer
// from it when the download ends, so the copy opens with its albums in the service's order.
//
// It also makes each album's thumbnails as soon as the album is done, on one background thread of low
// priority: a download mostly waits on the network, so the thumbnails cost its spare time and the viewer
// built at the end finds all but the last album's made.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/albumdownload.h"
#include "core/jobhost.h"
#include "viewer/viewer.h"

class DownloadNotes {
 public:
  // thumbnailsAhead: make thumbnails during the download (false when no viewer is wanted).
  explicit DownloadNotes(std::vector<AlbumEntryFields> albums, bool thumbnailsAhead = true)
      : albums_(std::move(albums)), ahead_(thumbnailsAhead) {}
  // Stops the background thread after the photo at hand.
  ~DownloadNotes();
  DownloadNotes(const DownloadNotes&) = delete;
  DownloadNotes& operator=(const DownloadNotes&) = delete;

  // Any thread. The album root the download writes into; albums done before it is known get no
  // thumbnails ahead.
  void Prepared(const std::string& albumRoot);
  // Any thread.
  void Update(const AlbumStatusUpdate& update);
  // Any thread; called in each album's list order, which the viewer then keeps.
  void PhotoStarted(const PhotoProgress& photo);
  // The albums the download handled, in list order, as the viewer takes them.
  std::vector<ViewerAlbum> ListOrder() const;
  // Stops making thumbnails ahead (after the photo at hand) and waits for the thread; what it has not
  // reached is left to the viewer's build. Returns how many it made.
  int StopAhead();

 private:
  struct Note {
    AlbumState state = AlbumState::kStarted;
    std::string folder, reason;
    std::vector<std::string> files;  // photo file names in list order
  };
  void MakeAhead();

  std::vector<AlbumEntryFields> albums_;
  mutable std::mutex mutex_;
  std::map<int, Note> notes_;
  bool ahead_;
  std::string root_;
  std::deque<std::string> waiting_;  // album folders done, their thumbnails not yet made
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};
  int made_ = 0;
  std::thread worker_;
};

// Builds the viewer of a finished download; a failure is returned as its reason (empty when it worked),
// since a copy without a viewer is still a good copy.
std::string BuildDownloadViewer(const std::string& albumRoot, DownloadNotes& notes,
                                std::string* entryPage = nullptr);

// What both front ends do when a download has ended, before they show its summary: the copy's viewer,
// built when the run got as far as its album root (a refused run changed nothing and gets none), stopped
// runs too, so what was saved can be browsed. A copy without a viewer is still a good copy: what went
// wrong is in `trouble`, never thrown.
struct DownloadViewer {
  std::string page;     // the viewer's entry page; empty when none was built
  std::string trouble;  // why it could not be built
};
DownloadViewer ViewerAfterDownload(const DownloadOutcome& outcome, DownloadNotes& notes);

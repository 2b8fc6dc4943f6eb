// What a download tells the viewer: the albums in list order, and for each one the download handled, its
// folder or why it failed. Both front ends feed it from the job's status updates and build the viewer
// from it when the download ends, so the copy opens with its albums in the service's order.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/jobhost.h"
#include "app/viewer/viewer.h"

class DownloadNotes {
 public:
  explicit DownloadNotes(std::vector<AlbumEntryFields> albums) : albums_(std::move(albums)) {}

  // Any thread.
  void Update(const AlbumStatusUpdate& update);
  // The albums the download handled, in list order, as the viewer takes them.
  std::vector<ViewerAlbum> ListOrder() const;

 private:
  struct Note {
    AlbumState state = AlbumState::kStarted;
    std::string folder, reason;
  };
  std::vector<AlbumEntryFields> albums_;
  mutable std::mutex mutex_;
  std::map<int, Note> notes_;
};

// Builds the viewer of a finished download; a failure is returned as its reason (empty when it worked),
// since a copy without a viewer is still a good copy.
std::string BuildDownloadViewer(const std::string& albumRoot, const DownloadNotes& notes,
                                std::string* entryPage = nullptr);

// Hosts for the job tests: they record every call the jobs make, in order, so a test can check what the
// window would have been asked to do.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/jobhost.h"

class RecordingPreviewHost : public PreviewHost {
 public:
  void RouteFailed(const PreviewResult& r) override { Record("RouteFailed", r); }
  void PreviewFailed(const PreviewResult& r) override { Record("PreviewFailed", r); }
  void ShowAlbumPage(const PreviewResult& r) override { Record("ShowAlbumPage", r); }
  void PreviewDone(const PreviewResult& r) override { Record("PreviewDone", r); }

  std::vector<std::string> calls;
  std::vector<PreviewResult> results;

 private:
  void Record(const char* name, const PreviewResult& r) {
    calls.push_back(name);
    results.push_back(r);
  }
};

class RecordingDownloadHost : public DownloadHost {
 public:
  void ShowAlbumStatus(const AlbumStatusUpdate& update) override {
    events.push_back("ShowAlbumStatus " + std::to_string(update.currentAlbum));
    updates.push_back(update);
  }
  void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }
  void DownloadFolderPrepared(const std::string& albumRoot) override {
    events.push_back("DownloadFolderPrepared");
    preparedRoot = albumRoot;
  }
  void PhotoStarted(const PhotoProgress& photo) override {
    if (onPhotoStarted) onPhotoStarted(photo);
  }
  void PhotoFinished(const PhotoProgress& photo, const FetchReport& report) override {
    finished.push_back({photo, report.ok, report.bytes, report.failure, report.error});
  }
  void Warning(const std::string& text) override { warnings.push_back(text); }

  // Set up by the test.
  std::function<void(const PhotoProgress&)> onPhotoStarted;

  // Recorded.
  struct Finished {
    PhotoProgress photo;
    bool ok;
    long long bytes;
    FetchFailure failure;
    std::string error;
  };
  std::vector<std::string> warnings;
  std::vector<std::string> events;
  std::string preparedRoot;
  std::vector<AlbumStatusUpdate> updates;
  std::vector<std::string> statusTexts;
  std::vector<Finished> finished;
};

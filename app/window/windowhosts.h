// The window's adapter to the jobs: the preview and download hosts that a job running on the worker
// thread calls. Every step is handed to the main thread (Tmainfrm::CallOnMainThread) and waited for; a
// step the window refuses because it is closing is simply not done.
#pragma once

#include "app/jobhost.h"

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

class TWindowDownloadHost : public DownloadHost {
 public:
  explicit TWindowDownloadHost(Tmainfrm& win) : win_(win) {}
  bool ChooseFolder(const std::string& title, std::string& folder) override;
  std::string ReadAlbumCheck(int n) override;
  void ShowAlbumStatus(const AlbumStatusUpdate& update) override;
  void SetStatusText(const std::string& text) override;
  void DownloadFolderPrepared(const std::string& albumRoot) override;
  bool AskOpenFolder(const std::string& summary) override;
  void OpenFolder(const std::string& folder) override;
  void DownloadFinished(const DownloadCounters& counters) override;

 private:
  Tmainfrm& win_;
};

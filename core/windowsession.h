// What the window knows of its run apart from its widgets: which job its two buttons stand for, the
// preview it shows, the last download's counters and folder. Free of Qt, so it is tested without a
// window; the window sets its captions from it and never reads them back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/jobhost.h"

// Captions of the two job buttons.
inline constexpr std::string_view kCaptionPreviewIdle = "相册预览";
inline constexpr std::string_view kCaptionPreviewRunning = "停止预览";
inline constexpr std::string_view kCaptionDownloadIdle = "开始下载QQ相册";
inline constexpr std::string_view kCaptionDownloadRunning = "停止下载QQ相册";

class WindowSession {
 public:
  enum class Phase {
    kIdle,         // both buttons offer to start
    kPreviewing,   // the preview button offers to stop
    kDownloading,  // the download button offers to stop
    kStopping,     // a job was stopped and has not ended yet; both buttons offer to start
  };
  Phase phase() const { return phase_; }
  std::string_view PreviewCaption() const;
  std::string_view DownloadCaption() const;

  // What a press of the preview button does now.
  enum class PreviewPress { kDownloadRunning, kStart, kStop };
  PreviewPress PressPreview() const;
  // What a press of the download button does now; markup: the album pane's page as it is now (a list is
  // there only when it holds the first album's tick box).
  enum class DownloadPress { kPreviewRunning, kNoAlbumList, kStart, kStop };
  DownloadPress PressDownload(std::string_view markup) const;

  // A preview starts; its job id, which its results carry.
  std::uint64_t PreviewStarted();
  // Takes the results of a preview; false (nothing taken) for a job older than the newest started, so a
  // stopped job that runs on can never overwrite a newer page.
  bool Adopt(const PreviewResult& result);
  // The preview's walk is over (its route failed, or its list is done).
  void PreviewEnded();
  const PreviewResult& preview() const { return preview_; }

  void DownloadStarted();
  // A download ended with its summary.
  void DownloadCompleted(const DownloadCounters& counters);
  // A download was refused before it changed anything.
  void DownloadRefused();
  // A stop was pressed; jobRunning: its job has not ended yet.
  void Stopped(bool jobRunning);
  // The job that was running has ended.
  void JobEnded();

  // The album pane may get the vendor's client page: no job is on or can still write a page, and no
  // album list is shown.
  bool MayShowClientPage(bool jobRunning) const;

  // The number the jobs work on: the preview's, or the number the online view was last opened with.
  std::string qqNumber;
  std::string downloadFolder;  // the last album root (ends in "/"); where the folder browser starts
  std::string vendorBase;      // the vendor site the online links go to
  std::string albumPaneHtml;   // the album pane's markup as last read
  DownloadCounters counters;   // of the last completed download
  // The album status the page was last given, for benchmarks and screenshots.
  int shownAlbum = 0;
  std::string shownStatusHtml;

 private:
  Phase phase_ = Phase::kIdle;
  PreviewResult preview_;
  std::uint64_t newestPreview_ = 0;
};

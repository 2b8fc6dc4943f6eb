#include "core/windowsession.h"

#include "core/textutil.h"

std::string_view WindowSession::PreviewCaption() const {
  return phase_ == Phase::kPreviewing ? kCaptionPreviewRunning : kCaptionPreviewIdle;
}

std::string_view WindowSession::DownloadCaption() const {
  return phase_ == Phase::kDownloading ? kCaptionDownloadRunning : kCaptionDownloadIdle;
}

WindowSession::PreviewPress WindowSession::PressPreview() const {
  if (phase_ == Phase::kDownloading) return PreviewPress::kDownloadRunning;
  return phase_ == Phase::kPreviewing ? PreviewPress::kStop : PreviewPress::kStart;
}

WindowSession::DownloadPress WindowSession::PressDownload(std::string_view markup) const {
  if (phase_ == Phase::kPreviewing) return DownloadPress::kPreviewRunning;
  if (AsciiUpper(markup).find("CHECK_0") == std::string::npos || preview_.albumEntries.empty())
    return DownloadPress::kNoAlbumList;
  return phase_ == Phase::kDownloading ? DownloadPress::kStop : DownloadPress::kStart;
}

std::uint64_t WindowSession::PreviewStarted() {
  phase_ = Phase::kPreviewing;
  return ++newestPreview_;
}

bool WindowSession::Adopt(const PreviewResult& result) {
  if (result.jobId != newestPreview_) return false;
  preview_ = result;
  qqNumber = result.qqNumber;
  return true;
}

void WindowSession::PreviewEnded() {
  if (phase_ == Phase::kPreviewing) phase_ = Phase::kIdle;
}

void WindowSession::DownloadStarted() {
  phase_ = Phase::kDownloading;
}

void WindowSession::DownloadCompleted(const DownloadCounters& c) {
  counters = c;
  phase_ = Phase::kIdle;
}

void WindowSession::DownloadRefused() {
  phase_ = Phase::kIdle;
}

void WindowSession::Stopped(bool jobRunning) {
  phase_ = jobRunning ? Phase::kStopping : Phase::kIdle;
}

void WindowSession::JobEnded() {
  if (phase_ == Phase::kStopping) phase_ = Phase::kIdle;
}

bool WindowSession::MayShowClientPage(bool jobRunning) const {
  return (phase_ == Phase::kIdle || phase_ == Phase::kStopping) && preview_.albumEntries.empty() &&
         !jobRunning;
}

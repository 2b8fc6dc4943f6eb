#include "viewer/downloadnotes.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <exception>
#include <filesystem>
#include <stdexcept>

#include "core/filenames.h"

DownloadNotes::~DownloadNotes() {
  StopAhead();
}

void DownloadNotes::Prepared(const std::string& albumRoot) {
  std::lock_guard<std::mutex> lock(mutex_);
  root_ = albumRoot;
}

void DownloadNotes::Update(const AlbumStatusUpdate& update) {
  std::lock_guard<std::mutex> lock(mutex_);
  Note& note = notes_[update.currentAlbum];
  note.state = update.state;
  if (update.state == AlbumState::kDone) {
    note.folder = update.currentAlbumName;
    if (ahead_ && !root_.empty() && !stop_.load()) {
      waiting_.push_back(note.folder);
      if (!worker_.joinable()) worker_ = std::thread([this] { MakeAhead(); });
      wake_.notify_one();
    }
  }
  if (update.state == AlbumState::kFailed || update.state == AlbumState::kAbandoned)
    note.reason = update.reason;
}

void DownloadNotes::PhotoStarted(const PhotoProgress& photo) {
  std::lock_guard<std::mutex> lock(mutex_);
  notes_[photo.album].files.push_back(LastComponent(photo.file));
}

void DownloadNotes::MakeAhead() {
  // Only the machine's idle time: the download and the window come first. A thread of the idle class
  // runs only where no other thread wants the processor; where that class is refused, the lowest nice
  // value (on Linux a thread's own).
  const sched_param none{};
  if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &none) != 0)
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
  ViewerOptions options;
  options.threads = 1;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_.load() || !waiting_.empty(); });
    if (stop_.load()) return;
    const std::string folder = waiting_.front();
    waiting_.pop_front();
    const std::string root = root_;
    lock.unlock();
    bool goOn = true;
    int made = 0;
    try {
      made = MakeAlbumThumbnails(root, folder, options, &stop_);
    } catch (const std::exception&) {
      // Whatever stops it here (a place that is not the viewer's, a full disk) stops the final build
      // too, which reports it; no use trying the next album.
      goOn = false;
    }
    lock.lock();
    made_ += made;
    if (!goOn) return;
  }
}

int DownloadNotes::StopAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  return made_;
}

std::vector<ViewerAlbum> DownloadNotes::ListOrder() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<ViewerAlbum> list;
  for (const auto& [n, note] : notes_) {
    if (n < 0 || n >= static_cast<int>(albums_.size())) continue;
    const AlbumEntryFields& f = albums_[n];
    ViewerAlbum album;
    album.name = f.name;
    album.desc = f.desc;
    album.priv = f.priv;
    album.total = f.total;
    album.folder = note.state == AlbumState::kDone ? note.folder : std::string();
    album.failed = note.state == AlbumState::kFailed || note.state == AlbumState::kAbandoned;
    album.failureReason = note.reason;
    album.photoOrder = note.files;
    // An album stopped half way is neither done nor failed; it shows with what it has, if anything.
    if (note.state == AlbumState::kStarted || note.state == AlbumState::kProgress) continue;
    list.push_back(std::move(album));
  }
  return list;
}

std::string BuildDownloadViewer(const std::string& albumRoot, DownloadNotes& notes, std::string* entryPage) {
  notes.StopAhead();
  try {
    const ViewerReport report = BuildViewer(albumRoot, notes.ListOrder());
    if (entryPage != nullptr) *entryPage = report.entryPage;
    return {};
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

DownloadViewer ViewerAfterDownload(const DownloadOutcome& outcome, DownloadNotes& notes) {
  using End = DownloadOutcome::End;
  DownloadViewer viewer;
  std::error_code ec;
  if (outcome.end == End::kManifestError || outcome.end == End::kLocked || outcome.albumRoot.empty() ||
      !std::filesystem::is_directory(outcome.albumRoot, ec)) {
    notes.StopAhead();
    return viewer;
  }
  viewer.trouble = BuildDownloadViewer(outcome.albumRoot, notes, &viewer.page);
  return viewer;
}

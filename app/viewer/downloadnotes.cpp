#include "app/viewer/downloadnotes.h"

#include <stdexcept>

void DownloadNotes::Update(const AlbumStatusUpdate& update) {
  std::lock_guard<std::mutex> lock(mutex_);
  Note& note = notes_[update.currentAlbum];
  note.state = update.state;
  if (update.state == AlbumState::kDone) note.folder = update.currentAlbumName;
  if (update.state == AlbumState::kFailed || update.state == AlbumState::kAbandoned)
    note.reason = update.reason;
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
    // An album stopped half way is neither done nor failed; it shows with what it has, if anything.
    if (note.state == AlbumState::kStarted || note.state == AlbumState::kProgress) continue;
    list.push_back(std::move(album));
  }
  return list;
}

std::string BuildDownloadViewer(const std::string& albumRoot, const DownloadNotes& notes,
                                std::string* entryPage) {
  try {
    const ViewerReport report = BuildViewer(albumRoot, notes.ListOrder());
    if (entryPage != nullptr) *entryPage = report.entryPage;
    return {};
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

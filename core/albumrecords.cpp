#include "core/albumrecords.h"

#include "core/filenames.h"
#include "core/textutil.h"
#include "core/wholefile.h"

namespace {

// A batch of journal lines waits for one flush of the folder until it holds this many, or is this old.
constexpr size_t kBatchLines = 256;
constexpr std::time_t kBatchSeconds = 5;

}  // namespace

AlbumRecords::AlbumRecords(std::string folder, AlbumManifest manifest, const AlbumEntryFields& album,
                           bool keep, std::function<std::time_t()> now)
    : folder_(std::move(folder)), manifest_(std::move(manifest)), keep_(keep), now_(std::move(now)) {
  manifest_.id = album.id;
  manifest_.name = album.name;
  manifest_.desc = CutOnCharacter(album.desc, kMaxDescBytes);
  manifest_.priv = album.priv;
  manifest_.total = album.total;
}

AlbumRecords::~AlbumRecords() = default;

PlanRecords AlbumRecords::ForPlan(bool keepDeleted) {
  PlanRecords records;
  records.now = now_();
  records.adopt = adopt_;
  if (keep_) {
    records.manifest = &manifest_;
    records.keepDeleted = keepDeleted;
  }
  return records;
}

void AlbumRecords::Begin() {
  if (!keep_) return;
  WriteAlbumManifest(folder_, manifest_);
  journal_ = std::make_unique<ManifestJournal>(folder_);
  for (size_t r = 0; r < manifest_.photos.size(); ++r)
    recordOf_.emplace(std::make_pair(manifest_.photos[r].url, manifest_.photos[r].file), r);
}

void AlbumRecords::Fetched(const PlannedPhoto& photo, long long bytes, const std::string& digest) {
  ++fetched_;
  if (!journal_) return;
  const std::string file = LastComponent(photo.file);
  const std::time_t now = now_();
  const std::string md5 = digest.empty() ? PhotoDigest(photo.file) : digest;
  if (pending_.empty()) pendingSince_ = now;
  pending_.push_back({photo.url, file, md5, bytes, now});
  if (auto it = recordOf_.find({photo.url, file}); it != recordOf_.end()) {
    manifest_.photos[it->second].size = bytes;
    manifest_.photos[it->second].fetched = now;
    manifest_.photos[it->second].md5 = md5;
  }
  if (pending_.size() >= kBatchLines || now - pendingSince_ >= kBatchSeconds) FlushPending();
}

void AlbumRecords::FlushPending() {
  if (pending_.empty()) return;
  SyncFolder(folder_);
  for (const PendingLine& line : pending_)
    journal_->Fetched(line.url, line.file, line.bytes, line.when, line.md5);
  pending_.clear();
}

void AlbumRecords::Finish() {
  // Also without records: when the album is reported done, its photos' names are on the disk.
  SyncFolder(folder_);
  if (!journal_) return;
  pending_.clear();  // the manifest below holds them all
  journal_.reset();
  WriteAlbumManifest(folder_, manifest_);
}

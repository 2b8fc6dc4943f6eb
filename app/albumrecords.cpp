#include "app/albumrecords.h"

#include "app/filenames.h"
#include "app/textutil.h"

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

void AlbumRecords::Fetched(const PlannedPhoto& photo, long long bytes) {
  if (!journal_) return;
  const std::string file = LastComponent(photo.file);
  const std::time_t now = now_();
  const std::string md5 = PhotoDigest(photo.file);
  journal_->Fetched(photo.url, file, bytes, now, md5);
  if (auto it = recordOf_.find({photo.url, file}); it != recordOf_.end()) {
    manifest_.photos[it->second].size = bytes;
    manifest_.photos[it->second].fetched = now;
    manifest_.photos[it->second].md5 = md5;
  }
}

void AlbumRecords::Finish() {
  if (!journal_) return;
  journal_.reset();
  WriteAlbumManifest(folder_, manifest_);
}

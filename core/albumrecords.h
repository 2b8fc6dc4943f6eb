// What an album folder records of its photos while a download works on it. The manifest is written whole
// twice: once the plan has reserved every photo's file name (before anything is fetched), and again at the
// end of the album; between the two each fetched photo is noted in the journal, so a run that is cut
// short, even killed, is continued by the next update under the same names. A download that keeps no
// manifests gets records that write nothing.
//
// Nothing names a photo before it is on the disk: the photo's bytes are flushed before it gets its name
// (FetchOptions::durable), and the folder that holds the name is flushed before a journal line or the
// manifest names it. That flush is made once for a batch of photos, not once a photo, so the journal
// lines wait in memory until the next batch (a run killed meanwhile loses only lines that its reserved
// names make up for).
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/albummanifest.h"
#include "core/jobhost.h"
#include "core/photoplan.h"

class AlbumRecords {
 public:
  // folder: the album folder; manifest: what it recorded so far (empty for a new folder); keep: whether
  // anything is written at all. The album's fields are taken into the manifest.
  AlbumRecords(std::string folder, AlbumManifest manifest, const AlbumEntryFields& album, bool keep,
               std::function<std::time_t()> now);
  ~AlbumRecords();
  AlbumRecords(const AlbumRecords&) = delete;
  AlbumRecords& operator=(const AlbumRecords&) = delete;
  AlbumRecords(AlbumRecords&&) = default;

  const std::string& Folder() const { return folder_; }
  // The folder is one a download made without records, to be adopted by the plan.
  void Adopt() { adopt_ = true; }
  // What the photo plan works with: the manifest to bring up to date, or none when nothing is kept.
  PlanRecords ForPlan(bool keepDeleted);
  // After the plan: the manifest with the reserved names, then the journal. Throws std::runtime_error
  // when either cannot be written.
  void Begin();
  // A photo of the plan was written with this many bytes. Throws std::runtime_error.
  // md5: the digest taken while the photo was written; empty: read from the file.
  void Fetched(const PlannedPhoto& photo, long long bytes, const std::string& md5 = {});
  // The folder flushed, then the manifest written whole again and the journal gone. Throws
  // std::runtime_error.
  void Finish();
  // Photos reported by Fetched.
  int FetchedCount() const { return fetched_; }

 private:
  std::string folder_;
  AlbumManifest manifest_;
  bool keep_;
  bool adopt_ = false;
  std::function<std::time_t()> now_;
  std::unique_ptr<ManifestJournal> journal_;
  struct PendingLine {
    std::string url, file, md5;
    long long bytes = 0;
    std::time_t when = 0;
  };
  void FlushPending();
  std::vector<PendingLine> pending_;  // journal lines whose photos' names are not yet flushed
  std::time_t pendingSince_ = 0;
  int fetched_ = 0;
  std::map<std::pair<std::string, std::string>, size_t> recordOf_;  // (address, file) -> record
};

// A description the records keep: at most this many bytes, cut between characters.
inline constexpr size_t kMaxDescBytes = 10000;

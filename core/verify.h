// Checking a copy: every album folder with a manifest is compared with what its manifest records, without
// changing anything. A recorded photo must be there, have its recorded size, still begin as an image and,
// when the manifest has its digest, still have that digest; files the manifest does not name are listed too,
// and so is an album that holds fewer photos than the album service listed for it.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct VerifyFinding {
  enum class Kind {
    kMissing,     // recorded, but the file is not there
    kWrongSize,   // there, with another size than recorded
    kNotImage,    // there, but it no longer begins as an image
    kChanged,     // there, its size right, but its bytes are not those fetched (digest)
    kUnrecorded,  // a file in the album folder that the manifest does not name
    kIncomplete,  // the album: fewer photos saved (or left out on purpose) than the service listed
  };
  Kind kind = Kind::kMissing;
  std::string folder;  // the album folder
  std::string file;    // the file's name in it; empty for kIncomplete
  int listed = -1;     // kIncomplete: the album's photo count as the service listed it
  int saved = -1;      // kIncomplete: the photos the manifest records as fetched
  int leftOut = 0;     // kIncomplete: the photos deleted from the copy and left out on purpose
};

struct VerifyReport {
  int albums = 0;               // album folders with a manifest
  int photosChecked = 0;        // recorded photos looked at
  int photosWithoutDigest = 0;  // of those, recorded before digests were kept (checked by size and kind)
  std::vector<VerifyFinding> findings;
  std::vector<std::string> errors;  // manifests that cannot be read, folders that cannot be listed
  bool Good() const { return albums > 0 && findings.empty() && errors.empty(); }
};

// dir: an album folder, an album root, or a folder holding album roots. Never writes. onProgress, when
// given, is told the photos and bytes whose digests were read so far (from the reading threads, one at a
// time).
VerifyReport VerifyCopy(const std::string& dir,
                        const std::function<void(long long photos, long long bytes)>& onProgress = nullptr);

// "missing", "wrong-size", "not-image", "changed", "unrecorded", "incomplete".
const char* VerifyKindWord(VerifyFinding::Kind kind);

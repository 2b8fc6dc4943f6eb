// The record of one downloaded album, kept as a small JSON file beside its photos, so that a later run can
// fetch only what is new. It names the album and, per photo, its address, its file name in the folder, its
// size and when it was fetched.
//
// The manifest itself is only ever replaced whole (written to a temporary file, then renamed), so it is
// never half-written. The file names of an album's photos are reserved by writing the whole manifest
// before any of them is fetched (a record without a size); after that each fetched photo is noted in a
// journal beside it, one line per photo (address, file, size and time). Because a fetched file only ever
// appears complete (the fetch renames it into place), a reserved name whose file exists is a finished
// photo even when the run was killed before its journal line.
#pragma once

#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kManifestFileName = ".lorvanta-album.json";
inline constexpr std::string_view kJournalFileName = ".lorvanta-album.journal";
// 2 added each photo's digest; format 1 manifests are still read (their photos have none).
inline constexpr int kManifestFormat = 2;

// A manifest that cannot be read: not JSON, fields missing or of the wrong kind, or a newer format.
class ManifestError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ManifestPhoto {
  std::string url;
  std::string file;         // name in the album folder
  long long size = -1;      // -1: reserved, the fetch did not report back
  std::time_t fetched = 0;  // 0 with size -1
  bool deleted = false;     // the file was gone and the user asked to leave such photos out
  std::string md5{};        // digest of the file as fetched (PhotoDigest), empty when not known
  std::string desc{};       // what the photo's owner wrote about it; empty when the list gave nothing

  bool operator==(const ManifestPhoto&) const = default;
};

struct AlbumManifest {
  std::string id, name, desc, priv, total;
  std::vector<ManifestPhoto> photos;

  bool operator==(const AlbumManifest&) const = default;
};

// The manifest as JSON text (one photo per line, so it stays readable and diffs well). Characters beyond
// U+FFFF are written as surrogate pairs so that ParseManifest reads back exactly what was written; throws
// std::runtime_error for a text that is not valid UTF-8 (it could not come back as it was).
std::string ManifestJson(const AlbumManifest& manifest);
// Throws ManifestError.
AlbumManifest ParseManifest(std::string_view json);

// Reads folder's manifest and replays its journal; nullopt when the folder has neither. Throws
// ManifestError for a manifest or a journal line that cannot be read (a last journal line cut off by a
// kill is not an error: it is dropped).
std::optional<AlbumManifest> ReadAlbumManifest(const std::string& folder);

// Replaces folder's manifest atomically and removes its journal. Throws std::runtime_error when the file
// cannot be written; the previous manifest is then still in place.
void WriteAlbumManifest(const std::string& folder, const AlbumManifest& manifest);

// Appends the journal lines of one photo; each line goes out in a single write. Throws std::runtime_error
// when the journal cannot be written.
class ManifestJournal {
 public:
  explicit ManifestJournal(const std::string& folder);
  ~ManifestJournal();
  ManifestJournal(const ManifestJournal&) = delete;
  ManifestJournal& operator=(const ManifestJournal&) = delete;

  void Fetched(std::string_view url, std::string_view file, long long size, std::time_t when,
               std::string_view md5 = {});

 private:
  void Append(const std::string& line);
  int fd_ = -1;
};

// The digest a manifest records for a photo file: the program's MD5 (32 lower-case hexadecimal digits) of
// its bytes, read whole (photos are capped well below memory sizes); empty when it cannot be read. It is
// for finding a photo changed on disk, not for security.
std::string PhotoDigest(const std::string& path);

// "2026-12-08T23:40:00Z"; the reverse gives -1 for text of another shape.
std::string UtcTimeText(std::time_t t);
std::time_t ParseUtcTimeText(std::string_view text);

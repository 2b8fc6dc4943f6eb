#include "core/verify.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <variant>

#include "core/albummanifest.h"
#include "core/imagecheck.h"
#include "core/textutil.h"
#include "net/digest.h"

namespace fs = std::filesystem;

namespace {

// Files read at once; more only queue on a disk, fewer leave an SSD idle.
constexpr size_t kDigestThreads = 4;

struct DigestCheck {
  std::string path, md5, file;
  bool changed = false;
};

// Photos and bytes read so far, told to the caller from whichever thread read them.
struct VerifyProgress {
  const std::function<void(long long, long long)>& tell;
  std::mutex lock{};
  long long photos = 0, bytes = 0;
  void Done(long long read) {
    if (!tell) return;
    std::lock_guard<std::mutex> hold(lock);
    ++photos;
    bytes += read;
    tell(photos, bytes);
  }
};

bool HasManifest(const fs::path& folder) {
  std::error_code ec;
  return fs::is_regular_file(folder / std::string(kManifestFileName), ec);
}

std::vector<fs::path> SubFolders(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    std::error_code e2;
    if (entry.is_directory(e2) && !entry.is_symlink(e2) && entry.path().filename().string()[0] != '.')
      out.push_back(entry.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The album folders below dir: dir itself, its folders, or their folders, whichever hold manifests.
std::vector<fs::path> AlbumFolders(const fs::path& dir) {
  if (HasManifest(dir)) return {dir};
  std::vector<fs::path> albums;
  for (const fs::path& sub : SubFolders(dir)) {
    if (HasManifest(sub)) {
      albums.push_back(sub);
      continue;
    }
    for (const fs::path& inner : SubFolders(sub))
      if (HasManifest(inner)) albums.push_back(inner);
  }
  return albums;
}

// The digests of one album's photos, read several at once: on a disk that answers several reads at a time
// (any SSD, the page cache) the check runs at the disk's pace rather than one file's.
void CheckDigests(std::vector<DigestCheck>& checks, VerifyProgress& progress) {
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i = next++; i < checks.size(); i = next++) {
      long long bytes = 0;
      checks[i].changed = FileMd5Hex(checks[i].path, &bytes) != checks[i].md5;
      progress.Done(bytes);
    }
  };
  const size_t threads = std::min<size_t>(checks.size(), kDigestThreads);
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
}

void CheckAlbum(const fs::path& folder, VerifyReport& report, VerifyProgress& progress) {
  std::optional<AlbumManifest> manifest;
  try {
    manifest = ReadAlbumManifest(folder.string());
  } catch (const ManifestError& e) {
    report.errors.push_back(folder.string() + "/" + std::string(kManifestFileName) + ": " + e.what());
    return;
  }
  if (!manifest) return;
  ++report.albums;
  std::set<std::string> named;
  auto find = [&](VerifyFinding::Kind kind, const std::string& file) {
    report.findings.push_back({kind, folder.string(), file});
  };
  int saved = 0, leftOut = 0;
  // Findings in manifest order; a digest still to be read holds its place as the index of its check.
  std::vector<std::variant<VerifyFinding, size_t>> order;
  std::vector<DigestCheck> checks;
  const auto placeFinding = [&](VerifyFinding::Kind kind, const std::string& file) {
    order.emplace_back(VerifyFinding{kind, folder.string(), file});
  };
  for (const ManifestPhoto& photo : manifest->photos) {
    named.insert(photo.file);
    // A photo deleted on purpose is not missing from the copy: it was left out as asked.
    if (photo.deleted)
      ++leftOut;
    else if (photo.size >= 0)
      ++saved;
    // A reserved name of a run that never finished it, or a photo deleted on purpose: nothing to check.
    if (photo.size < 0 || photo.deleted) continue;
    ++report.photosChecked;
    const fs::path path = folder / photo.file;
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec))) {
      placeFinding(VerifyFinding::Kind::kMissing, photo.file);
      continue;
    }
    const auto size = static_cast<long long>(fs::file_size(path, ec));
    if (ec || size != photo.size) {
      placeFinding(VerifyFinding::Kind::kWrongSize, photo.file);
    } else if (!IsImageFile(path.string())) {
      placeFinding(VerifyFinding::Kind::kNotImage, photo.file);
    } else if (photo.md5.empty()) {
      ++report.photosWithoutDigest;
    } else {
      order.emplace_back(checks.size());
      checks.push_back({path.string(), photo.md5, photo.file});
    }
  }
  CheckDigests(checks, progress);
  for (const auto& entry : order) {
    if (const auto* finding = std::get_if<VerifyFinding>(&entry)) {
      report.findings.push_back(*finding);
    } else if (const DigestCheck& check = checks[std::get<size_t>(entry)]; check.changed) {
      find(VerifyFinding::Kind::kChanged, check.file);
    }
  }
  std::error_code ec;
  std::vector<std::string> extra;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    std::error_code e2;
    if (name.empty() || name[0] == '.' || !entry.is_regular_file(e2)) continue;  // our own files are hidden
    if (!named.count(name)) extra.push_back(name);
  }
  if (ec) report.errors.push_back(folder.string() + ": " + ec.message());
  std::sort(extra.begin(), extra.end());
  for (const std::string& name : extra) find(VerifyFinding::Kind::kUnrecorded, name);
  // Every recorded photo may be well and the album still short: a run stopped half way, photos that failed,
  // a list cut off. Without this the copy would pass for complete.
  if (const std::optional<int> listed = ParseCount(manifest->total); listed && *listed > saved + leftOut) {
    VerifyFinding f{VerifyFinding::Kind::kIncomplete, folder.string(), {}};
    f.listed = *listed;
    f.saved = saved;
    f.leftOut = leftOut;
    report.findings.push_back(f);
  }
}

}  // namespace

VerifyReport VerifyCopy(const std::string& dir,
                        const std::function<void(long long photos, long long bytes)>& onProgress) {
  VerifyReport report;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    report.errors.push_back(dir + ": not a folder");
    return report;
  }
  VerifyProgress progress{onProgress};
  for (const fs::path& folder : AlbumFolders(dir)) CheckAlbum(folder, report, progress);
  return report;
}

const char* VerifyKindWord(VerifyFinding::Kind kind) {
  switch (kind) {
    case VerifyFinding::Kind::kMissing:
      return "missing";
    case VerifyFinding::Kind::kWrongSize:
      return "wrong-size";
    case VerifyFinding::Kind::kNotImage:
      return "not-image";
    case VerifyFinding::Kind::kChanged:
      return "changed";
    case VerifyFinding::Kind::kUnrecorded:
      return "unrecorded";
    case VerifyFinding::Kind::kIncomplete:
      return "incomplete";
  }
  return "missing";
}

#include "core/albumroot.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <stdexcept>
#include <system_error>

#include "core/wholefile.h"
#include "net/fetchtofile.h"

namespace fs = std::filesystem;

std::string MoveOldRootAside(const std::string& downloadFolder, std::string_view qqNumber,
                             const std::string& root, std::time_t now) {
  std::error_code ec;
  const std::string bare = root.substr(0, root.size() - 1);
  if (!fs::is_directory(fs::symlink_status(bare, ec))) return {};
  std::string backup;
  try {
    backup = UniqueBackupFolderName(downloadFolder, std::string(qqNumber), now);
  } catch (const std::runtime_error& e) {
    return "cannot move the older copy " + bare + " aside: " + e.what() + "; writing into it";
  }
  fs::rename(bare, backup, ec);
  if (ec)
    return "cannot move the older copy " + bare + " to " + backup + ": " + ec.message() + "; writing into it";
  return {};
}

void RemoveLeftoverTemporaries(const std::string& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    bool leftover = name == std::string(kManifestFileName) + ".part" || IsWholeFileTemporary(name);
    const std::string_view kFetchPrefix = kFetchTemporaryPrefix;
    if (name.rfind(kFetchPrefix, 0) == 0 && name.size() > 5 &&
        name.compare(name.size() - 5, 5, ".part") == 0) {
      const long pid = std::strtol(name.c_str() + kFetchPrefix.size(), nullptr, 10);
      leftover = pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
    }
    std::error_code e2;
    if (leftover && entry.is_regular_file(e2)) fs::remove(entry.path(), e2);
  }
}

std::map<std::string, KnownAlbumFolder> FindAlbumFolders(const std::string& root,
                                                         const std::vector<AlbumEntryFields>& albums,
                                                         const NameRules& rules) {
  std::map<std::string, KnownAlbumFolder> known;
  std::error_code ec;
  if (!fs::is_directory(root, ec)) return known;
  std::vector<std::string> folders;
  for (const auto& entry : fs::directory_iterator(root, ec)) {
    std::error_code e2;
    if (entry.is_directory(e2) && !entry.is_symlink(e2)) folders.push_back(entry.path().string());
  }
  std::sort(folders.begin(), folders.end());
  for (const std::string& f : folders) {
    RemoveLeftoverTemporaries(f);
    std::optional<AlbumManifest> m;
    try {
      m = ReadAlbumManifest(f);
    } catch (const ManifestError& e) {
      throw ManifestError(f + "/" + std::string(kManifestFileName) + ": " + e.what());
    }
    if (!m || m->id.empty() || known.count(m->id)) continue;
    const std::string id = m->id;  // before the manifest is moved from
    known.emplace(id, KnownAlbumFolder{f, std::move(*m), false});
  }
  // A copy made by a download that kept no records: each album whose folder stands under the name that
  // download gave it is continued there instead of in a second folder.
  std::set<std::string> handedOut;
  for (const AlbumEntryFields& album : albums) {
    const std::string folder = AlbumFolderPathAsDownloaded(root, album.name, album.id, handedOut, rules);
    if (album.id.empty() || known.count(album.id)) continue;
    if (!fs::is_directory(fs::symlink_status(folder, ec))) continue;
    // A folder with records belongs to the album they name (and was taken above if it is this one).
    if (fs::exists(folder + "/" + std::string(kManifestFileName), ec)) continue;
    AlbumManifest manifest;
    manifest.id = album.id;
    known.emplace(album.id, KnownAlbumFolder{folder, std::move(manifest), true});
  }
  return known;
}

#include "viewer/albumscan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <set>

#include "core/albummanifest.h"
#include "core/filenames.h"
#include "core/imagecheck.h"

namespace {

// The names in a folder that do not begin with "." (dir: a full path); empty when it cannot be read.
std::vector<std::string> VisibleNames(const std::string& dir) {
  std::vector<std::string> names;
  for (std::string& name : FolderEntries(dir)) {
    if (name[0] != '.') names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  return names;
}

// A folder itself, not a link to one.
bool IsOwnFolder(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// What is at path: a regular file or not, and the image kind of its first bytes. Opened without blocking
// and checked after opening, so a pipe or device that happens to carry a photo's name is never read from.
void Probe(const std::string& path, ShownPhoto& photo) {
  photo.present = false;
  photo.kind.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    photo.present = true;
    photo.size = static_cast<long long>(st.st_size);
    photo.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    char head[32];
    size_t got = 0;
    while (got < sizeof head) {
      const ssize_t n = read(fd, head + got, sizeof head - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    photo.kind = std::string(ImageKind(std::string_view(head, got)));
  }
  close(fd);
}

std::optional<AlbumManifest> TryManifest(const std::string& folderPath, std::vector<std::string>& notes) {
  try {
    return ReadAlbumManifest(folderPath);
  } catch (const std::exception& e) {
    notes.push_back(folderPath + ": the manifest cannot be read (" + e.what() +
                    "); its photos are shown as found");
    return std::nullopt;
  }
}

void FillBlank(std::string& field, const std::string& value) {
  if (field.empty()) field = value;
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      // Compare the numbers without their leading zeros: first by length, then digit by digit.
      size_t ia = i, jb = j;
      while (ia < a.size() && a[ia] == '0') ++ia;
      while (jb < b.size() && b[jb] == '0') ++jb;
      size_t ea = ia, eb = jb;
      while (ea < a.size() && digit(a[ea])) ++ea;
      while (eb < b.size() && digit(b[eb])) ++eb;
      if (ea - ia != eb - jb) return ea - ia < eb - jb;
      const int c = a.compare(ia, ea - ia, b, jb, eb - jb);
      if (c != 0) return c < 0;
      i = ea;
      j = eb;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return j < b.size();
  return a < b;  // equal as numbers ("01" and "1"): still one order
}

std::string FolderInRoot(const std::string& root, std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.compare(0, root.size(), root) == 0) folder.erase(0, root.size());
  return folder;
}

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

void ReadAlbumFolder(const std::string& folderPath, ShownAlbum& album, std::vector<std::string>& notes,
                     const std::vector<std::string>& order) {
  struct stat st {};
  album.folderPresent = stat(folderPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (!album.folderPresent) {
    notes.push_back(folderPath + ": the album folder is not there");
    FillBlank(album.name, album.folder);
    return;
  }
  const std::optional<AlbumManifest> manifest = TryManifest(folderPath, notes);
  std::set<std::string> named;
  std::time_t latest = 0;
  if (manifest) {
    for (const ManifestPhoto& p : manifest->photos) {
      // Left out: photos the user took out and asked to keep out, and (though the reader refuses such a
      // manifest already) any name that would reach outside the folder.
      if (p.deleted || !IsPlainName(p.file) || !named.insert(p.file).second) continue;
      ShownPhoto photo;
      photo.file = p.file;
      photo.desc = p.desc;
      Probe(folderPath + "/" + p.file, photo);
      album.photos.push_back(std::move(photo));
      latest = std::max(latest, p.fetched);
    }
    FillBlank(album.name, manifest->name);
    FillBlank(album.desc, manifest->desc);
    FillBlank(album.priv, manifest->priv);
    FillBlank(album.total, manifest->total);
  } else {
    for (const std::string& file : order) {
      if (!IsPlainName(file) || file[0] == '.' || !named.insert(file).second) continue;
      ShownPhoto photo;
      photo.file = file;
      Probe(folderPath + "/" + file, photo);
      if (photo.present && !photo.kind.empty()) album.photos.push_back(std::move(photo));
    }
  }
  // Image files not named so far (all of them, without a manifest or an order) follow by name.
  for (const std::string& name : VisibleNames(folderPath)) {
    if (named.count(name) != 0) continue;
    ShownPhoto photo;
    photo.file = name;
    Probe(folderPath + "/" + name, photo);
    if (photo.present && !photo.kind.empty()) album.photos.push_back(std::move(photo));
  }
  album.copied = latest > 0 ? latest : st.st_mtim.tv_sec;
  album.photoCount = album.photos.size();
  FillBlank(album.name, LastComponent(folderPath));
}

std::vector<ShownAlbum> ListAlbums(const std::string& root, std::vector<ViewerAlbum> listOrder,
                                   std::vector<std::string>& notes) {
  std::vector<ShownAlbum> albums;
  std::set<std::string> claimed;
  const std::string rootNoSlash = root.substr(0, root.size() - 1);
  for (ViewerAlbum& listed : listOrder) {
    ShownAlbum a;
    a.name = std::move(listed.name);
    a.desc = std::move(listed.desc);
    a.priv = std::move(listed.priv);
    a.total = std::move(listed.total);
    a.failed = listed.failed;
    a.failureReason = std::move(listed.failureReason);
    const std::string folder = FolderInRoot(root, listed.folder);
    if (IsPlainName(folder) && folder != kViewerFolder) {
      a.folder = folder;
      a.photoOrder = std::move(listed.photoOrder);
      claimed.insert(folder);
    } else if (!folder.empty() && folder != rootNoSlash) {
      notes.push_back(listed.folder + ": not a folder of the album root " + root +
                      "; its album is shown without photos");
    }
    albums.push_back(std::move(a));
  }
  for (const std::string& name : VisibleNames(rootNoSlash)) {
    // Links to folders elsewhere are left out: the viewer stays inside the copy it describes.
    if (claimed.count(name) != 0 || !IsOwnFolder(root + name)) continue;
    ShownAlbum a;
    a.folder = name;
    albums.push_back(std::move(a));
  }
  return albums;
}

#include "viewer/viewer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <thread>

#include "core/filenames.h"
#include "core/wholefile.h"
#include "viewer/albumscan.h"
#include "viewer/assets.h"
#include "viewer/listfile.h"
#include "viewer/pages.h"
#include "viewer/thumbnails.h"
#include "viewer/viewerfiles.h"

namespace {

// The root must be a folder; index.html and the viewer folder must be absent or the viewer's own, so that
// a file of the user's that happens to have one of these names is never replaced.
void CheckPlace(const std::string& root, const std::string& entry, const std::string& viewerDir) {
  // Looked at without its trailing "/", so that a file there is told as such.
  const std::string plain = root.size() > 1 ? root.substr(0, root.size() - 1) : root;
  struct stat st {};
  if (stat(plain.c_str(), &st) != 0)
    throw std::runtime_error("the album root " + plain + " cannot be opened: " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) throw std::runtime_error("the album root " + plain + " is not a folder");
  if (lstat(entry.c_str(), &st) == 0) {
    const std::string mark = std::string("content=\"") + kViewerGenerator + "\"";
    if (!S_ISREG(st.st_mode) || ReadFileHead(entry, 4096).find(mark) == std::string::npos)
      throw std::runtime_error(
          entry + " was not made by the album viewer; it is left as it is and no viewer is made");
  }
  if (lstat(viewerDir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode))
      throw std::runtime_error(viewerDir + " is in the way of the album viewer and is left as it is");
    const bool empty = FolderEntries(viewerDir).empty();
    struct stat own {};
    if (!empty && stat((viewerDir + std::string(kStyleFile)).c_str(), &own) != 0)
      throw std::runtime_error(viewerDir + " was not made by the album viewer; it is left as it is");
  }
}

// Album pages past the count of this build belong to albums that are gone.
void RemoveStalePages(const std::string& viewerDir, size_t count) {
  std::set<std::string> current;
  for (size_t i = 0; i < count; ++i) current.insert(AlbumPageName(i));
  std::vector<std::string> doomed;
  for (const std::string& entry : FolderEntries(viewerDir)) {
    const std::string_view name = entry;
    if (!name.starts_with("album-") || !name.ends_with(".html") || current.count(std::string(name)) != 0)
      continue;
    const std::string_view number = name.substr(6, name.size() - 6 - 5);
    if (!number.empty() && number.find_first_not_of("0123456789") == std::string_view::npos)
      doomed.emplace_back(name);
  }
  for (const std::string& name : doomed) unlink((viewerDir + name).c_str());
}

// The viewer's folders, made when they are not there. The style sheet goes in first when it is missing:
// it is what marks the folder as the viewer's own (CheckPlace), even when a build stops half way.
void PrepareFolders(const std::string& viewerDir, const std::string& thumbDir) {
  MakeFolder(viewerDir);
  struct stat st {};
  const std::string style = viewerDir + std::string(kStyleFile);
  if (stat(style.c_str(), &st) != 0) WriteWholeFile(style, StyleSheet());
  MakeFolder(thumbDir);
}

// What making an album's thumbnails came to.
struct AlbumThumbnails {
  int made = 0, reused = 0;
};

// Names the thumbnail of every readable photo of album (p.thumb) and makes those that are not made yet;
// a photo libvips cannot read loses its name, so the pages show the placeholder. Within an album every
// photo file is shown once (ReadAlbumFolder), so every name is made once. The names go into keep when
// one is given.
AlbumThumbnails ShowThumbnails(const std::string& root, const std::string& thumbDir, ShownAlbum& album,
                               int edge, int threads, const std::atomic<bool>* cancel,
                               ShownThumbnails* keep) {
  std::vector<ThumbnailSource> sources;
  std::vector<ShownPhoto*> shown;  // the photo of each source
  for (ShownPhoto& p : album.photos) {
    if (!p.present || p.kind.empty()) continue;
    p.thumb = ThumbnailName(album.folder, p.file, p.size, p.mtimeNs, edge);
    sources.push_back({root + album.folder + "/" + p.file, p.thumb});
    shown.push_back(&p);
  }
  AlbumThumbnails result;
  if (sources.empty()) return result;
  const std::vector<ThumbnailState> states = MakeThumbnails(thumbDir, sources, threads, edge, cancel);
  for (size_t i = 0; i < sources.size(); ++i) {
    if (keep != nullptr) keep->Add(sources[i].name);
    if (states[i] == ThumbnailState::kMade) ++result.made;
    if (states[i] == ThumbnailState::kReused) ++result.reused;
    if (states[i] == ThumbnailState::kUnreadable) shown[i]->thumb.clear();
  }
  return result;
}

// Where the viewer of an album root goes, once CheckPlace has found it free or the viewer's own.
struct Place {
  std::string root, entry, viewerDir, thumbDir;  // folders end in "/"
};

Place CheckedPlace(const std::string& albumRoot) {
  if (albumRoot.empty()) throw std::runtime_error("no album root was given for the album viewer");
  Place p;
  p.root = WithTrailingSlash(albumRoot);
  p.entry = p.root + std::string(kViewerEntryFile);
  p.viewerDir = p.root + std::string(kViewerFolder) + "/";
  p.thumbDir = p.viewerDir + std::string(kThumbFolder) + "/";
  CheckPlace(p.root, p.entry, p.viewerDir);
  return p;
}

int ThumbnailEdge(const ViewerOptions& options) {
  return std::clamp(options.thumbnailSize, 64, 1024);
}

int ThreadCount(int asked) {
  if (asked > 0) return std::min(asked, 64);
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 64u));
}

}  // namespace

ViewerReport BuildViewer(const std::string& albumRoot, const std::vector<ViewerAlbum>& listOrder,
                         const ViewerOptions& options) {
  const Place place = CheckedPlace(albumRoot);
  const std::string& root = place.root;
  const std::string& viewerDir = place.viewerDir;
  const std::string& thumbDir = place.thumbDir;
  ViewerReport report;
  report.entryPage = place.entry;
  PrepareFolders(viewerDir, thumbDir);

  ShownSite site;
  std::string rootName = root.substr(0, root.size() - 1);
  while (rootName.size() > 1 && rootName.back() == '/') rootName.pop_back();
  site.title = LastComponent(rootName);
  site.copyTime = options.copyTime > 0 ? options.copyTime : std::time(nullptr);
  {
    // What a download listed is kept for later builds, which have no download to ask: the albums in the
    // service's order, their texts, and their photos' order.
    const std::string listFile = viewerDir + std::string(kListFile);
    std::vector<ViewerAlbum> list = MergeViewerList(root, listOrder, ReadViewerList(listFile));
    WriteWholeFile(listFile, ViewerListBytes(list));
    site.albums = ListAlbums(root, std::move(list), report.notes);
  }

  // Everything a page points to is in place before the page; index.html comes last, its temporary file in
  // the viewer folder so that nothing but index.html itself ever appears in the root.
  WriteWholeFile(viewerDir + std::string(kStyleFile), StyleSheet());
  WriteWholeFile(viewerDir + std::string(kScriptFile), KeyboardScript());
  WriteWholeFile(viewerDir + std::string(kPlaceholderFile), PlaceholderPicture());

  // One album at a time: its photos read, their thumbnails made, its page written, and then all but its
  // cover let go, so that the memory a build takes does not grow with the copy.
  const int edge = ThumbnailEdge(options);
  const int threads = ThreadCount(options.threads);
  ShownThumbnails keep;
  for (size_t i = 0; i < site.albums.size(); ++i) {
    ShownAlbum& a = site.albums[i];
    if (!a.folder.empty()) ReadAlbumFolder(root + a.folder, a, report.notes, a.photoOrder);
    std::vector<std::string>().swap(a.photoOrder);
    const AlbumThumbnails thumbs = ShowThumbnails(root, thumbDir, a, edge, threads, nullptr, &keep);
    report.thumbnailsMade += thumbs.made;
    report.thumbnailsReused += thumbs.reused;
    for (const ShownPhoto& p : a.photos) {
      if (p.thumb.empty()) ++report.placeholders;
      ++report.photos;
    }
    WriteWholeFile(viewerDir + AlbumPageName(i), AlbumPage(site, i));
    ++report.pages;
    if (a.photos.size() > 1) {
      a.photos.resize(1);
      a.photos.shrink_to_fit();
    }
  }
  report.albums = static_cast<int>(site.albums.size());
  WriteWholeFile(report.entryPage, EntryPage(site), 0644, viewerDir);
  ++report.pages;

  RemoveStalePages(viewerDir, site.albums.size());
  report.thumbnailsRemoved = RemoveStaleThumbnails(thumbDir, keep);
  RemoveLeftoverTemps(viewerDir);
  RemoveLeftoverTemps(thumbDir);
  return report;
}

int MakeAlbumThumbnails(const std::string& albumRoot, const std::string& folder, const ViewerOptions& options,
                        const std::atomic<bool>* cancel) {
  const Place place = CheckedPlace(albumRoot);
  if (!IsPlainName(folder) || folder == kViewerFolder)
    throw std::runtime_error(folder + ": not a folder of the album root " + place.root);
  ShownAlbum album;
  album.folder = folder;
  std::vector<std::string> notes;
  ReadAlbumFolder(place.root + folder, album, notes);
  if (!album.folderPresent) return 0;
  PrepareFolders(place.viewerDir, place.thumbDir);
  return ShowThumbnails(place.root, place.thumbDir, album, ThumbnailEdge(options),
                        ThreadCount(options.threads), cancel, nullptr)
      .made;
}

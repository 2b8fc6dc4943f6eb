// The offline album viewer: after a download (or for any album root on disk) a set of plain HTML pages
// beside the albums, opened from one entry file and working from wherever the copy is moved to.
//
// The album root gets exactly one visible file, index.html; everything else the pages use (album pages,
// style sheet, script, small JPEG thumbnails) lives in one hidden folder beside it, so nothing new ever
// appears among the photos. Every link is relative, nothing is loaded from the network, and every text
// that came from the album service is shown as text.
#pragma once

#include <atomic>
#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kViewerEntryFile = "index.html";
inline constexpr std::string_view kViewerFolder = ".lorvanta-viewer";

// One album as the download handled it.
struct ViewerAlbum {
  // Its folder: the folder's name inside the album root, or a path that begins with the album root. Empty
  // when the album never got one (it failed first).
  std::string folder{};
  // As listed by the album service; an empty field is taken from the folder's manifest, and an empty name
  // from there too, else the folder's name.
  std::string name{}, desc{}, priv{}, total{};
  bool failed = false;
  std::string failureReason{};
  // Its photo files (plain names) in the service's order, as the download wrote them. Kept in the viewer's
  // folder, so that a folder without a manifest keeps this order in later builds too.
  std::vector<std::string> photoOrder{};
};

struct ViewerOptions {
  int threads = 0;           // thumbnails made at once; 0: one per hardware thread
  std::time_t copyTime = 0;  // the date of the copy on the entry page; 0: now
  int thumbnailSize = 360;   // longest side of a thumbnail, in pixels (64..1024)
};

struct ViewerReport {
  std::string entryPage;      // full path of index.html
  int pages = 0;              // HTML pages written, the entry page included
  int albums = 0;             // albums shown
  int photos = 0;             // photos shown, placeholders included
  int thumbnailsMade = 0;     // made by this build
  int thumbnailsReused = 0;   // kept from an earlier build (same file name, size and time)
  int placeholders = 0;       // photos shown as a placeholder: missing, not an image, or unreadable
  int thumbnailsRemoved = 0;  // thumbnails of photos no longer there
  // Things that did not stop the build: a manifest that cannot be read (its folder is shown as found), a
  // listed folder that is not there. Each line names the folder; text is UTF-8.
  std::vector<std::string> notes;
};

// Writes (or rewrites) the viewer of albumRoot. listOrder: the albums the download just handled, shown
// first and in this order, failed ones as failed; every other album folder of the root follows, sorted
// by name. With an empty listOrder every album folder of the root is shown, sorted by name (a folder
// whose name begins with "." is not an album). Thumbnails are made only for photos that have none yet.
// Albums are read, given their thumbnails and written one at a time, so the memory a build takes hardly
// grows with the copy.
//
// Throws std::runtime_error, naming the path and the reason, when albumRoot is not a folder or the
// pages cannot be written there, or when an index.html or .lorvanta-viewer that the viewer did not make
// is in the way (it is left untouched).
ViewerReport BuildViewer(const std::string& albumRoot, const std::vector<ViewerAlbum>& listOrder,
                         const ViewerOptions& options = {});

// Makes the thumbnails that the viewer of albumRoot will show for the album folder `folder` (its plain name
// in albumRoot), ahead of BuildViewer, which then finds them made: a download hands each album over as
// soon as it is done. Stops after the photo at hand when *cancel becomes true. Returns how many were made.
// Throws std::runtime_error as BuildViewer does, and for a folder name that is not a plain name.
int MakeAlbumThumbnails(const std::string& albumRoot, const std::string& folder, const ViewerOptions& options,
                        const std::atomic<bool>* cancel = nullptr);

// What the viewer shows, as read from the album root: the albums in the order shown and, per album, its
// photos in the order shown. Filled by the folder reader (albumscan.h) and the thumbnail step, read by the
// page writer (pages.h), one album at a time.
#pragma once

#include <ctime>
#include <string>
#include <vector>

struct ShownPhoto {
  std::string file;      // plain name inside the album folder
  bool present = false;  // a regular file of that name is there
  std::string kind;      // ImageKind of its first bytes; empty when missing or not an image
  long long size = 0;
  long long mtimeNs = 0;
  std::string thumb;  // file name in the thumbnail folder; empty: the placeholder is shown
  std::string desc;   // what its owner wrote about it (from the manifest); may be empty
};

struct ShownAlbum {
  std::string folder;          // plain name inside the album root; empty when the album has none
  bool folderPresent = false;  // that folder is there
  std::string name, desc, priv, total;
  bool failed = false;
  std::string failureReason;
  std::time_t copied = 0;  // when its photos were fetched (the latest), else the folder's time; 0 unknown
  std::vector<ShownPhoto> photos;
  // How many photos it shows. A build keeps only the first (the cover) once the album's page is written,
  // so that a copy of many albums is never held in memory whole; this count stays.
  size_t photoCount = 0;
  // The order of its photos that the album list kept, for a folder without a manifest; dropped once the
  // folder is read.
  std::vector<std::string> photoOrder;
};

struct ShownSite {
  std::string title;  // the album root's own name, e.g. "10001的相册"
  std::time_t copyTime = 0;
  std::vector<ShownAlbum> albums;
};

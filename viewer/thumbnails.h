// Small JPEG thumbnails of the photos, made with libvips on a few threads and kept between builds.
//
// A photo that already fits in the thumbnail's box (most of an album service's small photos) is decoded
// and written on the thread at hand, without libvips' thumbnail pipeline, whose set-up cost several times
// the work of such a picture; a larger one goes through the pipeline, which shrinks it while decoding.
//
// A thumbnail is named after what it shows (album folder, photo file name, size, modification time and
// thumbnail size), so one found under its name is up to date and is never made again; a changed photo
// gets a new name and its old thumbnail is removed as stale. A photo libvips cannot read is marked with an
// empty "<name>.none" beside the thumbnails, so it is not tried again either, and the pages show the
// placeholder for it.
#pragma once

#include <array>
#include <atomic>
#include <string>
#include <string_view>
#include <vector>

struct ThumbnailSource {
  std::string photoPath;  // full path of the photo
  std::string name;       // its thumbnail's file name (ThumbnailName)
};

enum class ThumbnailState { kMade, kReused, kUnreadable };

// "<32 hex digits>.jpg" for the photo file `file` of album folder `folder`.
std::string ThumbnailName(std::string_view folder, std::string_view file, long long size, long long mtimeNs,
                          int edge);

// Makes, in folder (ends in "/"), the thumbnails of sources that have neither a thumbnail nor a marker there
// yet, on up to `threads` threads; each fits in edge x edge pixels, is turned upright by the photo's EXIF
// orientation and carries no metadata. Returns one state per source, in order. Throws std::runtime_error
// when a thumbnail cannot be written (a full disk), after every thread has stopped. When *cancel becomes
// true the threads stop after the photo at hand; the sources not reached stay kReused in the result, so a
// cancelled result only tells what was made.
std::vector<ThumbnailState> MakeThumbnails(const std::string& folder,
                                           const std::vector<ThumbnailSource>& sources, int threads, int edge,
                                           const std::atomic<bool>* cancel = nullptr);

// The thumbnails a build shows, by the 32 hex digits of their names, in little room: a copy of 100,000
// photos keeps them in 3.2 MB where a set of their names took 11 MB.
class ShownThumbnails {
 public:
  // name: a ThumbnailName (or anything else, which is not kept).
  void Add(std::string_view name);
  // True for the name of a kept thumbnail and for its marker; anything else is false.
  bool Has(std::string_view name);

 private:
  using Key = std::array<char, 32>;
  std::vector<Key> keys_;
  bool sorted_ = true;
};

// Removes from folder (ends in "/") the thumbnails and markers that keep does not have. Other files are
// left alone. Returns how many thumbnails went.
int RemoveStaleThumbnails(const std::string& folder, ShownThumbnails& keep);

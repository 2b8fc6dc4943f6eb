// Small JPEG thumbnails of the photos, made with libvips on a few threads and kept between builds.
//
// A thumbnail is named after what it shows (album folder, photo file name, size, modification time and
// thumbnail size), so one found under its name is up to date and is never made again; a changed photo
// gets a new name and its old thumbnail is removed as stale. A photo libvips cannot read is marked with an
// empty "<name>.none" beside the thumbnails, so it is not tried again either, and the pages show the
// placeholder for it.
#pragma once

#include <atomic>
#include <set>
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

// Removes from folder (ends in "/") the thumbnails and markers whose name is not in keep, and what an
// interrupted write left behind. Other files are left alone. Returns how many thumbnails went.
int RemoveStaleThumbnails(const std::string& folder, const std::set<std::string>& keep);

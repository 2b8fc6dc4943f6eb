// Shared pieces of the viewer tests: a scratch album root, photos made with libvips, and the links of a
// page as written.
#pragma once

#include <string>
#include <vector>

// A fresh folder under the temporary folder, removed with everything in it afterwards.
class ScratchRoot {
 public:
  ScratchRoot();
  ~ScratchRoot();
  ScratchRoot(const ScratchRoot&) = delete;
  ScratchRoot& operator=(const ScratchRoot&) = delete;
  const std::string& path() const { return path_; }  // ends in "/"

 private:
  std::string path_;
};

// Writes bytes to path, making its folders.
void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);

// A JPEG of width x height in a flat colour, with this EXIF orientation (1: upright).
std::string JpegBytes(int width, int height, int orientation = 1);
// Width and height of an image file as libvips reads it.
std::pair<int, int> ImageSize(const std::string& path);

// Every href and src value of an HTML page, in order, as written (entities not decoded).
std::vector<std::string> PageLinks(const std::string& html);
// Every id value of a page.
std::vector<std::string> PageIds(const std::string& html);

// Every file below root (relative, sorted), folders left out.
std::vector<std::string> FilesBelow(const std::string& root);

// Shared pieces of the viewer tests: a scratch album root, photos made with libvips, and the links of a
// page as written.
#pragma once

#include <string>
#include <utility>
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

// Every attribute of the start tags of an HTML page as (name, value), in order, values as written
// (entities not decoded). The pages quote every value with double quotes; a value written otherwise reads
// as "<unquoted>", so that the tests that look at every link fail on it.
std::vector<std::pair<std::string, std::string>> PageAttributes(const std::string& html);
// The href and src values of a page, and its id values.
std::vector<std::string> PageLinks(const std::string& html);
std::vector<std::string> PageIds(const std::string& html);

// Every file below root (relative, sorted), folders left out.
std::vector<std::string> FilesBelow(const std::string& root);

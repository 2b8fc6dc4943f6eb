#include "tests/viewer/viewertest.h"

#include <stdlib.h>
#include <vips/vips.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

ScratchRoot::ScratchRoot() {
  std::string pattern = (fs::temp_directory_path() / "lorvanta-viewer-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

ScratchRoot::~ScratchRoot() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string JpegBytes(int width, int height, int orientation) {
  if (vips_init("viewer_tests") != 0) throw std::runtime_error("libvips does not start");
  VipsImage* black = nullptr;
  VipsImage* grey = nullptr;
  if (vips_black(&black, width, height, "bands", 3, nullptr) != 0 ||
      vips_linear1(black, &grey, 1.0, 90.0, "uchar", TRUE, nullptr) != 0)
    throw std::runtime_error("cannot make a test picture");
  g_object_unref(black);
  vips_image_set_int(grey, "orientation", orientation);
  void* buf = nullptr;
  size_t len = 0;
  if (vips_jpegsave_buffer(grey, &buf, &len, nullptr) != 0) throw std::runtime_error("cannot save a JPEG");
  g_object_unref(grey);
  std::string bytes(static_cast<const char*>(buf), len);
  g_free(buf);
  return bytes;
}

std::pair<int, int> ImageSize(const std::string& path) {
  VipsImage* image = vips_image_new_from_file(path.c_str(), nullptr);
  if (image == nullptr) return {0, 0};
  const std::pair<int, int> size{vips_image_get_width(image), vips_image_get_height(image)};
  g_object_unref(image);
  return size;
}

namespace {

std::vector<std::string> AttributeValues(const std::string& html, const std::string& names) {
  // The pages quote every attribute with double quotes; an unquoted or single-quoted href or src would not
  // be found here and so fail the tests that expect every link to be seen.
  const std::regex attr("\\s(?:" + names + ")=\"([^\"]*)\"");
  std::vector<std::string> out;
  for (auto it = std::sregex_iterator(html.begin(), html.end(), attr); it != std::sregex_iterator(); ++it)
    out.push_back((*it)[1]);
  return out;
}

}  // namespace

std::vector<std::string> PageLinks(const std::string& html) {
  return AttributeValues(html, "href|src");
}

std::vector<std::string> PageIds(const std::string& html) {
  return AttributeValues(html, "id");
}

std::vector<std::string> FilesBelow(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (!e.is_directory()) out.push_back(fs::relative(e.path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

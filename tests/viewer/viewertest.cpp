#include "tests/viewer/viewertest.h"

#include <stdlib.h>
#include <vips/vips.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

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

std::vector<std::pair<std::string, std::string>> PageAttributes(const std::string& html) {
  std::vector<std::pair<std::string, std::string>> out;
  const auto blank = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; };
  for (size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1)) {
    if (at + 1 >= html.size() || !std::isalpha(static_cast<unsigned char>(html[at + 1]))) continue;
    size_t i = at + 1;
    while (i < html.size() && !blank(html[i]) && html[i] != '>') ++i;  // the tag's name
    for (;;) {
      while (i < html.size() && (blank(html[i]) || html[i] == '/')) ++i;
      if (i >= html.size() || html[i] == '>') break;
      const size_t name = i;
      while (i < html.size() && !blank(html[i]) && html[i] != '=' && html[i] != '>') ++i;
      const std::string key = html.substr(name, i - name);
      std::string value;
      if (i + 1 < html.size() && html[i] == '=') {
        if (html[++i] == '"') {
          const size_t end = html.find('"', i + 1);
          if (end == std::string::npos) break;
          value = html.substr(i + 1, end - i - 1);
          i = end + 1;
        } else {
          value = "<unquoted>";
          while (i < html.size() && !blank(html[i]) && html[i] != '>') ++i;
        }
      }
      out.emplace_back(key, value);
    }
    at = i;
  }
  return out;
}

namespace {

std::vector<std::string> ValuesOf(const std::string& html, std::initializer_list<std::string_view> names) {
  std::vector<std::string> out;
  for (const auto& [name, value] : PageAttributes(html))
    if (std::find(names.begin(), names.end(), name) != names.end()) out.push_back(value);
  return out;
}

}  // namespace

std::vector<std::string> PageLinks(const std::string& html) {
  return ValuesOf(html, {"href", "src"});
}

std::vector<std::string> PageIds(const std::string& html) {
  return ValuesOf(html, {"id"});
}

std::vector<std::string> FilesBelow(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (!e.is_directory()) out.push_back(fs::relative(e.path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

#include "tests/support/testfolder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

TestFolder::TestFolder() {
  std::string pattern = (fs::temp_directory_path() / "lorvanta-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

TestFolder::~TestFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TestFolder::Write(const std::string& relative, const std::string& bytes) const {
  const fs::path full = fs::path(path_) / relative;
  fs::create_directories(full.parent_path());
  std::ofstream(full, std::ios::binary) << bytes;
  return full.string();
}

std::vector<std::string> TestFolder::Tree() const {
  std::vector<std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(path_)) {
    std::string rel = fs::relative(entry.path(), path_).string();
    if (entry.is_directory()) rel += "/";
    out.push_back(rel);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool IsViewerPath(const fs::path& relative) {
  for (const auto& part : relative) {
    if (part == ".lorvanta-viewer") return true;
  }
  return relative.filename() == "index.html";
}

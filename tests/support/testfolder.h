// What every test folder shares: a fresh temporary folder per test (a sandbox), removed with everything in
// it afterwards, and reading a file whole.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

class TestFolder {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  // The folder's path, ending in "/".
  const std::string& path() const { return path_; }
  // The same without the final "/".
  std::filesystem::path Dir() const { return path_.substr(0, path_.size() - 1); }

  // Writes a file below the folder (creating parents) and returns its full path.
  std::string Write(const std::string& relative, const std::string& bytes) const;

  // Every file and folder below the folder, relative, sorted; folders end in "/".
  std::vector<std::string> Tree() const;

 private:
  std::string path_;
};

// Whether a path below a copy's album root belongs to the copy's offline viewer (its entry page and its
// hidden folder), which tests that compare a copy's photos leave out.
bool IsViewerPath(const std::filesystem::path& relativeToRoot);

// The whole content of a file, or "<missing>".
std::string ReadFileBytes(const std::string& path);
// The whole content of a file, or nothing when it cannot be read.
std::string Slurp(const std::filesystem::path& path);

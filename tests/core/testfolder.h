// A fresh temporary folder per test, removed with everything in it afterwards.
#pragma once

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

  // Writes a file below the folder (creating parents) and returns its full path.
  std::string Write(const std::string& relative, const std::string& bytes) const;

  // Every file and folder below the folder, relative, sorted; folders end in "/".
  std::vector<std::string> Tree() const;

 private:
  std::string path_;
};

// The whole content of a file, or "<missing>".
std::string ReadFileBytes(const std::string& path);

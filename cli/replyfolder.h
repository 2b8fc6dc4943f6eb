// A private folder for the three reply files of one run, removed when the run ends; the folders of runs
// that were killed are removed by the next run.
#pragma once

#include <string>

#include "core/startup.h"

// Two runs never read each other's replies.
class ReplyFolder {
 public:
  // Exits with kExitSomeFailed when the folder cannot be made.
  ReplyFolder();
  ~ReplyFolder();
  ReplyFolder(const ReplyFolder&) = delete;
  ReplyFolder& operator=(const ReplyFolder&) = delete;
  const TTempFilePaths& Paths() const { return paths_; }
  // A further file of the folder, by its name.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  TTempFilePaths paths_;
};

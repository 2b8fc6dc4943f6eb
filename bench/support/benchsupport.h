// Small pieces shared by the benchmark programs: a scratch folder that cleans up after itself, and the
// album preview of an account run the way the front ends run it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/albumlist.h"
#include "core/jobhost.h"

namespace bench {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when the object goes away.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix) {
    const char* env = std::getenv("TMPDIR");
    std::string pattern = std::string(env && *env ? env : "/tmp") + "/" + prefix + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("cannot create a folder like " + pattern);
    path_ = std::string(buf.data()) + "/";
  }
  ~ScratchFolder() {
    if (keep_) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Ends in "/".
  const std::string& path() const { return path_; }
  void Keep() { keep_ = true; }

 private:
  std::string path_;
  bool keep_ = false;
};

// Runs the album preview of qq against routeHost, with its reply files in workFolder (ends in "/").
// Throws std::runtime_error unless albums were listed.
inline PreviewResult PreviewAccount(const std::string& routeHost, const std::string& qq,
                                    const std::string& workFolder) {
  PreviewInput in;
  in.jobId = 1;
  in.qqNumber = qq;
  in.routeHost = routeHost;
  in.routeFile = workFolder + "route.txt";
  in.albumListFile = workFolder + "albumlist.txt";
  PreviewHost quiet;  // the outcome holds the results
  const PreviewOutcome outcome = RetrieveAlbumList(in, quiet);
  if (outcome.end != PreviewOutcome::End::kListed)
    throw std::runtime_error("the preview of " + qq + " listed no albums");
  return outcome.result;
}

}  // namespace bench

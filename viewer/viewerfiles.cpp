#include "viewer/viewerfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <vector>

#include "core/filenames.h"
#include "core/wholefile.h"

namespace {

// What the viewer's temporary files were called before every whole file went through WriteWholeFile; a
// copy made then may still hold some.
constexpr std::string_view kOldTempPrefix = ".tmp-";

std::runtime_error Failure(const std::string& what, const std::string& path, int err) {
  return std::runtime_error(what + " " + path + ": " + std::strerror(err));
}

}  // namespace

void MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0) return;
  const int err = errno;
  struct stat st {};
  if (err == EEXIST && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
  if (err == EEXIST) throw std::runtime_error("cannot make the folder " + path + ": something else is there");
  throw Failure("cannot make the folder", path, err);
}

std::string ReadFileHead(const std::string& path, size_t maxBytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  std::string out;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    // As much as the file holds, not the most that was asked for: the room is filled in when it is made.
    // (A file that grows meanwhile is read up to its size at the start.)
    out.resize(std::min(maxBytes, static_cast<size_t>(st.st_size)));
    maxBytes = out.size();
    size_t got = 0;
    while (got < maxBytes) {
      const ssize_t n = read(fd, out.data() + got, maxBytes - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    out.resize(got);
  }
  close(fd);
  return out;
}

bool IsLeftoverTemp(std::string_view name) {
  return IsWholeFileTemporary(name) ||
         (name.size() == kOldTempPrefix.size() + 6 && name.starts_with(kOldTempPrefix));
}

void RemoveLeftoverTemps(const std::string& folder) {
  std::vector<std::string> old;
  const std::time_t hourAgo = std::time(nullptr) - 3600;
  for (const std::string& name : FolderEntries(folder)) {
    struct stat st {};
    if (IsLeftoverTemp(name) && lstat((folder + name).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_mtime < hourAgo)
      old.push_back(folder + name);
  }
  for (const std::string& path : old) unlink(path.c_str());
}

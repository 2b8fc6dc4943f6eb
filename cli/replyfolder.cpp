#include "cli/replyfolder.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <vector>

#include "cli/options.h"
#include "core/filenames.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kReplyFolderPrefix = "lorvanta-cli-";

std::string TemporaryBase() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp ? tmp : "/tmp";
}

// Reply folders of runs that were killed: named with a process number that is no longer running, and ours.
void RemoveStaleReplyFolders(const std::string& base) {
  std::vector<std::string> stale;
  for (const std::string& name : FolderEntries(base)) {
    if (name.rfind(kReplyFolderPrefix, 0) != 0) continue;
    const std::string rest = name.substr(kReplyFolderPrefix.size());
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || rest.find_first_not_of("0123456789") != dash) continue;
    const long pid = std::strtol(rest.c_str(), nullptr, 10);
    if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    const std::string path = base + "/" + name;
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
      stale.push_back(path);
  }
  for (const std::string& path : stale) {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
}

}  // namespace

ReplyFolder::ReplyFolder() {
  const std::string base = TemporaryBase();
  RemoveStaleReplyFolders(base);
  // The name carries the process number, so a later run can tell the folder of a killed run.
  std::string pattern = base + "/" + std::string(kReplyFolderPrefix) + std::to_string(::getpid()) + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    std::cerr << "lorvanta-cli: cannot create a temporary folder in " << base << ": " << std::strerror(errno)
              << "\n";
    std::exit(kExitSomeFailed);
  }
  path_ = buf.data();
  paths_ = MakeTempFilePaths(path_ + "/");
}

ReplyFolder::~ReplyFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

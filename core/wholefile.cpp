#include "core/wholefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

constexpr size_t kRandomPart = 6;  // the XXXXXX of mkostemp

std::runtime_error Failure(const std::string& what, const std::string& path, int err) {
  return std::runtime_error(what + " " + path + ": " + std::strerror(err));
}

// Some file systems (and FUSE mounts) cannot flush a folder by itself; what they hold is then as safe as
// they can make it, and refusing to write there would help nobody.
bool CannotFlushFolders(int err) {
  return err == EINVAL || err == ENOTSUP;
}

// 0, or the reason folder's entries could not be flushed.
int FlushFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return CannotFlushFolders(err) ? 0 : err;
}

// 0, or the reason not every byte went out.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;  // no progress and no reason: do not spin
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

void WriteWholeFile(const std::string& path, std::string_view bytes, mode_t mode,
                    const std::string& tempFolder, bool durable) {
  const std::string folder = FolderOf(path);
  std::string temp = tempFolder.empty() ? folder : tempFolder;
  temp.append(kWholeFileTemporaryPrefix);
  temp.append(kRandomPart, 'X');
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) throw Failure("cannot write", path, errno);
  int err = WriteAll(fd, bytes);
  if (err == 0 && ::fchmod(fd, mode) != 0) err = errno;
  // Flushed before the rename: otherwise a power cut can leave the new name on an empty or partial file.
  if (err == 0 && durable && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    throw Failure("cannot write", path, err);
  }
  if (!durable) return;
  if (const int flushed = FlushFolder(folder); flushed != 0) throw Failure("cannot write", path, flushed);
}

void SyncFolder(const std::string& folder) {
  if (const int err = FlushFolder(folder); err != 0)
    throw Failure("cannot flush the folder", folder.empty() ? "." : folder, err);
}

bool IsWholeFileTemporary(std::string_view name) {
  return name.size() == kWholeFileTemporaryPrefix.size() + kRandomPart &&
         name.starts_with(kWholeFileTemporaryPrefix);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

#include "core/rootlock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string Bare(std::string root) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "this machine";
  return name;
}

std::string LocalTimeText(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// The writer's note: "pid host since" on one line.
AlbumRootLock::Holder ReadHolder(int fd) {
  AlbumRootLock::Holder holder;
  char text[512] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return holder;
  char host[300] = {};
  long pid = 0;
  long long since = 0;
  if (std::sscanf(text, "%ld %299s %lld", &pid, host, &since) == 3 && pid > 0) {
    holder.pid = pid;
    holder.host = host;
    holder.since = static_cast<std::time_t>(since);
  }
  return holder;
}

void WriteHolder(int fd) {
  const std::string note = std::to_string(static_cast<long>(::getpid())) + " " + HostName() + " " +
                           std::to_string(static_cast<long long>(std::time(nullptr))) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    // Only a message for whoever has to wait: a note that cannot be written changes nothing of the lock.
    [[maybe_unused]] const ssize_t n = ::pwrite(fd, note.data(), note.size(), 0);
  }
}

bool Unsupported(int err) {
  return err == ENOLCK || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

// Where flock is not there, the note alone: a writer's note that names a live process on this host holds.
bool NoteHolds(const AlbumRootLock::Holder& holder) {
  if (holder.pid <= 0 || holder.pid == static_cast<long>(::getpid()) || holder.host != HostName())
    return false;
  return ::kill(static_cast<pid_t>(holder.pid), 0) == 0 || errno == EPERM;
}

}  // namespace

std::string AlbumRootLock::PathFor(const std::string& albumRoot) {
  const std::string bare = Bare(albumRoot);
  const size_t slash = bare.rfind('/');
  const std::string parent = slash == std::string::npos ? std::string() : bare.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? bare : bare.substr(slash + 1);
  return parent + "." + name + ".lorvanta-lock";
}

std::unique_ptr<AlbumRootLock> AlbumRootLock::Take(const std::string& albumRoot, Mode mode, Holder& holder) {
  holder = Holder{};
  const std::string path = PathFor(albumRoot);
  const int how = (mode == Mode::kWrite ? LOCK_EX : LOCK_SH) | LOCK_NB;
  // The last holder removes the file when it lets go, so a run that opened it just before may hold a lock
  // on a file that is no longer there: it tries again with the file now under the name.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::unique_ptr<AlbumRootLock> lock(new AlbumRootLock());
    lock->path_ = path;
    lock->fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (lock->fd_ < 0) {
      lock->unlocked_ = "cannot make the lock " + path + ": " + std::strerror(errno);
      return lock;
    }
    int rc;
    do {
      rc = ::flock(lock->fd_, how);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
      struct stat held {
      }, named{};
      if (::fstat(lock->fd_, &held) != 0 || ::lstat(path.c_str(), &named) != 0 ||
          held.st_ino != named.st_ino || held.st_dev != named.st_dev)
        continue;
      if (mode == Mode::kWrite) WriteHolder(lock->fd_);
      lock->held_ = true;
      return lock;
    }
    const int err = errno;
    if (err == EWOULDBLOCK) {
      holder = ReadHolder(lock->fd_);
      return nullptr;
    }
    if (Unsupported(err)) {
      const Holder noted = ReadHolder(lock->fd_);
      if (NoteHolds(noted)) {
        holder = noted;
        return nullptr;
      }
      if (mode == Mode::kWrite) WriteHolder(lock->fd_);
      lock->unlocked_ =
          "the disk of " + path + " has no file locks; only the note in it keeps other runs out";
      return lock;
    }
    lock->unlocked_ = "cannot lock " + path + ": " + std::strerror(err);
    return lock;
  }
  std::unique_ptr<AlbumRootLock> lock(new AlbumRootLock());
  lock->unlocked_ = "cannot lock " + path + ": it keeps being replaced";
  return lock;
}

AlbumRootLock::~AlbumRootLock() {
  if (fd_ < 0) return;
  // Whoever is last removes the file, so nothing is left beside the copy. Only a holder of the whole
  // lock may: a reader that cannot have it alone leaves the file to the others.
  if (held_ && ::flock(fd_, LOCK_EX | LOCK_NB) == 0) ::unlink(path_.c_str());
  ::close(fd_);
}

std::string LockHeldText(const std::string& albumRoot, const AlbumRootLock::Holder& holder) {
  const std::string root = Bare(albumRoot);
  if (holder.pid <= 0) return "another run of Lorvanta is using " + root;
  return "another run of Lorvanta (process " + std::to_string(holder.pid) + " on " + holder.host +
         ", since " + LocalTimeText(holder.since) + ") is writing " + root;
}

std::string LockHeldTextZh(const std::string& albumRoot, const AlbumRootLock::Holder& holder) {
  const std::string root = Bare(albumRoot);
  if (holder.pid <= 0) return "另一个 Lorvanta 正在使用这个文件夹：\n" + root + "\n请等它结束后再下载。";
  return "另一个 Lorvanta 正在写入这个文件夹：\n" + root + "\n（进程 " + std::to_string(holder.pid) + "，" +
         holder.host + "，开始于 " + LocalTimeText(holder.since) + "）\n请等它结束后再下载。";
}

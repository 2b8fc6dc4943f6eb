// One run per album root. A download or an update writes an album root alone: a second one beside it
// would move the first one's half-written copy aside as a "backup", or write one album's records while
// the other writes its photos. A check or a rebuild of the viewer only reads (or writes the viewer's own
// files) and may run beside another such reader.
//
// The lock is a small file beside the album root (".<root name>.lorvanta-lock" in the same folder), so it
// stays put when the root is moved aside, and is removed by the last run that lets go of it. It is held
// with flock(2): the system lets go of it when the process ends however it ends (killed, crashed, the
// machine restarted), so a lock left by a run that is gone is taken over without anyone doing anything.
// Its text names the writer that holds it (process, host, since when), for the message of the run that
// has to wait.
#pragma once

#include <ctime>
#include <memory>
#include <string>

class AlbumRootLock {
 public:
  enum class Mode {
    kWrite,  // a download or an update: alone
    kRead,   // a check, a viewer build: beside other readers, never beside a writer
  };

  // Who holds the lock that could not be taken; pid 0 when the lock file does not say (a reader holds
  // it, or a writer on a system where the file could not be written).
  struct Holder {
    long pid = 0;
    std::string host;
    std::time_t since = 0;
  };

  // Takes the lock of albumRoot (with or without a trailing "/"; its parent folder must exist). Returns
  // nullptr and fills holder when another run holds it. A lock that cannot be made at all (a read-only
  // disk, a file system without locks) is not a reason to refuse the run: a writer then goes on with a
  // lock that holds nothing, and says so in Unlocked().
  static std::unique_ptr<AlbumRootLock> Take(const std::string& albumRoot, Mode mode, Holder& holder);

  ~AlbumRootLock();
  AlbumRootLock(const AlbumRootLock&) = delete;
  AlbumRootLock& operator=(const AlbumRootLock&) = delete;

  // Why this lock holds nothing, empty when it holds.
  const std::string& Unlocked() const { return unlocked_; }

  // The lock file of an album root.
  static std::string PathFor(const std::string& albumRoot);

 private:
  AlbumRootLock() = default;
  int fd_ = -1;
  bool held_ = false;  // flock holds it (else the lock holds nothing, or only a note)
  std::string path_;
  std::string unlocked_;
};

// "another run of Lorvanta (process 1234 on host, since 2026-12-09 18:40:05) is writing DIR" or, without
// a writer's note, "another run of Lorvanta is using DIR".
std::string LockHeldText(const std::string& albumRoot, const AlbumRootLock::Holder& holder);
// The same in the window's language.
std::string LockHeldTextZh(const std::string& albumRoot, const AlbumRootLock::Holder& holder);

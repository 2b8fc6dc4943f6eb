// Folder and file names of a download: the album root, its backup name, album folders and photo files.
// Paths use "/" and are UTF-8. None of these functions ever hands out a name that already exists, so a
// download never writes over an earlier file or folder.
#pragma once

#include <ctime>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// Makes a name usable as one path component: trims bytes 0..32 at both ends, replaces every space, "*",
// "/", ":", "<", ">", "?", "\" and "|" by "0", and so too every control character (C0, DEL, C1), the
// bidirectional overrides and isolates (U+202A..U+202E, U+2066..U+2069) and the byte-order mark, each by
// one "0"; then trims again. Nothing else is changed, so the result can still be empty, "." or ".." (the
// namers below deal with those) or longer than a component may be.
std::string SafeFileName(std::string_view text);

// How the disk under an album root compares and takes names. Found by trying the folder itself, never
// guessed from its path: a USB stick (FAT, exFAT, NTFS), an APFS or HFS+ volume, an ext4 folder with
// casefold all compare names without case, and the first three refuse characters Linux allows.
struct NameRules {
  // "Photo.JPG" and "photo.JPG" name one file: names handed out are compared the same way.
  bool foldsCase = false;
  // The disk refuses names that Windows refuses (a double quote, for one), so it is taken to be a disk
  // that moves between machines: every name takes its portable form (PortableName).
  bool portable = false;
  bool operator==(const NameRules&) const = default;
};

// Tries the folder (which must exist) with a few short-lived files of its own. A folder that cannot be
// tried (no rights, a full disk) gives the rules of an ordinary Linux disk.
NameRules ProbeNameRules(const std::string& folder);

// The form of one path component that every common file system takes and Windows opens: a double quote,
// the characters SafeFileName replaces, control characters and bytes that are not UTF-8 become "0",
// trailing dots and spaces become "0", and a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, in any case,
// with or without an extension) gets "_" after it ("con.JPG" -> "con_.JPG"). The same text gives the same
// form on every machine and every run, so an update finds the names a download gave.
std::string PortableName(std::string_view component);

// The key under which a path is compared with the names already handed out: the path itself, or with
// foldsCase its characters in upper case (Unicode simple case mapping, as the case-blind file systems do).
std::string NameKey(std::string_view path, const NameRules& rules);

// The component a name takes in folder (which exists): PortableName(name) when the rules say so, or when
// this disk refuses name itself (it answers "invalid argument", "illegal byte sequence" or the like);
// else name as it is.
std::string DiskComponent(const std::string& folder, const std::string& name, const NameRules& rules);

// "GIF" for phototype "2", "PNG" for "3", "JPG" for anything else.
std::string PhotoExtension(std::string_view phototype);

// The longest a single path component may be on the usual Linux file systems, in bytes.
constexpr size_t kMaxComponentBytes = 255;

// base + tail, with base shortened (on a UTF-8 character boundary) so that the whole fits in
// kMaxComponentBytes. The tail (a suffix and extension) is always kept whole.
std::string FitComponent(std::string_view base, std::string_view tail);

// downloadFolder with a trailing "/" added when it lacks one.
std::string WithTrailingSlash(std::string_view folder);

// downloadFolder (ending in "/") + qqNumber + "的相册/".
std::string AlbumRootFolder(std::string_view downloadFolder, std::string_view qqNumber);

// downloadFolder (ending in "/") + qqNumber + "的相册_BAK_" + the time as "YYYY-mm-dd_HH-mm-ss".
std::string BackupFolderName(std::string_view downloadFolder, std::string_view qqNumber, const std::tm& when);
// The same for a calendar time, read in local time.
std::string BackupFolderName(std::string_view downloadFolder, std::string_view qqNumber, std::time_t when);

// BackupFolderName, or when that already exists (two downloads in one second) the first of it + "_2",
// "_3", ... that does not.
std::string UniqueBackupFolderName(std::string_view downloadFolder, std::string_view qqNumber,
                                   std::time_t when);

// True when something (a file, folder, or even a dangling link) is at the path.
bool PathTaken(const std::string& path);

// The folder for an album under albumRoot (ending in "/"), without a trailing "/":
// SafeFileName(name); if that is taken (or empty, "." or ".."), SafeFileName(name) + "_" + the first 15
// digits of Md5Hex(albumId); if that is taken too, the same + "_2", "_3", ... Long names are shortened.
// Throws std::runtime_error when no free name is found.
// On a disk with other rules the names take their DiskComponent form.
std::string AlbumFolderPath(std::string_view albumRoot, std::string_view albumName, std::string_view albumId,
                            const NameRules& rules = {});

// The folder a download into an empty album root gives the album, given the folders handed out to the
// albums before it in list order (updated): AlbumFolderPath's rule without looking at the disk.
// handedOut holds NameKey()s.
std::string AlbumFolderPathAsDownloaded(std::string_view albumRoot, std::string_view albumName,
                                        std::string_view albumId, std::set<std::string>& handedOut,
                                        const NameRules& rules = {});

// The final component of a path without trailing "/" (what follows the last "/").
std::string LastComponent(std::string_view path);

// The names of everything in a folder, unsorted ("." and ".." are not among them); empty when it cannot
// be read. Every folder listing of the program goes through here.
std::vector<std::string> FolderEntries(const std::string& folder);

// Names the photo files of one album folder. Names handed out are remembered, so photos planned before any
// of them is fetched still get distinct names.
class PhotoFileNamer {
 public:
  // onDisk false: only the names handed out count as taken, so the namer gives the names a download into
  // an empty folder would give (what an earlier download named its files).
  // Names are compared, and take their form, by the rules of the album root's disk.
  explicit PhotoFileNamer(std::string albumFolder, bool onDisk = true, NameRules rules = {});

  // albumFolder + "/" + SafeFileName(name) + "." + PhotoExtension(phototype); when that is taken, the name
  // gets "_" + the first 15 digits of Md5Hex(url) before the extension, then "_2", "_3", ... after that.
  // An empty name is replaced by Md5Hex(url). Throws std::runtime_error when no free name is found.
  std::string NextPath(std::string_view photoName, std::string_view url, std::string_view phototype);
  // The same with the extension given ("MP4") instead of a phototype's.
  std::string NextPathAs(std::string_view photoName, std::string_view url, std::string_view extension);
  // Keeps path from being handed out, whether or not a file is there now.
  void Reserve(const std::string& path) { handedOut_.insert(NameKey(path, rules_)); }

 private:
  bool Taken(const std::string& path) const;

  std::string folder_;
  bool onDisk_ = true;
  NameRules rules_;
  std::set<std::string> handedOut_;  // NameKey()s
};

#include "cli/foldercommands.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <vector>

#include "core/rootlock.h"
#include "core/verify.h"
#include "json/jsonwriter.h"
#include "viewer/viewer.h"

namespace {

namespace fs = std::filesystem;

bool IsAlbumRootName(const std::string& name) {
  const std::string_view suffix = "的相册";
  return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The album roots a command on dir reads: dir itself, the root an album folder stands in, or the roots a
// folder holds.
std::vector<std::string> AlbumRootsOf(const std::string& dir) {
  fs::path path = fs::path(dir).lexically_normal();
  if (path.has_filename() == false) path = path.parent_path();
  if (IsAlbumRootName(path.filename().string())) return {path.string()};
  if (IsAlbumRootName(path.parent_path().filename().string())) return {path.parent_path().string()};
  std::vector<std::string> roots;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(path, ec)) {
    std::error_code e2;
    if (e.is_directory(e2) && IsAlbumRootName(e.path().filename().string()))
      roots.push_back(e.path().string());
  }
  return roots;
}

// Read locks on those roots: a check or a rebuild beside a download would see (or rebuild) a copy in the
// middle of its changes. Empty, with the reason said, when a download or an update holds one of them.
std::vector<std::unique_ptr<AlbumRootLock>> ReadLocks(const std::string& dir, const char* command,
                                                      bool& held) {
  std::vector<std::unique_ptr<AlbumRootLock>> locks;
  held = false;
  for (const std::string& root : AlbumRootsOf(dir)) {
    AlbumRootLock::Holder holder;
    auto lock = AlbumRootLock::Take(root, AlbumRootLock::Mode::kRead, holder);
    if (!lock) {
      std::cerr << "lorvanta-cli: " << command << ": " << Shown(LockHeldText(root, holder))
                << "; try again when it has ended\n";
      held = true;
      return {};
    }
    locks.push_back(std::move(lock));
  }
  return locks;
}

}  // namespace

int RunViewerCommand(const Options& o) {
  bool held = false;
  const auto locks = ReadLocks(o.dir, "viewer", held);
  if (held) return kExitLocked;
  try {
    const ViewerReport report = BuildViewer(o.dir, {});
    for (const std::string& note : report.notes)
      std::cerr << "lorvanta-cli: warning: " << Shown(note) << "\n";
    if (!o.quiet) {
      std::printf("%d albums, %d photos; thumbnails made %d, kept %d\n%s\n", report.albums, report.photos,
                  report.thumbnailsMade, report.thumbnailsReused, Shown(report.entryPage).c_str());
    }
    return kExitOk;
  } catch (const std::runtime_error& e) {
    std::cerr << "lorvanta-cli: viewer: " << Shown(e.what()) << "\n";
    return kExitSomeFailed;
  }
}

int RunVerifyCommand(const Options& o) {
  bool held = false;
  const auto locks = ReadLocks(o.dir, "verify", held);
  if (held) return kExitLocked;
  // A long check shows how far it has come on a terminal: a line redrawn at most four times a second.
  const bool live = !o.quiet && ::isatty(STDERR_FILENO) == 1;
  const auto start = std::chrono::steady_clock::now();
  auto drawn = start;
  bool lineShown = false;
  const auto progress = [&](long long photos, long long bytes) {
    const auto now = std::chrono::steady_clock::now();
    if (now - drawn < std::chrono::milliseconds(250)) return;
    drawn = now;
    const double seconds = std::chrono::duration<double>(now - start).count();
    std::cerr << "\rverify: " << photos << " photos, " << HumanBytes(static_cast<double>(bytes)) << " read ("
              << HumanBytes(seconds > 0 ? bytes / seconds : 0) << "/s)\x1b[K" << std::flush;
    lineShown = true;
  };
  const VerifyReport r =
      VerifyCopy(o.dir, live ? std::function<void(long long, long long)>(progress) : nullptr);
  if (lineShown) std::cerr << "\r\x1b[K" << std::flush;
  if (o.json) {
    JsonWriter w;
    w.Object().Key("dir").String(o.dir).Key("good").Boolean(r.Good()).Key("albums").Number(r.albums);
    w.Key("photosChecked").Number(r.photosChecked).Key("photosWithoutDigest").Number(r.photosWithoutDigest);
    w.Key("findings").Array();
    for (const VerifyFinding& f : r.findings) {
      w.Object()
          .Key("kind")
          .String(VerifyKindWord(f.kind))
          .Key("folder")
          .String(f.folder)
          .Key("file")
          .String(f.file);
      if (f.kind == VerifyFinding::Kind::kIncomplete)
        w.Key("listed").Number(f.listed).Key("saved").Number(f.saved).Key("leftOut").Number(f.leftOut);
      w.End();
    }
    w.End().Key("errors").Array();
    for (const std::string& e : r.errors) w.String(e);
    std::cout << w.End().End().Text() << "\n";
  } else {
    for (const VerifyFinding& f : r.findings) {
      if (f.kind != VerifyFinding::Kind::kIncomplete) {
        std::printf("%s: %s/%s\n", VerifyKindWord(f.kind), Shown(f.folder).c_str(), Shown(f.file).c_str());
        continue;
      }
      std::printf("%s: %s: %d of %d listed photos saved", VerifyKindWord(f.kind), Shown(f.folder).c_str(),
                  f.saved, f.listed);
      if (f.leftOut > 0) std::printf(", %d left out on purpose", f.leftOut);
      std::printf("\n");
    }
    for (const std::string& e : r.errors) std::cerr << "lorvanta-cli: " << Shown(e) << "\n";
    if (r.albums == 0 && r.errors.empty())
      std::cerr << "lorvanta-cli: no album folder with a manifest in " << Shown(o.dir)
                << " (copies made with --update or --write-metadata have them)\n";
    if (!o.quiet) {
      std::printf("%d albums, %d photos checked (%d without a digest): %s\n", r.albums, r.photosChecked,
                  r.photosWithoutDigest, r.Good() ? "all well" : "problems found");
    }
  }
  return r.Good() ? kExitOk : kExitSomeFailed;
}

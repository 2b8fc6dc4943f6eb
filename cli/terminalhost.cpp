#include "cli/terminalhost.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "app/textutil.h"

namespace {

const char* StateWord(AlbumState state) {
  return state == AlbumState::kFailed ? "failed" : "abandoned";
}

// The download host of the terminal: the folder is given, the tick boxes follow --album/--skip, the
// summary is printed instead of asked.

}  // namespace

std::string Shown(std::string_view text) {
  return EscapeForTerminal(text);
}

TerminalDownloadHost::TerminalDownloadHost(const Options& o, const std::vector<AlbumEntryFields>& albums) : o_(o) {
  tty_ = !o.quiet && !o.json && isatty(STDOUT_FILENO);
  plain_ = !o.quiet && !o.json && !tty_;
  for (const AlbumEntryFields& f : albums) {
    AlbumReport r;
    r.id = f.id;
    r.name = f.name;
    reports.push_back(r);
  }
}

bool TerminalDownloadHost::ChooseFolder(const std::string&, std::string& folder) {
  folder = target;
  return true;
}

std::string TerminalDownloadHost::ReadAlbumCheck(int n) {
  if (n < 0 || n >= static_cast<int>(reports.size())) return "";
  const std::string& id = reports[n].id;
  const bool wanted = (o_.albums.empty() || o_.albums.count(id)) && !o_.skips.count(id);
  if (wanted) reports[n].state = "started";
  return wanted ? "true" : "false";
}

void TerminalDownloadHost::ShowAlbumStatus(const AlbumStatusUpdate& u) {
  if (u.currentAlbum < 0 || u.currentAlbum >= static_cast<int>(reports.size())) return;
  AlbumReport& r = reports[u.currentAlbum];
  if (u.state == AlbumState::kFailed || u.state == AlbumState::kAbandoned) {
    r.state = StateWord(u.state);
    r.reason = u.reason;
    EndLine();
    std::cerr << "lorvanta-cli: album " << u.currentAlbum << " \"" << Shown(r.name) << "\" " << r.state << ": "
              << Shown(u.reason) << "\n";
  } else if (u.state == AlbumState::kDone) {
    r.state = "done";
    r.folder = u.currentAlbumName;
    if (tty_) {
      DrawLine(u.currentAlbum);
      std::printf("\n");
      lineOpen_ = false;
    } else if (plain_) {
      std::printf("album %d %s: %d of %d photos, %lld bytes\n", u.currentAlbum, Shown(r.name).c_str(), r.ok,
                  r.photos, r.bytes);
    }
    std::fflush(stdout);
  }
}

void TerminalDownloadHost::Warning(const std::string& text) {
  EndLine();
  std::cerr << "lorvanta-cli: warning: " << Shown(text) << "\n";
}

void TerminalDownloadHost::PhotoStarted(const PhotoProgress& p) {
  if (p.album < 0 || p.album >= static_cast<int>(reports.size())) return;
  reports[p.album].photos = p.photoCount;
  if (p.photo == 0) albumStart_ = std::chrono::steady_clock::now();
  if (tty_) DrawLine(p.album);
}

void TerminalDownloadHost::PhotoFinished(const PhotoProgress& p, const FetchReport& report) {
  if (p.album < 0 || p.album >= static_cast<int>(reports.size())) return;
  AlbumReport& r = reports[p.album];
  r.photos = p.photoCount;
  (report.ok ? r.ok : r.failed) += 1;
  if (report.ok) {
    r.bytes += report.bytes;
  } else {
    ++failures[std::string(FetchFailureKey(report.failure))];
    EndLine();
    std::cerr << "lorvanta-cli: 下载失败：" << Shown(p.name) << ": " << Shown(report.error) << "\n";
  }
  if (tty_) DrawLine(p.album);
  if (plain_ && report.ok) std::printf("  %s (%lld bytes)\n", Shown(p.file).c_str(), report.bytes);
}

void TerminalDownloadHost::EndLine() {
  if (lineOpen_) {
    std::printf("\n");
    std::fflush(stdout);
    lineOpen_ = false;
  }
}

void TerminalDownloadHost::DrawLine(int n) {
  const AlbumReport& r = reports[n];
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - albumStart_).count();
  const double kib = r.bytes / 1024.0;
  std::printf("\r\033[K%s: %d/%d photos, %.1f KiB, %.1f KiB/s, %.1f s", Shown(r.name).c_str(), r.ok + r.failed,
              r.photos, kib, secs > 0 ? kib / secs : 0.0, secs);
  std::fflush(stdout);
  lineOpen_ = true;
}

#include "cli/terminalhost.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <iostream>

#include "core/textutil.h"

namespace {

const char* StateWord(AlbumState state) {
  return state == AlbumState::kFailed ? "failed" : "abandoned";
}

// The album's photo count as the list gives it; 0 when it is not a number.
int ListedCount(const std::string& total) {
  if (total.empty() || total.size() > 6 || total.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  return std::stoi(total);
}

// Decodes one UTF-8 character at s[i], moving i past it; a stray byte counts as one character.
char32_t NextCharacter(std::string_view s, size_t& i) {
  const unsigned char c = s[i];
  const int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
  char32_t cp = more == 0 ? c : (c & (0x3F >> more));
  ++i;
  for (int k = 0; k < more && i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80; ++k, ++i)
    cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  return cp;
}

bool Wide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
         (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

// The terminal's width; 0 when it does not say (then nothing is cut).
int TerminalColumns() {
  winsize ws{};
  return ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 ? ws.ws_col : 0;
}

}  // namespace

int DisplayWidth(std::string_view utf8) {
  int width = 0;
  for (size_t i = 0; i < utf8.size();) width += Wide(NextCharacter(utf8, i)) ? 2 : 1;
  return width;
}

std::string FitColumns(std::string_view utf8, int columns) {
  int width = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    size_t next = i;
    const int w = Wide(NextCharacter(utf8, next)) ? 2 : 1;
    if (width + w > columns) break;
    width += w;
    i = next;
  }
  return std::string(utf8.substr(0, i));
}

std::string HumanBytes(double bytes) {
  static const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(static_cast<long long>(bytes)) + " B";
  int u = 0;
  bytes /= 1024;
  while (bytes >= 1024 && u < 3) bytes /= 1024, ++u;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", bytes, units[u]);
  return text;
}

std::string Clock(double seconds) {
  const long long s = std::llround(std::max(0.0, seconds));
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  return text;
}

std::string Shown(std::string_view text) {
  return EscapeForTerminal(text);
}

TerminalDownloadHost::TerminalDownloadHost(const Options& o, const std::vector<AlbumEntryFields>& albums)
    : notes(albums, !o.noViewer), o_(o) {
  tty_ = !o.quiet && !o.json && isatty(STDOUT_FILENO);
  plain_ = !o.quiet && !o.json && !tty_;
  for (const AlbumEntryFields& f : albums) {
    AlbumReport r;
    r.id = f.id;
    r.name = f.name;
    reports.push_back(r);
    // The total is wanted from the start.
    expected_.push_back(Wanted(f.id) ? ListedCount(f.total) : 0);
    planKnown_.push_back(false);
  }
}

bool TerminalDownloadHost::Wanted(const std::string& id) const {
  return (o_.albums.empty() || o_.albums.count(id)) && !o_.skips.count(id);
}

std::vector<bool> TerminalDownloadHost::Ticks() const {
  std::vector<bool> ticks;
  for (const AlbumReport& r : reports) ticks.push_back(Wanted(r.id));
  return ticks;
}

bool AlbumReport::Incomplete() const {
  if (state != "done" || listed < 0) return false;
  const std::optional<int> listedTotal = ParseCount(total);
  return saved < listed || (listedTotal && listed < *listedTotal);
}

void TerminalDownloadHost::ShowAlbumStatus(const AlbumStatusUpdate& u) {
  notes.Update(u);
  if (u.currentAlbum < 0 || u.currentAlbum >= static_cast<int>(reports.size())) return;
  AlbumReport& r = reports[u.currentAlbum];
  if (u.state == AlbumState::kStarted) r.state = "started";
  if (u.state == AlbumState::kDone || u.state == AlbumState::kFailed || u.state == AlbumState::kAbandoned) {
    expected_[u.currentAlbum] = r.ok + r.failed;
    planKnown_[u.currentAlbum] = true;
  }
  if (u.state == AlbumState::kFailed || u.state == AlbumState::kAbandoned) {
    r.state = StateWord(u.state);
    r.reason = u.reason;
    EndLine();
    std::cerr << "lorvanta-cli: album " << u.currentAlbum << " \"" << Shown(r.name) << "\" " << r.state
              << ": " << Shown(u.reason) << "\n";
  } else if (u.state == AlbumState::kDone) {
    r.state = "done";
    r.folder = u.currentAlbumName;
    r.listed = u.photosListed;
    r.saved = u.photosSaved;
    r.total = u.total;
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
  notes.PhotoStarted(p);
  if (p.album < 0 || p.album >= static_cast<int>(reports.size())) return;
  reports[p.album].photos = p.photoCount;
  if (p.photo == 0) albumStart_ = std::chrono::steady_clock::now();
  if (!jobStarted_) jobStart_ = albumStart_, jobStarted_ = true;
  if (!planKnown_[p.album]) expected_[p.album] = p.photoCount, planKnown_[p.album] = true;
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
  char counts[64], details[96];
  std::snprintf(counts, sizeof counts, ": %d/%d photos", r.ok + r.failed, r.photos);
  std::snprintf(details, sizeof details, ", %.1f KiB, %.1f KiB/s, %.1f s", kib, secs > 0 ? kib / secs : 0.0,
                secs);
  const std::string name = Shown(r.name), whole = " | " + WholeJob();
  // A line longer than the terminal would wrap, and the next redraw would erase only its last row: the
  // album's details go first, then the line is cut.
  std::string line = name + counts + details + whole;
  const int columns = TerminalColumns();
  if (columns > 0 && DisplayWidth(line) >= columns) line = FitColumns(name + counts + whole, columns - 1);
  std::printf("\r\033[K%s", line.c_str());
  std::fflush(stdout);
  lineOpen_ = true;
}

// "all 12/40 photos (30%), 3.1 MiB, 512.0 KiB/s, 0:17 left": photos rather than bytes measure what is
// left, since a photo's size is known only once it arrives.
std::string TerminalDownloadHost::WholeJob() const {
  int done = 0, total = 0;
  long long bytes = 0;
  for (size_t i = 0; i < reports.size(); ++i) {
    done += reports[i].ok + reports[i].failed;
    total += std::max(expected_[i], reports[i].ok + reports[i].failed);
    bytes += reports[i].bytes;
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - jobStart_).count();
  std::string left = "--:--";
  if (total <= done) {
    left = Clock(0);
  } else if (done > 0 && secs > 0) {
    left = Clock(secs * (total - done) / done);
  }
  char text[160];
  std::snprintf(text, sizeof text, "all %d/%d photos (%d%%), %s, %s/s, %s left", done, total,
                total > 0 ? static_cast<int>(100LL * done / total) : 100, HumanBytes(bytes).c_str(),
                HumanBytes(secs > 0 ? bytes / secs : 0).c_str(), left.c_str());
  return text;
}

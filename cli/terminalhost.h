// The download host of the terminal: the ticks follow --album/--skip, progress is a
// live line on a terminal (the album and the whole job, fitted to the terminal's width) and plain lines
// into a pipe, every failure is named with its reason, and the
// summary is printed instead of asked.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "core/jobhost.h"
#include "viewer/downloadnotes.h"

// Names from the album service go to the terminal and to logs only with their control characters
// escaped: a name must never move the cursor, start an escape sequence or turn text around.
std::string Shown(std::string_view text);

// Columns the text takes on a terminal: East Asian wide characters take two.
int DisplayWidth(std::string_view utf8);
// The text cut to at most `columns` columns, never inside a character.
std::string FitColumns(std::string_view utf8, int columns);
// "512 B", "3.4 KiB", "12.0 MiB": sizes as download tools show them.
std::string HumanBytes(double bytes);
// "0:07", "12:34", "1:02:03".
std::string Clock(double seconds);

struct AlbumReport {
  std::string id, name, folder, reason, total;
  int photos = 0, ok = 0, failed = 0;
  int listed = -1, saved = -1;  // done: photo entries its list held, and how many of them the folder has
  // A list shorter than the album's listed total, or fewer photos saved than listed.
  bool Incomplete() const;
  long long bytes = 0;
  std::string state = "skipped";  // skipped, failed, abandoned, done; "started" while it is under way
};

// Keeps a report per album for the summary; reads the states of the job, never its markup.
class TerminalDownloadHost : public DownloadHost {
 public:
  TerminalDownloadHost(const Options& o, const std::vector<AlbumEntryFields>& albums);

  void ShowAlbumStatus(const AlbumStatusUpdate& u) override;
  void SetStatusText(const std::string&) override {}
  void DownloadFolderPrepared(const std::string& root) override {
    albumRoot = root;
    notes.Prepared(root);
  }
  void Warning(const std::string& text) override;

  void PhotoStarted(const PhotoProgress& p) override;
  void PhotoFinished(const PhotoProgress& p, const FetchReport& report) override;

  void EndLine();

  std::string albumRoot;
  std::vector<AlbumReport> reports;
  std::map<std::string, int> failures;  // failed photos by reason
  // For the copy's viewer; makes thumbnails during the download unless --no-viewer.
  DownloadNotes notes;

  // The albums --album and --skip leave in, for the job.
  std::vector<bool> Ticks() const;

 private:
  bool Wanted(const std::string& id) const;
  void DrawLine(int n);
  std::string WholeJob() const;

  const Options& o_;
  bool tty_ = false, plain_ = false, lineOpen_ = false;
  std::chrono::steady_clock::time_point albumStart_;
  // The whole job for the live line: per album the photos it is expected to take, first as the list
  // gives its count, then as its plan says (an update fetches fewer), and at its end as many as it took.
  std::vector<int> expected_;
  std::vector<bool> planKnown_;
  bool jobStarted_ = false;
  std::chrono::steady_clock::time_point jobStart_;
};

#include "cli/runreport.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <iostream>

#include "cli/terminalhost.h"
#include "core/albummanifest.h"
#include "json/jsonwriter.h"
#include "machine/desktopnote.h"

namespace {

long long FailureCount(const HistoryEntry& e) {
  long long n = 0;
  for (const auto& [reason, count] : e.failures) n += count;
  return n;
}

std::string LocalTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
  return text;
}

}  // namespace

RunNote NoteOfRuns(const std::vector<HistoryEntry>& runs, int worst) {
  RunNote note;
  bool signIn = false;
  long long photos = 0;
  for (const HistoryEntry& e : runs) {
    signIn = signIn || e.exitCode == kExitSignIn;
    photos += e.photosNew;
  }
  if (signIn) {
    note.summary = "Lorvanta: sign in again to back up your albums";
  } else if (worst != kExitOk) {
    note.summary = "Lorvanta: the backup had failures";
  } else {
    note.summary = "Lorvanta: backup done";
  }
  for (const HistoryEntry& e : runs) {
    note.body += e.account + ": " + std::to_string(e.photosNew) + " new";
    if (const long long failed = FailureCount(e); failed > 0)
      note.body += ", " + std::to_string(failed) + " failed";
    if (e.exitCode == kExitSignIn) note.body += ", sign-in needed (lorvanta-cli login)";
    note.body += "\n";
  }
  if (runs.size() > 1) note.body += std::to_string(photos) + " new photos in all\n";
  return note;
}

void NotifyRunEnd(const Options& o, const std::vector<HistoryEntry>& runs, int worst) {
  if (o.notify == "never" || runs.empty()) return;
  if (o.notify == "failures" && worst == kExitOk) return;
  // Someone at a terminal reads the run there.
  if (::isatty(STDIN_FILENO) || ::isatty(STDOUT_FILENO) || ::isatty(STDERR_FILENO)) return;
  const RunNote note = NoteOfRuns(runs, worst);
  SendDesktopNote(note.summary, note.body);
}

int RunStatusCommand(const Options& o) {
  const std::string path = DefaultHistoryPath();
  int unreadable = 0;
  const std::vector<HistoryEntry> last = LastRuns(ReadHistory(path, unreadable));
  if (unreadable > 0)
    std::cerr << "lorvanta-cli: warning: " << unreadable << " line(s) of " << Shown(path)
              << " cannot be read\n";
  if (o.json) {
    JsonWriter w;
    w.Array();
    for (const HistoryEntry& e : last) {
      w.Object().Key("account").String(e.account).Key("when").String(UtcTimeText(e.when));
      w.Key("photosNew").Number(e.photosNew).Key("failures").Object();
      for (const auto& [reason, count] : e.failures) w.Key(reason).Number(count);
      w.End().Key("seconds").Number(static_cast<long long>(e.seconds)).Key("exitCode").Number(e.exitCode);
      if (!e.albumRoot.empty()) w.Key("albumRoot").String(e.albumRoot);
      w.End();
    }
    std::cout << w.End().Text() << "\n";
  } else if (last.empty()) {
    std::cout << "no backup has run yet (" << Shown(path) << " holds none)\n";
  } else {
    std::printf("%-12s %-16s %6s %6s %5s  %s\n", "ACCOUNT", "LAST RUN", "NEW", "FAILED", "EXIT", "WHAT");
    for (const HistoryEntry& e : last) {
      const std::string what = e.exitCode == kExitOk           ? "ok"
                               : e.exitCode == kExitSignIn     ? "sign-in needed"
                               : e.exitCode == kExitSomeFailed ? "some failed"
                                                               : "failed";
      std::printf("%-12s %-16s %6lld %6lld %5d  %s\n", e.account.c_str(), LocalTime(e.when).c_str(),
                  e.photosNew, FailureCount(e), e.exitCode, what.c_str());
      for (const auto& [reason, count] : e.failures)
        std::printf("%-12s   %lld × %s\n", "", count, Shown(reason).c_str());
    }
  }
  std::cout.flush();
  return std::ferror(stdout) ? kExitSomeFailed : kExitOk;
}

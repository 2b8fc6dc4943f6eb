// The history of backups: one JSON line per account and run, appended to
// $XDG_STATE_HOME/lorvanta/history.jsonl (else ~/.local/state/lorvanta/history.jsonl), so that a run the
// timer started can be looked back on (lorvanta-cli status).
#pragma once

#include <ctime>
#include <map>
#include <string>
#include <vector>

struct HistoryEntry {
  std::time_t when = 0;  // when the account's run ended
  std::string account;
  long long photosNew = 0;
  std::map<std::string, long long> failures;  // photos and albums that failed, by reason
  double seconds = 0;
  int exitCode = 0;
  std::string albumRoot;  // empty when the run did not get that far
};

// Empty when neither XDG_STATE_HOME nor HOME says where.
std::string DefaultHistoryPath();

// The entry's line (JSON, no line break).
std::string HistoryLine(const HistoryEntry& entry);
// Appends the line in one write (its folder made, the owner's alone). Throws std::runtime_error naming the
// file when that fails.
void AppendHistory(const std::string& path, const HistoryEntry& entry);
// Every readable line in order; a line that cannot be read (a run killed in mid-write, an edit by hand)
// is counted in `unreadable` and left out. A missing file is an empty history.
std::vector<HistoryEntry> ReadHistory(const std::string& path, int& unreadable);

// The last entry of every account, in the order the accounts last ran.
std::vector<HistoryEntry> LastRuns(const std::vector<HistoryEntry>& entries);

// What a run of several accounts tells after it has ended: a note on the desktop for a run nobody watched
// (the timer's), and `lorvanta-cli status`, the last run of each account from the history.
#pragma once

#include <vector>

#include "cli/history.h"
#include "cli/options.h"

// With no terminal to read (stdin, stdout and stderr none), sends a desktop note when --notify says so:
// "failures" when the run's exit is not 0, "always" for every run; "never" sends none. No session bus:
// no note, and the run's exit stays as it is.
void NotifyRunEnd(const Options& o, const std::vector<HistoryEntry>& runs, int worst);

// The note's summary line and body for the runs.
struct RunNote {
  std::string summary, body;
};
RunNote NoteOfRuns(const std::vector<HistoryEntry>& runs, int worst);

int RunStatusCommand(const Options& o);

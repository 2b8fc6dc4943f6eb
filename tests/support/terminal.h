// Running a program with its standard output on a pseudo-terminal, as a user at a terminal sees it.
#pragma once

#include <string>
#include <vector>

struct TerminalRun {
  int code = -1;    // exit status, -1 when it did not exit normally
  std::string out;  // everything written to the terminal
};

// Runs program with args; columns 0 gives a terminal that does not say its width. A program silent for
// 30 s is given up on rather than waited for.
TerminalRun RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                          unsigned short columns = 0);

#include "tests/support/terminal.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

TerminalRun RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                          unsigned short columns) {
  TerminalRun r;
  winsize ws{};
  ws.ws_col = columns;
  ws.ws_row = columns ? 24 : 0;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
  if (pid < 0) return r;
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  char buf[4096];
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 30000) <= 0) break;
    const ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the child has closed the terminal
    r.out.append(buf, static_cast<size_t>(n));
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// The command line's options: what each command takes, checked before anything runs.
#pragma once

#include <set>
#include <string>
#include <vector>

constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoAlbumList = 3;
constexpr int kExitManifest = 4;
constexpr int kExitLocked = 5;  // another run is writing the same album root
constexpr int kExitSignIn = 6;  // the album site wants a sign-in (none given, or the session expired)
// How bad an exit is, for a run of several accounts whose exit is its worst account's.
inline int WorseExit(int a, int b) {
  return a > b ? a : b;
}
constexpr int kExitInterrupted = 130;

struct Options {
  std::string command;           // preview, download, backup, status, viewer, verify or login
  std::string qq;                // the account at work (preview: the one given)
  std::vector<std::string> qqs;  // download, backup: every account, in order (operands, else the config's)
  std::string config;            // the config file read; empty: none
  std::string dir;  // viewer: the album root whose offline viewer is rebuilt; verify: the copy to check
  std::string routeHost;
  std::string to = ".";
  std::set<std::string> albums;
  std::set<std::string> skips;
  std::string pageFile;
  int clientNumber = -1;
  int jobs = 1;
  int retries = 0;
  long long rate = 0;
  long long maxPhotoBytes = 256LL * 1024 * 1024;
  std::string service = "auto";  // classic, current or auto (current when the session is signed in)
  std::string siteHost;   // the album site's hosts (a test server); empty: LORVANTA_SITE_HOST, else built in
  std::string loginHost;  // QQ's sign-in hosts (a test server); empty: LORVANTA_LOGIN_HOST, else built in
  double pollPauseSeconds = -1;  // login: the pause between two looks at the code's state; < 0: 2 s
  double listPauseSeconds = -1;  // the pause between the album site's list calls; < 0: 1-3 s at random
  double busyPauseSeconds = -1;  // the first wait on a busy album site; < 0: two minutes
  std::string cookiesIn;         // a Netscape cookie file whose cookies every request takes
  std::string cookiesOut;        // where the session's cookies are written at the end
  bool update = false;
  bool keepDeleted = false;
  bool writeMetadata = false;
  bool noViewer = false;  // download: leave the offline viewer of the album root as it is
  bool json = false;
  bool quiet = false;
  std::string notify =
      "failures";                 // never, failures or always: a desktop note when a run ends off a terminal
  int maxRequestsPerMinute = -1;  // list calls of the album services; < 0: the default, 0: no budget
};

// What the arguments asked for: either a command to run (exitCode < 0), or text to print and an exit:
// help and version on stdout with 0, bad usage on stderr with kExitUsage.
struct ParseResult {
  Options options;
  int exitCode = -1;
  std::string out;    // for stdout
  std::string error;  // for stderr, whole lines

  bool Run() const { return exitCode < 0; }
};

// Prints the message and the hint to --help on stderr and exits with kExitUsage (for checks that can only
// be made once the command runs, such as --to).
[[noreturn]] void UsageError(const std::string& message);

// Reads the arguments the GNU way (getopt_long): options and operands in any order, "--opt=value" or
// "--opt value", unique prefixes of long options, "--" ends the options. --help and --version win over
// every error, as they always have. The route host defaults to LORVANTA_ROUTE_HOST, else the built-in one.
// Does not print or exit; argv may be permuted.
ParseResult ParseArguments(int argc, char** argv);

// The letters needed to turn one word into the other (insertions, deletions, substitutions).
int EditDistance(const std::string& a, const std::string& b);

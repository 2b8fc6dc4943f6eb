// The command line's options: what each command takes, checked before anything runs.
#pragma once

#include <set>
#include <string>

constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoAlbumList = 3;
constexpr int kExitManifest = 4;
constexpr int kExitInterrupted = 130;

struct Options {
  std::string command;
  std::string qq;
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
  std::string cookiesIn;   // a Netscape cookie file whose cookies every request takes
  std::string cookiesOut;  // where the session's cookies are written at the end
  bool update = false;
  bool keepDeleted = false;
  bool writeMetadata = false;
  bool json = false;
  bool quiet = false;
};

// Prints the message and the hint to --help on stderr and exits with kExitUsage.
[[noreturn]] void UsageError(const std::string& message);

// Reads the arguments; --help and --version print and exit 0, bad usage exits through UsageError, an
// invalid QQ number exits with kExitUsage too. The route host defaults to LORVANTA_ROUTE_HOST, else the
// built-in one.
Options ParseArguments(int argc, char** argv);

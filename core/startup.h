// Start-up pieces of the main window that need no toolkit: the program's own pseudo-random generator and
// the client number drawn from it, the working folder and the three temporary reply files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The program's own linear congruential generator. Its 32-bit state starts at 0 and is never seeded from
// the clock, so every run draws the same sequence: the first draw is 2^-32.
class TProgramRandom {
 public:
  // Advances the state (state * 134775813 + 1, modulo 2^32) and returns state * 2^-32, in [0, 1).
  double Next();
  std::uint32_t State() const { return state_; }

 private:
  std::uint32_t state_ = 0;
};

// Nearest integer to `value`, halves going to the even neighbour (0.5 -> 0, 1.5 -> 2, 2.5 -> 2).
long long RoundHalfToEven(double value);

// A local wall-clock time of day, 24-hour.
struct TLocalTime {
  int hour = 0;
  int minute = 0;
  int second = 0;
};
using LocalClock = std::function<TLocalTime()>;

// The machine's local time now.
TLocalTime SystemLocalTime();

// The client number used in vendor-site addresses: round-half-to-even of the next draw times 100000; a
// result below 1000 is replaced by the local time written "HHmmss" and read as a number (09:30:15 gives
// 93015). Because the generator starts at 0, the first call always takes the clock.
int MakeClientNumber(TProgramRandom& random, const LocalClock& clock = SystemLocalTime);

// Looks up an environment variable; empty text when it is not set.
using EnvLookup = std::function<std::string(const std::string& name)>;
std::string SystemEnvironment(const std::string& name);

// Ids of the two special folders the program asks for.
constexpr int kAppDataFolderId = 26;        // the user's application-data folder
constexpr int kInternetCacheFolderId = 32;  // the user's cache folder

// Path of a special folder, without a trailing slash: 26 is $XDG_DATA_HOME (default ~/.local/share),
// 32 is $XDG_CACHE_HOME (default ~/.cache). A relative XDG value is ignored, as the XDG rules ask. Empty
// text for any other id, or when neither the variable nor $HOME gives a path.
std::string SpecialFolderPath(int id, const EnvLookup& env = SystemEnvironment);

// The working folder, ending in "/pelloria/": under the application-data folder when that exists, else
// under the cache folder. Created together with missing parents; a failure to create it goes unnoticed
// (the temporary files then simply cannot be written).
std::string PrepareWorkFolder(const EnvLookup& env = SystemEnvironment);

// Full paths of the three temporary reply files in the working folder.
struct TTempFilePaths {
  std::string photoListFile;  // "velquan_photo_list.txt"
  std::string routeFile;      // "velquan_album_route.txt"
  std::string albumListFile;  // "velquan_album_list.txt"
};
TTempFilePaths MakeTempFilePaths(const std::string& workFolder);

// Deletes the three files; a missing file is no error, and nothing is reported.
void DeleteTempFiles(const TTempFilePaths& paths);

#include "core/startup.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kWorkFolderName = "pelloria";

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// An XDG base directory: the variable when it holds an absolute path, else $HOME + fallback.
std::string XdgFolder(const EnvLookup& env, const char* variable, const char* homeRelative) {
  std::string value = env(variable);
  if (!value.empty() && value.front() == '/') return WithoutTrailingSlashes(value);
  std::string home = env("HOME");
  if (home.empty() || home.front() != '/') return {};
  return WithoutTrailingSlashes(home) + homeRelative;
}

bool IsExistingDirectory(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

}  // namespace

double TProgramRandom::Next() {
  state_ = state_ * 134775813u + 1u;  // unsigned arithmetic wraps modulo 2^32
  return static_cast<double>(state_) * (1.0 / 4294967296.0);
}

long long RoundHalfToEven(double value) {
  double lower = std::floor(value);
  double fraction = value - lower;
  long long result = static_cast<long long>(lower);
  if (fraction > 0.5 || (fraction == 0.5 && (result % 2 != 0))) ++result;
  return result;
}

TLocalTime SystemLocalTime() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return TLocalTime{parts.tm_hour, parts.tm_min, parts.tm_sec};
}

int MakeClientNumber(TProgramRandom& random, const LocalClock& clock) {
  int number = static_cast<int>(RoundHalfToEven(random.Next() * 100000.0));
  if (number < 1000) {
    TLocalTime t = clock();
    // "HHmmss" read back as a decimal number is the same as this sum; leading zeros fall away.
    number = t.hour * 10000 + t.minute * 100 + t.second;
  }
  return number;
}

std::string SystemEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? std::string(value) : std::string();
}

std::string SpecialFolderPath(int id, const EnvLookup& env) {
  switch (id) {
    case kAppDataFolderId:
      return XdgFolder(env, "XDG_DATA_HOME", "/.local/share");
    case kInternetCacheFolderId:
      return XdgFolder(env, "XDG_CACHE_HOME", "/.cache");
    default:
      return {};
  }
}

std::string PrepareWorkFolder(const EnvLookup& env) {
  std::string base = SpecialFolderPath(kAppDataFolderId, env);
  if (!IsExistingDirectory(base)) base = SpecialFolderPath(kInternetCacheFolderId, env);
  if (base.empty()) {
    // Neither folder can be named (no HOME, no XDG variables). Appending to empty text would put the
    // working folder at the file-system root or, worse, relative to wherever the program was started;
    // the system's temporary folder is the safe place for reply files then.
    std::error_code ec;
    base = WithoutTrailingSlashes(fs::temp_directory_path(ec).string());
    if (ec || base.empty()) base = "/tmp";
  }
  std::string folder = base + "/" + kWorkFolderName + "/";
  std::error_code ec;
  fs::create_directories(folder, ec);
  return folder;
}

TTempFilePaths MakeTempFilePaths(const std::string& workFolder) {
  return TTempFilePaths{workFolder + "velquan_photo_list.txt", workFolder + "velquan_album_route.txt",
                        workFolder + "velquan_album_list.txt"};
}

void DeleteTempFiles(const TTempFilePaths& paths) {
  for (const std::string* path : {&paths.photoListFile, &paths.routeFile, &paths.albumListFile}) {
    std::error_code ec;
    fs::remove(*path, ec);
  }
}

// lorvanta-cli's config file: "key = value" lines named as the long options ("to = ~/Pictures",
// "jobs = 4", "update = true", "accounts = 12345678 87654321"), with "#" or ";" comments. The command
// line wins over the file.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// A file that cannot be read, or a line of it that is no "key = value": what() is "FILE:LINE: why".
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ConfigLine {
  std::string key, value;
  int line = 0;  // from 1
};

struct ConfigFile {
  std::string path;
  std::vector<ConfigLine> lines;  // in file order; a key may come more than once (the last one counts)
};

// $XDG_CONFIG_HOME/lorvanta/lorvanta.conf, else ~/.config/lorvanta/lorvanta.conf; empty when there is
// neither variable.
std::string DefaultConfigPath();

// The file's lines. A missing file is an empty config unless `required`. Throws ConfigError for a file
// that cannot be read, a line that is not "key = value", and a "[section]" (the file has none).
ConfigFile ReadConfigFile(const std::string& path, bool required);

// A file of ours under an XDG base folder: $variable/lorvanta/name when the variable holds an absolute
// path, else ~/homeFallback/lorvanta/name; empty when neither says where.
std::string XdgFile(const char* variable, const char* homeFallback, const char* name);

// "~/x" with the home folder, for values that name files; anything else as it is.
std::string ExpandHome(const std::string& path);

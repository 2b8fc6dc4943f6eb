#include "cli/config.h"

#include <ini.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

struct LineParse {
  ConfigLine* out = nullptr;
  bool section = false;
};

int OnEntry(void* user, const char* section, const char* name, const char* value) {
  auto* parse = static_cast<LineParse*>(user);
  if (section != nullptr && *section != '\0') {
    parse->section = true;
    return 0;
  }
  parse->out->key = name;
  parse->out->value = value;
  return 1;
}

}  // namespace

std::string XdgFile(const char* variable, const char* homeFallback, const char* name) {
  const char* base = std::getenv(variable);
  if (base != nullptr && *base == '/') return std::string(base) + "/lorvanta/" + name;
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/" + homeFallback + "/lorvanta/" + name;
  return {};
}

std::string DefaultConfigPath() {
  return XdgFile("XDG_CONFIG_HOME", ".config", "lorvanta.conf");
}

ConfigFile ReadConfigFile(const std::string& path, bool required) {
  ConfigFile config;
  config.path = path;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT && !required) return config;
    throw ConfigError(path + ": cannot be read: " + std::strerror(errno));
  }
  std::string text;
  int number = 0;
  // One line at a time through the parser, so every entry and every error has its line number, and a
  // line never continues the one before.
  while (std::getline(in, text)) {
    ++number;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    if (text.size() > 190) throw ConfigError(path + ":" + std::to_string(number) + ": the line is too long");
    if (text[first] == '[')
      throw ConfigError(path + ":" + std::to_string(number) + ": sections are not used");
    ConfigLine line;
    line.line = number;
    LineParse parse{&line};
    if (ini_parse_string(text.c_str(), OnEntry, &parse) != 0 || parse.section)
      throw ConfigError(path + ":" + std::to_string(number) + ": not a \"key = value\" line: " + text);
    if (!line.key.empty()) config.lines.push_back(std::move(line));
  }
  if (in.bad()) throw ConfigError(path + ": cannot be read: " + std::strerror(errno));
  return config;
}

std::string ExpandHome(const std::string& path) {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return path;
  if (path == "~") return home;
  if (path.rfind("~/", 0) == 0) return std::string(home) + path.substr(1);
  return path;
}

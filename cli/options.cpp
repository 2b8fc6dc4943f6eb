#include "cli/options.h"

#include <getopt.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string_view>
#include <vector>

#include "cli/config.h"
#include "core/hosts.h"
#include "core/qqnumber.h"

// The options are read with the C library's getopt_long: it is there on every Linux system (no new
// dependency), and it gives users the rules they know from every GNU program: "--jobs=4" and "--jobs 4",
// "-j4" and "-j 4", "-qj4", unique prefixes of long options, options and operands in any order, and "--"
// before an operand that starts with "-".

namespace {

constexpr const char* kVersion = "lorvanta-cli " LORVANTA_VERSION "\n";

constexpr const char* kPreviewHelp =
    "usage: lorvanta-cli preview QQ [--route-host H] [--json] [--page FILE] [--client-number N]\n"
    "                               [--cookies FILE] [--cookies-out FILE] [--service S] [--site-host H]\n"
    "\n"
    "Lists the albums of a QQ number (number, id, privacy, photo count, name).\n"
    "  --page FILE          writes the album list page as the window shows it (GBK bytes)\n"
    "  --json               the list as JSON on standard output\n"
    "  --client-number N    the client number of the album addresses (default: a random one)\n";

constexpr const char* kDownloadHelp =
    "usage: lorvanta-cli download QQ... [-o|--to DIR] [--album ID]... [--skip ID]... [--route-host H]\n"
    "                                [-j|--jobs N] [--retries N] [--rate LIMIT] [--max-photo-size SIZE]\n"
    "                                [--update [--keep-deleted]] [--write-metadata] [--no-viewer]\n"
    "                                [-q|--quiet] [--json] [--cookies FILE] [--cookies-out FILE]\n"
    "                                [--service S] [--site-host H]\n"
    "\n"
    "Downloads the albums (all unless --album names some; --skip leaves some out) into\n"
    "DIR/<QQ>的相册/ (default DIR: the current folder), one folder per album; an older copy is\n"
    "moved aside to a backup name. Several QQ numbers (or, without any, the config's accounts) are\n"
    "downloaded one after another, each into its own folder; one that fails does not stop the others,\n"
    "and the exit code is the worst of theirs.\n"
    "  -j, --jobs N         fetches up to N photos of an album at once (default 1, at most 32); the\n"
    "                       folder tree is the same for every N\n"
    "  --retries N          tries a photo again up to N times (default 0) after a connection error, a\n"
    "                       time-out, 429 or 5xx, waiting longer each time and at least as long as the\n"
    "                       server's Retry-After asks\n"
    "  --rate LIMIT         caps the download rate in bytes per second (suffix k or m for KiB, MiB),\n"
    "                       one budget shared by all --jobs\n"
    "  --max-photo-size SIZE  (default 256m; suffix k, m or g) fails a photo that is larger; a reply\n"
    "                       slower than 1 KiB/s for 30 s fails too (retries apply)\n"
    "  --update             keeps the album root and fetches only the photos that are not there yet\n"
    "                       (new albums too), by a manifest (.lorvanta-album.json) in each album\n"
    "                       folder; a photo deleted by hand comes back, unless --keep-deleted. Folders\n"
    "                       without a manifest are left alone and the albums get new folders\n"
    "  --write-metadata     writes the manifest without --update too; a plain download writes the\n"
    "                       window's tree only\n"
    "  --no-viewer          leaves the offline viewer of the album root as it is\n"
    "  -q, --quiet          prints nothing but errors\n"
    "  --json               the summary as JSON on standard output\n"
    "--album ID that the list does not hold is bad usage (nothing is changed); an unknown --skip ID\n"
    "is a warning. Failed photos and albums are named with their reason.\n";

constexpr const char* kViewerHelp =
    "usage: lorvanta-cli viewer DIR [-q|--quiet]\n"
    "\n"
    "Rebuilds the offline viewer of an album root (DIR is a <QQ>的相册 folder) from what is on disk.\n"
    "  -q, --quiet          prints nothing but errors\n"
    "  -h, --help           this help;  -V, --version  the version\n";

constexpr const char* kVerifyHelp =
    "usage: lorvanta-cli verify DIR [--json] [-q|--quiet]\n"
    "\n"
    "Checks a copy against its manifests (DIR: an album folder, an album root or a folder holding them),\n"
    "changing nothing: every recorded photo must be there, have its recorded size, still begin as an\n"
    "image and, where the manifest has its digest, still have it; files no manifest names are listed,\n"
    "and albums that hold fewer photos than the album service listed (incomplete).\n"
    "Exit 0 when all is well, 1 otherwise (also when no album folder has a manifest), 5 while a\n"
    "download or an update writes that copy.\n"
    "  --json               the findings as JSON on standard output\n"
    "  -q, --quiet          prints nothing but the findings\n"
    "  -h, --help           this help;  -V, --version  the version\n";

constexpr const char* kBackupHelp =
    "usage: lorvanta-cli backup [QQ...] [OPTION]...\n"
    "\n"
    "Brings the copy of every account of the config file (accounts = ...) up to date, as download\n"
    "--update does: nothing fetched twice, nothing moved aside; refreshes each copy's viewer, prints\n"
    "one summary per account and appends one line per account to the history\n"
    "($XDG_STATE_HOME/lorvanta/history.jsonl). Takes the options of download. When it runs without a\n"
    "terminal (the daily timer), failures and sign-ins needed are told on the desktop (notify = ...).\n"
    "  --notify WHEN        never, failures (the default) or always\n";

constexpr const char* kStatusHelp =
    "usage: lorvanta-cli status [--json] [--config FILE]\n"
    "\n"
    "Prints the last backup of each account from the history: when, photos new, failures, exit code.\n"
    "  --json               the same as JSON\n"
    "  -h, --help           this help;  -V, --version  the version\n";

constexpr const char* kLoginHelp =
    "usage: lorvanta-cli login --cookies-out FILE [--login-host H] [--site-host H]\n"
    "\n"
    "Signs in to the album site with QQ: shows a QR code to scan with the QQ app on your phone, waits\n"
    "for the phone's confirmation (a new code when one expires), checks the session with one album list\n"
    "call and writes it to FILE (a cookie file, mode 0600) for --cookies of preview and download.\n"
    "  --cookies-out FILE   where the session is written (needed)\n"
    "  --login-host H       QQ's sign-in (default: LORVANTA_LOGIN_HOST, else xui.ptlogin2.qq.com and\n"
    "                       ssl.ptlogin2.qq.com); http://HOST:PORT for a test server\n"
    "  --site-host H        the album site whose session is checked (as for preview and download)\n"
    "  --poll-pause SECONDS the pause between two looks at the code's state (default 2)\n"
    "  --config FILE        reads these options from FILE (see download --help)\n"
    "  -h, --help           this help;  -V, --version  the version\n"
    "Exit 0 signed in; 3 the sign-in host or the album site could not be reached or read; 6 refused on\n"
    "the phone, no code confirmed in time, or the site does not take the session; 130 interrupted.\n";

constexpr const char* kCommonHelp =
    "\n"
    "Options of preview, download and backup:\n"
    "  --route-host H       the album route service (default: LORVANTA_ROUTE_HOST, else the built-in one)\n"
    "  --cookies FILE       sends the cookies of a Netscape cookie file (cookies.txt, as browsers' export\n"
    "                       add-ons, curl and wget write it) to the hosts they belong to, so a signed-in\n"
    "                       session reaches private albums; cookies that replies set are kept for the run\n"
    "  --cookies-out FILE   writes the session at the end of the run (mode 0600); keep such files private\n"
    "  --service S          classic (the route service and its XML lists), current (today's album site,\n"
    "                       signed in: the session must hold its uin and p_skey cookies) or auto (the\n"
    "                       default: current when the session is signed in to the album site)\n"
    "  --site-host H        the album site (default: LORVANTA_SITE_HOST, else user.qzone.qq.com and\n"
    "                       h5.qzone.qq.com); http://HOST:PORT for a test server, a bare host means https\n"
    "  --list-pause SECONDS the pause between the album site's list calls (default: 1 to 3 at random)\n"
    "  --busy-pause SECONDS the first wait when the album site is busy (default 120; it doubles after)\n"
    "  --max-requests-per-minute N  list calls of the album site a minute, at most (default 20; 0: no\n"
    "                       limit); photos are not counted\n"
    "  --config FILE        reads options from FILE (default: $XDG_CONFIG_HOME/lorvanta/lorvanta.conf when\n"
    "                       it is there): \"key = value\" lines named as the long options (to, jobs,\n"
    "                       update, cookies, accounts = QQ QQ ...), # comments; the command line wins\n"
    "  -h, --help           this help;  -V, --version  the version\n"
    "A value follows its option as --option=VALUE or --option VALUE (-xVALUE or -x VALUE for a\n"
    "short one); -- ends the options.\n";

constexpr const char* kExitHelp =
    "exit codes: 0 all downloaded, 1 some photos or albums failed, or an output could not be\n"
    "            written, 2 bad usage or invalid QQ number,\n"
    "            3 the album list could not be retrieved, 4 a manifest of the album root cannot be\n"
    "            read (nothing was fetched or changed), 5 another run is writing the same album\n"
    "            root (nothing was fetched or changed), 6 the album site wants a sign-in,\n"
    "            130 interrupted.\n";

std::string FullUsage() {
  return std::string(
             "usage: lorvanta-cli preview QQ [OPTION]...\n"
             "       lorvanta-cli download QQ... [OPTION]...\n"
             "       lorvanta-cli backup [QQ...] [OPTION]...\n"
             "       lorvanta-cli status [--json]\n"
             "       lorvanta-cli viewer DIR\n"
             "       lorvanta-cli verify DIR [--json]\n"
             "       lorvanta-cli login --cookies-out FILE\n"
             "       lorvanta-cli help [COMMAND] | --help | --version\n"
             "\n") +
         kPreviewHelp + "\n" + kDownloadHelp + kCommonHelp + "\n" + kBackupHelp + "\n" + kStatusHelp + "\n" +
         kViewerHelp + "\n" + kVerifyHelp + "\n" + kLoginHelp + "\n" + kExitHelp;
}

// Options that have no short form get values past any character.
enum LongOnly : int {
  kRouteHost = 256,
  kCookies,
  kCookiesOut,
  kJson,
  kPage,
  kClientNumber,
  kAlbum,
  kSkip,
  kRetries,
  kRate,
  kMaxPhotoSize,
  kUpdate,
  kKeepDeleted,
  kWriteMetadata,
  kNoViewer,
  kService,
  kSiteHost,
  kListPause,
  kBusyPause,
  kLoginHost,
  kPollPause,
  kConfig,
  kNotify,
  kMaxRequests,
};

struct Command {
  const char* name;
  const char* shorts;  // getopt's letters beside h and V
  std::vector<option> longs;
  const char* help;
};

const std::vector<Command>& Commands() {
  // What every command that asks the album services takes.
  const std::vector<option> services = {{"route-host", required_argument, nullptr, kRouteHost},
                                        {"service", required_argument, nullptr, kService},
                                        {"site-host", required_argument, nullptr, kSiteHost},
                                        {"list-pause", required_argument, nullptr, kListPause},
                                        {"busy-pause", required_argument, nullptr, kBusyPause},
                                        {"max-requests-per-minute", required_argument, nullptr, kMaxRequests},
                                        {"cookies", required_argument, nullptr, kCookies},
                                        {"cookies-out", required_argument, nullptr, kCookiesOut},
                                        {"config", required_argument, nullptr, kConfig}};
  const auto with = [&services](std::vector<option> own) {
    own.insert(own.end(), services.begin(), services.end());
    return own;
  };
  const std::vector<option> download = with({{"to", required_argument, nullptr, 'o'},
                                             {"album", required_argument, nullptr, kAlbum},
                                             {"skip", required_argument, nullptr, kSkip},
                                             {"jobs", required_argument, nullptr, 'j'},
                                             {"retries", required_argument, nullptr, kRetries},
                                             {"rate", required_argument, nullptr, kRate},
                                             {"max-photo-size", required_argument, nullptr, kMaxPhotoSize},
                                             {"update", no_argument, nullptr, kUpdate},
                                             {"keep-deleted", no_argument, nullptr, kKeepDeleted},
                                             {"write-metadata", no_argument, nullptr, kWriteMetadata},
                                             {"no-viewer", no_argument, nullptr, kNoViewer},
                                             {"quiet", no_argument, nullptr, 'q'},
                                             {"json", no_argument, nullptr, kJson}});
  std::vector<option> backup = download;
  backup.push_back({"notify", required_argument, nullptr, kNotify});
  static const std::vector<Command> commands = {
      {"preview", "",
       with({{"json", no_argument, nullptr, kJson},
             {"page", required_argument, nullptr, kPage},
             {"client-number", required_argument, nullptr, kClientNumber}}),
       kPreviewHelp},
      {"download", "o:j:q", download, kDownloadHelp},
      {"backup", "o:j:q", backup, kBackupHelp},
      {"status",
       "",
       {{"json", no_argument, nullptr, kJson}, {"config", required_argument, nullptr, kConfig}},
       kStatusHelp},
      {"viewer", "q", {{"quiet", no_argument, nullptr, 'q'}}, kViewerHelp},
      {"verify",
       "q",
       {{"quiet", no_argument, nullptr, 'q'}, {"json", no_argument, nullptr, kJson}},
       kVerifyHelp},
      {"login",
       "",
       {{"cookies-out", required_argument, nullptr, kCookiesOut},
        {"login-host", required_argument, nullptr, kLoginHost},
        {"site-host", required_argument, nullptr, kSiteHost},
        {"poll-pause", required_argument, nullptr, kPollPause},
        {"config", required_argument, nullptr, kConfig}},
       kLoginHelp},
  };
  return commands;
}

// The viewer and the check work on a folder alone: the options of the album services are not theirs.
std::string CommandHelp(const Command& c) {
  const std::string_view name = c.name;
  const bool services = name == "preview" || name == "download" || name == "backup";
  return std::string(c.help) + (services ? kCommonHelp : "");
}

const Command* FindCommand(std::string_view name) {
  for (const Command& c : Commands())
    if (name == c.name) return &c;
  return nullptr;
}

// The nearest of the words to `word`, when it is near enough to be a slip of the fingers; else empty.
std::string Nearest(const std::string& word, const std::vector<std::string>& words) {
  std::string best;
  int bestDistance = 0;
  for (const std::string& w : words) {
    const int d = EditDistance(word, w);
    if (best.empty() || d < bestDistance) best = w, bestDistance = d;
  }
  const int allowed = std::max<int>(2, static_cast<int>(word.size()) / 3);
  return !best.empty() && bestDistance <= allowed ? best : "";
}

// Collects what the arguments ask; the first error is the one reported, and --help or --version anywhere
// wins over it (so "... --jobs 0 --help" still helps, as it always did).
class Parser {
 public:
  void Fail(const std::string& message, bool hint = true) {
    if (!error_.empty()) return;
    error_ = "lorvanta-cli: " + where_ + message + "\n";
    if (hint)
      error_ += "(try lorvanta-cli " + (command_ ? std::string(command_->name) + " " : "") + "--help)\n";
  }
  void Show(const std::string& text) {
    if (out_.empty()) out_ = text;
  }

  ParseResult Parse(int argc, char** argv);

 private:
  void Global(int argc, char** argv, int& next);
  void Help(int argc, char** argv, int next);
  void CommandOptions(int argc, char** argv);
  void Take(int c, const char* value);
  // The config file (--config, else the default one when it is there), before the command line.
  void Config(int argc, char** argv);
  void ConfigEntry(const ConfigLine& line);
  void Operand(const std::string& a);
  void Unknown(const std::string& typed);
  std::string LongName(int val) const;

  ParseResult result_;
  Options& o_ = result_.options;
  const Command* command_ = nullptr;
  std::string out_, error_;
  std::string where_;  // "FILE:LINE: " while a config line is taken
  std::vector<std::string> configAccounts_;
  std::vector<std::string> operandQQs_;
  int operands_ = 0;
};

int CountValue(Parser& p, const std::string& option, const std::string& v, int least, int most,
               int fallback) {
  const bool digits = !v.empty() && v.size() <= 4 && v.find_first_not_of("0123456789") == std::string::npos;
  const int n = digits ? std::stoi(v) : -1;
  if (n >= least && n <= most) return n;
  p.Fail(option + " takes a whole number from " + std::to_string(least) + " to " + std::to_string(most));
  return fallback;
}

// "500000", "300k", "2M", "1g": a number of bytes; 0 for text of another shape.
long long ByteCount(const std::string& v, bool gigabytes) {
  size_t digits = 0;
  while (digits < v.size() && digits < 12 && v[digits] >= '0' && v[digits] <= '9') ++digits;
  const std::string unit = v.substr(digits);
  long long factor = 0;
  if (unit.empty()) factor = 1;
  if (unit == "k" || unit == "K") factor = 1024;
  if (unit == "m" || unit == "M") factor = 1024 * 1024;
  if (gigabytes && (unit == "g" || unit == "G")) factor = 1024LL * 1024 * 1024;
  return digits > 0 && factor > 0 ? std::stoll(v.substr(0, digits)) * factor : 0;
}

ParseResult Parser::Parse(int argc, char** argv) {
  // getopt keeps its place in globals; 0 starts it afresh, which a second parse in one process needs.
  optind = 0;
  opterr = 0;  // its messages would not name the command or suggest anything
  int next = 1;
  Global(argc, argv, next);
  if (next >= argc) {
    if (out_.empty()) Fail("no command given");
  } else if (std::string_view(argv[next]) == "help") {
    Help(argc, argv, next + 1);
  } else if ((command_ = FindCommand(argv[next])) == nullptr) {
    std::vector<std::string> names = {"help"};
    for (const Command& c : Commands()) names.push_back(c.name);
    const std::string near = Nearest(argv[next], names);
    Fail("unknown command: " + std::string(argv[next]) +
         (near.empty() ? "" : " (did you mean " + near + "?)"));
  } else {
    o_.command = command_->name;
    Config(argc - next, argv + next);
    CommandOptions(argc - next, argv + next);
  }

  if (!out_.empty()) {
    result_.exitCode = kExitOk;
    result_.out = out_;
  } else if (!error_.empty()) {
    result_.exitCode = kExitUsage;
    result_.error = error_;
  } else if (o_.routeHost.empty()) {
    o_.routeHost = RouteHost();
  }
  return result_;
}

// Options before the command: only --help and --version.
void Parser::Global(int argc, char** argv, int& next) {
  static const option globals[] = {
      {"help", no_argument, nullptr, 'h'}, {"version", no_argument, nullptr, 'V'}, {nullptr, 0, nullptr, 0}};
  int c;
  // "+": the first operand (the command) ends the options of the program itself.
  while ((c = getopt_long(argc, argv, "+:hV", globals, nullptr)) != -1) {
    if (c == 'h') {
      Show(FullUsage());
    } else if (c == 'V') {
      Show(kVersion);
    } else {
      Unknown(optopt != 0 ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1]);
    }
  }
  next = optind;
}

void Parser::Help(int argc, char** argv, int next) {
  if (next >= argc) return Show(FullUsage());
  const Command* c = FindCommand(argv[next]);
  if (c == nullptr) return Fail("help: unknown command: " + std::string(argv[next]));
  if (next + 1 < argc)
    return Fail("help takes one command: unexpected argument " + std::string(argv[next + 1]));
  Show(CommandHelp(*c));
}

void Parser::CommandOptions(int argc, char** argv) {
  std::vector<option> longs = command_->longs;
  longs.push_back({"help", no_argument, nullptr, 'h'});
  longs.push_back({"version", no_argument, nullptr, 'V'});
  longs.push_back({nullptr, 0, nullptr, 0});
  // "-": operands come back in their place (as 1), so the QQ number may stand anywhere whatever
  // POSIXLY_CORRECT says; ":": a missing value is told from an unknown option.
  const std::string shorts = std::string("-:hV") + command_->shorts;
  optind = 0;
  int c;
  while ((c = getopt_long(argc, argv, shorts.c_str(), longs.data(), nullptr)) != -1) {
    if (c == 1) {
      Operand(optarg);
    } else if (c == ':') {
      const std::string typed = argv[optind - 1];
      Fail((typed.rfind("--", 0) == 0 ? typed : std::string("-") + static_cast<char>(optopt)) +
           " needs a value");
    } else if (c == '?') {
      const bool known = optopt != 0 && !LongName(optopt).empty();
      const std::string typed = argv[optind - 1];
      if (known && typed.rfind("--", 0) == 0) {
        Fail("--" + LongName(optopt) + " takes no value: " + typed);
      } else {
        Unknown(optopt != 0 ? std::string("-") + static_cast<char>(optopt) : typed);
      }
    } else {
      Take(c, optarg);
    }
  }
  for (int i = optind; i < argc; ++i) Operand(argv[i]);  // after "--"

  const bool several = o_.command == "download" || o_.command == "backup";
  const bool listing = o_.command == "preview" || several;
  const bool folder = o_.command == "viewer" || o_.command == "verify";
  const bool login = o_.command == "login";
  if (several && !operandQQs_.empty()) o_.qqs = operandQQs_;
  // An account named twice is backed up once.
  for (size_t i = 0; i < o_.qqs.size(); ++i) {
    if (std::find(o_.qqs.begin(), o_.qqs.begin() + static_cast<long>(i), o_.qqs[i]) != o_.qqs.begin() + i)
      o_.qqs.erase(o_.qqs.begin() + static_cast<long>(i--));
  }
  if (several && !o_.qqs.empty()) o_.qq = o_.qqs.front();
  if (o_.qqs.size() > 1 && (!o_.albums.empty() || !o_.skips.empty()))
    Fail("--album and --skip name the albums of one account; give one QQ number with them");
  if (o_.command == "backup" && o_.qqs.empty())
    Fail("no accounts to back up: name them (lorvanta-cli backup QQ...) or list them in the config file (" +
         (o_.config.empty() ? DefaultConfigPath() : o_.config) + "): accounts = QQ QQ ...");
  if (o_.command == "backup") o_.update = true;
  if (listing && o_.qq.empty()) Fail("no QQ number given");
  if (folder && o_.dir.empty()) Fail("no folder given");
  if (login && o_.cookiesOut.empty()) Fail("login needs --cookies-out FILE: where the session is written");
  if (o_.keepDeleted && !o_.update) Fail("--keep-deleted needs --update");
  for (std::string qq : several ? o_.qqs : std::vector<std::string>{o_.qq}) {
    if (listing && !IsValidQQNumber(qq))
      Fail("not a valid QQ number: at least 5 digits, digits only" +
               (o_.qqs.size() > 1 ? ": " + qq : std::string()),
           false);
  }
}

void Parser::Config(int argc, char** argv) {
  std::string path;
  bool given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--") break;
    if (a.rfind("--", 0) != 0) continue;
    const size_t eq = a.find('=');
    const std::string_view name = a.substr(2, eq == std::string_view::npos ? std::string_view::npos : eq - 2);
    // As getopt reads it: "--config", or a prefix of it long enough to be no other option's.
    if (name.size() < 4 || std::string_view("config").substr(0, name.size()) != name) continue;
    given = true;
    if (eq != std::string_view::npos) {
      path = a.substr(eq + 1);
    } else if (i + 1 < argc) {
      path = argv[++i];
    }
  }
  if (!given) path = DefaultConfigPath();
  if (path.empty()) return;
  ConfigFile file;
  try {
    file = ReadConfigFile(ExpandHome(path), given);
  } catch (const ConfigError& e) {
    return Fail(e.what(), false);
  }
  o_.config = file.path;
  for (const ConfigLine& line : file.lines) {
    where_ = file.path + ":" + std::to_string(line.line) + ": ";
    ConfigEntry(line);
    where_.clear();
  }
  if (o_.command == "download" || o_.command == "backup") o_.qqs = configAccounts_;
}

void Parser::ConfigEntry(const ConfigLine& line) {
  // Options that name one run's choice, not a standing one, are not for the file.
  static const std::set<std::string> kNotInFile = {"album", "skip",          "page",
                                                   "json",  "client-number", "config"};
  const std::string& key = line.key;
  if (key == "accounts") {
    configAccounts_.clear();
    std::string word;
    for (size_t i = 0; i <= line.value.size(); ++i) {
      const char c = i < line.value.size() ? line.value[i] : ' ';
      if (c != ' ' && c != ',' && c != '\t') {
        word += c;
        continue;
      }
      if (word.empty()) continue;
      if (!IsValidQQNumber(word)) return Fail("accounts: not a valid QQ number: " + word, false);
      configAccounts_.push_back(word);
      word.clear();
    }
    return;
  }
  std::vector<std::string> known = {"accounts"};
  const option* mine = nullptr;
  for (const Command& c : Commands()) {
    for (const option& o : c.longs) {
      if (kNotInFile.count(o.name) != 0) continue;
      known.push_back(o.name);
      if (&c == command_ && key == o.name) mine = &o;
    }
  }
  if (mine == nullptr) {
    if (std::find(known.begin(), known.end(), key) != known.end()) return;  // another command's
    const std::string near = Nearest(key, known);
    return Fail("unknown key " + key + (near.empty() ? "" : " (did you mean " + near + "?)"), false);
  }
  if (mine->has_arg == no_argument) {
    static const std::set<std::string> kYes = {"true", "yes", "on", "1"}, kNo = {"false", "no", "off", "0"};
    if (kYes.count(line.value) != 0) return Take(mine->val, nullptr);
    if (kNo.count(line.value) == 0) Fail(key + " takes true or false, not " + line.value, false);
    return;  // false is what the command line starts from
  }
  const bool names = key == "to" || key == "cookies" || key == "cookies-out";
  const std::string value = names ? ExpandHome(line.value) : line.value;
  Take(mine->val, value.c_str());
}

std::string Parser::LongName(int val) const {
  for (const option& o : command_->longs)
    if (o.val == val) return o.name;
  return "";
}

void Parser::Take(int c, const char* value) {
  const std::string v = value ? value : "";
  switch (c) {
    case 'h':
      return Show(CommandHelp(*command_));
    case 'V':
      return Show(kVersion);
    case kRouteHost:
      o_.routeHost = v;
      return;
    case kService:
      if (v != "classic" && v != "current" && v != "auto")
        return Fail("--service takes classic, current or auto, not " + v);
      o_.service = v;
      return;
    case kSiteHost:
      o_.siteHost = v;
      return;
    case kLoginHost:
      o_.loginHost = v;
      return;
    case kConfig:
      return;  // read before the rest
    case kNotify:
      if (v != "never" && v != "failures" && v != "always")
        return Fail("--notify takes never, failures or always, not " + v);
      o_.notify = v;
      return;
    case kMaxRequests:
      o_.maxRequestsPerMinute =
          CountValue(*this, "--max-requests-per-minute", v, 0, 600, o_.maxRequestsPerMinute);
      return;
    case kListPause:
    case kBusyPause:
    case kPollPause: {
      const std::string name = c == kListPause   ? "--list-pause"
                               : c == kBusyPause ? "--busy-pause"
                                                 : "--poll-pause";
      char* end = nullptr;
      const double seconds = std::strtod(v.c_str(), &end);
      if (v.empty() || end == nullptr || *end != '\0' || !(seconds >= 0 && seconds <= 3600))
        return Fail(name + " takes seconds from 0 to 3600, not " + v);
      (c == kListPause   ? o_.listPauseSeconds
       : c == kBusyPause ? o_.busyPauseSeconds
                         : o_.pollPauseSeconds) = seconds;
      return;
    }
    case kCookies:
      o_.cookiesIn = v;
      return;
    case kCookiesOut:
      o_.cookiesOut = v;
      return;
    case kJson:
      o_.json = true;
      return;
    case kPage:
      o_.pageFile = v;
      return;
    case kClientNumber:
      if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos)
        return Fail("--client-number takes a whole number");
      o_.clientNumber = std::stoi(v);
      return;
    case 'o':
      o_.to = v;
      return;
    case kAlbum:
      o_.albums.insert(v);
      return;
    case kSkip:
      o_.skips.insert(v);
      return;
    case 'j':
      o_.jobs = CountValue(*this, "--jobs", v, 1, 32, o_.jobs);
      return;
    case kRetries:
      o_.retries = CountValue(*this, "--retries", v, 0, 100, o_.retries);
      return;
    case kRate: {
      const long long n = ByteCount(v, false);  // bytes per second, at least 1 KiB
      if (n < 1024) return Fail("--rate takes bytes per second, at least 1024 (e.g. 500k, 2M): " + v);
      o_.rate = n;
      return;
    }
    case kMaxPhotoSize: {
      const long long n = ByteCount(v, true);
      if (n < 1024 || n > 64LL * 1024 * 1024 * 1024)
        return Fail("--max-photo-size takes a size from 1k to 64g (e.g. 50m): " + v);
      o_.maxPhotoBytes = n;
      return;
    }
    case kUpdate:
      o_.update = true;
      return;
    case kKeepDeleted:
      o_.keepDeleted = true;
      return;
    case kWriteMetadata:
      o_.writeMetadata = true;
      return;
    case kNoViewer:
      o_.noViewer = true;
      return;
    case 'q':
      o_.quiet = true;
      return;
  }
}

void Parser::Operand(const std::string& a) {
  if (o_.command == "download" || o_.command == "backup") {
    if (a.empty()) return Fail("empty QQ number");
    operandQQs_.push_back(a);
    return;
  }
  if (operands_++ > 0 || o_.command == "login" || o_.command == "status")
    return Fail("unexpected argument: " + a);
  if (o_.command == "viewer" || o_.command == "verify") {
    o_.dir = a;
    if (a.empty()) Fail("empty folder name");
  } else {
    o_.qq = a;
    if (a.empty()) Fail("empty QQ number");
  }
}

// Names the option as it was typed and, when it is a slip, the option meant: the nearest long option of
// the command, or the command that has it.
void Parser::Unknown(const std::string& typed) {
  const std::string where = command_ ? std::string(" for ") + command_->name : std::string();
  if (typed.rfind("--", 0) != 0) return Fail("unknown option" + where + ": " + typed);
  const std::string name =
      typed.substr(2, typed.find('=') == std::string::npos ? std::string::npos : typed.find('=') - 2);
  std::vector<std::string> mine = {"help", "version"};
  if (command_)
    for (const option& o : command_->longs) mine.push_back(o.name);
  std::vector<std::string> ambiguous;
  for (const std::string& m : mine)
    if (!name.empty() && m.rfind(name, 0) == 0) ambiguous.push_back("--" + m);
  if (ambiguous.size() > 1) {
    std::string list;
    for (const std::string& a : ambiguous) list += (list.empty() ? "" : ", ") + a;
    return Fail("option " + typed + " is ambiguous" + where + ": " + list);
  }
  for (const Command& c : Commands()) {
    if (&c == command_) continue;
    for (const option& o : c.longs)
      if (name == o.name)
        return Fail("unknown option" + where + ": " + typed + " (an option of " + c.name + ")");
  }
  const std::string near = Nearest(name, mine);
  Fail("unknown option" + where + ": " + typed + (near.empty() ? "" : " (did you mean --" + near + "?)"));
}

}  // namespace

[[noreturn]] void UsageError(const std::string& message) {
  std::cerr << "lorvanta-cli: " << message << "\n(try lorvanta-cli --help)\n";
  std::exit(kExitUsage);
}

int EditDistance(const std::string& a, const std::string& b) {
  std::vector<int> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = static_cast<int>(j);
  for (size_t i = 1; i <= a.size(); ++i) {
    int diagonal = row[0];
    row[0] = static_cast<int>(i);
    for (size_t j = 1; j <= b.size(); ++j) {
      const int above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

ParseResult ParseArguments(int argc, char** argv) {
  Parser parser;
  return parser.Parse(argc, argv);
}

// The command line's arguments: the GNU forms users type, the errors they get for slips, and that help and
// version win. Tables call the parser directly; a few runs check that the real program prints and exits
// as the parser says.
#include "cli/options.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/hosts.h"
#include "tests/support/testfolder.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace fs = std::filesystem;

namespace {

ParseResult Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "lorvanta-cli");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return ParseArguments(static_cast<int>(args.size()), argv.data());
}

std::string Joined(const std::vector<std::string>& args) {
  std::string s;
  for (const auto& a : args) s += "[" + a + "] ";
  return s;
}

// Every field, so that a form that sets the wrong one shows in the difference.
std::string Fields(const Options& o) {
  std::ostringstream s;
  s << "command=" << o.command << " qq=" << o.qq << " dir=" << o.dir << " route=" << o.routeHost
    << " to=" << o.to << " albums=";
  for (const auto& a : o.albums) s << a << ",";
  s << " skips=";
  for (const auto& a : o.skips) s << a << ",";
  s << " page=" << o.pageFile << " client=" << o.clientNumber << " jobs=" << o.jobs
    << " retries=" << o.retries << " rate=" << o.rate << " max=" << o.maxPhotoBytes
    << " cookies=" << o.cookiesIn << " out=" << o.cookiesOut << " update=" << o.update
    << " keep=" << o.keepDeleted << " meta=" << o.writeMetadata << " noviewer=" << o.noViewer
    << " json=" << o.json << " quiet=" << o.quiet;
  return s.str();
}

Options Download(const std::string& qq = "10001") {
  Options o;
  o.command = "download";
  o.qq = qq;
  o.routeHost = RouteHost();
  return o;
}

TEST(Options, AcceptedFormsSetTheirFields) {
  struct Case {
    std::vector<std::string> args;
    Options expected;
  };
  std::vector<Case> cases;
  auto add = [&](std::vector<std::string> args, auto change) {
    Options o = Download();
    change(o);
    cases.push_back({std::move(args), o});
  };
  add({"download", "10001"}, [](Options&) {});
  add({"download", "10001", "--jobs=4"}, [](Options& o) { o.jobs = 4; });
  add({"download", "10001", "--jobs", "4"}, [](Options& o) { o.jobs = 4; });
  add({"download", "-j4", "10001"}, [](Options& o) { o.jobs = 4; });
  add({"download", "10001", "-j", "4"}, [](Options& o) { o.jobs = 4; });
  add({"download", "10001", "--jo=4"}, [](Options& o) { o.jobs = 4; });  // a unique prefix
  add({"download", "-qj", "3", "10001"}, [](Options& o) { o.quiet = true, o.jobs = 3; });
  add({"download", "10001", "-o", "/tmp/x y"}, [](Options& o) { o.to = "/tmp/x y"; });
  add({"download", "--to=/tmp/x", "10001"}, [](Options& o) { o.to = "/tmp/x"; });
  add({"download", "--to", "-dash", "10001"}, [](Options& o) { o.to = "-dash"; });
  add({"download", "--quiet", "--", "10001"}, [](Options& o) { o.quiet = true; });
  add({"download", "10001", "--no-viewer", "--write-metadata"},
      [](Options& o) { o.noViewer = true, o.writeMetadata = true; });
  add({"download", "10001", "--update", "--keep-deleted"},
      [](Options& o) { o.update = o.keepDeleted = true; });
  add({"download", "10001", "--album", "1", "--album=2", "--skip", "3"}, [](Options& o) {
    o.albums = {"1", "2"}, o.skips = {"3"};
  });
  add({"download", "10001", "--rate", "2M", "--max-photo-size=1g", "--retries", "100"},
      [](Options& o) { o.rate = 2LL << 20, o.maxPhotoBytes = 1LL << 30, o.retries = 100; });
  add({"download", "10001", "--route-host", "h:1", "--cookies", "in.txt", "--cookies-out=out.txt", "--json"},
      [](Options& o) {
        o.routeHost = "h:1", o.cookiesIn = "in.txt", o.cookiesOut = "out.txt", o.json = true;
      });
  add({"download", "10001", "-j", "2", "--jobs=5"}, [](Options& o) { o.jobs = 5; });  // the last one counts

  Options preview = Download();
  preview.command = "preview";
  preview.pageFile = "p.html";
  preview.clientNumber = 93015;
  cases.push_back({{"preview", "--page", "p.html", "10001", "--client-number=93015"}, preview});
  Options viewer;
  viewer.command = "viewer";
  viewer.routeHost = RouteHost();
  viewer.dir = "/data/10001的相册";
  cases.push_back({{"viewer", "/data/10001的相册"}, viewer});
  viewer.dir = "-odd";
  cases.push_back({{"viewer", "--", "-odd"}, viewer});

  for (const Case& c : cases) {
    const ParseResult r = Parse(c.args);
    EXPECT_TRUE(r.Run()) << Joined(c.args) << r.error;
    EXPECT_EQ(r.error, "") << Joined(c.args);
    EXPECT_EQ(Fields(r.options), Fields(c.expected)) << Joined(c.args);
  }
}

TEST(Options, BadUsageIsExitTwoWithAMessageThatNamesTheSlip) {
  struct Case {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{}, "no command given"},
      {{"frobnicate", "10001"}, "unknown command: frobnicate\n"},
      {{"downlaod", "10001"}, "unknown command: downlaod (did you mean download?)"},
      {{"download", "10001", "--jbos", "4"}, "unknown option for download: --jbos (did you mean --jobs?)"},
      {{"download", "10001", "--retires=2"}, "--retires=2 (did you mean --retries?)"},
      {{"download", "10001", "--no-such-option"}, "unknown option for download: --no-such-option\n"},
      {{"download", "10001", "-x"}, "unknown option for download: -x\n"},
      {{"preview", "10001", "--jobs", "2"}, "unknown option for preview: --jobs (an option of download)"},
      {{"preview", "10001", "-q"}, "unknown option for preview: -q"},
      {{"--jobs", "4", "download", "10001"}, "unknown option: --jobs (an option of download)"},
      {{"download", "10001", "--cook", "x"},
       "option --cook is ambiguous for download: --cookies, --cookies-out"},
      {{"download", "10001", "--jobs"}, "--jobs needs a value"},
      {{"download", "10001", "-j"}, "-j needs a value"},
      {{"download", "10001", "--quiet=yes"}, "--quiet takes no value: --quiet=yes"},
      {{"download", "10001", "--jobs=0"}, "--jobs takes a whole number from 1 to 32"},
      {{"download", "10001", "-j", "-1"}, "--jobs takes a whole number from 1 to 32"},
      {{"download", "10001", "--jobs", "--to", "d"}, "--jobs takes a whole number"},  // never skips a value
      {{"download", "10001", "--retries=1.5"}, "--retries takes a whole number from 0 to 100"},
      {{"download", "10001", "--rate", "5x"}, "--rate takes bytes per second"},
      {{"download", "10001", "--max-photo-size", "65g"}, "--max-photo-size takes a size"},
      {{"preview", "10001", "--client-number", "x"}, "--client-number takes a whole number"},
      {{"preview", "10001", "10002"}, "unexpected argument: 10002"},
      {{"download", "10001", "10002", "--album", "5"}, "--album and --skip name the albums of one account"},
      {{"download", "10001", "1234"}, "not a valid QQ number: at least 5 digits, digits only: 1234"},
      {{"download"}, "no QQ number given"},
      {{"download", ""}, "empty QQ number"},
      {{"download", "10001", "--keep-deleted"}, "--keep-deleted needs --update"},
      {{"download", "1234"}, "lorvanta-cli: not a valid QQ number: at least 5 digits, digits only\n"},
      {{"viewer"}, "no folder given"},
      {{"viewer", "a", "b"}, "unexpected argument: b"},
      {{"help", "frob"}, "help: unknown command: frob"},
      {{"help", "download", "preview"}, "unexpected argument preview"},
      // the first slip is the one told
      {{"download", "10001", "--jobs=0", "--rate=1"}, "--jobs takes"},
  };
  for (const Case& c : cases) {
    const ParseResult r = Parse(c.args);
    EXPECT_EQ(r.exitCode, kExitUsage) << Joined(c.args);
    EXPECT_EQ(r.out, "") << Joined(c.args);
    EXPECT_NE(r.error.find(c.says), std::string::npos) << Joined(c.args) << "\n" << r.error;
    EXPECT_EQ(r.error.rfind("lorvanta-cli: ", 0), 0u) << r.error;
  }
  // A bad QQ number is not a slip of usage that help would explain.
  EXPECT_EQ(Parse({"download", "1234"}).error.find("--help"), std::string::npos);
  EXPECT_NE(Parse({"download", "10001", "--jbos"}).error.find("(try lorvanta-cli download --help)"),
            std::string::npos);
}

// The config file: every key lands where its option does and the command line wins over it; a bad line or
// an unknown key is exit 2 naming the file and the line.
TEST(Options, ConfigFileKeysAndTheirErrors) {
  TestFolder dir;
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  int files = 0;
  const auto write = [&](const std::string& text) {
    const std::string path = (dir.Dir() / ("c" + std::to_string(files++) + ".conf")).string();
    std::ofstream(path) << text;
    return path;
  };
  const std::string every = write(
      "# every key a standing choice may have\n"
      "to = ~/Pictures\njobs = 4\nupdate = true\nretries = 2\nrate = 2M\ncookies = ~/c.txt\n"
      "route-host = 127.0.0.1:9\n  accounts = 10001, 10002 10001\nservice = classic\nsite-host = http://h:1\n"
      "max-requests-per-minute = 10\nnotify = always\nkeep-deleted = yes\nwrite-metadata = false\n"
      "; another comment\n\n");
  ParseResult r = Parse({"backup", "--config", every});
  ASSERT_TRUE(r.Run()) << r.error;
  const Options& o = r.options;
  EXPECT_EQ(o.to, home + "/Pictures");
  EXPECT_EQ(o.cookiesIn, home + "/c.txt");
  EXPECT_EQ(o.qqs, (std::vector<std::string>{"10001", "10002"}));
  EXPECT_EQ(o.qq, "10001");
  EXPECT_EQ(std::make_tuple(o.jobs, o.update, o.retries, o.rate, o.keepDeleted, o.writeMetadata),
            std::make_tuple(4, true, 2, 2LL * 1024 * 1024, true, false));
  EXPECT_EQ(std::make_tuple(o.routeHost, o.service, o.siteHost, o.maxRequestsPerMinute, o.notify, o.config),
            std::make_tuple(std::string("127.0.0.1:9"), std::string("classic"), std::string("http://h:1"), 10,
                            std::string("always"), every));

  // The command line wins; operands stand for the accounts.
  r = Parse({"download", "10003", "--config=" + every, "--jobs", "2", "--to", "/x"});
  ASSERT_TRUE(r.Run()) << r.error;
  EXPECT_EQ(r.options.qqs, std::vector<std::string>{"10003"});
  EXPECT_EQ(std::make_tuple(r.options.jobs, r.options.to, r.options.update), std::make_tuple(2, "/x", true));
  // A command takes the keys that are its options and leaves the others' alone.
  r = Parse({"preview", "10001", "--conf", every});
  ASSERT_TRUE(r.Run()) << r.error;
  EXPECT_EQ(std::make_tuple(r.options.routeHost, r.options.jobs), std::make_tuple("127.0.0.1:9", 1));

  const std::pair<std::string, std::string> bad[] = {
      {"jobs = 99\n", ":1: --jobs takes a whole number from 1 to 32"},
      {"# c\ntto = x\n", ":2: unknown key tto (did you mean to?)"},
      {"update\n", ":1: not a \"key = value\" line: update"},
      {"[main]\nto = x\n", ":1: sections are not used"},
      {"to = x\nupdate = maybe\n", ":2: update takes true or false, not maybe"},
      {"accounts = 10001 12a\n", ":1: accounts: not a valid QQ number: 12a"},
      {"album = 5\n", ":1: unknown key album"},  // one run's choice, not a standing one
      {"notify = sometimes\n", ":1: --notify takes never, failures or always"},
  };
  for (const auto& [text, says] : bad) {
    const std::string path = write(text);
    r = Parse({"backup", "10001", "--config", path});
    EXPECT_EQ(r.exitCode, kExitUsage) << text;
    EXPECT_NE(r.error.find("lorvanta-cli: " + path + says), std::string::npos) << text << r.error;
  }
  r = Parse({"backup", "--config", (dir.Dir() / "none.conf").string()});
  EXPECT_NE(r.error.find("none.conf: cannot be read"), std::string::npos) << r.error;
  r = Parse({"backup", "--config", write("# nothing\n")});
  EXPECT_NE(r.error.find("no accounts to back up"), std::string::npos) << r.error;
}

TEST(Options, HelpAndVersionWinAndHelpNamesTheCommand) {
  const std::string version = std::string("lorvanta-cli ") + LORVANTA_VERSION + "\n";
  struct Case {
    std::vector<std::string> args;
    std::string has, hasNot;
  } cases[] = {
      {{"--help"}, "lorvanta-cli viewer DIR", ""},
      {{"-h"}, "exit codes:", ""},
      {{"help"}, "--no-viewer", ""},
      {{"help", "download"}, "--no-viewer", "preview QQ"},
      {{"download", "--help"}, "-j, --jobs N", "preview QQ"},
      {{"preview", "-h"}, "--page FILE", "--jobs"},
      {{"help", "viewer"}, "Rebuilds the offline viewer", "--jobs"},
      {{"download", "10001", "--jobs", "0", "--help"}, "usage: lorvanta-cli download", ""},
      {{"download", "--no-such", "-h"}, "usage: lorvanta-cli download", ""},
      {{"-V"}, version, "usage"},
      {{"--version"}, version, "usage"},
      {{"download", "10001", "--version"}, version, "usage"},
  };
  for (const Case& c : cases) {
    const ParseResult r = Parse(c.args);
    EXPECT_EQ(r.exitCode, kExitOk) << Joined(c.args) << r.error;
    EXPECT_EQ(r.error, "") << Joined(c.args);
    EXPECT_NE(r.out.find(c.has), std::string::npos) << Joined(c.args) << "\n" << r.out;
    if (!c.hasNot.empty()) {
      EXPECT_EQ(r.out.find(c.hasNot), std::string::npos) << Joined(c.args);
    }
  }
  EXPECT_EQ(Parse({"--version"}).out, version);
  EXPECT_EQ(Parse({"help", "download"}).out, Parse({"download", "--help"}).out);
}

TEST(Options, EditDistanceCountsInsertionsDeletionsAndSubstitutions) {
  struct Case {
    const char *a, *b;
    int distance;
  } cases[] = {{"", "", 0},
               {"", "jobs", 4},
               {"jobs", "jobs", 0},
               {"jobs", "jbos", 2},
               {"kitten", "sitting", 3},
               {"quiet", "quit", 1},
               {"update", "updates", 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(EditDistance(c.a, c.b), c.distance) << c.a << " " << c.b;
    EXPECT_EQ(EditDistance(c.b, c.a), c.distance) << c.b << " " << c.a;
  }
}

struct CliRun {
  int code = -1;
  std::string out;
};

// The real program with stdout and stderr together.
CliRun Cli(const std::string& args) {
  CliRun r;
  FILE* p = popen((std::string(LORVANTA_CLI) + " " + args + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(OptionsProgram, PrintsAndExitsAsTheParserSays) {
  const CliRun help = Cli("help download");
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out, Parse({"help", "download"}).out);
  const CliRun version = Cli("-V");
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, std::string("lorvanta-cli ") + LORVANTA_VERSION + "\n");
  const CliRun slip = Cli("download 10001 --jbos 4");
  EXPECT_EQ(slip.code, 2);
  EXPECT_EQ(slip.out, Parse({"download", "10001", "--jbos", "4"}).error);
}

TEST(OptionsProgram, ShortFormsDownloadAgainstTheAlbumService) {
  const auto albumd = AlbumdProcess::Start();
  TestFolder sandbox;
  const fs::path to = sandbox.Dir() / "short";
  const CliRun r = Cli("download -qj2 --album=1001 -o " + to.string() +
                       " --route-host=" + albumd->HostPort() + " -- 10001");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out, "") << "-q keeps it quiet";
  EXPECT_TRUE(fs::is_regular_file(to / "10001的相册" / "春节回家" / "年夜饭.JPG"));
}

}  // namespace

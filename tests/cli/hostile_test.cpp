// lorvanta-cli against a hostile album service and a hostile disk: every case ends with the truth in the
// exit code, the summary and the files, and a reason for every failure.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/rootlock.h"
#include "json/qzjson.h"
#include "tests/support/chromiumpipe.h"
#include "tests/support/testfolder.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct CliRun {
  int code = -1;
  std::string out, err;
  double seconds = 0;
};

// Runs lorvanta-cli with args and extra environment; stdout and stderr apart. interruptAfterMs >= 0 sends
// SIGINT that long after the start. A run still going after 60 s is killed (code -1): a hang, not a pass.
CliRun Cli(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
           int interruptAfterMs = -1) {
  CliRun r;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return r;
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]), close(out[1]), close(err[0]), close(err[1]);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(LORVANTA_CLI)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(LORVANTA_CLI, argv.data());
    _exit(127);
  }
  close(out[1]), close(err[1]);
  bool interrupted = false;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  char buf[4096];
  while (open > 0) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (interruptAfterMs >= 0 && !interrupted && elapsed * 1000 >= interruptAfterMs) {
      kill(pid, SIGINT);
      interrupted = true;
    }
    if (elapsed > 60) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, 50) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Image(const std::string& name) {
  return Slurp(fs::path(DefaultDataDir()) / "images" / name);
}

// Every entry below root, relative path -> bytes ("/" at the end for folders); hidden files left out.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  if (!fs::is_directory(root)) return files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).string();
    if (e.path().filename().string()[0] == '.' || IsViewerPath(rel)) continue;
    files[e.is_directory() ? rel + "/" : rel] = e.is_regular_file() ? Slurp(e.path()) : "";
  }
  return files;
}

std::unique_ptr<TqzJSONbase> Json(const std::string& text) {
  return TqzJSON::ParseValue(text);
}

double Number(const TqzJSONbase* node, const char16_t* field) {
  const auto* o = dynamic_cast<const TqzJSONobject*>(node);
  const auto* n = o ? dynamic_cast<const TqzJSONnumber*>(o->FieldByName(field)) : nullptr;
  return n ? static_cast<double>(n->Value()) : -1;
}

std::string Text(const TqzJSONbase* node, const char16_t* field) {
  const auto* o = dynamic_cast<const TqzJSONobject*>(node);
  const TqzJSONbase* t = o ? o->FieldByName(field) : nullptr;
  return t ? VariantText(t->AsVariant()) : "";
}

const TqzJSONbase* Album(const TqzJSONbase* summary, size_t n) {
  const auto* o = dynamic_cast<const TqzJSONobject*>(summary);
  const auto* list = o ? dynamic_cast<const TqzJSONlist*>(o->FieldByName(u"albums")) : nullptr;
  return list && n < static_cast<size_t>(list->ItemCount()) ? list->ItemAt(static_cast<int>(n)) : nullptr;
}

class HostileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }
  void SetUp() override { dir_ = sandbox_.Dir(); }

  std::vector<std::string> Download(const std::string& qq, std::vector<std::string> more = {}) const {
    std::vector<std::string> a{"download", qq, "--to", dir_.string(), "--route-host", albumd_->HostPort()};
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
  fs::path Root(const std::string& qq) const { return dir_ / (qq + "的相册"); }

  static AlbumdProcess* albumd_;
  TestFolder sandbox_;
  fs::path dir_;
};
AlbumdProcess* HostileTest::albumd_ = nullptr;

// Bytes beyond a reply's Content-Length on a kept-alive connection (here a whole second reply carrying
// another image) must never be read as the answer to the next address.
TEST_F(HostileTest, BytesPastAReplyNeverBecomeAnotherPhoto) {
  const std::map<std::string, std::string> images = {{"花园.JPG", "garden.jpg"},
                                                     {"石头.PNG", "stones.png"},
                                                     {"草地.JPG", "meadow.jpg"},
                                                     {"太阳.GIF", "sun.gif"},
                                                     {"叶子.PNG", "leaf.png"}};
  for (int run = 0; run < 4; ++run) {
    fs::remove_all(Root("10046"));
    const CliRun r = Cli(Download("10046", {"--jobs", "1", "--json"}));
    const auto summary = Json(r.out);
    ASSERT_NE(summary, nullptr) << r.out << r.err;
    const auto tree = Tree(Root("10046") / "多出来的回复");
    for (const auto& [file, bytes] : tree) {
      ASSERT_TRUE(images.count(file)) << file;
      EXPECT_EQ(bytes, Image(images.at(file))) << "run " << run << ": " << file << " holds other bytes";
    }
    // The photos around the broken one all arrive, on a fresh connection.
    for (const char* file : {"花园.JPG", "草地.JPG", "太阳.GIF", "叶子.PNG"})
      EXPECT_TRUE(tree.count(file)) << file;
    EXPECT_EQ(Number(summary.get(), u"photosOk"), static_cast<double>(tree.size()));
    EXPECT_EQ(r.code, tree.size() == 5 ? 0 : 1) << r.err;
  }
}

TEST_F(HostileTest, EndlessAndHugeRepliesFailAtTheCapAndLeaveNoFile) {
  struct Case {
    const char* qq;
    std::vector<std::string> more;
  } cases[] = {
      {"10048", {"--max-photo-size", "1m"}},  // chunked without end: stopped at 1 MiB
      {"10049", {}},                          // 10 GiB announced: refused before any byte is written
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.more;
    args.push_back("--json");
    const CliRun r = Cli(Download(c.qq, args));
    EXPECT_EQ(r.code, 1) << c.qq << r.err;
    const auto summary = Json(r.out);
    ASSERT_NE(summary, nullptr) << r.out;
    EXPECT_EQ(Number(summary.get(), u"photosOk"), 2) << c.qq;
    EXPECT_EQ(Number(summary.get(), u"photosFailed"), 1) << c.qq;
    EXPECT_NE(r.out.find("\"too-large\":1"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("larger than"), std::string::npos) << r.err;
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(Root(c.qq)))
      files += e.is_regular_file() && !IsViewerPath(fs::relative(e.path(), Root(c.qq))) ? 1 : 0;
    EXPECT_EQ(files, 2u) << c.qq << ": a partial or temporary file was left";
  }
  EXPECT_EQ(Cli(Download("10048", {"--max-photo-size", "12"})).code, 2);
}

TEST_F(HostileTest, AnInterruptEndsAStalledAlbumListAtOnce) {
  const CliRun r = Cli(Download("10050"), {}, 1000);
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
  EXPECT_LT(r.seconds, 20) << "the run waited for the stalled list";
  EXPECT_FALSE(fs::exists(Root("10050")));
}

TEST_F(HostileTest, AlbumsThatCannotBeSavedAreFailuresWithTheirReason) {
  // A photo list with a byte that is no GBK: that album failed, the others are whole.
  CliRun r = Cli(Download("10051", {"--json"}));
  EXPECT_EQ(r.code, 1) << r.err;
  auto summary = Json(r.out);
  ASSERT_NE(summary, nullptr) << r.out;
  EXPECT_EQ(Number(summary.get(), u"albumsOk"), 2);
  EXPECT_EQ(Number(summary.get(), u"albumsFailed"), 1);
  EXPECT_EQ(Text(Album(summary.get(), 1), u"state"), "failed");
  EXPECT_NE(Text(Album(summary.get(), 1), u"reason").find("cannot be read"), std::string::npos);
  EXPECT_NE(r.err.find("乱码相册"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Root("10051") / "乱码相册")) << "an empty folder for an album never saved";
  EXPECT_EQ(r.err.find("parser error"), std::string::npos) << "libxml2 printed: " << r.err;
  EXPECT_EQ(r.err.find("encoding error"), std::string::npos) << r.err;

  // An album root that is a file: nothing can be saved, and every album says so.
  fs::remove_all(Root("10001"));
  std::ofstream(Root("10001")) << "a file, not a folder";
  r = Cli(Download("10001", {"--json"}));
  EXPECT_EQ(r.code, 1) << r.err;
  summary = Json(r.out);
  ASSERT_NE(summary, nullptr) << r.out;
  EXPECT_EQ(Number(summary.get(), u"albumsOk"), 0);
  EXPECT_EQ(Number(summary.get(), u"albumsFailed"), 6);
  EXPECT_EQ(Text(Album(summary.get(), 0), u"state"), "abandoned");
  EXPECT_NE(r.err.find("cannot create the folder"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(Root("10001")), "a file, not a folder");
}

// "|" inside ids and names: every album keeps its own fields and its own photos.
TEST_F(HostileTest, BarsInIdsAndNamesStayInTheirField) {
  CliRun r = Cli(Download("10052"));
  EXPECT_EQ(r.code, 0) << r.err;
  const std::map<std::string, std::string> expected = {
      {"普通/", ""},
      {"普通/花园.JPG", Image("garden.jpg")},
      {"普通/太阳.GIF", Image("sun.gif")},
      {"竖线0相册/", ""},
      {"竖线0相册/石头.PNG", Image("stones.png")},
      {"竖线0相册/叶子.PNG", Image("leaf.png")},
      {"a0b0c/", ""},
      {"a0b0c/草地.JPG", Image("meadow.jpg")},
  };
  EXPECT_EQ(Tree(Root("10052")), expected);
  EXPECT_TRUE(
      albumd_->WaitForLogLine("/cgi-bin/common/cgi_view_album uin=10052&refer=portal&albumid=g%7Ch 200"));

  fs::remove_all(dir_);
  r = Cli(Download("10052", {"--album", "g|h", "--json"}));
  EXPECT_EQ(r.code, 0) << r.err;
  const auto summary = Json(r.out);
  ASSERT_NE(summary, nullptr) << r.out;
  EXPECT_EQ(Text(Album(summary.get(), 1), u"id"), "g|h");
  EXPECT_EQ(Text(Album(summary.get(), 1), u"name"), "竖线|相册");
  EXPECT_EQ(Text(Album(summary.get(), 1), u"state"), "done");
  EXPECT_EQ(Text(Album(summary.get(), 0), u"state"), "skipped");
  EXPECT_EQ(Tree(Root("10052")).size(), 3u);
}

TEST_F(HostileTest, HostileCharactersReachNeitherFileNamesNorTheTerminal) {
  const CliRun r = Cli(Download("10053"));
  EXPECT_EQ(r.code, 0) << r.err;
  const std::set<std::string> names = {"换行0相册/", "换行0相册/控制0[31m红.JPG", "换行0相册/gpj.exe0abc.PNG",
                                       "换行0相册/0左00右00首0.GIF", "换行0相册/0开头.PNG"};
  std::set<std::string> seen;
  for (const auto& [name, bytes] : Tree(Root("10053"))) seen.insert(name);
  EXPECT_EQ(seen, names);
  for (const std::string& text : {r.out, r.err}) {
    for (const std::string bad : {"\x1b", "\xc2\x9b", "\xe2\x80\xae", "\xe2\x81\xa6", "\xef\xbb\xbf", "\t"})
      EXPECT_EQ(text.find(bad), std::string::npos) << text;
  }
  // Lines are whole: the line feed of the album name does not start a line of its own.
  EXPECT_NE(r.out.find("album 0 换行\\x0a相册: 4 of 4 photos"), std::string::npos) << r.out;
}

// The copy's viewer in a browser without a network: names with markup, quotes, line feeds and controls are
// text on every page, nothing of them becomes an element or a script, and every picture loads.
TEST_F(HostileTest, TheViewerShowsHostileNamesAsTextAndRunsNoneOfThem) {
  const std::string chromium = FindChromium();
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
  ChromiumPipe browser(chromium, (dir_ / "profile").string(), kNoNetwork);
  // Elements the names would make if they were markup, and scripts other than the viewer's own.
  const std::string injected =
      "String(document.querySelectorAll('table,td,b,script:not([src$=\"viewer.js\"])').length)";
  for (const auto& [qq, albums] : {std::pair{"10043", 6}, std::pair{"10053", 1}}) {
    ASSERT_EQ(Cli(Download(qq, {"--quiet"})).code, 0);
    const std::string viewer = (Root(qq) / ".lorvanta-viewer").string() + "/";
    std::vector<std::string> pages{FileUrl((Root(qq) / "index.html").string())};
    for (int n = 1; n <= albums; ++n) {
      const std::string page = FileUrl(viewer + "album-000" + std::to_string(n) + ".html");
      pages.push_back(page);
      pages.push_back(page + "#p1");
    }
    for (const std::string& page : pages) {
      browser.LoadTimes(page);
      EXPECT_EQ(browser.Evaluate(injected), "0") << page;
      const std::string pictures = browser.Pictures();  // "shown broken away"
      EXPECT_TRUE(pictures[0] != '0' && pictures.ends_with(" 0 0")) << page << ": " << pictures;
    }
  }
  // Every name of the markup account is on the entry page as the service sent it.
  browser.LoadTimes(FileUrl((Root("10043") / "index.html").string()));
  EXPECT_EQ(
      browser.Evaluate("String(['<script>alert(1)</script>','say \"hi\"','it'+String.fromCharCode(39)+'s',"
                       "'a&b&amp;c','</td></table><b>粗</b>','\");alert(\"x'].filter(function(n){"
                       "return document.body.textContent.includes(n);}).length)"),
      "6");
}

// Names beyond the Basic Multilingual Plane go into the manifests and come back out of them.
TEST_F(HostileTest, UpdateReadsBackItsOwnManifestsWithAstralNames) {
  for (const char* qq : {"10054", "10045"}) {
    CliRun r = Cli(Download(qq, {"--update", "--json"}));
    ASSERT_EQ(r.code, 0) << qq << r.err;
    r = Cli(Download(qq, {"--update", "--json"}));
    EXPECT_EQ(r.code, 0) << qq << r.err;
    const auto summary = Json(r.out);
    ASSERT_NE(summary, nullptr) << r.out;
    EXPECT_EQ(Number(summary.get(), u"photosOk"), 0) << qq;
    EXPECT_GE(Number(summary.get(), u"photosPresent"), 2) << qq;
  }
  EXPECT_TRUE(fs::exists(Root("10054") / "春游😀" / "𠀀古字.PNG"));
}

TEST_F(HostileTest, AnUnknownAlbumIdChangesNothing) {
  fs::create_directories(Root("10001"));
  std::ofstream(Root("10001") / "mine.txt") << "keep";
  const CliRun r = Cli(Download("10001", {"--album", "999999", "--album", "1001"}));
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("999999"), std::string::npos) << r.err;
  EXPECT_EQ(Tree(dir_),
            (std::map<std::string, std::string>{{"10001的相册/", ""}, {"10001的相册/mine.txt", "keep"}}));
  // An unknown --skip is only a warning.
  const CliRun skip = Cli(Download("10001", {"--skip", "999999", "--quiet"}));
  EXPECT_EQ(skip.code, 1);  // the demo's empty album fails as always
  EXPECT_NE(skip.err.find("warning: --skip 999999"), std::string::npos) << skip.err;
  // A --to folder that does not exist yet is not made for a run that is refused.
  const CliRun fresh = Cli({"download", "10001", "--to", (dir_ / "new").string(), "--route-host",
                            albumd_->HostPort(), "--album", "999999"});
  EXPECT_EQ(fresh.code, 2);
  EXPECT_FALSE(fs::exists(dir_ / "new"));
}

TEST_F(HostileTest, AFullDiskIsNamedAndNeverCountedAsSaved) {
  const std::map<std::string, std::string> env = {
      {"LD_PRELOAD", LORVANTA_FULLDISK},
      {"LORVANTA_TEST_FULL_DIR", dir_.string()},
      {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0"}};
  // A plain download: every photo fails with the reason, once each.
  CliRun r = Cli(Download("10001", {"--json"}), env);
  EXPECT_EQ(r.code, 1) << r.err;
  auto summary = Json(r.out);
  ASSERT_NE(summary, nullptr) << r.out << r.err;
  EXPECT_EQ(Number(summary.get(), u"photosOk"), 0);
  EXPECT_EQ(Number(summary.get(), u"photosFailed"), 19);
  EXPECT_NE(r.out.find("\"no-space\":19"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
  for (const auto& e : fs::recursive_directory_iterator(dir_)) EXPECT_FALSE(e.is_regular_file()) << e.path();

  // Updating: the manifests cannot be written, so no album counts as saved.
  fs::remove_all(Root("10001"));
  r = Cli(Download("10001", {"--update", "--json"}), env);
  EXPECT_EQ(r.code, 1) << r.err;
  summary = Json(r.out);
  ASSERT_NE(summary, nullptr) << r.out;
  EXPECT_EQ(Number(summary.get(), u"albumsOk"), 0);
  EXPECT_EQ(Number(summary.get(), u"albumsFailed"), 6);
  EXPECT_EQ(Text(Album(summary.get(), 0), u"state"), "abandoned");
  EXPECT_NE(Text(Album(summary.get(), 0), u"reason").find("No space left on device"), std::string::npos);
}

TEST_F(HostileTest, OutputThatCannotBeWrittenIsAnError) {
  CliRun r = Cli({"preview", "10001", "--route-host", albumd_->HostPort(), "--page",
                  (dir_ / "no/such/page.html").string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
  if (fs::exists("/dev/full")) {
    const std::string cmd = std::string(LORVANTA_CLI) + " preview 10001 --json --route-host " +
                            albumd_->HostPort() + " >/dev/full 2>/dev/null";
    const int status = std::system(cmd.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
  }
}

TEST_F(HostileTest, ReplyFoldersOfKilledRunsAreRemoved) {
  fs::create_directories(dir_ / "tmp" / "lorvanta-cli-999999-abcdef");  // a run that is gone
  const std::string alive = "lorvanta-cli-" + std::to_string(::getpid()) + "-abcdef";
  fs::create_directories(dir_ / "tmp" / alive);                 // one still running
  fs::create_directories(dir_ / "tmp" / "lorvanta-cli-other");  // not ours to judge
  const CliRun r =
      Cli({"preview", "10001", "--route-host", albumd_->HostPort()}, {{"TMPDIR", (dir_ / "tmp").string()}});
  EXPECT_EQ(r.code, 0) << r.err;
  std::set<std::string> left;
  for (const auto& e : fs::directory_iterator(dir_ / "tmp")) left.insert(e.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{alive, "lorvanta-cli-other"}));
}

}  // namespace

// A real USB stick: exFAT through FUSE on a loop device, as a desktop mounts one. It compares names
// without case and refuses a double quote. Needs root, loop devices, FUSE and exfatprogs + exfat-fuse.
class ExfatStick {
 public:
  explicit ExfatStick(const fs::path& scratch) : image_(scratch / "stick.img"), mount_(scratch / "stick") {
    if (geteuid() != 0) {
      why_ = "needs root for a loop device";
      return;
    }
    if (!fs::exists("/dev/fuse") ||
        std::system("command -v mkfs.exfat mount.exfat-fuse losetup >/dev/null") != 0) {
      why_ = "needs /dev/fuse, exfatprogs and exfat-fuse";
      return;
    }
    fs::create_directories(mount_);
    const std::string make = "truncate -s 48M '" + image_.string() + "' && mkfs.exfat '" + image_.string() +
                             "' >/dev/null 2>&1 && losetup -f --show '" + image_.string() + "'";
    std::FILE* p = popen(make.c_str(), "r");
    char line[128] = {};
    if (p == nullptr || std::fgets(line, sizeof line, p) == nullptr) {
      if (p) pclose(p);
      why_ = "no free loop device";
      return;
    }
    pclose(p);
    loop_ = line;
    while (!loop_.empty() && (loop_.back() == '\n' || loop_.back() == ' ')) loop_.pop_back();
    if (std::system(("mount.exfat-fuse '" + loop_ + "' '" + mount_.string() + "' >/dev/null 2>&1").c_str()) !=
        0)
      why_ = "mount.exfat-fuse failed on " + loop_;
    else
      mounted_ = true;
  }
  ~ExfatStick() {
    if (mounted_) (void)std::system(("umount '" + mount_.string() + "'").c_str());
    if (!loop_.empty()) (void)std::system(("losetup -d '" + loop_ + "'").c_str());
  }
  const std::string& Unusable() const { return why_; }
  const fs::path& Path() const { return mount_; }

 private:
  fs::path image_, mount_;
  std::string loop_, why_;
  bool mounted_ = false;
};

// Names that differ only in case, names a stick refuses, and an update of such a copy: every listed photo
// is a file of its own, none is counted that is not there, and an update finds the copy again.
TEST_F(HostileTest, OnAStickEveryPhotoKeepsAFileOfItsOwnAndAnUpdateFindsThemAgain) {
  ExfatStick stick(dir_);
  if (!stick.Unusable().empty()) GTEST_SKIP() << "no exFAT stick: " << stick.Unusable();
  const fs::path to = stick.Path();
  auto download = [&](const std::string& qq, std::vector<std::string> more) {
    std::vector<std::string> a{"download",          qq,       "--to",       to.string(), "--route-host",
                               albumd_->HostPort(), "--json", "--no-viewer"};
    a.insert(a.end(), more.begin(), more.end());
    return Cli(a);
  };
  struct Case {
    std::string qq;
    int photos;
    std::set<std::string> files;
  } cases[] = {
      {"10070", 5, {"Trip/Photo.JPG", "Trip/photo_", "Trip/PHOTO_", "trip_", "trip_"}},
      {"10071",
       6,
       {"say00hi0/a00quoted00name.JPG", "say00hi0/CON_.PNG", "say00hi0/nul_.txt.JPG", "say00hi0/Lpt1_.GIF",
        "点点000/com9_.PNG", "aux_/普通.JPG"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.qq);
    CliRun r = download(c.qq, {});
    EXPECT_EQ(r.code, 0) << r.err;
    auto summary = Json(r.out);
    ASSERT_NE(summary, nullptr) << r.out << r.err;
    EXPECT_EQ(Number(summary.get(), u"photosOk"), c.photos);
    const auto tree = Tree(to / (c.qq + "的相册"));
    std::vector<std::string> files;
    for (const auto& [path, bytes] : tree) {
      if (path.back() != '/') files.push_back(path);
    }
    ASSERT_EQ(files.size(), static_cast<size_t>(c.photos));
    for (const std::string& want : c.files) {
      EXPECT_TRUE(std::any_of(files.begin(), files.end(), [&](const std::string& f) {
        return f.rfind(want, 0) == 0;
      })) << want;
    }
    // Adopted by an update: nothing fetched again, nothing new beside it.
    r = download(c.qq, {"--update"});
    EXPECT_EQ(r.code, 0) << r.err;
    summary = Json(r.out);
    ASSERT_NE(summary, nullptr) << r.out << r.err;
    EXPECT_EQ(Number(summary.get(), u"photosOk"), 0) << r.out;
    EXPECT_EQ(Number(summary.get(), u"photosPresent"), c.photos);
    EXPECT_EQ(Tree(to / (c.qq + "的相册")), tree);
  }
  // A photo deleted from album "trip" comes back into its own folder, and album "Trip" keeps records of
  // its own photos only.
  const fs::path root = to / "10070的相册";
  fs::path gone;
  for (const auto& e : fs::directory_iterator(root)) {
    if (e.path().filename().string().rfind("trip_", 0) == 0) gone = e.path() / "Ärger.JPG";
  }
  ASSERT_TRUE(fs::remove(gone)) << gone;
  CliRun r = download("10070", {"--update"});
  EXPECT_EQ(r.code, 0) << r.err;
  auto summary = Json(r.out);
  ASSERT_NE(summary, nullptr) << r.out;
  EXPECT_EQ(Number(summary.get(), u"photosOk"), 1);
  EXPECT_TRUE(fs::is_regular_file(gone));
  const std::string tripRecords = Slurp(root / "Trip" / ".lorvanta-album.json");
  EXPECT_NE(tripRecords.find("\"id\":\"1\""), std::string::npos) << tripRecords;
  EXPECT_EQ(tripRecords.find("rger"), std::string::npos) << tripRecords;
  r = Cli({"verify", root.string()});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
}

// Starts lorvanta-cli without waiting for it; its output is dropped.
pid_t StartCli(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv{const_cast<char*>(LORVANTA_CLI)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(LORVANTA_CLI, argv.data());
    _exit(127);
  }
  return pid;
}

// Two runs into one album root: the second ends at once, names the first and moves nothing aside; once
// the first is killed, its lock is taken over without a hand, and an update finishes its copy.
TEST_F(HostileTest, ASecondRunOnOneAlbumRootIsRefusedAndAKilledRunsLockIsTakenOver) {
  AlbumdProcess::Options slow;
  slow.latencyMs = 100;
  auto albumd = AlbumdProcess::Start(slow);
  const std::vector<std::string> args{"download",         "10073",      "--to", dir_.string(), "--route-host",
                                      albumd->HostPort(), "--no-viewer"};
  const pid_t first = StartCli(args);
  ASSERT_GT(first, 0);
  const fs::path root = Root("10073");
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline &&
         (!fs::is_directory(root / "生成相册1") || fs::is_empty(root / "生成相册1")))
    usleep(20000);
  ASSERT_FALSE(fs::is_empty(root / "生成相册1"));

  CliRun second = Cli(args);
  EXPECT_EQ(second.code, 5) << second.err;
  EXPECT_NE(second.err.find("process " + std::to_string(first)), std::string::npos) << second.err;
  for (const auto& e : fs::directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().find("_BAK_"), std::string::npos) << e.path();
  // A check would see the copy in the middle of its changes: it waits its turn too.
  EXPECT_EQ(Cli({"verify", (root / "生成相册1").string()}).code, 5);

  kill(first, SIGKILL);
  int status = 0;
  waitpid(first, &status, 0);
  const size_t before = Tree(root).size();
  CliRun update = Cli({"download", "10073", "--to", dir_.string(), "--route-host", albumd->HostPort(),
                       "--no-viewer", "--update", "--jobs", "4"});
  EXPECT_EQ(update.code, 0) << update.err;
  EXPECT_EQ(Tree(root).size(), 37u) << before;  // the album's folder and its 36 photos
  EXPECT_FALSE(fs::exists(AlbumRootLock::PathFor(root.string())));
}

// Albums that come out short are named with both numbers.
TEST_F(HostileTest, AnAlbumThatComesOutShortIsCalledIncomplete) {
  CliRun r = Cli(Download("10072", {"--json"}));
  EXPECT_EQ(r.code, 1) << r.err;
  auto summary = Json(r.out);
  ASSERT_NE(summary, nullptr) << r.out;
  EXPECT_EQ(Number(summary.get(), u"albumsIncomplete"), 2);
  EXPECT_EQ(Number(Album(summary.get(), 0), u"photosListed"), 3);
  EXPECT_EQ(Number(Album(summary.get(), 0), u"photosSaved"), 3);
  EXPECT_EQ(Number(Album(summary.get(), 1), u"photosSaved"), 2);
  fs::remove_all(Root("10072"));
  r = Cli(Download("10072"));
  EXPECT_NE(
      r.out.find("incomplete: album 0 \"少了两张\": its photo list holds 3 of the 5 photos the album lists"),
      std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("incomplete: album 1 \"有一张坏了\": 2 of 3 listed photos saved"), std::string::npos)
      << r.out;
}

// A real disk that fills up (a small tmpfs): what the summary counts is exactly what is on it, every file
// there is whole, and every photo that did not fit is named with the reason.
TEST_F(HostileTest, OnADiskThatFillsUpEveryCountedPhotoIsThereWhole) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs";
  const fs::path disk = dir_ / "small";
  fs::create_directories(disk);
  if (std::system(("mount -t tmpfs -o size=40k tmpfs '" + disk.string() + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  CliRun r = Cli({"download", "10001", "--to", disk.string(), "--route-host", albumd_->HostPort(), "--json",
                  "--no-viewer"});
  int whole = 0;
  std::map<std::string, std::string> images;
  for (const auto& e : fs::directory_iterator(fs::path(DefaultDataDir()) / "images"))
    images[Slurp(e.path())] = e.path().filename().string();
  for (const auto& e : fs::recursive_directory_iterator(disk / "10001的相册")) {
    if (!e.is_regular_file() || e.path().filename().string()[0] == '.') continue;
    EXPECT_TRUE(images.count(Slurp(e.path()))) << e.path() << " is not a whole photo";
    ++whole;
  }
  (void)std::system(("umount '" + disk.string() + "'").c_str());
  EXPECT_EQ(r.code, 1) << r.err;
  auto summary = Json(r.out);
  ASSERT_NE(summary, nullptr) << r.out << r.err;
  const double ok = Number(summary.get(), u"photosOk"), failed = Number(summary.get(), u"photosFailed");
  EXPECT_GT(ok, 0);
  EXPECT_EQ(ok, whole);
  EXPECT_GT(failed, 0) << r.out;
  EXPECT_NE(r.out.find("\"no-space\":" + std::to_string(static_cast<int>(failed))), std::string::npos)
      << r.out;
}

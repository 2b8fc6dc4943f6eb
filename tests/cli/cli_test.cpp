#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "json/qzjson.h"
#include "tests/support/terminal.h"
#include "tests/support/testfolder.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace fs = std::filesystem;

namespace {

struct CliRun {
  int code = -1;
  std::string out;
};

// Runs lorvanta-cli with the arguments (already shell-quoted where needed); stdout captured.
CliRun Cli(const std::string& args) {
  CliRun r;
  const std::string cmd = std::string(LORVANTA_CLI) + " " + args + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Runs lorvanta-cli with its stdout on a pseudo-terminal, as a user at a terminal sees it.
CliRun CliOnTerminal(const std::vector<std::string>& args) {
  const TerminalRun run = RunOnTerminal(LORVANTA_CLI, args);
  return {run.code, run.out};
}

// Every file below root, relative path -> bytes.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && !IsViewerPath(fs::relative(e.path(), root)))
      files[fs::relative(e.path(), root).string()] = Slurp(e.path());
  return files;
}

class CliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }
  void SetUp() override { dir_ = sandbox_.Dir(); }
  std::string Host() const { return " --route-host " + albumd_->HostPort(); }

  static AlbumdProcess* albumd_;
  TestFolder sandbox_;
  fs::path dir_;
};
AlbumdProcess* CliTest::albumd_ = nullptr;

TEST_F(CliTest, ExitCodesTellTheClassOfOutcome) {
  struct Case {
    std::string args;
    int code;
  } cases[] = {
      {"download 10033 --quiet --to " + dir_.string() + Host(), 1},  // a photo 404s
      {"download 10004 --to " + dir_.string() + Host(), 3},          // route 404
      {"download 10013 --to " + dir_.string() + Host(), 3},          // no "data"
      {"preview 10012" + Host(), 3},                                 // album list not XML
      {"preview 1234" + Host(), 2},                                  // invalid QQ number
      {"preview 12a45" + Host(), 2},
      {"download 10001 --no-such-option", 2},
      {"frobnicate 10001", 2},
      {"", 2},
      {"--help", 0},
      {"preview 10001" + Host(), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(Cli(c.args).code, c.code) << c.args;
}

TEST_F(CliTest, ToAFileIsRefusedAndNothingIsWritten) {
  const fs::path file = dir_ / "plain-file";
  std::ofstream(file) << "x";
  EXPECT_EQ(Cli("download 10001 --to " + file.string() + Host()).code, 2);
  EXPECT_EQ(Slurp(file), "x");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(CliTest, AlbumAndSkipChooseTheAlbumsAndJsonSummaryParses) {
  CliRun r =
      Cli("download 10001 --json --album 1001 --album 1002 --skip 1002 --to " + dir_.string() + Host());
  EXPECT_EQ(r.code, 0);
  auto root = TqzJSON::ParseValue(r.out);
  ASSERT_NE(root, nullptr) << r.out;
  auto* obj = dynamic_cast<TqzJSONobject*>(root.get());
  ASSERT_NE(obj, nullptr);
  ASSERT_NE(obj->FieldByName(u"albumsOk"), nullptr);
  EXPECT_EQ(VariantText(obj->FieldByName(u"albumsOk")->AsVariant()), "1");
  EXPECT_EQ(VariantText(obj->FieldByName(u"photosOk")->AsVariant()), "4");
  const fs::path albumRoot = dir_ / "10001的相册";
  ASSERT_TRUE(fs::is_directory(albumRoot / "春节回家"));
  EXPECT_FALSE(fs::exists(albumRoot / "西湖游记"));
  int albums = 0;  // the copy's viewer aside
  for (const auto& e : fs::directory_iterator(albumRoot)) albums += IsViewerPath(e.path().filename()) ? 0 : 1;
  EXPECT_EQ(albums, 1);
}

TEST_F(CliTest, SecondDownloadMovesTheFirstAsideAndWritesTheSameTree) {
  ASSERT_EQ(Cli("download 10001 --quiet --to " + dir_.string() + Host()).code, 1);  // the empty album fails
  const auto first = Tree(dir_ / "10001的相册");
  EXPECT_EQ(first.size(), 19u);
  ASSERT_EQ(Cli("download 10001 --quiet --to " + dir_.string() + Host()).code, 1);
  EXPECT_EQ(Tree(dir_ / "10001的相册"), first);
  int backups = 0;
  for (const auto& e : fs::directory_iterator(dir_))
    if (e.path().filename().string().find("的相册_BAK_") != std::string::npos) {
      ++backups;
      EXPECT_EQ(Tree(e.path()), first);
    }
  EXPECT_EQ(backups, 1);
}

TEST_F(CliTest, PageIsTheGbkPageOfTheAlbumPaneAndStable) {
  const fs::path a = dir_ / "a.html", b = dir_ / "b.html";
  ASSERT_EQ(Cli("preview 10001 --client-number 93015 --page " + a.string() + Host()).code, 0);
  ASSERT_EQ(Cli("preview 10001 --client-number 93015 --page " + b.string() + Host()).code, 0);
  const std::string page = Slurp(a);
  EXPECT_EQ(page, Slurp(b));
  EXPECT_NE(page.find("charset=gb2312"), std::string::npos);
  EXPECT_NE(page.find("#GOTO1:/93015_10001/photo/1001"), std::string::npos);
  EXPECT_NE(page.find("id=\"check_0\""), std::string::npos);
  EXPECT_EQ(page.find("春节"), std::string::npos) << "the page must be GBK, not UTF-8";
  EXPECT_EQ(page.substr(page.size() - 16), "</body></html>\r\n");
}

TEST_F(CliTest, FaultyPhotosLeaveNoPartialFiles) {
  EXPECT_EQ(Cli("download 10034 --quiet --to " + dir_.string() + Host()).code, 1);  // cut off mid-body
  for (const auto& e : fs::recursive_directory_iterator(dir_)) {
    EXPECT_EQ(e.path().string().find(".part"), std::string::npos) << e.path();
    if (e.is_regular_file()) {
      EXPECT_GT(fs::file_size(e.path()), 0u) << e.path();
    }
  }
}

TEST_F(CliTest, JobsAndRetriesTakeBoundedWholeNumbers) {
  for (const char* bad :
       {"--jobs 0", "--jobs 33", "--jobs x", "--jobs -1", "--jobs", "--retries -1", "--retries 101",
        "--retries 1.5", "--rate 100", "--rate 5x", "--rate k", "--rate", "--keep-deleted"}) {
    EXPECT_EQ(Cli("download 10001 " + std::string(bad) + " --to " + dir_.string() + Host()).code, 2) << bad;
  }
  EXPECT_EQ(Cli("preview 10001 --jobs 2" + Host()).code, 2);  // a download option
  EXPECT_TRUE(fs::is_empty(dir_));
}

// Names are decided before anything is fetched, so any number of fetches at once gives the same tree,
// also where names collide (10041) or must be made safe (10042).
TEST_F(CliTest, JobsOneAndEightGiveTheSameTree) {
  for (const char* qq : {"10001", "10041", "10042", "10044"}) {
    const fs::path one = dir_ / (std::string(qq) + "-1"), eight = dir_ / (std::string(qq) + "-8");
    const CliRun a = Cli("download " + std::string(qq) + " --quiet --jobs 1 --to " + one.string() + Host());
    const CliRun b = Cli("download " + std::string(qq) + " --quiet --jobs 8 --to " + eight.string() + Host());
    EXPECT_EQ(a.code, b.code) << qq;
    const auto treeOne = Tree(one), treeEight = Tree(eight);
    EXPECT_FALSE(treeOne.empty()) << qq;
    EXPECT_EQ(treeOne, treeEight) << qq;
  }
}

TEST(CliRetries, RetriesAfter429And500) {
  struct Case {
    const char* qq;
    const char* retries;
    int code;
  } cases[] = {{"10038", "2", 0}, {"10039", "1", 0}, {"10039", "0", 1}};
  for (const auto& c : cases) {
    auto albumd = AlbumdProcess::Start();  // the faults happen on the first request of a run
    const fs::path dir = fs::temp_directory_path() / ("lorvanta-cli-retry-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const CliRun r = Cli(std::string("download ") + c.qq + " --quiet --retries " + c.retries + " --to " +
                         dir.string() + " --route-host " + albumd->HostPort());
    EXPECT_EQ(r.code, c.code) << c.qq << " --retries " << c.retries;
    EXPECT_EQ(Tree(dir).size(), c.code == 0 ? 3u : 2u) << c.qq;
    fs::remove_all(dir);
  }
}

TEST_F(CliTest, ProgressIsALiveLineOnATerminalAndLogLinesOnAPipe) {
  const CliRun tty = CliOnTerminal({"download", "10001", "--album", "1001", "--to", (dir_ / "t").string(),
                                    "--route-host", albumd_->HostPort()});
  EXPECT_EQ(tty.code, 0) << tty.out;
  // The live line is redrawn in place: carriage return and erase-line, then the album's count.
  EXPECT_NE(tty.out.find("\r\033[K春节回家: 4/4 photos"), std::string::npos) << tty.out;
  EXPECT_NE(tty.out.find("photos downloaded 4, photos failed 0"), std::string::npos) << tty.out;

  const CliRun pipe = Cli("download 10001 --album 1001 --to " + (dir_ / "p").string() + Host());
  EXPECT_EQ(pipe.code, 0);
  EXPECT_EQ(pipe.out.find('\033'), std::string::npos) << "no terminal control codes into a pipe";
  EXPECT_EQ(pipe.out.find('\r'), std::string::npos);
  EXPECT_NE(pipe.out.find("年夜饭.JPG ("), std::string::npos) << pipe.out;
  EXPECT_NE(pipe.out.find("album 0 春节回家: 4 of 4 photos"), std::string::npos) << pipe.out;

  const CliRun quiet = Cli("download 10001 --album 1001 --quiet --to " + (dir_ / "q").string() + Host());
  EXPECT_EQ(quiet.code, 0);
  EXPECT_EQ(quiet.out, "");
}

}  // namespace

// Backups that run by themselves: several accounts from a config file, the history and `status`, a session
// that runs out in the middle of a run, and the desktop note of a run nobody watched.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/testfolder.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int code = -1;
  std::string out, err;
};

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(needle, at)) != std::string::npos; at += needle.size()) ++n;
  return n;
}

class BackupTest : public ::testing::Test {
 protected:
  void SetUp() override { albumd_ = AlbumdProcess::Start(); }

  // lorvanta-cli with the config and state folders of this test only.
  Outcome Cli(const std::string& args, const std::string& wrap = "") {
    const fs::path out = sandbox_.Dir() / "stdout.txt";
    const fs::path err = sandbox_.Dir() / "stderr.txt";
    const std::string env = "XDG_CONFIG_HOME=" + (sandbox_.Dir() / "config").string() +
                            " XDG_STATE_HOME=" + (sandbox_.Dir() / "state").string() + " ";
    const std::string command = wrap + env + LORVANTA_CLI + " " + args;
    const int status =
        std::system((command + " >" + out.string() + " 2>" + err.string() + " </dev/null").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
  }
  void Config(const std::string& lines) {
    fs::create_directories(sandbox_.Dir() / "config" / "lorvanta");
    std::ofstream(sandbox_.Dir() / "config" / "lorvanta" / "lorvanta.conf")
        << "# written by the test\nto = " << (sandbox_.Dir() / "copies").string()
        << "\nroute-host = " << albumd_->HostPort() << "\nsite-host = http://" << albumd_->HostPort()
        << "\nlist-pause = 0\n"
        << lines;
  }
  std::string History() const { return Slurp(sandbox_.Dir() / "state" / "lorvanta" / "history.jsonl"); }
  // A session of the album site signed in as `qq`, in a cookie file.
  std::string SignIn(const std::string& qq) {
    const fs::path jar = sandbox_.Dir() / ("session-" + qq + ".txt");
    const std::string command = "curl -s -o /dev/null -c " + jar.string() + " -d uin=" + qq +
                                " -d password=secret-" + qq + " http://" + albumd_->HostPort() + "/login.php";
    EXPECT_EQ(std::system(command.c_str()), 0);
    ::chmod(jar.c_str(), 0600);
    return jar.string();
  }

  TestFolder sandbox_;
  std::unique_ptr<AlbumdProcess> albumd_;
};

// Two accounts, one of which does not exist: the other is backed up all the same, the exit is the worse
// one's; the second backup fetches nothing and both runs are in the history that status reads.
TEST_F(BackupTest, BackupTwiceKeepsAHistoryAndOneFailingAccountStopsNoOther) {
  Config("accounts = 99999 10002\n");
  const Outcome first = Cli("backup -q");
  EXPECT_EQ(first.code, 3) << first.err;
  const fs::path root = sandbox_.Dir() / "copies" / "10002的相册";
  EXPECT_TRUE(fs::exists(root / "普通相册" / "第一张.JPG")) << first.err;
  EXPECT_TRUE(fs::exists(root / "index.html"));  // the copy's viewer
  const size_t photosBefore = Count(Slurp(albumd_->LogPath()), "GET /photos/");
  EXPECT_EQ(photosBefore, 2u);

  const Outcome second = Cli("backup --json");
  EXPECT_EQ(second.code, 3) << second.err;
  EXPECT_EQ(Count(Slurp(albumd_->LogPath()), "GET /photos/"), photosBefore);  // nothing fetched twice
  EXPECT_FALSE(fs::exists(sandbox_.Dir() / "copies" / "10002的相册.bak"));
  EXPECT_EQ(second.out.front(), '[') << second.out;  // one summary per account
  EXPECT_EQ(Count(second.out, "\"qq\":"), 2u) << second.out;
  EXPECT_NE(second.out.find("\"photosPresent\":2"), std::string::npos) << second.out;

  const std::string history = History();
  EXPECT_EQ(Count(history, "\n"), 4u) << history;
  EXPECT_EQ(Count(history, "\"account\":\"10002\",\"photosNew\":2,"), 1u) << history;
  EXPECT_EQ(Count(history, "\"account\":\"10002\",\"photosNew\":0,"), 1u) << history;
  const Outcome status = Cli("status --json");
  EXPECT_EQ(status.code, 0) << status.err;
  EXPECT_EQ(Count(status.out, "\"account\":"), 2u) << status.out;
  EXPECT_NE(status.out.find("\"account\":\"10002\",\"when\""), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("\"photosNew\":0,\"failures\":{},\"seconds\""), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("\"exitCode\":3"), std::string::npos) << status.out;
}

// The album site's session ends after a number of requests, in the second album: what was fetched stays,
// the album left is named, the run says sign-in needed (exit 6), and the site is asked nothing more for
// the next account, which is named too.
TEST_F(BackupTest, ASessionThatRunsOutMidRunIsNamedAndNotAskedAgain) {
  Config("accounts = 10083 10080\ncookies = " + SignIn("10083") + "\n");
  const Outcome r = Cli("backup");
  EXPECT_EQ(r.code, 6) << r.out << r.err;
  const fs::path root = sandbox_.Dir() / "copies" / "10083的相册";
  for (const char* file : {"花园.JPG", "石头.PNG", "草地.JPG", "灯笼.GIF"})
    EXPECT_TRUE(fs::exists(root / "春游" / file)) << file;
  EXPECT_TRUE(fs::exists(root / "夏日" / "叶子.PNG"));
  EXPECT_FALSE(fs::exists(root / "秋收"));
  EXPECT_NE(r.err.find("album 2 \"秋收\" failed: sign-in needed"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("10080: sign-in needed"), std::string::npos) << r.err;
  EXPECT_EQ(Count(Slurp(albumd_->LogPath()), "hostUin=10080"), 0u);
  // The third album is asked for twice (a sign-in refusal is sometimes a one-off), then nothing.
  EXPECT_EQ(Count(Slurp(albumd_->LogPath()), "topicId=3&"), 2u);
  const std::string history = History();
  EXPECT_EQ(Count(history, "\"exitCode\":6"), 2u) << history;
  EXPECT_NE(history.find("\"sign-in needed\":1"), std::string::npos) << history;
}

// A backup nobody watches (no terminal) that fails leaves a note on the desktop; with notify = never,
// none. Needs dbus-run-session (Debian package dbus).
TEST_F(BackupTest, AnUnwatchedRunWithFailuresLeavesADesktopNote) {
  if (std::system("command -v dbus-run-session >/dev/null 2>&1") != 0) GTEST_SKIP() << "no dbus-run-session";
  const fs::path notes = sandbox_.Dir() / "notes.txt";
  const fs::path ready = sandbox_.Dir() / "ready.txt";
  // The listener owns the name before the run begins.
  const std::string wrap = "dbus-run-session -- sh -c '" + std::string(NOTELISTENER) + " " + notes.string() +
                           " >" + ready.string() + " & for i in $(seq 100); do [ -s " + ready.string() +
                           " ] && break; sleep 0.05; done; exec env ";
  Config("accounts = 99999 10002\n");
  Outcome r = Cli("backup -q'", wrap);
  EXPECT_EQ(r.code, 3) << r.err;
  const std::string note = Slurp(notes);
  EXPECT_EQ(Count(note, "\n"), 1u) << note;
  EXPECT_EQ(note.rfind("Lorvanta: the backup had failures\t99999: 0 new, 1 failed\\n10002: 2 new\\n", 0), 0u)
      << note;

  Config("accounts = 99999\nnotify = never\n");
  r = Cli("backup -q'", wrap);
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_EQ(Count(Slurp(notes), "\n"), 1u);  // no second note
}

}  // namespace

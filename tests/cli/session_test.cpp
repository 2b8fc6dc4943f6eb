// A signed-in session through a cookie file: the private albums come with it, go without it, and the
// session never reaches a host it does not belong to nor any output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/testfolder.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace fs = std::filesystem;

namespace {

struct CliResult {
  int code = -1;
  std::string out, err;
};

CliResult Shell(const std::string& command, const fs::path& dir) {
  const fs::path out = dir / "stdout.txt";
  const fs::path err = dir / "stderr.txt";
  const int status = std::system((command + " >" + out.string() + " 2>" + err.string()).c_str());
  CliResult r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = Slurp(out);
  r.err = Slurp(err);
  return r;
}

class SessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }

  // Signs in as the real service's form would be used, with the curl tool; returns the session token.
  std::string SignIn(const fs::path& cookies) {
    const CliResult r =
        Shell("curl -s -c " + cookies.string() + " -d uin=10060 -d password=secret-10060 http://" +
                  albumd_->HostPort() + "/login.php",
              sandbox_.Dir());
    EXPECT_EQ(r.code, 0);
    std::smatch m;
    const std::string text = Slurp(cookies);
    EXPECT_TRUE(std::regex_search(text, m, std::regex("p_skey\\t([0-9a-f]+)"))) << text;
    ::chmod(cookies.c_str(), 0600);
    return m.size() > 1 ? m[1].str() : "";
  }
  CliResult Download(const std::string& more, const std::string& routeHost = "") {
    static int run = 0;
    return Shell(std::string(LORVANTA_CLI) + " download 10060 --json --to " +
                     (sandbox_.Dir() / std::to_string(++run)).string() + " --route-host " +
                     (routeHost.empty() ? albumd_->HostPort() : routeHost) + " " + more,
                 sandbox_.Dir());
  }
  static int AlbumsOk(const CliResult& r) {
    std::smatch m;
    return std::regex_search(r.out, m, std::regex("\"albumsOk\":([0-9]+)")) ? std::stoi(m[1]) : -1;
  }

  static AlbumdProcess* albumd_;
  TestFolder sandbox_;
};
AlbumdProcess* SessionTest::albumd_ = nullptr;

TEST_F(SessionTest, ACookieFileBringsThePrivateAlbumAndNothingLeaks) {
  const fs::path cookies = sandbox_.Dir() / "cookies.txt";
  const std::string token = SignIn(cookies);
  ASSERT_FALSE(token.empty());

  EXPECT_EQ(AlbumsOk(Download("")), 2);  // without the session the private album is not listed
  const fs::path out = sandbox_.Dir() / "after.txt";
  const CliResult r = Download("--cookies " + cookies.string() + " --cookies-out " + out.string());
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(AlbumsOk(r), 3) << r.out;
  EXPECT_NE(r.out.find("私密相册"), std::string::npos);
  // The session is written back for the owner only, and it never shows in any output.
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(Slurp(out).find(token), std::string::npos);
  EXPECT_EQ(r.out.find(token), std::string::npos);
  EXPECT_EQ(r.err.find(token), std::string::npos);
  for (const auto& entry : fs::recursive_directory_iterator(sandbox_.Dir())) {
    if (entry.is_regular_file() && entry.path() != out && entry.path() != cookies &&
        entry.path().filename() != "stdout.txt") {
      EXPECT_EQ(Slurp(entry.path()).find(token), std::string::npos) << entry.path();
    }
  }
}

TEST_F(SessionTest, TheSessionReachesOnlyTheHostItBelongsTo) {
  const fs::path cookies = sandbox_.Dir() / "cookies.txt";
  SignIn(cookies);
  // The same session, filed under "localhost": the route request goes there (and takes it), the album
  // services of the route reply are at 127.0.0.1 and must not get it.
  std::string text = Slurp(cookies);
  text = std::regex_replace(text, std::regex("127\\.0\\.0\\.1\\t"), "localhost\t");
  std::ofstream(cookies, std::ios::trunc) << text;
  const size_t before = albumd_->CookieLogLines().size();
  const std::string port = albumd_->HostPort().substr(albumd_->HostPort().find(':'));
  const CliResult r = Download("--cookies " + cookies.string(), "localhost" + port);
  EXPECT_EQ(AlbumsOk(r), 2) << r.out << r.err;
  const std::vector<std::string> log = albumd_->CookieLogLines();
  int toLocalhost = 0;
  int toOthers = 0;
  for (size_t i = before; i < log.size(); ++i) {
    const bool local = log[i].find(" localhost:") != std::string::npos;
    const bool carried = log[i].find("p_skey") != std::string::npos;
    if (local) toLocalhost += carried ? 1 : 0;
    if (!local) toOthers += carried ? 1 : 0;
  }
  EXPECT_EQ(toLocalhost, 1);  // the route request
  EXPECT_EQ(toOthers, 0);
}

TEST_F(SessionTest, BadCookieFilesAreNamedAndExpiredCookiesAreNotSent) {
  const fs::path bad = sandbox_.Dir() / "bad.txt";
  std::ofstream(bad)
      << "# Netscape HTTP Cookie File\n\n127.0.0.1\tFALSE\t/\tFALSE\t0\tuin\to10060\nnot a cookie\n";
  struct Case {
    std::string file;
    std::string said;
  } cases[] = {
      {bad.string(), "bad.txt:4:"},
      {(sandbox_.Dir() / "missing.txt").string(), "missing.txt: cannot be read"},
  };
  for (const auto& c : cases) {
    const CliResult r = Download("--cookies " + c.file);
    EXPECT_EQ(r.code, 2) << c.file;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  }

  // A session cookie whose expiry has passed is not sent, and a file others may read is a warning.
  const fs::path cookies = sandbox_.Dir() / "cookies.txt";
  SignIn(cookies);
  std::string text = Slurp(cookies);
  text = std::regex_replace(text, std::regex("\\t[0-9]{9,}\\t"), "\t1000000000\t");
  std::ofstream(cookies, std::ios::trunc) << text;
  ::chmod(cookies.c_str(), 0644);
  const CliResult r = Download("--cookies " + cookies.string());
  EXPECT_EQ(AlbumsOk(r), 2) << r.out;
  EXPECT_NE(r.err.find("may be read by other users"), std::string::npos) << r.err;
}

}  // namespace

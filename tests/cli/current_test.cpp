// Today's album site, signed in: lorvanta-cli lists and downloads through its JSON calls against albumd,
// and says what the site refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/imagecheck.h"
#include "tests/support/testfolder.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int code = -1;
  std::string out, err;
};

class CurrentServiceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }

  Outcome Shell(const std::string& command) {
    const fs::path out = sandbox_.Dir() / "stdout.txt";
    const fs::path err = sandbox_.Dir() / "stderr.txt";
    const int status = std::system((command + " >" + out.string() + " 2>" + err.string()).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
  }
  // A session of the album site for `qq`, signed in through its form; the cookie file's path.
  std::string SignIn(const std::string& qq) {
    const fs::path jar = sandbox_.Dir() / ("cookies-" + qq + ".txt");
    const Outcome r = Shell("curl -s -c " + jar.string() + " -d uin=" + qq + " -d password=secret-" + qq +
                            " http://" + albumd_->HostPort() + "/login.php");
    EXPECT_EQ(r.code, 0);
    ::chmod(jar.c_str(), 0600);
    return jar.string();
  }
  Outcome Cli(const std::string& command, const std::string& qq, const std::string& more) {
    return Shell(std::string(LORVANTA_CLI) + " " + command + " " + qq + " --route-host " +
                 albumd_->HostPort() + " --site-host http://" + albumd_->HostPort() +
                 " --list-pause 0 --busy-pause 0.05 " + more);
  }
  size_t Logged(const std::string& needle, size_t from = 0) const {
    size_t n = 0;
    const auto lines = albumd_->LogLines();
    for (size_t i = from; i < lines.size(); ++i) n += lines[i].find(needle) != std::string::npos;
    return n;
  }

  static AlbumdProcess* albumd_;
  TestFolder sandbox_;
};
AlbumdProcess* CurrentServiceTest::albumd_ = nullptr;

// A signed-in session goes through the site on its own (auto); the original is saved instead of the large
// image, the video as a video, and an album of more photos than one reply holds is paged to its end.
TEST_F(CurrentServiceTest, ASignedInSessionDownloadsThroughTheSite) {
  const std::string jar = SignIn("10080");
  const fs::path to = sandbox_.Dir() / "out";
  const size_t before = albumd_->LogLines().size();
  const Outcome r =
      Cli("download", "10080", "--cookies " + jar + " --to " + to.string() + " -q --write-metadata");
  EXPECT_EQ(r.code, 0) << r.err;
  const fs::path root = to / "10080的相册";
  // The photo's description is recorded, and shown in the viewer as text, never as markup.
  EXPECT_NE(Slurp(root / "周末出游" / ".lorvanta-album.json").find("\"desc\":\"春天的花园 <b>&</b>\""),
            std::string::npos);
  const std::string page = Slurp(root / ".lorvanta-viewer" / "album-0001.html");
  EXPECT_NE(page.find("<span class=\"pdesc\"><bdi>春天的花园 &lt;b&gt;&amp;&lt;/b&gt;</bdi></span>"),
            std::string::npos)
      << page.substr(0, 2000);
  EXPECT_EQ(Slurp(root / "周末出游" / "花园.JPG"), Slurp(DefaultDataDir() + "/images/meadow.jpg"));
  EXPECT_EQ(Slurp(root / "周末出游" / "小视频.MP4").substr(4, 4), "ftyp");
  // Each file has the time the photo was taken, else when it was uploaded (the site's time is China's).
  const std::pair<const char*, long long> times[] = {{"花园.JPG", 1577751000}, {"小视频.MP4", 1577837520}};
  for (const auto& [file, taken] : times) {
    struct stat st {};
    ASSERT_EQ(::stat((root / "周末出游" / file).c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_mtime, taken) << file;
  }
  size_t photos = 0;
  for (const auto& e : fs::directory_iterator(root / "大相册"))
    photos += e.is_regular_file() && e.path().filename().string()[0] != '.';
  EXPECT_EQ(photos, 612u);
  EXPECT_EQ(Logged("cgi_list_photo", before), 3u) << "one list for album 1, two pages for album 2";
  EXPECT_EQ(Logged("pageStart=500", before), 1u);
  EXPECT_EQ(Logged("fcg_list_photo", before), 0u) << "nothing through the XML lists";
  EXPECT_EQ(Logged("/GetRoute", before), 0u);

  // Asked for, the XML service is used all the same.
  const size_t classic = albumd_->LogLines().size();
  EXPECT_EQ(Cli("preview", "10001", "--cookies " + jar + " --service classic").code, 0);
  EXPECT_EQ(Logged("/GetRoute", classic), 1u);
  EXPECT_EQ(Logged("fcg_list_album_v3", classic), 0u);
}

// What the site refuses is named per album, a busy site is waited for, a closed album is left out by name,
// and a friends-only account's photos come whole with the key its photo lists hand out (never the
// placeholder).
TEST_F(CurrentServiceTest, RefusalsAreNamedAndTheRestIsSaved) {
  const std::string jar = SignIn("10081");
  const fs::path to = sandbox_.Dir() / "out";
  const Outcome r = Cli("download", "10081", "--cookies " + jar + " --to " + to.string() + " -q");
  EXPECT_EQ(r.code, 1) << r.err;
  for (const char* said : {"\"不让看\" is not open to the signed-in user", "code -4009", "code -10805"})
    EXPECT_NE(r.err.find(said), std::string::npos) << said << "\n" << r.err;
  const fs::path root = to / "10081的相册";
  size_t photos = 0;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file() || e.path().parent_path() == root) continue;
    if (e.path().string().find(".lorvanta-viewer") != std::string::npos) continue;
    ++photos;
    const std::string bytes = Slurp(e.path());
    EXPECT_FALSE(bytes.rfind("GIF", 0) == 0 && bytes.size() < 2048 && bytes[6] == 96 && bytes[8] == 96)
        << "a placeholder: " << e.path();
  }
  EXPECT_EQ(photos, 153u);
}

// Without a sign-in the site is not tried on its own, asked for it is refused with its own exit code, and a
// session the site does not know ends the same way.
TEST_F(CurrentServiceTest, NoSignInIsNamed) {
  const fs::path madeUp = sandbox_.Dir() / "made-up.txt";
  std::ofstream(madeUp)
      << ("127.0.0.1\tFALSE\t/\tFALSE\t0\tuin\to10080\n127.0.0.1\tFALSE\t/\tFALSE\t0\tp_skey\tnotasession\n");
  ::chmod(madeUp.c_str(), 0600);
  const struct {
    std::string more;
    int code;
    const char* said;
  } cases[] = {
      {"--service current", 6, "needs a session signed in to the album site"},
      {"--service current --cookies " + madeUp.string(), 6, "wants a sign-in"},
  };
  for (const auto& c : cases) {
    const Outcome r = Cli("preview", "10080", c.more);
    EXPECT_EQ(r.code, c.code) << c.more << "\n" << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << c.more << "\n" << r.err;
  }
  const size_t before = albumd_->LogLines().size();
  EXPECT_EQ(Cli("preview", "10080", "").code, 0) << "no session: the XML lists";
  EXPECT_EQ(Logged("fcg_list_album_v3", before), 0u);
}

// Photo keys that wear out: a photo answered with the placeholder is fetched again once a new photo list
// call has brought a fresh key, one call for the photos that met the spent key together, so every photo is
// saved and none of them is the placeholder.
TEST_F(CurrentServiceTest, ASpentPhotoKeyIsRenewedAndThePhotoFetchedAgain) {
  const std::string jar = SignIn("10082");
  const fs::path to = sandbox_.Dir() / "out";
  const size_t before = albumd_->LogLines().size();
  const Outcome r = Cli("download", "10082", "--cookies " + jar + " --to " + to.string() + " -j 4 -q");
  EXPECT_EQ(r.code, 0) << r.err;
  size_t photos = 0;
  for (const auto& entry : fs::directory_iterator(to / "10082的相册" / "好友五十张")) {
    if (entry.path().filename().string()[0] == '.') continue;
    ++photos;
    EXPECT_FALSE(IsPhotoPlaceholder(entry.path().string(), static_cast<long long>(entry.file_size())))
        << entry.path();
  }
  EXPECT_EQ(photos, 50u);
  // 50 photos at 20 a key: the listing and two renewals.
  EXPECT_EQ(Logged("cgi_list_photo", before), 3u);
}

}  // namespace

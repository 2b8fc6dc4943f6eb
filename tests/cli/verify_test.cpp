// Checking a copy, and the viewer a download leaves, through the real command line against albumd.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "tests/support/testfolder.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace fs = std::filesystem;

namespace {

struct CliResult {
  int code = -1;
  std::string out, err;
};

class CopyCheckTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }
  CliResult Cli(const std::string& args) {
    const fs::path out = sandbox_.Dir() / "out.txt";
    const fs::path err = sandbox_.Dir() / "err.txt";
    const int status = std::system(
        (std::string(LORVANTA_CLI) + " " + args + " >" + out.string() + " 2>" + err.string()).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
  }
  std::string Download(const std::string& more) {
    return "download 10001 --to " + (sandbox_.Dir() / "copy").string() + " --route-host " +
           albumd_->HostPort() + " " + more;
  }
  fs::path Album() const { return sandbox_.Dir() / "copy" / "10001的相册" / "春节回家"; }
  static int Count(const std::string& text, const std::string& word) {
    int n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
  }

  static AlbumdProcess* albumd_;
  TestFolder sandbox_;
};
AlbumdProcess* CopyCheckTest::albumd_ = nullptr;

TEST_F(CopyCheckTest, DeletedAndCorruptedPhotosAreNamedAndTheUpdateLeavesTheCorruptedOneAlone) {
  ASSERT_EQ(Cli(Download("--update --quiet")).code, 1);  // the demo's empty album fails as always
  const std::string root = (sandbox_.Dir() / "copy" / "10001的相册").string();
  CliResult r = Cli("verify " + root);
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("all well"), std::string::npos);

  fs::remove(Album() / "年夜饭.JPG");
  fs::remove(Album() / "放烟花.GIF");
  std::string bytes = Slurp(Album() / "贴春联.PNG");
  bytes[bytes.size() / 2] ^= 0x20;  // same size, other bytes
  std::ofstream(Album() / "贴春联.PNG", std::ios::binary | std::ios::trunc) << bytes;
  const auto before = fs::last_write_time(Album() / "贴春联.PNG");

  r = Cli("verify " + root + " --json");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(Count(r.out, "\"missing\""), 2) << r.out;
  EXPECT_EQ(Count(r.out, "\"changed\""), 1) << r.out;

  r = Cli(Download("--update --json"));
  EXPECT_NE(r.out.find("\"photosOk\":2,"), std::string::npos) << r.out;
  EXPECT_EQ(fs::last_write_time(Album() / "贴春联.PNG"), before);  // never fetched over
  r = Cli("verify " + root);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(Count(r.out, "changed: "), 1) << r.out;
  EXPECT_EQ(Count(r.out, "missing: "), 0) << r.out;
}

TEST_F(CopyCheckTest, ACopyWithoutManifestsIsNotCalledGood) {
  ASSERT_EQ(Cli(Download("--quiet")).code, 1);
  const CliResult r = Cli("verify " + (sandbox_.Dir() / "copy").string());
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no album folder with a manifest"), std::string::npos) << r.err;
}

TEST_F(CopyCheckTest, ADownloadLeavesABrowsableCopyUnlessAskedNot) {
  CliResult r = Cli(Download("--no-viewer --quiet"));
  const fs::path root = sandbox_.Dir() / "copy" / "10001的相册";
  EXPECT_FALSE(fs::exists(root / "index.html"));
  r = Cli("viewer " + root.string());
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(root / "index.html"));
  EXPECT_NE(r.out.find((root / "index.html").string()), std::string::npos) << r.out;

  r = Cli(Download(""));  // the older copy moves aside; the new one gets its viewer at once
  EXPECT_NE(r.out.find("browse them: " + (root / "index.html").string()), std::string::npos) << r.out;
  const std::string index = Slurp(root / "index.html");
  EXPECT_NE(index.find("春节回家"), std::string::npos);
  // The demo's empty album failed, and the page says why in its own language.
  EXPECT_NE(index.find("下载失败：相片列表中没有相片</p>"), std::string::npos) << index;
  EXPECT_EQ(Cli("viewer " + (sandbox_.Dir() / "nowhere").string()).code, 1);
}

TEST_F(CopyCheckTest, AViewerOfACopyWithoutManifestsShowsThePhotosInTheServicesOrderAlsoWhenRebuilt) {
  // The demo's first album lists its photos in another order than their names sort in.
  ASSERT_EQ(Cli(Download("--quiet")).code, 1);
  const fs::path root = sandbox_.Dir() / "copy" / "10001的相册";
  const fs::path page = root / ".lorvanta-viewer" / "album-0001.html";
  const auto inListOrder = [](const std::string& html) {
    size_t last = 0;
    for (const char* name : {"年夜饭", "放烟花", "贴春联", "全家福"}) {
      const size_t at = html.find(name);
      if (at == std::string::npos || at < last) return false;
      last = at;
    }
    return true;
  };
  EXPECT_TRUE(inListOrder(Slurp(page)));
  ASSERT_EQ(Cli("viewer " + root.string()).code, 0);
  EXPECT_TRUE(inListOrder(Slurp(page)));
}

TEST_F(CopyCheckTest, AnAlbumAPhotoOfWhichFailedIsCalledIncomplete) {
  // 10033: the second of the album's three photos is answered 404.
  const fs::path copy = sandbox_.Dir() / "copy";
  ASSERT_EQ(
      Cli("download 10033 --update --quiet --to " + copy.string() + " --route-host " + albumd_->HostPort())
          .code,
      1);
  const fs::path album = copy / "10033的相册" / "照片有问题";
  ASSERT_TRUE(fs::is_directory(album));
  CliResult r = Cli("verify " + copy.string());
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("incomplete: " + album.string() + ": 2 of 3 listed photos saved\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("problems found"), std::string::npos) << r.out;

  r = Cli("verify " + copy.string() + " --json");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("\"good\":false"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("{\"kind\":\"incomplete\",\"folder\":\"" + album.string() +
                       "\",\"file\":\"\",\"listed\":3,\"saved\":2,\"leftOut\":0}"),
            std::string::npos)
      << r.out;
}

}  // namespace

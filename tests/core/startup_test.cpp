#include "core/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/support/testfolder.h"

namespace fs = std::filesystem;

namespace {

// A private folder per test, removed afterwards.
class Sandbox : public ::testing::Test {
 protected:
  void SetUp() override { root_ = sandbox_.Dir(); }

  EnvLookup Env(std::map<std::string, std::string> vars) const {
    return [vars](const std::string& name) {
      auto it = vars.find(name);
      return it == vars.end() ? std::string() : it->second;
    };
  }

  TestFolder sandbox_;
  fs::path root_;
};

TEST(ProgramRandom, DrawsTheFixedSequenceFromStateZero) {
  // state := state * 134775813 + 1 (mod 2^32), r = state / 2^32
  const std::uint32_t states[] = {1u, 134775814u, 3698175007u, 870078620u, 1172187917u};
  TProgramRandom random;
  for (std::uint32_t expected : states) {
    double r = random.Next();
    EXPECT_EQ(random.State(), expected);
    EXPECT_DOUBLE_EQ(r, expected / 4294967296.0);
  }
}

TEST(ProgramRandom, RoundsHalvesToEven) {
  const struct {
    double value;
    long long rounded;
  } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {2.4999, 2}, {2.5001, 3}, {0.0, 0}, {86104.8, 86105}};
  for (const auto& c : cases) EXPECT_EQ(RoundHalfToEven(c.value), c.rounded) << c.value;
}

TEST(ClientNumber, FirstDrawIsTooSmallSoTheClockIsUsed) {
  const struct {
    TLocalTime time;
    int expected;
  } cases[] = {{{9, 30, 15}, 93015}, {{0, 0, 7}, 7}, {{23, 59, 59}, 235959}, {{0, 0, 0}, 0}};
  for (const auto& c : cases) {
    TProgramRandom random;
    EXPECT_EQ(MakeClientNumber(random, [&] { return c.time; }), c.expected);
  }
}

TEST(ClientNumber, LaterDrawsAreUsedAsTheyAre) {
  TProgramRandom random;
  int clockCalls = 0;
  auto clock = [&] {
    ++clockCalls;
    return TLocalTime{12, 0, 0};
  };
  EXPECT_EQ(MakeClientNumber(random, clock), 120000);
  EXPECT_EQ(MakeClientNumber(random, clock), 3138);
  EXPECT_EQ(MakeClientNumber(random, clock), 86105);
  EXPECT_EQ(clockCalls, 1);
}

TEST_F(Sandbox, SpecialFoldersFollowXdgThenHome) {
  const std::string home = (root_ / "home").string();
  EXPECT_EQ(SpecialFolderPath(kAppDataFolderId, Env({{"HOME", home}})), home + "/.local/share");
  EXPECT_EQ(SpecialFolderPath(kInternetCacheFolderId, Env({{"HOME", home}})), home + "/.cache");
  EXPECT_EQ(SpecialFolderPath(kAppDataFolderId, Env({{"HOME", home}, {"XDG_DATA_HOME", "/d/x/"}})), "/d/x");
  // A relative XDG value does not count.
  EXPECT_EQ(SpecialFolderPath(kInternetCacheFolderId, Env({{"HOME", home}, {"XDG_CACHE_HOME", "rel"}})),
            home + "/.cache");
  EXPECT_EQ(SpecialFolderPath(kAppDataFolderId, Env({})), "");
  EXPECT_EQ(SpecialFolderPath(7, Env({{"HOME", home}})), "");
}

TEST_F(Sandbox, WorkFolderIsUnderTheDataFolderWhenItExists) {
  fs::create_directories(root_ / "data");
  std::string folder = PrepareWorkFolder(
      Env({{"XDG_DATA_HOME", (root_ / "data").string()}, {"XDG_CACHE_HOME", (root_ / "cache").string()}}));
  EXPECT_EQ(folder, (root_ / "data").string() + "/pelloria/");
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_FALSE(fs::exists(root_ / "cache"));
}

TEST_F(Sandbox, WorkFolderFallsBackToTheCacheFolderAndCreatesParents) {
  const fs::path cache = root_ / "deep" / "cache";
  std::string folder = PrepareWorkFolder(
      Env({{"XDG_DATA_HOME", (root_ / "missing").string()}, {"XDG_CACHE_HOME", cache.string()}}));
  EXPECT_EQ(folder, cache.string() + "/pelloria/");
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_FALSE(fs::exists(root_ / "missing"));
}

TEST_F(Sandbox, WorkFolderWithoutAnyHomeStaysOutOfTheRootFolder) {
  std::string folder = PrepareWorkFolder(Env({}));
  EXPECT_NE(folder, "/pelloria/");
  EXPECT_NE(folder.front(), 'p');  // never relative to the current folder
  EXPECT_EQ(folder.substr(folder.size() - 10), "/pelloria/");
}

TEST_F(Sandbox, TempFilePathsAndLeftoversAreDeleted) {
  const std::string work = root_.string() + "/";
  TTempFilePaths paths = MakeTempFilePaths(work);
  EXPECT_EQ(paths.photoListFile, work + "velquan_photo_list.txt");
  EXPECT_EQ(paths.routeFile, work + "velquan_album_route.txt");
  EXPECT_EQ(paths.albumListFile, work + "velquan_album_list.txt");

  for (const auto& p : {paths.photoListFile, paths.routeFile, paths.albumListFile}) std::ofstream(p) << "old";
  std::ofstream(work + "keep.txt") << "other";
  DeleteTempFiles(paths);
  EXPECT_FALSE(fs::exists(paths.photoListFile));
  EXPECT_FALSE(fs::exists(paths.routeFile));
  EXPECT_FALSE(fs::exists(paths.albumListFile));
  EXPECT_TRUE(fs::exists(work + "keep.txt"));
  DeleteTempFiles(paths);  // missing files are no error
}

}  // namespace

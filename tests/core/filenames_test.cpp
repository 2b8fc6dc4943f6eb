#include "core/filenames.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "machine/md5unit.h"
#include "tests/support/testfolder.h"

namespace {

namespace fs = std::filesystem;

TEST(SafeFileName, ReplacesTheNineBytesAndTrims) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a b/d", "a0b0d"},
      {"x:y", "x0y"},
      {"*/:<>?\\|", "00000000"},
      {"  \t\r\n name \x01", "name"},
      {"a\"b", "a\"b"},        // the double quote stays
      {"相册 一", "相册0一"},  // bytes above 127 stay
      {"   ", ""},
      {"..", ".."},
      {" a ", "a"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeFileName(c.in), c.out) << c.in;
}

TEST(SafeFileName, HiddenCharactersBecomeZeroOneEach) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a\tb", "a0b"},  // control characters inside a name
      {"换行\n相册", "换行0相册"},
      {"a\x7f"
       "b",
       "a0b"},                        // DEL
      {"红\xc2\x9b[31m", "红0[31m"},  // U+009B, the one-byte escape sequence introducer
      {"gpj.exe\xe2\x80\xae"
       "abc",
       "gpj.exe0abc"},  // U+202E right-to-left override
      {"\xe2\x80\xaa"
       "x\xe2\x81\xa6y\xe2\x81\xa9",
       "0x0y0"},                      // U+202A, U+2066, U+2069
      {"\xef\xbb\xbf名字", "0名字"},  // a byte-order mark at the start
      {"a\xe2\x80\x94"
       "b",
       "a\xe2\x80\x94"
       "b"},  // U+2014 (same lead bytes as the overrides) stays
      {"a\xe2\x80\x8b"
       "b",
       "a\xe2\x80\x8b"
       "b"},  // U+200B stays
      {"a\xc2\xa0"
       "b",
       "a\xc2\xa0"
       "b"},             // U+00A0 stays
      {"\xc2", "\xc2"},  // a cut-off sequence is left as it is
  };
  for (const auto& c : cases) EXPECT_EQ(SafeFileName(c.in), c.out) << c.in;
}

TEST(AlbumFolderPathAsDownloaded, TheNamesOfADownloadIntoAnEmptyRootWhateverIsOnDisk) {
  TestFolder dir;
  dir.Write("root/旅行/x.JPG", "taken on disk, but not by this download");
  std::set<std::string> handedOut;
  const std::string root = dir.path() + "root/";
  EXPECT_EQ(AlbumFolderPathAsDownloaded(root, "旅行", "1", handedOut), root + "旅行");
  EXPECT_EQ(AlbumFolderPathAsDownloaded(root, "旅行", "2", handedOut),
            root + "旅行_" + Md5Hex("2").substr(0, 15));
  EXPECT_EQ(AlbumFolderPathAsDownloaded(root, "..", "3", handedOut),
            root + ".._" + Md5Hex("3").substr(0, 15));
  EXPECT_EQ(AlbumFolderPath(root, "旅行", "1"),
            root + "旅行_" + Md5Hex("1").substr(0, 15));  // the disk counts here
}

TEST(PhotoExtension, ByPhototype) {
  EXPECT_EQ(PhotoExtension("1"), "JPG");
  EXPECT_EQ(PhotoExtension("2"), "GIF");
  EXPECT_EQ(PhotoExtension("3"), "PNG");
  EXPECT_EQ(PhotoExtension("4"), "JPG");
  EXPECT_EQ(PhotoExtension(""), "JPG");
  EXPECT_EQ(PhotoExtension(" 2"), "JPG");
}

TEST(BackupFolderName, TimeStampFormat) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 7;
  t.tm_hour = 23;
  t.tm_min = 5;
  t.tm_sec = 9;
  EXPECT_EQ(BackupFolderName("/d/", "12345", t), "/d/12345的相册_BAK_2026-12-07_23-05-09");
  EXPECT_EQ(BackupFolderName("/d", "12345", t), "/d/12345的相册_BAK_2026-12-07_23-05-09");
  EXPECT_EQ(AlbumRootFolder("/d", "12345"), "/d/12345的相册/");
}

TEST(BackupFolderName, NeverReusesATakenName) {
  TestFolder dir;
  const std::time_t now = 1800000000;
  const std::string first = BackupFolderName(dir.path(), "1", now);
  EXPECT_EQ(UniqueBackupFolderName(dir.path(), "1", now), first);
  fs::create_directory(first);
  EXPECT_EQ(UniqueBackupFolderName(dir.path(), "1", now), first + "_2");
  fs::create_directory(first + "_2");
  EXPECT_EQ(UniqueBackupFolderName(dir.path(), "1", now), first + "_3");
}

TEST(FitComponent, ShortensOnACharacterBoundaryAndKeepsTheTail) {
  EXPECT_EQ(FitComponent("abc", ".JPG"), "abc.JPG");
  const std::string ascii(300, 'a');
  EXPECT_EQ(FitComponent(ascii, ".JPG"), std::string(251, 'a') + ".JPG");
  std::string chinese;
  for (int i = 0; i < 100; ++i) chinese += "相";  // 300 bytes, 3 per character
  const std::string fitted = FitComponent(chinese, ".JPG");
  EXPECT_LE(fitted.size(), kMaxComponentBytes);
  EXPECT_EQ(fitted.size(), 249u + 4);  // 83 whole characters
  EXPECT_EQ(fitted.substr(249), ".JPG");
  EXPECT_EQ(fitted.substr(0, 249).size() % 3, 0u);
}

TEST(AlbumFolderPath, CollisionsGetTheIdSuffixThenNumbers) {
  TestFolder dir;
  const std::string root = dir.path();
  const std::string md5 = Md5Hex("V1").substr(0, 15);
  EXPECT_EQ(AlbumFolderPath(root, "a b/d", "V1"), root + "a0b0d");
  fs::create_directory(root + "a0b0d");
  EXPECT_EQ(AlbumFolderPath(root, "a b/d", "V1"), root + "a0b0d_" + md5);
  fs::create_directory(root + "a0b0d_" + md5);
  EXPECT_EQ(AlbumFolderPath(root, "a b/d", "V1"), root + "a0b0d_" + md5 + "_2");
  // A file of that name is taken too.
  dir.Write("x", "");
  EXPECT_EQ(AlbumFolderPath(root, "x", "V1"), root + "x_" + md5);
}

TEST(AlbumFolderPath, DotAndEmptyNamesNeverNameTheRootOrItsParent) {
  TestFolder dir;
  const std::string md5 = Md5Hex("id").substr(0, 15);
  EXPECT_EQ(AlbumFolderPath(dir.path(), ".", "id"), dir.path() + "._" + md5);
  EXPECT_EQ(AlbumFolderPath(dir.path(), "..", "id"), dir.path() + ".._" + md5);
  EXPECT_EQ(AlbumFolderPath(dir.path(), "  ", "id"), dir.path() + "_" + md5);
  EXPECT_EQ(AlbumFolderPath(dir.path(), "...", "id"), dir.path() + "...");
}

TEST(AlbumFolderPath, LongNamesFitOneComponent) {
  TestFolder dir;
  std::string name;
  for (int i = 0; i < 120; ++i) name += "册";
  const std::string first = AlbumFolderPath(dir.path(), name, "id");
  EXPECT_LE(LastComponent(first).size(), kMaxComponentBytes);
  ASSERT_TRUE(fs::create_directory(first));
  const std::string second = AlbumFolderPath(dir.path(), name, "id");
  EXPECT_NE(second, first);
  EXPECT_LE(LastComponent(second).size(), kMaxComponentBytes);
  EXPECT_TRUE(fs::create_directory(second));
}

TEST(PhotoFileNamer, SameNameTwiceAndOnDisk) {
  TestFolder dir;
  PhotoFileNamer namer(dir.path() + "album");
  const std::string md5a = Md5Hex("http://h/a").substr(0, 15);
  EXPECT_EQ(namer.NextPath("x:y", "http://h/a", "3"), dir.path() + "album/x0y.PNG");
  // Planned but not yet fetched: the second photo of that name still gets the suffix.
  EXPECT_EQ(namer.NextPath("x:y", "http://h/a", "3"), dir.path() + "album/x0y_" + md5a + ".PNG");
  EXPECT_EQ(namer.NextPath("x:y", "http://h/a", "3"), dir.path() + "album/x0y_" + md5a + "_2.PNG");
  EXPECT_EQ(namer.NextPath("x:y", "http://h/a", "1"), dir.path() + "album/x0y.JPG");

  dir.Write("album/p.GIF", "old");
  PhotoFileNamer fresh(dir.path() + "album/");
  EXPECT_EQ(fresh.NextPath("p", "u", "2"), dir.path() + "album/p_" + Md5Hex("u").substr(0, 15) + ".GIF");
  EXPECT_EQ(ReadFileBytes(dir.path() + "album/p.GIF"), "old");
  EXPECT_EQ(fresh.NextPath("", "http://h/b", "1"), dir.path() + "album/" + Md5Hex("http://h/b") + ".JPG");
}

TEST(PhotoFileNamer, LongNameKeepsItsExtension) {
  TestFolder dir;
  PhotoFileNamer namer(dir.path());
  const std::string path = namer.NextPath(std::string(400, 'n'), "u", "2");
  EXPECT_EQ(LastComponent(path).size(), kMaxComponentBytes);
  EXPECT_EQ(path.substr(path.size() - 4), ".GIF");
  const std::string second = namer.NextPath(std::string(400, 'n'), "u", "2");
  EXPECT_EQ(LastComponent(second).size(), kMaxComponentBytes);
  EXPECT_NE(second, path);
  EXPECT_NE(second.find("_" + Md5Hex("u").substr(0, 15) + ".GIF"), std::string::npos);
}

}  // namespace

// Names on disks that move between machines.

TEST(PortableName, EveryCommonFileSystemTakesItAndItIsStable) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"say \"hi\".JPG", "say 0hi0.JPG"},
      {"trip...", "trip000"},
      {"trailing .", "trailing00"},
      {"CON", "CON_"},
      {"con.JPG", "con_.JPG"},
      {"nul.txt.JPG", "nul_.txt.JPG"},
      {"Lpt1.GIF", "Lpt1_.GIF"},
      {"COM9", "COM9_"},
      {"COM10.JPG", "COM10.JPG"},  // not a device
      {"CONSOLE.JPG", "CONSOLE.JPG"},
      {"a\xff"
       "b",
       "a0b"},  // not UTF-8
      {"春节回家.JPG", "春节回家.JPG"},
      {"photo_59aaf749e9ddafd.JPG", "photo_59aaf749e9ddafd.JPG"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PortableName(c.in), c.out) << c.in;
    EXPECT_EQ(PortableName(PortableName(c.in)), PortableName(c.in)) << c.in;
  }
}

TEST(NameKey, FoldsCaseOnlyWhereTheDiskDoes) {
  const NameRules blind{true, false};
  EXPECT_EQ(NameKey("a/Photo.JPG", blind), NameKey("a/PHOTO.jpg", blind));
  EXPECT_EQ(NameKey("Ärger", blind), NameKey("ärger", blind));
  EXPECT_EQ(NameKey("Ωμέγα", blind), NameKey("ωμέγα", blind));
  EXPECT_NE(NameKey("Photo", NameRules{}), NameKey("photo", NameRules{}));
  EXPECT_NE(NameKey("相册", blind), NameKey("相片", blind));
}

// On a case-blind disk, photos and albums whose names differ only in case get names of their own, and the
// names a download gave are found again the same way (what an update and an adoption rely on).
TEST(PhotoFileNamer, NamesThatDifferOnlyInCaseStayApartOnACaseBlindDisk) {
  const NameRules blind{true, false};
  PhotoFileNamer namer("/nowhere/album", false, blind);
  std::set<std::string> keys;
  for (const char* name : {"Photo", "photo", "PHOTO", "Ärger", "ärger"})
    keys.insert(NameKey(namer.NextPath(name, std::string("http://h/") + name, "1"), blind));
  EXPECT_EQ(keys.size(), 5u);
  PhotoFileNamer plain("/nowhere/album", false);
  EXPECT_EQ(plain.NextPath("Photo", "u1", "1"), "/nowhere/album/Photo.JPG");
  EXPECT_EQ(plain.NextPath("photo", "u2", "1"), "/nowhere/album/photo.JPG");  // as ever on Linux disks

  std::set<std::string> handedOut;
  const std::string first = AlbumFolderPathAsDownloaded("/r/", "Trip", "1", handedOut, blind);
  const std::string second = AlbumFolderPathAsDownloaded("/r/", "trip", "2", handedOut, blind);
  EXPECT_EQ(first, "/r/Trip");
  EXPECT_EQ(second, "/r/trip_" + Md5Hex("2").substr(0, 15));
}

TEST(DiskComponent, ANameTheDiskTakesStaysAsItIs) {
  TestFolder dir;
  const NameRules here = ProbeNameRules(dir.path());
  EXPECT_FALSE(here.portable);  // the test folder is on an ordinary Linux disk
  EXPECT_EQ(DiskComponent(dir.path(), "say \"hi\".JPG", here), "say \"hi\".JPG");
  EXPECT_EQ(DiskComponent(dir.path(), "say \"hi\".JPG", NameRules{false, true}), "say 0hi0.JPG");
  // Device names are only a Windows matter: a Linux disk keeps them as they are.
  EXPECT_EQ(DiskComponent(dir.path(), "CON.JPG", here), "CON.JPG");
  EXPECT_TRUE(fs::is_empty(dir.path()));  // the tries leave nothing behind
}

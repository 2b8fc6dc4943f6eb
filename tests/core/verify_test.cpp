// Checking a copy against its manifests: what is wrong is named, a good copy is good, nothing is written.
#include "core/verify.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/albummanifest.h"
#include "tests/support/testfolder.h"

namespace {

using namespace std::string_literals;

const std::string kJpeg = "\xFF\xD8\xFF\xE0 a photo's bytes"s;

// An album folder whose manifest records the files as they are written here.
void MakeAlbum(const TestFolder& dir, const std::string& folder,
               const std::map<std::string, std::string>& files, bool digests = true) {
  AlbumManifest m;
  m.id = folder;
  for (const auto& [name, bytes] : files) {
    const std::string path = dir.Write(folder + "/" + name, bytes);
    ManifestPhoto p{"http://h/" + name, name, static_cast<long long>(bytes.size()), 1800000000};
    if (digests) p.md5 = PhotoDigest(path);
    m.photos.push_back(p);
  }
  WriteAlbumManifest(dir.path() + folder, m);
}

TEST(VerifyCopy, NamesEveryKindOfDamage) {
  TestFolder dir;
  MakeAlbum(dir, "root/a",
            {{"good.JPG", kJpeg},
             {"gone.JPG", kJpeg},
             {"cut.JPG", kJpeg},
             {"flipped.JPG", kJpeg},
             {"page.JPG", kJpeg}});
  MakeAlbum(dir, "root/b", {{"old.JPG", kJpeg}}, false);  // recorded before digests were kept
  std::filesystem::remove(dir.path() + "root/a/gone.JPG");
  dir.Write("root/a/cut.JPG", kJpeg.substr(0, 10));
  std::string flipped = kJpeg;
  flipped.back() ^= 1;
  dir.Write("root/a/flipped.JPG", flipped);
  std::string page = "<html>" + std::string(kJpeg.size() - 6, ' ');
  dir.Write("root/a/page.JPG", page);
  dir.Write("root/a/mine.txt", "a note of my own");
  const auto before = dir.Tree();

  for (const std::string where : {"root", "root/a", ""}) {  // the album root, an album, a folder of roots
    const VerifyReport r = VerifyCopy(dir.path() + where);
    std::map<std::string, std::string> found;
    for (const auto& f : r.findings) found[f.file] = VerifyKindWord(f.kind);
    EXPECT_EQ(found, (std::map<std::string, std::string>{{"gone.JPG", "missing"},
                                                         {"cut.JPG", "wrong-size"},
                                                         {"flipped.JPG", "changed"},
                                                         {"page.JPG", "not-image"},
                                                         {"mine.txt", "unrecorded"}}))
        << where;
    EXPECT_FALSE(r.Good());
    if (where == "root/a") continue;
    EXPECT_EQ(r.albums, 2) << where;
    EXPECT_EQ(r.photosChecked, 6) << where;
    EXPECT_EQ(r.photosWithoutDigest, 1) << where;
  }
  EXPECT_EQ(dir.Tree(), before);  // nothing written
}

TEST(VerifyCopy, AGoodCopyIsGoodAndNoManifestIsNot) {
  TestFolder dir;
  MakeAlbum(dir, "root/a", {{"1.JPG", kJpeg}, {"2.JPG", kJpeg + "x"}});
  EXPECT_TRUE(VerifyCopy(dir.path() + "root").Good());
  dir.Write("plain/a/1.JPG", kJpeg);
  const VerifyReport none = VerifyCopy(dir.path() + "plain");
  EXPECT_EQ(none.albums, 0);
  EXPECT_FALSE(none.Good());
  EXPECT_FALSE(VerifyCopy(dir.path() + "no such folder").Good());
  dir.Write("bad/a/" + std::string(kManifestFileName), "{not json");
  const VerifyReport bad = VerifyCopy(dir.path() + "bad");
  ASSERT_EQ(bad.errors.size(), 1u);
  EXPECT_FALSE(bad.Good());
}

TEST(VerifyCopy, AnAlbumWithFewerPhotosThanListedIsIncomplete) {
  struct Case {
    const char* what;
    std::string total;
    int fetched, reserved, deleted;
    int listed, saved;  // the finding's numbers; listed -1: no finding
  } cases[] = {
      {"all there", "3", 3, 0, 0, -1, -1},
      {"a run stopped half way", "5", 2, 2, 0, 5, 2},
      {"photos never recorded", "4", 3, 0, 0, 4, 3},
      {"left out on purpose", "3", 2, 0, 1, -1, -1},
      {"left out and short", "4", 2, 0, 1, 4, 2},
      {"more recorded than listed", "2", 3, 0, 0, -1, -1},
      {"listed empty", "0", 0, 0, 0, -1, -1},
      {"no total kept", "", 1, 1, 0, -1, -1},
      {"a total that is no count", "9 photos", 1, 0, 0, -1, -1},
      {"a negative total", "-4", 1, 0, 0, -1, -1},
      {"a total past any int", "99999999999999999999", 1, 0, 0, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestFolder dir;
    AlbumManifest m;
    m.id = "V1";
    m.total = c.total;
    for (int i = 0; i < c.fetched + c.reserved + c.deleted; ++i) {
      const std::string name = std::to_string(i) + ".JPG";
      ManifestPhoto p{"http://h/" + name, name, -1, 0};
      if (i < c.fetched) {
        p.size = static_cast<long long>(kJpeg.size());
        p.fetched = 1800000000;
        dir.Write("a/" + name, kJpeg);
      } else if (i >= c.fetched + c.reserved) {
        p.size = static_cast<long long>(kJpeg.size());
        p.fetched = 1800000000;
        p.deleted = true;  // its file is gone and stays gone
      }
      m.photos.push_back(p);
    }
    std::filesystem::create_directories(dir.path() + "a");
    WriteAlbumManifest(dir.path() + "a", m);

    const VerifyReport r = VerifyCopy(dir.path() + "a");
    EXPECT_TRUE(r.errors.empty());
    if (c.listed < 0) {
      EXPECT_TRUE(r.findings.empty()) << VerifyKindWord(r.findings[0].kind);
      EXPECT_TRUE(r.Good());
      continue;
    }
    ASSERT_EQ(r.findings.size(), 1u);
    const VerifyFinding& f = r.findings[0];
    EXPECT_STREQ(VerifyKindWord(f.kind), "incomplete");
    EXPECT_EQ(f.folder, dir.path() + "a");
    EXPECT_EQ(f.file, "");
    EXPECT_EQ(f.listed, c.listed);
    EXPECT_EQ(f.saved, c.saved);
    EXPECT_EQ(f.leftOut, c.deleted);
    EXPECT_FALSE(r.Good());
  }
}

}  // namespace

// Checking a copy against its manifests: what is wrong is named, a good copy is good, nothing is written.
#include "app/verify.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/albummanifest.h"
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

}  // namespace

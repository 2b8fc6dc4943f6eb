// The album manifest, its journal, the image check, and the update plan made from a manifest.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "core/albumdownload.h"
#include "core/albummanifest.h"
#include "core/xmldoc.h"
#include "tests/support/testfolder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

AlbumManifest Sample() {
  AlbumManifest m;
  m.id = "V1";
  m.name = "say \"hi\"\\ 春节\n";
  m.desc = "tab\there";
  m.priv = "1";
  m.total = "3";
  m.photos = {{"http://h/1.jpg", "a.JPG", 1234, 1800000000, false, "0123456789abcdef0123456789abcdef"},
              {"http://h/2.jpg", "b.JPG", -1, 0, false, "", "海边\n\"日落\" 🌅"},
              {"http://h/3.jpg", "c.JPG", 5, 1800000001, true}};
  return m;
}

TEST(Manifest, RoundTripsThroughJsonAndTheFolder) {
  const AlbumManifest m = Sample();
  EXPECT_EQ(ParseManifest(ManifestJson(m)), m);
  TestFolder dir;
  EXPECT_EQ(ReadAlbumManifest(dir.path()), std::nullopt);
  WriteAlbumManifest(dir.path(), m);
  EXPECT_EQ(ReadAlbumManifest(dir.path()), m);
  EXPECT_EQ(dir.Tree(), std::vector<std::string>{std::string(kManifestFileName)});  // no temporary left
  EXPECT_EQ(UtcTimeText(1800000000), "2027-01-15T08:00:00Z");
  EXPECT_EQ(ParseUtcTimeText("2027-01-15T08:00:00Z"), 1800000000);
}

TEST(Manifest, NamesFromEveryPlaneComeBackExactly) {
  // The parser reads four-byte UTF-8 poorly; the writer must therefore say such characters another way.
  const std::string names[] = {
      "ascii",
      "\xc3\xa9t\xc3\xa9",                     // two-byte UTF-8
      "春游 \"相册\" \\ /",                    // three-byte, quote, backslash
      "\xf0\x9f\x98\x80 笑脸",                 // U+1F600
      "\xf0\xa0\x80\x80古字",                  // U+20000
      "\xf3\xa0\x80\x81",                      // U+E0001, plane 14
      "\xf4\x8f\xbf\xbf",                      // U+10FFFF, the last code point
      "\xef\xbf\xbf\xee\x80\x80",              // U+FFFF, U+E000 at the plane's edge
      "line\nbreak\ttab\x01\x7f",              // control characters
      "\xe2\x80\xae\xe2\x80\xa8\xef\xbb\xbf",  // U+202E, U+2028, U+FEFF
  };
  for (const std::string& name : names) {
    AlbumManifest m = Sample();
    m.name = name;
    m.desc = name + name;
    std::string file = name;
    std::replace(file.begin(), file.end(), '/', '0');  // a file name is one plain component
    m.photos[0].file = file + ".JPG";
    m.photos[0].url = "http://h/" + name;
    EXPECT_EQ(ParseManifest(ManifestJson(m)), m) << name;
    TestFolder dir;
    WriteAlbumManifest(dir.path(), m);
    {
      ManifestJournal journal(dir.path());
      journal.Fetched(m.photos[0].url, m.photos[0].file, 77, 1800000000);
    }
    m.photos[0].size = 77;
    m.photos[0].fetched = 1800000000;
    m.photos[0].md5.clear();  // fetched again without a digest: the old one no longer holds
    EXPECT_EQ(ReadAlbumManifest(dir.path()), m) << name;  // the journal line read back too
  }
  // Bytes that are not UTF-8 cannot come back from JSON: writing them is refused, never done lossily.
  for (const std::string bad : {"\xff", "a\xc3", "\xed\xa0\x80", "\xc0\xaf", "\xf5\x80\x80\x80"}) {
    AlbumManifest m = Sample();
    m.name = bad;
    EXPECT_THROW(ManifestJson(m), std::runtime_error) << bad;
    TestFolder dir;
    EXPECT_THROW(WriteAlbumManifest(dir.path(), m), std::runtime_error);
    EXPECT_TRUE(dir.Tree().empty());
  }
}

TEST(Manifest, UnreadableManifestsAreErrors) {
  const std::string good = ManifestJson(Sample());
  const std::string cases[] = {
      "",
      "not json",
      good.substr(0, good.size() / 2),  // cut off
      "[]",
      "{\"format\":3,\"album\":{\"id\":\"V1\"},\"photos\":[]}",  // a newer format
      "{\"format\":0,\"album\":{\"id\":\"V1\"},\"photos\":[]}",
      "{\"album\":{\"id\":\"V1\"},\"photos\":[]}",
      "{\"format\":1,\"photos\":[]}",
      "{\"format\":1,\"album\":{\"name\":\"x\"},\"photos\":[]}",
      "{\"format\":1,\"album\":{\"id\":\"V1\"}}",
      "{\"format\":1,\"album\":{\"id\":\"V1\"},\"photos\":[{\"url\":\"http://h/1\"}]}",
      "{\"format\":1,\"album\":{\"id\":\"V1\"},\"photos\":[{\"url\":\"http://h/1\",\"file\":\"../x.jpg\"}]}",
      "{\"format\":1,\"album\":{\"id\":\"V1\"},\"photos\":[{\"url\":\"http://h/1\",\"file\":\"..\"}]}",
      "{\"format\":1,\"album\":{\"id\":\"V1\"},\"photos\":[{\"url\":\"http://h/"
      "1\",\"file\":\"a\",\"size\":-3,"
      "\"fetched\":\"2027-01-15T08:00:00Z\"}]}",
      "{\"format\":1,\"album\":{\"id\":\"V1\"},\"photos\":[{\"url\":\"http://h/1\",\"file\":\"a\",\"size\":3,"
      "\"fetched\":\"yesterday\"}]}",
      "{\"format\":1,\"album\":{\"id\":7},\"photos\":[]}",
      "{\"format\":2,\"album\":{\"id\":\"V1\"},\"photos\":[{\"url\":\"http://h/"
      "1\",\"file\":\"a\",\"md5\":\"xyz\"}]}",
  };
  for (const std::string& text : cases) EXPECT_THROW(ParseManifest(text), ManifestError) << text;
  try {
    ParseManifest("{\"format\":9,\"album\":{\"id\":\"V1\"},\"photos\":[]}");
  } catch (const ManifestError& e) {
    EXPECT_NE(std::string(e.what()).find("newer"), std::string::npos) << e.what();
  }
}

TEST(Manifest, JournalLinesAreReplayedAndACutLastLineIsDropped) {
  TestFolder dir;
  AlbumManifest m = Sample();
  WriteAlbumManifest(dir.path(), m);
  {
    ManifestJournal journal(dir.path());
    journal.Fetched("http://h/2.jpg", "b.JPG", 77, 1800000100);  // fills in the reservation
    journal.Fetched("http://h/4.jpg", "d.JPG", 9, 1800000200);   // a photo the manifest lacked
  }
  const int fd = ::open((dir.path() + std::string(kJournalFileName)).c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "{\"url\":\"http://h/5", 18), 18);  // a kill in the middle of a line
  ::close(fd);

  const std::optional<AlbumManifest> read = ReadAlbumManifest(dir.path());
  ASSERT_TRUE(read);
  ASSERT_EQ(read->photos.size(), 4u);
  EXPECT_EQ(read->photos[1].size, 77);
  EXPECT_EQ(read->photos[1].fetched, 1800000100);
  EXPECT_EQ(read->photos[3], (ManifestPhoto{"http://h/4.jpg", "d.JPG", 9, 1800000200, false}));

  // Writing the manifest folds the journal in and removes it.
  WriteAlbumManifest(dir.path(), *read);
  EXPECT_FALSE(fs::exists(dir.path() + std::string(kJournalFileName)));
  EXPECT_EQ(ReadAlbumManifest(dir.path()), read);

  // A damaged line that is not the last one is not a kill: the journal cannot be trusted.
  dir.Write(std::string(kJournalFileName), "garbage\n{\"url\":\"http://h/1.jpg\",\"file\":\"a.JPG\"}\n");
  EXPECT_THROW(ReadAlbumManifest(dir.path()), ManifestError);
}

// The update plan: what the manifest records, and what is in the folder now.
TEST(UpdatePlan, PresentGoneChangedAndNewPhotos) {
  struct Case {
    const char* name;
    bool keepDeleted;
    PlannedPhoto::Kind kinds[5];
    const char* files[5];
  } cases[] = {
      {"refetch deleted",
       false,
       {PlannedPhoto::Kind::kPresent, PlannedPhoto::Kind::kFetch, PlannedPhoto::Kind::kFetch,
        PlannedPhoto::Kind::kPresent, PlannedPhoto::Kind::kFetch},
       {"a.JPG", "b.JPG", "c_", "d.JPG", "z_"}},
      {"keep deleted",
       true,
       {PlannedPhoto::Kind::kPresent, PlannedPhoto::Kind::kLeftOut, PlannedPhoto::Kind::kFetch,
        PlannedPhoto::Kind::kPresent, PlannedPhoto::Kind::kFetch},
       {"a.JPG", "b.JPG", "c_", "d.JPG", "z_"}},
  };
  for (const auto& c : cases) {
    TestFolder dir;
    const std::string folder = dir.path() + "alb";
    dir.Write("alb/a.JPG", "aaaa");  // as recorded
    /* b.JPG was fetched and then deleted by hand */
    dir.Write("alb/c.JPG", "edited by hand");  // recorded with another size
    dir.Write("alb/d.JPG", "ddd");             // reserved by a run that was killed: complete
    AlbumManifest m;
    m.id = "V1";
    m.photos = {{"http://h/a", "a.JPG", 4, 1800000000},
                {"http://h/b", "b.JPG", 3, 1800000000},
                {"http://h/c", "c.JPG", 3, 1800000000},
                {"http://h/d", "d.JPG", -1, 0},
                {"http://h/gone-online", "z.JPG", 1, 1800000000}};
    XmlDocument doc = XmlDocument::LoadFromMemory(
        "<album><pic><name>a</name><url>http://h/a</url><phototype>1</phototype></pic>"
        "<pic><name>b</name><url>http://h/b</url><phototype>1</phototype></pic>"
        "<pic><name>c</name><url>http://h/c</url><phototype>1</phototype></pic>"
        "<pic><name>d</name><url>http://h/d</url><phototype>1</phototype></pic>"
        "<pic><name>z</name><url>http://h/e</url><phototype>1</phototype></pic></album>");
    const AlbumPlan plan =
        PlanAlbumPhotos(ListPhotoNodes(FirstPhotoNode(doc)), folder, "alb", {&m, c.keepDeleted, 1700000000});
    ASSERT_EQ(plan.photos.size(), 5u) << c.name;
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(plan.photos[i].kind, c.kinds[i]) << c.name << " " << i;
      EXPECT_EQ(fs::path(plan.photos[i].file).filename().string().rfind(c.files[i], 0), 0u)
          << c.name << " " << i << " " << plan.photos[i].file;
    }
    // (The new photo "z" does not take z.JPG: a photo the list no longer has is recorded under it.)
    // The records now match the plan: the reserved one adopted with its size, the edited one replaced by
    // a reservation of the new name, the photo gone online kept (its file is still there).
    std::map<std::string, ManifestPhoto> byUrl;
    for (const auto& p : m.photos) byUrl[p.url] = p;
    EXPECT_EQ(m.photos.size(), 6u) << c.name;
    EXPECT_EQ(byUrl["http://h/d"].size, 3);
    EXPECT_EQ(byUrl["http://h/d"].fetched, 1700000000);  // the job's clock, not the system's
    EXPECT_EQ(byUrl["http://h/c"].file, fs::path(plan.photos[2].file).filename().string());
    EXPECT_EQ(byUrl["http://h/c"].size, -1);
    EXPECT_EQ(byUrl["http://h/b"].deleted, c.keepDeleted);
    EXPECT_EQ(byUrl.count("http://h/gone-online"), 1u);
    EXPECT_EQ(byUrl["http://h/e"].size, -1);
  }
}

}  // namespace

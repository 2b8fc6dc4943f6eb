// Faults that were found and mended, each pinned by the smallest test that showed it.
#include <gtest/gtest.h>

#include <string>

#include "core/albummanifest.h"
#include "core/albumrecords.h"
#include "core/filenames.h"
#include "core/textutil.h"
#include "tests/support/testfolder.h"

namespace {

// A description cut at the records' limit in the middle of a character was not UTF-8 any more, so the
// album's manifest could not be written and the album was abandoned.
TEST(FormerBugs, ALongDescriptionIsCutBetweenCharactersAndStillRecorded) {
  TestFolder dir;
  std::string desc(kMaxDescBytes - 1, 'x');
  desc += "春游";  // its first byte is the last one the limit keeps
  AlbumEntryFields album{"V1", "1", "name", "1", desc};
  AlbumRecords records(dir.path() + "album", {}, album, true, [] { return std::time_t{1800000000}; });
  dir.Write("album/keep", "");
  records.ForPlan(false);
  ASSERT_NO_THROW(records.Begin());
  records.Finish();
  const auto manifest = ReadAlbumManifest(dir.path() + "album");
  ASSERT_TRUE(manifest.has_value());
  EXPECT_EQ(manifest->desc, std::string(kMaxDescBytes - 1, 'x'));
  EXPECT_TRUE(IsValidUtf8(manifest->desc));
}

// A manifest with a text it could not write opened its temporary file first and left it behind.
TEST(FormerBugs, AManifestRefusedForItsTextLeavesNoFileBehind) {
  TestFolder dir;
  AlbumManifest m;
  m.id = "V1";
  m.name = "bad\xff";
  EXPECT_THROW(WriteAlbumManifest(dir.path(), m), std::runtime_error);
  EXPECT_TRUE(dir.Tree().empty());
}

// Control characters and bidirectional overrides inside a name were kept in file names.
TEST(FormerBugs, AFileNameNeverHoldsAHiddenCharacter) {
  const std::string name = SafeFileName(
      "gpj.exe\xe2\x80\xae"
      "abc\nx\xc2\x9b");
  EXPECT_EQ(name, "gpj.exe0abc0x0");
}

}  // namespace

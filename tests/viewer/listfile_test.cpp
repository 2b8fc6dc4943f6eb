// What the viewer keeps of a download between builds, and the order of names without one.
#include "viewer/listfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/viewer/viewertest.h"
#include "viewer/albumscan.h"

namespace {

TEST(NaturalLess, NumbersInNamesSortByTheirValue) {
  const std::vector<std::string> sorted{
      "",   "01",  "1",   "2",    "10", "DSC_0009.jpg", "DSC_0010.jpg", "DSC_10.jpg", "a",
      "a1", "a2b", "a10", "a10a", "b",  "照片2",        "照片10",       "照片100"};
  std::vector<std::string> shuffled(sorted.rbegin(), sorted.rend());
  std::rotate(shuffled.begin(), shuffled.begin() + 7, shuffled.end());
  std::sort(shuffled.begin(), shuffled.end(), NaturalLess);
  EXPECT_EQ(shuffled, sorted);
  for (const std::string& a : sorted) EXPECT_FALSE(NaturalLess(a, a)) << a;  // a strict order
}

TEST(ViewerList, KeepsEveryFieldAndRefusesADamagedFile) {
  ScratchRoot scratch;
  const std::string path = scratch.path() + "albums.list";
  const std::vector<ViewerAlbum> list{
      {.folder = "春游",
       .name = "<b>春游</b>\n\xe2\x80\xa8",
       .desc = "\"引号\"",
       .priv = "3",
       .total = "2",
       .photoOrder = {"b.jpg", "a.jpg"}},
      {.name = "空", .failed = true, .failureReason = "the photo list holds no photo"}};
  WriteBytes(path, ViewerListBytes(list));
  const std::vector<ViewerAlbum> back = ReadViewerList(path);
  ASSERT_EQ(back.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(back[i].folder, list[i].folder);
    EXPECT_EQ(back[i].name, list[i].name);
    EXPECT_EQ(back[i].desc, list[i].desc);
    EXPECT_EQ(back[i].priv, list[i].priv);
    EXPECT_EQ(back[i].failed, list[i].failed);
    EXPECT_EQ(back[i].failureReason, list[i].failureReason);
    EXPECT_EQ(back[i].photoOrder, list[i].photoOrder);
  }
  const std::string bytes = ViewerListBytes(list);
  for (const std::string& damaged : {bytes.substr(0, bytes.size() - 5), "x" + bytes, std::string()}) {
    WriteBytes(path, damaged);
    EXPECT_TRUE(ReadViewerList(path).empty());
  }
}

TEST(ViewerList, ADownloadComesFirstAndWhatWasKeptFillsIn) {
  ScratchRoot scratch;
  const std::string root = scratch.path();
  for (const char* folder : {"a", "b", "c"}) WriteBytes(root + folder + "/p.jpg", JpegBytes(8, 8));
  const std::vector<ViewerAlbum> kept{{.folder = "c", .photoOrder = {"p.jpg"}},
                                      {.folder = "gone", .name = "moved away"},
                                      {.name = "failed before", .failed = true},
                                      {.folder = "a", .name = "A", .photoOrder = {"z.jpg", "p.jpg"}}};
  // An update of album a alone: it fetched nothing, so its photo order is the kept one.
  std::vector<ViewerAlbum> list = MergeViewerList(root, {{.folder = root + "a", .name = "A2"}}, kept);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].folder, "a");
  EXPECT_EQ(list[0].name, "A2");
  EXPECT_EQ(list[0].photoOrder, (std::vector<std::string>{"z.jpg", "p.jpg"}));
  EXPECT_EQ(list[1].folder, "c");
  // A rebuild alone keeps the failed album too; never an album whose folder went.
  list = MergeViewerList(root, {}, kept);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].folder, "c");
  EXPECT_EQ(list[1].name, "failed before");
  EXPECT_EQ(list[2].name, "A");
}

}  // namespace

// What a download tells the viewer: albums in list order, finished ones with their folders, failed ones
// with their reasons, and nothing for albums the download did not finish or touch.
#include "viewer/downloadnotes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/viewer/viewertest.h"

namespace {

AlbumStatusUpdate Update(int n, AlbumState state, std::string folder = {}, std::string reason = {}) {
  AlbumStatusUpdate u;
  u.currentAlbum = n;
  u.state = state;
  u.currentAlbumName = std::move(folder);
  u.reason = std::move(reason);
  return u;
}

TEST(DownloadNotes, ListOrderFromTheStatusUpdates) {
  DownloadNotes notes({{"a", "1", "甲", "2", "d1"},
                       {"b", "3", "乙", "1", "d2"},
                       {"c", "1", "丙", "5", "d3"},
                       {"d", "1", "丁", "1", "d4"}});
  // Reported out of list order, as a pipelined download may; album 3 is never ticked.
  notes.Update(Update(2, AlbumState::kStarted, "丙"));
  notes.Update(Update(2, AlbumState::kProgress, "丙"));  // stopped half way: left out
  notes.Update(Update(1, AlbumState::kStarted, "乙"));
  notes.Update(Update(1, AlbumState::kFailed, "乙", "the photo list holds no photo"));
  notes.Update(Update(0, AlbumState::kStarted, "甲"));
  notes.Update(Update(0, AlbumState::kDone, "甲_3fb7f4a93bbc846"));
  notes.Update(Update(9, AlbumState::kDone, "beyond the list"));
  const std::vector<ViewerAlbum> list = notes.ListOrder();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].folder, "甲_3fb7f4a93bbc846");
  EXPECT_EQ(list[0].name, "甲");
  EXPECT_EQ(list[0].desc, "d1");
  EXPECT_FALSE(list[0].failed);
  EXPECT_EQ(list[1].folder, "");
  EXPECT_TRUE(list[1].failed);
  EXPECT_EQ(list[1].priv, "3");
  EXPECT_EQ(list[1].failureReason, "the photo list holds no photo");
}

TEST(DownloadNotes, AViewerThatCannotBeBuiltIsAReasonNotAnException) {
  DownloadNotes notes({});
  EXPECT_NE(BuildDownloadViewer("/nonexistent/album root/", notes), "");
}

TEST(DownloadNotes, ADoneAlbumGetsItsThumbnailsDuringTheDownloadAndTheViewerKeepsThem) {
  ScratchRoot scratch;
  const std::string root = scratch.path();
  for (int i = 0; i < 5; ++i) WriteBytes(root + "甲/" + std::to_string(i) + ".jpg", JpegBytes(400, 300));
  WriteBytes(root + "乙/0.jpg", JpegBytes(400, 300));
  DownloadNotes notes({{"a", "1", "甲", "5", ""}, {"b", "1", "乙", "1", ""}});
  notes.Update(Update(1, AlbumState::kDone, "乙"));  // before the root is known: nothing ahead
  notes.Prepared(root);
  notes.Update(Update(0, AlbumState::kDone, "甲"));
  // The thread works at its own pace; a second build of the same album must then find all five.
  const std::string thumbs = root + ".lorvanta-viewer/thumbs";
  const auto made = [&] { return std::filesystem::is_directory(thumbs) ? FilesBelow(thumbs).size() : 0; };
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (made() < 5 && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(notes.StopAhead(), 5);
  const ViewerReport report = BuildViewer(root, notes.ListOrder());
  EXPECT_EQ(report.thumbnailsReused, 5);
  EXPECT_EQ(report.thumbnailsMade, 1);
  EXPECT_EQ(report.placeholders, 0);
}

}  // namespace

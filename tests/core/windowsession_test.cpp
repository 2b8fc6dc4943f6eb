#include "core/windowsession.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Phase = WindowSession::Phase;
using PreviewPress = WindowSession::PreviewPress;
using DownloadPress = WindowSession::DownloadPress;

PreviewResult Listed(std::uint64_t job, const std::string& qq) {
  PreviewResult r;
  r.jobId = job;
  r.qqNumber = qq;
  r.albumEntries = {"1|1|a|1|"};
  return r;
}

// Each case runs its steps on a fresh session and checks where the buttons stand: the phase, both
// captions, and what the next press of each button would do.
TEST(WindowSession, ButtonsFollowTheJobs) {
  constexpr std::string_view kList = "<input id=\"CHECK_0\">";
  struct Case {
    const char* name;
    std::function<void(WindowSession&)> steps;
    Phase phase;
    PreviewPress preview;
    DownloadPress download;  // with kList in the pane
  };
  const Case cases[] = {
      {"fresh", [](WindowSession&) {}, Phase::kIdle, PreviewPress::kStart, DownloadPress::kNoAlbumList},
      {"previewing", [](WindowSession& s) { s.PreviewStarted(); }, Phase::kPreviewing, PreviewPress::kStop,
       DownloadPress::kPreviewRunning},
      // A list that failed never ends the preview: its button keeps offering the stop.
      {"list failed",
       [](WindowSession& s) {
         const auto job = s.PreviewStarted();
         PreviewResult failed;
         failed.jobId = job;
         s.Adopt(failed);
       },
       Phase::kPreviewing, PreviewPress::kStop, DownloadPress::kPreviewRunning},
      {"listed",
       [](WindowSession& s) {
         s.Adopt(Listed(s.PreviewStarted(), "10001"));
         s.PreviewEnded();
       },
       Phase::kIdle, PreviewPress::kStart, DownloadPress::kStart},
      {"preview stopped, job runs on",
       [](WindowSession& s) {
         s.PreviewStarted();
         s.Stopped(true);
       },
       Phase::kStopping, PreviewPress::kStart, DownloadPress::kNoAlbumList},
      {"stopped job ended",
       [](WindowSession& s) {
         s.PreviewStarted();
         s.Stopped(true);
         s.JobEnded();
       },
       Phase::kIdle, PreviewPress::kStart, DownloadPress::kNoAlbumList},
      {"downloading",
       [](WindowSession& s) {
         s.Adopt(Listed(s.PreviewStarted(), "10001"));
         s.PreviewEnded();
         s.DownloadStarted();
       },
       Phase::kDownloading, PreviewPress::kDownloadRunning, DownloadPress::kStop},
      // A download started while a stopped one winds down is not ended by that one's end.
      {"restarted while the stopped job ends",
       [](WindowSession& s) {
         s.Adopt(Listed(s.PreviewStarted(), "10001"));
         s.PreviewEnded();
         s.DownloadStarted();
         s.Stopped(true);
         s.DownloadStarted();
         s.JobEnded();
       },
       Phase::kDownloading, PreviewPress::kDownloadRunning, DownloadPress::kStop},
      {"refused",
       [](WindowSession& s) {
         s.Adopt(Listed(s.PreviewStarted(), "10001"));
         s.PreviewEnded();
         s.DownloadStarted();
         s.DownloadRefused();
       },
       Phase::kIdle, PreviewPress::kStart, DownloadPress::kStart},
  };
  for (const Case& c : cases) {
    WindowSession s;
    c.steps(s);
    EXPECT_EQ(s.phase(), c.phase) << c.name;
    EXPECT_EQ(s.PressPreview(), c.preview) << c.name;
    EXPECT_EQ(s.PressDownload(kList), c.download) << c.name;
    EXPECT_EQ(s.PreviewCaption(),
              c.phase == Phase::kPreviewing ? kCaptionPreviewRunning : kCaptionPreviewIdle)
        << c.name;
    EXPECT_EQ(s.DownloadCaption(),
              c.phase == Phase::kDownloading ? kCaptionDownloadRunning : kCaptionDownloadIdle)
        << c.name;
  }
}

// Only the newest preview's results are taken; a page without the first tick box holds no list.
TEST(WindowSession, StaleResultsAndPagesWithoutAList) {
  WindowSession s;
  const auto first = s.PreviewStarted();
  const auto second = s.PreviewStarted();
  EXPECT_FALSE(s.Adopt(Listed(first, "10001")));
  EXPECT_TRUE(s.preview().albumEntries.empty());
  EXPECT_TRUE(s.Adopt(Listed(second, "10002")));
  EXPECT_EQ(s.qqNumber, "10002");
  s.PreviewEnded();
  EXPECT_EQ(s.PressDownload("<p>notice</p>"), DownloadPress::kNoAlbumList);
  EXPECT_EQ(s.PressDownload("<input id=\"check_0\">"), DownloadPress::kStart);
  EXPECT_FALSE(s.MayShowClientPage(false)) << "an album list is shown";

  WindowSession empty;
  EXPECT_EQ(empty.PressDownload("<input id=\"check_0\">"), DownloadPress::kNoAlbumList) << "nothing listed";
  EXPECT_TRUE(empty.MayShowClientPage(false));
  EXPECT_FALSE(empty.MayShowClientPage(true));
  empty.DownloadCompleted(DownloadCounters{1, 2, 3, 4});
  EXPECT_EQ(empty.counters, (DownloadCounters{1, 2, 3, 4}));
}

}  // namespace

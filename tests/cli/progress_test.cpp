// lorvanta-cli's live line on a terminal: beside the album at work, the whole job — photos done of the
// total, bytes, rate and the time left — with the total taken from the album list and corrected by each
// album's plan; and never wider than the terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/terminalhost.h"
#include "tests/support/terminal.h"
#include "tests/support/testfolder.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace fs = std::filesystem;

namespace {

// Runs lorvanta-cli with stdout on a pseudo-terminal of the given width (0: one that does not say).
TerminalRun OnTerminal(const std::vector<std::string>& args, unsigned short columns = 0) {
  return RunOnTerminal(LORVANTA_CLI, args, columns);
}

// Every drawing of the live line (what follows an erase-line up to the next carriage return or newline).
std::vector<std::string> Drawings(const std::string& out) {
  std::vector<std::string> lines;
  for (size_t at = out.find("\r\033[K"); at != std::string::npos; at = out.find("\r\033[K", at + 1)) {
    const size_t start = at + 4;
    lines.push_back(out.substr(start, out.find_first_of("\r\n", start) - start));
  }
  return lines;
}

struct Whole {
  int done = -1, total = -1;
};

// The whole job's part of a drawing; {-1, -1} when it is missing or not in its shape.
Whole WholeOf(const std::string& drawing) {
  const size_t at = drawing.find(" | all ");
  Whole w;
  int percent = -1;
  char rest[64] = {};
  if (at == std::string::npos ||
      std::sscanf(drawing.c_str() + at, " | all %d/%d photos (%d%%), %63[^\n]", &w.done, &w.total, &percent,
                  rest) != 4 ||
      drawing.find("/s, ", at) == std::string::npos || drawing.substr(drawing.size() - 5) != " left")
    return {};
  return w;
}

class ProgressTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }
  static AlbumdProcess* albumd_;
  TestFolder sandbox_;
};
AlbumdProcess* ProgressTest::albumd_ = nullptr;

TEST_F(ProgressTest, WholeJobCountsEveryTickedAlbumFromTheListOn) {
  // 1001 and 1002 list 4 photos each: 8 from the first photo on.
  const TerminalRun run = OnTerminal({"download", "10001", "--album", "1001", "--album", "1002", "--to",
                                      sandbox_.Dir().string(), "--route-host", albumd_->HostPort()});
  const auto drawings = Drawings(run.out);
  ASSERT_FALSE(drawings.empty()) << run.out;
  int previous = -1;
  for (const std::string& d : drawings) {
    const Whole w = WholeOf(d);
    ASSERT_GE(w.done, 0) << d;
    EXPECT_EQ(w.total, 8) << d;
    EXPECT_GE(w.done, previous) << "the count never goes back";
    previous = w.done;
  }
  EXPECT_NE(drawings.back().find("all 8/8 photos (100%)"), std::string::npos) << drawings.back();
  EXPECT_NE(drawings.back().find("0:00 left"), std::string::npos) << drawings.back();
}

TEST_F(ProgressTest, AnUpdateCountsOnlyWhatItsPlanFetches) {
  const std::string to = sandbox_.Dir().string();
  const std::vector<std::string> args = {
      "download", "10001", "--album", "1001", "--update", "--to", to, "--route-host", albumd_->HostPort()};
  ASSERT_EQ(OnTerminal(args).code, 0);
  fs::remove(sandbox_.Dir() / "10001的相册" / "春节回家" / "年夜饭.JPG");
  const TerminalRun again = OnTerminal(args);
  EXPECT_EQ(again.code, 0) << again.out;
  // Listed are 4; once the album's plan is known it is the one photo deleted by hand.
  const auto drawings = Drawings(again.out);
  ASSERT_FALSE(drawings.empty()) << again.out;
  EXPECT_NE(drawings.back().find("all 1/1 photos (100%)"), std::string::npos) << drawings.back();
}

TEST_F(ProgressTest, TheLineFitsANarrowTerminal) {
  const TerminalRun run = OnTerminal({"download", "10001", "--album", "1001", "--to", sandbox_.Dir().string(),
                                      "--route-host", albumd_->HostPort()},
                                     40);
  EXPECT_EQ(run.code, 0);
  const auto drawings = Drawings(run.out);
  ASSERT_FALSE(drawings.empty()) << run.out;
  for (const std::string& d : drawings) {
    EXPECT_LT(DisplayWidth(d), 40) << d;
    EXPECT_EQ(d.rfind("春节回家: ", 0), 0u) << d;
  }
}

TEST(ProgressText, WidthsSizesAndClocks) {
  EXPECT_EQ(DisplayWidth("abc"), 3);
  EXPECT_EQ(DisplayWidth("春节回家: 4"), 11);
  EXPECT_EQ(FitColumns("春节回家", 5), "春节");  // never half a character
  EXPECT_EQ(FitColumns("ab", 5), "ab");
  struct {
    double bytes;
    const char* text;
  } sizes[] = {{0, "0 B"},
               {1023, "1023 B"},
               {1024, "1.0 KiB"},
               {1536, "1.5 KiB"},
               {5.0 * (1 << 20), "5.0 MiB"},
               {3.0 * (1 << 30), "3.0 GiB"}};
  for (const auto& s : sizes) EXPECT_EQ(HumanBytes(s.bytes), s.text) << s.bytes;
  struct {
    double seconds;
    const char* text;
  } clocks[] = {{0, "0:00"}, {7.4, "0:07"}, {59.6, "1:00"}, {754, "12:34"}, {3723, "1:02:03"}, {-3, "0:00"}};
  for (const auto& c : clocks) EXPECT_EQ(Clock(c.seconds), c.text) << c.seconds;
}

}  // namespace

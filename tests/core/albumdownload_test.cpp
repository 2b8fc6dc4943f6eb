// The album download job against the bundled album service, without a window.
#include "core/albumdownload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "core/albumlist.h"
#include "core/albumscripts.h"
#include "core/filenames.h"
#include "machine/md5unit.h"
#include "tests/core/jobhosts.h"
#include "tests/support/testfolder.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace {

namespace fs = std::filesystem;
using End = DownloadOutcome::End;

// What the album page shows for an update: its cell markup and row colour.
std::string Shown(const AlbumStatusUpdate& u) {
  return AlbumStatusHtml(u) + " " + std::string(AlbumRowColor(u.state));
}

class AlbumDownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }

  // Previews qq, then downloads it into the test folder's "dl/".
  DownloadOutcome Download(const std::string& qq) {
    RecordingPreviewHost previewHost;
    PreviewInput preview;
    preview.qqNumber = qq;
    preview.routeHost = albumd_->HostPort();
    preview.routeFile = dir_.path() + "work/velquan_album_route.txt";
    preview.albumListFile = dir_.path() + "work/velquan_album_list.txt";
    fs::create_directories(dir_.path() + "work");
    const PreviewOutcome listed = RetrieveAlbumList(preview, previewHost);
    EXPECT_EQ(listed.end, PreviewOutcome::End::kListed) << qq;
    entries_ = listed.result.albums;

    input_.qqNumber = qq;
    input_.photoListHost = listed.result.photoListHost;
    input_.albumViewHost = listed.result.albumViewHost;
    input_.albums = entries_;
    input_.photoListFile = dir_.path() + "work/velquan_photo_list.txt";
    input_.stopRequested = &stop_;
    input_.fetchOptions.lowSpeedTimeSec = 1;
    if (input_.downloadFolder.empty()) input_.downloadFolder = dir_.path() + "dl";
    return DownloadCheckedAlbums(input_, host_);
  }

  std::string Root(const std::string& qq) const { return dir_.path() + "dl/" + qq + "的相册/"; }

  // Files below the album root, relative to it.
  std::vector<std::string> RootTree(const std::string& qq) const {
    std::vector<std::string> out;
    for (const std::string& entry : dir_.Tree()) {
      const std::string prefix = "dl/" + qq + "的相册/";
      if (entry.rfind(prefix, 0) == 0 && entry.size() > prefix.size())
        out.push_back(entry.substr(prefix.size()));
    }
    return out;
  }

  // No partial, temporary or stray file anywhere: the only files are the photos the job reported written,
  // and each holds exactly what albumd serves for its address.
  void ExpectOnlyWrittenPhotos() {
    std::set<std::string> written;
    for (const auto& f : host_.finished) {
      if (f.ok) written.insert(f.photo.file);
    }
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(Root(input_.qqNumber))) {
      if (entry.is_regular_file()) found.insert(entry.path().string());
    }
    EXPECT_EQ(found, written);
    // albumd serves the shipped images unchanged, so every photo written must be one of them, whole.
    std::set<std::string> images;
    for (const auto& entry : fs::directory_iterator(DefaultDataDir() + "/images")) {
      images.insert(ReadFileBytes(entry.path().string()));
    }
    for (const auto& f : host_.finished) {
      if (!f.ok) continue;
      const std::string bytes = ReadFileBytes(f.photo.file);
      EXPECT_TRUE(images.count(bytes)) << f.photo.file;
      EXPECT_EQ(static_cast<long long>(bytes.size()), f.bytes) << f.photo.file;
    }
    for (const auto& entry : fs::directory_iterator(dir_.path() + "work")) {
      EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos) << entry.path();
    }
  }

  static std::string Image(const std::string& name) {
    return ReadFileBytes(DefaultDataDir() + "/images/" + name);
  }

  static AlbumdProcess* albumd_;
  TestFolder dir_;
  RecordingDownloadHost host_;
  DownloadInput input_;
  std::vector<AlbumEntryFields> entries_;
  std::atomic<bool> stop_{false};
};

AlbumdProcess* AlbumDownloadTest::albumd_ = nullptr;

TEST_F(AlbumDownloadTest, DemoAccountDownloadsEveryTickedAlbum) {
  const DownloadOutcome out = Download("10001");
  EXPECT_EQ(out.end, End::kCompleted);
  EXPECT_EQ(out.counters, (DownloadCounters{5, 1, 19, 0}));
  EXPECT_EQ(kChooseFolderTitle, "请选择你要将下载的相片保存到哪里");
  EXPECT_EQ(host_.preparedRoot, Root("10001"));
  EXPECT_EQ(out.albumRoot, Root("10001"));
  EXPECT_EQ(
      DownloadSummary("10001", out.counters),
      "10001整个相册全部下载完成:\n\r成功下载相册数量：5\n\r下载失败相册数量：1\n\r成功下载相片数量：19\n\r"
      "下载失败相片数量：0\n\r\n\r现在打开文件夹查看吗？");
  EXPECT_EQ(host_.events.front(), "DownloadFolderPrepared");
  EXPECT_EQ(host_.events[1], "ShowAlbumStatus 0");

  // The folder tree: one folder per album with photos; the empty album 1005 gets none.
  const std::vector<std::string> tree = RootTree("10001");
  for (const char* expected : {"春节回家/", "春节回家/年夜饭.JPG", "春节回家/放烟花.GIF",
                               "春节回家/贴春联.PNG", "春节回家/全家福.JPG", "西湖游记/断桥.JPG",
                               "私人收藏/日记.JPG", "宝宝成长记/抓周.PNG", "台灣之旅·裏山/小笼包.JPG"}) {
    EXPECT_NE(std::find(tree.begin(), tree.end(), expected), tree.end()) << expected;
  }
  EXPECT_EQ(std::find(tree.begin(), tree.end(), "空相册/"), tree.end());
  EXPECT_EQ(tree.size(), 5u + 19u);
  EXPECT_EQ(ReadFileBytes(Root("10001") + "春节回家/年夜饭.JPG"), Image("garden.jpg"));
  EXPECT_EQ(ReadFileBytes(Root("10001") + "春节回家/放烟花.GIF"), Image("lantern.gif"));
  EXPECT_EQ(ReadFileBytes(Root("10001") + "春节回家/贴春联.PNG"), Image("leaf.png"));
  EXPECT_EQ(ReadFileBytes(Root("10001") + "西湖游记/雷峰塔.GIF"), Image("sun.gif"));
  ExpectOnlyWrittenPhotos();

  // priv "1" lists photos through fcg_list_photo, every other priv through cgi_view_album.
  const std::vector<std::string> log = albumd_->LogLines();
  auto logged = [&](const std::string& needle) {
    return std::any_of(log.begin(), log.end(),
                       [&](const std::string& l) { return l.find(needle) != std::string::npos; });
  };
  EXPECT_TRUE(logged("/fcgi-bin/fcg_list_photo uin=10001&albumid=1001 200"));
  EXPECT_TRUE(logged("/fcgi-bin/fcg_list_photo uin=10001&albumid=1005 200"));
  for (const char* id : {"1002", "1003", "1004", "1006"}) {
    EXPECT_TRUE(
        logged(std::string("/cgi-bin/common/cgi_view_album uin=10001&refer=portal&albumid=") + id + " 200"))
        << id;
    EXPECT_FALSE(logged(std::string("/fcgi-bin/fcg_list_photo uin=10001&albumid=") + id)) << id;
  }
}

TEST_F(AlbumDownloadTest, StatusUpdatesAndTextsInOrder) {
  Download("10001");
  // Album 0: started, one progress step per photo (k taken before it grows), then the tick.
  std::vector<std::string> album0;
  for (const auto& u : host_.updates) {
    if (u.currentAlbum == 0) album0.push_back(Shown(u));
  }
  EXPECT_EQ(album0,
            (std::vector<std::string>{
                StartedStatusHtml() + " #FF6600", ProgressStatusHtml(0, "4") + " #FF6600",
                ProgressStatusHtml(1, "4") + " #FF6600", ProgressStatusHtml(2, "4") + " #FF6600",
                ProgressStatusHtml(3, "4") + " #FF6600", FinishedStatusHtml("春节回家") + " #FFFFFF"}));
  EXPECT_EQ(host_.updates[5].currentAlbumName, "春节回家");
  // The empty album 4 fails: started, then "失败" on white.
  std::vector<std::string> album4;
  for (const auto& u : host_.updates) {
    if (u.currentAlbum == 4) album4.push_back(Shown(u));
  }
  EXPECT_EQ(album4,
            (std::vector<std::string>{StartedStatusHtml() + " #FF6600", FailedStatusHtml() + " #FFFFFF"}));

  ASSERT_GE(host_.statusTexts.size(), 4u);
  EXPECT_EQ(host_.statusTexts[0], "正在下载：春节回家/年夜饭.JPG");
  EXPECT_EQ(host_.statusTexts[1], "正在下载：春节回家/放烟花.GIF");
  EXPECT_EQ(host_.statusTexts[2], "正在下载：春节回家/贴春联.PNG");
  EXPECT_EQ(host_.statusTexts.size(), 19u);
}

TEST_F(AlbumDownloadTest, UntickedAlbumsAreSkippedAndTheOldRootIsKept) {
  const std::string root = dir_.path() + "dl/10001的相册/";
  dir_.Write("dl/10001的相册/旧的/old.JPG", "old bytes");
  input_.selection = std::make_shared<AlbumSelection>(std::vector<bool>(6, false));
  input_.clock = [] { return std::time_t{1800000000}; };
  DownloadOutcome out = Download("10001");
  EXPECT_EQ(out.end, End::kCompleted);
  out.lock.reset();  // the first run is over: its caller lets go of the album root
  EXPECT_EQ(out.counters, (DownloadCounters{0, 0, 0, 0}));
  EXPECT_TRUE(host_.updates.empty());
  EXPECT_TRUE(fs::is_directory(root));
  EXPECT_TRUE(RootTree("10001").empty());
  const std::string backup = BackupFolderName(dir_.path() + "dl/", "10001", std::time_t{1800000000});
  EXPECT_EQ(ReadFileBytes(backup + "/旧的/old.JPG"), "old bytes");

  // A second run in the same second gets a backup name of its own; nothing is overwritten.
  host_ = RecordingDownloadHost();
  dir_.Write("dl/10001的相册/again.txt", "x");
  Download("10001");
  EXPECT_EQ(ReadFileBytes(backup + "/旧的/old.JPG"), "old bytes");
  EXPECT_EQ(ReadFileBytes(backup + "_2/again.txt"), "x");
}

// The ticks are read as the job comes to each album: unticking one that has not begun leaves it out,
// ticking one that was passed does not bring it back.
TEST_F(AlbumDownloadTest, AnAlbumUntickedDuringTheDownloadIsSkipped) {
  auto selection = std::make_shared<AlbumSelection>(std::vector<bool>{false, true, true, true, false, true});
  input_.selection = selection;
  host_.onPhotoStarted = [&](const PhotoProgress& p) {
    if (p.album != 1) return;
    selection->Set(3, false);
    selection->Set(0, true);
  };
  const DownloadOutcome out = Download("10001");
  EXPECT_EQ(out.end, End::kCompleted);
  std::set<int> walked;
  for (const auto& u : host_.updates) walked.insert(u.currentAlbum);
  EXPECT_EQ(walked, (std::set<int>{1, 2, 5}));
  EXPECT_EQ(out.counters.albumsOk, 3);
  EXPECT_EQ(out.counters.albumsFailed, 0);
}

TEST_F(AlbumDownloadTest, StopEndsTheJobAtItsNextPoll) {
  int started = 0;
  host_.onPhotoStarted = [&](const PhotoProgress&) {
    if (++started == 2) stop_ = true;
  };
  const DownloadOutcome out = Download("10001");
  EXPECT_EQ(out.end, End::kStopped);
  EXPECT_EQ(started, 2);  // the photo in progress finished, no further one began
  EXPECT_EQ(out.counters.photosOk, 2);
  ExpectOnlyWrittenPhotos();
}

TEST_F(AlbumDownloadTest, PhotoListFaults) {
  // Album 2 (index 1) ends with "失败" and is counted as failed, with the reason for its state.
  struct Case {
    const char* qq;
    DownloadCounters counters;
    const char* reason;
  } cases[] = {
      {"10021", {1, 1, 2, 0}, "could not be fetched: the server answered 404"},  // no stale list stands in
      {"10022", {1, 1, 2, 0}, "holds no photo"},                                 // "album" without "pic"
      {"10023", {1, 1, 2, 0}, "holds no photo"},                                 // root "data"
      {"10024", {1, 1, 2, 0}, "not well-formed XML"},                            // not XML
  };
  for (const auto& c : cases) {
    host_ = RecordingDownloadHost();
    fs::remove_all(dir_.path() + "dl");
    const DownloadOutcome out = Download(c.qq);
    EXPECT_EQ(out.end, End::kCompleted) << c.qq;
    EXPECT_EQ(out.counters, c.counters) << c.qq;
    std::vector<std::string> album1;
    for (const auto& u : host_.updates) {
      if (u.currentAlbum == 1) album1.push_back(Shown(u));
    }
    EXPECT_EQ(album1,
              (std::vector<std::string>{StartedStatusHtml() + " #FF6600", FailedStatusHtml() + " #FFFFFF"}))
        << c.qq;
    const auto last = std::find_if(host_.updates.rbegin(), host_.updates.rend(),
                                   [](const AlbumStatusUpdate& u) { return u.currentAlbum == 1; });
    ASSERT_NE(last, host_.updates.rend()) << c.qq;
    EXPECT_EQ(last->state, AlbumState::kFailed) << c.qq;
    EXPECT_NE(last->reason.find(c.reason), std::string::npos) << c.qq << ": " << last->reason;
    ExpectOnlyWrittenPhotos();
  }
}

TEST_F(AlbumDownloadTest, PhotoFaultsLeaveNoPartialFile) {
  using F = FetchFailure;
  struct Case {
    const char* qq;
    int ok, failed;
    FetchFailure why;  // of the failed photo
  } cases[] = {
      {"10031", 2, 0, F::kNone},        // no "url": skipped uncounted
      {"10032", 2, 0, F::kNone},        // empty "url": unreadable, skipped uncounted
      {"10033", 2, 1, F::kHttpStatus},  // 404
      {"10034", 2, 1, F::kCutShort},    // cut off mid-body
      {"10035", 2, 1, F::kTooSlow},     // stalls
      {"10036", 2, 1, F::kNotImage},    // an HTML page instead of an image
      {"10037", 2, 1, F::kNotImage},    // empty body
      {"10038", 2, 1, F::kHttpStatus},  // 429 on the first request: no retry
      {"10039", 2, 1, F::kHttpStatus},  // 500 on the first request
      {"10040", 3, 0, F::kNone},        // a redirect to the image
      {"10047", 2, 1, F::kTooSlow},     // 2 bytes a second: under the floor
      {"10049", 2, 1, F::kTooLarge},    // announces 10 GiB: over the cap before a byte is written
  };
  for (const auto& c : cases) {
    host_ = RecordingDownloadHost();
    fs::remove_all(dir_.path() + "dl");
    const DownloadOutcome out = Download(c.qq);
    EXPECT_EQ(out.end, End::kCompleted) << c.qq;
    EXPECT_EQ(out.counters, (DownloadCounters{1, 0, c.ok, c.failed})) << c.qq;
    EXPECT_EQ(RootTree(c.qq).size(), 1u + c.ok) << c.qq;
    const bool failText = std::any_of(host_.statusTexts.begin(), host_.statusTexts.end(),
                                      [](const std::string& t) { return t.rfind("下载失败：", 0) == 0; });
    EXPECT_EQ(failText, c.failed > 0) << c.qq;
    for (const auto& f : host_.finished) {
      EXPECT_EQ(f.failure, f.ok ? F::kNone : c.why) << c.qq << ": " << f.error;
      EXPECT_EQ(f.error.empty(), f.ok) << c.qq;
    }
    ExpectOnlyWrittenPhotos();
  }
}

TEST_F(AlbumDownloadTest, CollidingAndOddNamesNeverOverwriteOrEscape) {
  Download("10041");
  const std::string root = Root("10041");
  const std::string second = "旅行_" + Md5Hex("2").substr(0, 15);
  const std::vector<std::string> tree = RootTree("10041");
  EXPECT_EQ(tree.size(), 2u + 4u);
  EXPECT_TRUE(fs::is_directory(root + second));
  EXPECT_EQ(ReadFileBytes(root + "旅行/海边.JPG"), Image("sky.jpg"));
  std::string secondSea;
  for (const auto& f : host_.finished) {
    if (f.photo.album == 0 && f.photo.photo == 1) secondSea = f.photo.file;
  }
  EXPECT_EQ(secondSea, root + "旅行/海边_" + Md5Hex(host_.finished[1].photo.url).substr(0, 15) + ".JPG");
  EXPECT_EQ(ReadFileBytes(secondSea), Image("garden.jpg"));
  EXPECT_EQ(ReadFileBytes(root + second + "/海边.PNG"), Image("leaf.png"));
  // The tick of the second album links its own folder.
  EXPECT_EQ(host_.updates.back().currentAlbumName, second);

  host_ = RecordingDownloadHost();
  const DownloadOutcome odd = Download("10042");
  EXPECT_EQ(odd.counters, (DownloadCounters{7, 0, 14, 0}));
  const std::string oddRoot = Root("10042");
  for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
    const std::string path = fs::weakly_canonical(entry.path()).string();
    EXPECT_EQ(path.rfind(fs::weakly_canonical(dir_.path()).string(), 0), 0u) << path;
  }
  for (const auto& f : host_.finished) {
    EXPECT_EQ(f.photo.file.rfind(oddRoot, 0), 0u) << f.photo.file;
    const std::string rel = f.photo.file.substr(oddRoot.size());
    EXPECT_EQ(std::count(rel.begin(), rel.end(), '/'), 1) << rel;  // album folder / photo file
    const std::string folder = rel.substr(0, rel.find('/'));
    EXPECT_NE(folder, ".");
    EXPECT_NE(folder, "..");
  }
  EXPECT_TRUE(fs::is_directory(oddRoot + "a0b0d"));
  EXPECT_TRUE(fs::exists(oddRoot + "a0b0d/a0b0d.PNG"));
  EXPECT_TRUE(fs::exists(oddRoot + "x0y/x0y.PNG"));
  EXPECT_TRUE(fs::exists(oddRoot + "..0..0逃出去/..0..0逃出去.PNG"));
  ExpectOnlyWrittenPhotos();
}

TEST_F(AlbumDownloadTest, LongAndNonGbkNamesAreStored) {
  for (const char* qq : {"10044", "10045"}) {
    host_ = RecordingDownloadHost();
    const DownloadOutcome out = Download(qq);
    EXPECT_EQ(out.counters.photosFailed, 0) << qq;
    EXPECT_GT(out.counters.photosOk, 0) << qq;
    for (const auto& f : host_.finished) {
      EXPECT_TRUE(f.ok) << f.photo.file;
      EXPECT_LE(LastComponent(f.photo.file).size(), kMaxComponentBytes);
    }
    ExpectOnlyWrittenPhotos();
  }
}

TEST(AlbumDownloadText, EntriesAndAddresses) {
  const AlbumEntryFields f = SplitAlbumEntry("V1|2|a b|12|desc|with|bars");
  EXPECT_EQ(f.id, "V1");
  EXPECT_EQ(f.priv, "2");
  EXPECT_EQ(f.name, "a b");
  EXPECT_EQ(f.total, "12");
  EXPECT_EQ(f.desc, "desc|with|bars");
  EXPECT_EQ(SplitAlbumEntry("1|1|n|1|" + std::string(20000, 'd')).desc.size(), 10000u);
  EXPECT_THROW(SplitAlbumEntry("1|2|3"), std::invalid_argument);

  AlbumEntryFields a{"V 1&x", "1", "n", "1", ""};
  EXPECT_EQ(PhotoListAddress(a, "12345", "s", "nu"),
            "http://s/fcgi-bin/fcg_list_photo?uin=12345&albumid=V%201%26x");
  for (const char* priv : {"2", "3", "0", "", " 1"}) {
    a = {"V1", priv, "n", "1", ""};
    EXPECT_EQ(PhotoListAddress(a, "12345", "s", "nu"),
              "http://nu/cgi-bin/common/cgi_view_album?uin=12345&refer=portal&albumid=V1")
        << priv;
  }
}

TEST(AlbumDownloadPlan, EntriesInListOrderWithTheirKinds) {
  TestFolder dir;
  XmlDocument doc = XmlDocument::LoadFromMemory(
      "<album><pic><name>a</name><url>http://h/1</url><phototype>1</phototype></pic><other/>"
      "<pic><name>a</name><url>http://h/2</url><phototype>1</phototype></pic>"
      "<pic><name>b</name><url> </url><phototype>2</phototype></pic>"
      "<pic><name>c</name><url>file:///etc/passwd</url><phototype>3</phototype></pic>"
      "<pic><name> </name><url>http://h/5</url><phototype>9</phototype></pic>"
      "<pic><name>skipped</name><phototype>1</phototype></pic></album>");
  const AlbumPlan plan = PlanAlbumPhotos(ListPhotoNodes(FirstPhotoNode(doc)), dir.path() + "alb", "相册");
  ASSERT_EQ(plan.photos.size(), 5u);
  EXPECT_FALSE(plan.entryLimitHit);
  EXPECT_EQ(plan.photos[0].file, dir.path() + "alb/a.JPG");
  EXPECT_EQ(plan.photos[1].file, dir.path() + "alb/a_" + Md5Hex("http://h/2").substr(0, 15) + ".JPG");
  EXPECT_EQ(plan.photos[2].kind, PlannedPhoto::Kind::kNoAddress);
  EXPECT_EQ(plan.photos[2].statusName, "相册/b.GIF");
  EXPECT_EQ(plan.photos[3].kind, PlannedPhoto::Kind::kRefused);
  EXPECT_EQ(plan.photos[4].file, dir.path() + "alb/" + Md5Hex("http://h/5") + ".JPG");
  EXPECT_EQ(plan.photos[4].statusName, "相册/.JPG");

  std::string big = "<album>";
  for (int i = 0; i < kMaxPhotoEntries + 5; ++i) big += "<x/>";
  big += "</album>";
  XmlDocument many = XmlDocument::LoadFromMemory("<album><pic/>" + big.substr(7));
  EXPECT_TRUE(PlanAlbumPhotos(ListPhotoNodes(FirstPhotoNode(many)), dir.path() + "alb", "x").entryLimitHit);
}

}  // namespace

// Several photos at once: the same names, bytes and counters as one at a time, also where names collide
// or are odd (the names are decided in list order before anything is fetched).
TEST_F(AlbumDownloadTest, ParallelFetchesGiveTheSameTree) {
  for (const char* qq : {"10001", "10041", "10042", "10033"}) {
    std::vector<std::string> trees[2];
    std::map<std::string, std::string> bytes[2];
    DownloadCounters counters[2];
    const int workers[2] = {1, 4};
    for (int run = 0; run < 2; ++run) {
      host_ = RecordingDownloadHost();
      fs::remove_all(dir_.path() + "dl");
      input_.parallelFetches = workers[run];
      const DownloadOutcome out = Download(qq);
      EXPECT_EQ(out.end, End::kCompleted) << qq;
      counters[run] = out.counters;
      trees[run] = RootTree(qq);
      for (const std::string& f : trees[run]) {
        if (f.back() != '/') bytes[run][f] = ReadFileBytes(Root(qq) + f);
      }
      ExpectOnlyWrittenPhotos();
      // Each album's progress cell counts up one by one whatever order the photos complete in.
      std::map<int, int> next;
      for (const auto& u : host_.updates) {
        if (u.state != AlbumState::kProgress) continue;
        EXPECT_EQ(u.total, entries_[u.currentAlbum].total) << qq;
        EXPECT_EQ(u.photosDone, next[u.currentAlbum]++) << qq;
      }
    }
    EXPECT_EQ(trees[0], trees[1]) << qq;
    EXPECT_EQ(bytes[0], bytes[1]) << qq;
    EXPECT_EQ(counters[0], counters[1]) << qq;
  }
}

TEST_F(AlbumDownloadTest, StopDuringParallelFetchesCountsWhatFinished) {
  input_.parallelFetches = 3;
  int started = 0;
  host_.onPhotoStarted = [&](const PhotoProgress&) {
    if (++started == 5) stop_ = true;
  };
  const DownloadOutcome out = Download("10001");
  EXPECT_EQ(out.end, End::kStopped);
  EXPECT_EQ(started, 5);
  // Every photo that started was waited for and reported, and nothing half-written is left.
  EXPECT_EQ(static_cast<int>(host_.finished.size()), 5);
  EXPECT_EQ(out.counters.photosOk + out.counters.photosFailed, 5);
  ExpectOnlyWrittenPhotos();
}

// 429 with Retry-After and a 500 answer only on the first request of an albumd run: a fresh albumd each.
TEST(AlbumDownloadRetry, RetriesTransientFailures) {
  struct Case {
    const char* qq;
    int retries;
    int photosOk, photosFailed;
    int requestsOfPhoto2;
  } cases[] = {
      {"10038", 2, 3, 0, 2},  // 429, then the image
      {"10039", 2, 3, 0, 2},  // 500, then the image
      {"10039", 0, 2, 1, 1},  // no retries asked: as the window does
      {"10033", 3, 2, 1, 1},  // 404 is final: asked once
  };
  for (const auto& c : cases) {
    auto albumd = AlbumdProcess::Start();
    TestFolder dir;
    fs::create_directories(dir.path() + "work");
    RecordingPreviewHost previewHost;
    PreviewInput preview;
    preview.qqNumber = c.qq;
    preview.routeHost = albumd->HostPort();
    preview.routeFile = dir.path() + "work/route.txt";
    preview.albumListFile = dir.path() + "work/list.txt";
    const PreviewOutcome listed = RetrieveAlbumList(preview, previewHost);
    ASSERT_EQ(listed.end, PreviewOutcome::End::kListed) << c.qq;

    DownloadInput in;
    in.qqNumber = c.qq;
    in.photoListHost = listed.result.photoListHost;
    in.albumViewHost = listed.result.albumViewHost;
    in.albums = listed.result.albums;
    in.photoListFile = dir.path() + "work/photos.txt";
    in.retry.retries = c.retries;
    in.retry.firstDelayMs = 10;
    RecordingDownloadHost host;
    in.downloadFolder = dir.path() + "dl";
    const DownloadOutcome out = DownloadCheckedAlbums(in, host);
    EXPECT_EQ(out.counters, (DownloadCounters{1, 0, c.photosOk, c.photosFailed})) << c.qq;
    int requests = 0;
    for (const std::string& line : albumd->LogLines()) {
      if (line.find("/photos/" + std::string(c.qq) + "/0/1.") != std::string::npos) ++requests;
    }
    EXPECT_EQ(requests, c.requestsOfPhoto2) << c.qq << " retries " << c.retries;
  }
}

namespace {

// What one album went through, in order: "started", "k/total" per photo, "done" or "failed <state>".
std::map<int, std::vector<std::string>> StepsPerAlbum(const std::vector<AlbumStatusUpdate>& updates) {
  std::map<int, std::vector<std::string>> steps;
  for (const AlbumStatusUpdate& u : updates) {
    std::string step;
    switch (u.state) {
      case AlbumState::kStarted:
        step = "started";
        break;
      case AlbumState::kProgress:
        step = std::to_string(u.photosDone) + "/" + u.total;
        break;
      case AlbumState::kDone:
        step = "done " + u.currentAlbumName;
        break;
      case AlbumState::kFailed:
        step = "failed";
        break;
      case AlbumState::kAbandoned:
        step = "abandoned";
        break;
    }
    steps[u.currentAlbum].push_back(step);
  }
  return steps;
}

}  // namespace

// Eight at once runs the albums into each other (the next album's list and photos while the last photos
// of the one before come in), yet every album goes through the same steps as one at a time, and the tree,
// bytes and counters are the same. Accounts with an unticked album, an empty (failed) album, colliding names
// and photos without an address.
TEST_F(AlbumDownloadTest, AlbumsRunIntoEachOtherWithTheSameStepsPerAlbum) {
  for (const char* qq : {"10001", "10033", "10041", "10042"}) {
    std::map<int, std::vector<std::string>> steps[2];
    std::vector<std::string> trees[2];
    DownloadCounters counters[2];
    const int workers[2] = {1, 8};
    for (int run = 0; run < 2; ++run) {
      host_ = RecordingDownloadHost();
      input_.selection = std::make_shared<AlbumSelection>(std::vector<bool>{true, false});
      fs::remove_all(dir_.path() + "dl");
      input_.parallelFetches = workers[run];
      const DownloadOutcome out = Download(qq);
      EXPECT_EQ(out.end, End::kCompleted) << qq;
      counters[run] = out.counters;
      trees[run] = RootTree(qq);
      steps[run] = StepsPerAlbum(host_.updates);
      ExpectOnlyWrittenPhotos();
      // Albums begin in list order: the first step of each comes after the first step of the one before.
      int last = -1;
      for (const AlbumStatusUpdate& u : host_.updates) {
        if (u.state != AlbumState::kStarted) continue;
        EXPECT_GT(u.currentAlbum, last) << qq;
        last = u.currentAlbum;
      }
    }
    EXPECT_EQ(steps[0], steps[1]) << qq;
    EXPECT_EQ(trees[0], trees[1]) << qq;
    EXPECT_EQ(counters[0], counters[1]) << qq;
    EXPECT_FALSE(steps[0].count(1)) << qq << ": the unticked album is left alone";
  }
}

// The point of it: with room in the pool, the next album starts before the album at work is done. With one
// connection it never does: an album ends before the next begins.
TEST_F(AlbumDownloadTest, NextAlbumStartsWhileTheLastPhotosComeInOnlyWithRoomForIt) {
  for (const int workers : {8, 1}) {
    host_ = RecordingDownloadHost();
    fs::remove_all(dir_.path() + "dl");
    input_.parallelFetches = workers;
    ASSERT_EQ(Download("10001").end, End::kCompleted);
    auto at = [&](int album, AlbumState state) {
      for (size_t i = 0; i < host_.updates.size(); ++i) {
        if (host_.updates[i].currentAlbum == album && host_.updates[i].state == state) return i;
      }
      return host_.updates.size();
    };
    ASSERT_LT(at(0, AlbumState::kDone), host_.updates.size());
    if (workers > 1) {
      EXPECT_LT(at(1, AlbumState::kStarted), at(0, AlbumState::kDone));
    } else {
      for (int n = 0; n + 1 < 6; ++n) {
        const size_t end = std::min(at(n, AlbumState::kDone), at(n, AlbumState::kFailed));
        EXPECT_LT(end, at(n + 1, AlbumState::kStarted)) << n;
      }
    }
  }
}

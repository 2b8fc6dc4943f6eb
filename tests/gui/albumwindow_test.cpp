// The window against the bundled album service: previews, the whole walk from the client page to files on
// disk, stopping and closing while a job is at work.
#include <gtest/gtest.h>

#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "core/albumdownload.h"
#include "core/albumlist.h"
#include "core/albumpage.h"
#include "core/rootlock.h"
#include "gui/mainfrm.h"
#include "gui/webpane.h"
#include "pageinput.h"
#include "routegate.h"
#include "tests/gui/windowcontrols.h"
#include "testserver.h"
#include "tools/albumd/testing/albumdprocess.h"
#include "viewer/viewer.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLoadMs = 15000;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// One albumd per suite (its start costs a process), one window per case.
class AlbumWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd = AlbumdProcess::Start(); }
  static void TearDownTestSuite() { albumd.reset(); }

  void SetUp() override {
    ASSERT_TRUE(albumd);
    ASSERT_TRUE(sandbox.isValid());
    root = sandbox.path().toStdString();
    ::setenv("LORVANTA_ROUTE_HOST", albumd->HostPort().c_str(), 1);
    ::setenv("LORVANTA_VENDOR_HOST", albumd->HostPort().c_str(), 1);
  }
  void TearDown() override {
    if (win) {
      win->close();
      EXPECT_TRUE(win->WaitForWorker(10000));
      win.reset();
    }
    ::setenv("LORVANTA_ROUTE_HOST", TestServer::Instance().HostPort().c_str(), 1);
    ::setenv("LORVANTA_VENDOR_HOST", TestServer::Instance().HostPort().c_str(), 1);
  }

  void Open(bool keepHomeTimer = false, std::string machine = "Btest", std::string vendorBase = {}) {
    TStartupInputs inputs;
    inputs.vendorBase = vendorBase;
    const std::string r = root;
    inputs.env = [r](const std::string& name) -> std::string {
      if (name == "XDG_DATA_HOME") return r + "/data";
      if (name == "XDG_CACHE_HOME") return r + "/cache";
      return {};
    };
    inputs.clock = [] { return TLocalTime{9, 30, 15}; };
    inputs.machineId = [machine] { return machine; };
    win = std::make_unique<Tmainfrm>(inputs);
    if (!keepHomeTimer) Child<QTimer>(win, "iedown_start")->stop();
    win->messageHook = [this](const QString& text) { messages << text; };
    win->chooseFolderHook = [this](const QString& title, QString& folder) {
      chooseTitles << title;
      if (target.empty()) return false;
      folder = QString::fromStdString(target);
      return true;
    };
    win->askOpenFolderHook = [this](const QString& summary) {
      summaries << summary;
      return true;
    };
    win->openFolderHook = [this](const QString& folder) { opened << folder; };
    win->resize(1280, 800);
    win->show();
  }

  std::string Markup() { return Pane(win, "iedown")->PageMarkup().toStdString(); }
  // A page of the program's own (CR LF lines) into the album pane, waited for.
  void ShowPageAndWait(const std::string& page) {
    win->ShowPageText(page);
    ASSERT_TRUE(Pane(win, "iedown")->WaitUntilReady(kLoadMs));
  }
  // Addresses as the pane reports them may show encoded characters decoded.
  static bool SameAddress(const QString& a, const QString& b) {
    return QUrl(a).toEncoded() == QUrl(b).toEncoded();
  }
  bool PageHas(const std::string& text) { return Markup().find(text) != std::string::npos; }
  std::string Script(const std::string& id, const std::string& script) {
    return win->RunAlbumScript(id, script).toStdString();
  }
  bool WaitForMessages(int count) {
    return QTest::qWaitFor([&] { return messages.size() >= count; }, kLoadMs);
  }
  void Preview(const char* qq) {
    Edit(win, "edtqq")->setText(qq);
    Button(win, "btnview")->click();
  }
  // The album page of a preview has been shown and announced.
  void PreviewAndWait(const char* qq) {
    Preview(qq);
    ASSERT_TRUE(WaitForMessages(1)) << qq;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return win->Session().albumPaneHtml.find("check_0") != std::string::npos; }, kLoadMs))
        << Pane(win, "iedown")->CurrentAddress().toStdString();
  }
  // Whether albumd has logged a line with `needle` since the log held `from` lines.
  bool LoggedSince(size_t from, const std::string& needle) {
    const std::vector<std::string> lines = albumd->LogLines();
    for (size_t i = from; i < lines.size(); ++i)
      if (lines[i].find(needle) != std::string::npos) return true;
    return false;
  }
  // Waits for albumd's log while the window keeps serving its jobs (albumd's own wait would block it).
  bool WaitForLog(const std::string& needle, int timeoutMs = kLoadMs) {
    return QTest::qWaitFor(
        [&] {
          for (const std::string& line : albumd->LogLines())
            if (line.find(needle) != std::string::npos) return true;
          return false;
        },
        timeoutMs);
  }
  void SaveShot(const char* name) {
    if (const char* dir = std::getenv("LORVANTA_SHOTS")) {
      QTest::qWait(500);
      win->grab().save(QString::fromUtf8(dir) + "/" + name);
    }
  }

  static std::unique_ptr<AlbumdProcess> albumd;
  QTemporaryDir sandbox;
  std::string root;
  std::string target;  // what the folder dialog answers; empty: cancelled
  std::unique_ptr<Tmainfrm> win;
  QStringList messages, chooseTitles, summaries, opened;
};
std::unique_ptr<AlbumdProcess> AlbumWindowTest::albumd;

TEST_F(AlbumWindowTest, PreviewShowsTheAlbumPageAndAnnouncesIt) {
  Open();
  Preview("10001");
  EXPECT_EQ(Button(win, "btnview")->text(), QString::fromUtf8(kCaptionPreviewRunning));
  EXPECT_TRUE(win->WorkerRunning());
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(messages.first().toStdString(), PreviewDoneMessage("10001"));
  EXPECT_EQ(Button(win, "btnview")->text(), QString::fromUtf8(kCaptionPreviewIdle));
  EXPECT_EQ(win->StatusPanel(0).toStdString(), std::string(kPreviewDoneStatus));
  ASSERT_TRUE(QTest::qWaitFor([&] { return PageHas("check_5"); }, kLoadMs));
  for (const char* block : {"check_0", "tbl_3", "status_4", "春节回家", "台灣之旅·裏山", "密", "私"})
    EXPECT_TRUE(PageHas(block)) << block;
  EXPECT_FALSE(PageHas("check_6"));
  // Every album starts ticked, with empty status cells and its cover from the album service.
  for (int n = 0; n < 6; ++n) {
    const std::string id = std::to_string(n);
    EXPECT_EQ(Script("check_" + id, "$(\"check_" + id + "\").checked"), "True") << n;
    EXPECT_EQ(Script("status_" + id, "$(\"status_" + id + "\").innerHTML"), "") << n;
    EXPECT_NE(Script("link_" + id, "$(\"link_" + id + "\").getElementsByTagName(\"img\")[0].src")
                  .find("http://" + albumd->HostPort() + "/covers/10001/"),
              std::string::npos)
        << n;
  }
  // The covers really load from the album service (a generated page is local, the covers are not).
  for (int n : {0, 5}) {
    const std::string img = "$(\"link_" + std::to_string(n) + "\").getElementsByTagName(\"img\")[0]";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Script("link_" + std::to_string(n), img + ".naturalWidth>0") == "True"; }, kLoadMs))
        << n;
  }
  EXPECT_TRUE(WaitForLog("GET /covers/10001/0.jpg - 200"));
  EXPECT_EQ(win->Session().qqNumber, "10001");
  EXPECT_EQ(win->Session().preview().albumEntries.size(), 6u);
  EXPECT_EQ(win->Session().preview().photoListHost, albumd->HostPort());
  EXPECT_EQ(win->Session().preview().albumViewHost, albumd->HostPort());
  SaveShot("preview-10001.png");

#ifdef LORVANTA_CLI
  // The command line's --page writes exactly the bytes this pane was given, for the same client number.
  {
    QTemporaryDir tmp;
    const std::string page = tmp.path().toStdString() + "/page.html";
    const std::string cmd = std::string(LORVANTA_CLI) + " preview 10001 --client-number " +
                            std::to_string(win->ClientNumber()) + " --route-host " + albumd->HostPort() +
                            " --page '" + page + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(page, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const QByteArray shown = Pane(win, "iedown")->PageBytes();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(bytes.str(), shown.toStdString());
  }
#endif

  // A preview is refused while the download button shows its running caption (here a download whose
  // folder browser was cancelled); the page stays.
  messages.clear();
  win->chooseFolderHook = [](const QString&, QString&) { return false; };
  Button(win, "btn_down")->click();
  EXPECT_EQ(Button(win, "btn_down")->text(), QString::fromUtf8(kCaptionDownloadRunning));
  Preview("10002");
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages.first(), QString::fromUtf8(kMessageDownloadRunning));
  EXPECT_FALSE(win->WorkerRunning());
  EXPECT_TRUE(PageHas("春节回家"));
  Button(win, "btn_down")->click();  // the stop path
  EXPECT_EQ(Button(win, "btn_down")->text(), QString::fromUtf8(kCaptionDownloadIdle));
}

TEST_F(AlbumWindowTest, FaultAccountsGiveTheirNoticePage) {
  const struct {
    const char* qq;
    std::string_view notice;
    std::string_view caption;  // after the job
    int messages;              // PreviewDone shown or not
  } cases[] = {
      {"10004", kRouteFailedMessage, kCaptionPreviewIdle, 0},
      {"10014", kAlbumListFailedMessage, kCaptionPreviewRunning, 0},
      {"10013", kAlbumListFailedMessage, kCaptionPreviewRunning, 0},
  };
  Open();
  for (const auto& c : cases) {
    messages.clear();
    Preview(c.qq);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !win->WorkerRunning(); }, kLoadMs)) << c.qq;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return win->Session().albumPaneHtml.find(c.notice) != std::string::npos; }, kLoadMs))
        << c.qq << " " << win->Session().albumPaneHtml;
    EXPECT_EQ(Button(win, "btnview")->text(), QString::fromUtf8(c.caption)) << c.qq;
    EXPECT_EQ(messages.size(), c.messages) << c.qq;
    EXPECT_TRUE(win->Session().preview().albumEntries.empty()) << c.qq;
    messages.clear();
    if (Button(win, "btnview")->text() == QString::fromUtf8(kCaptionPreviewRunning)) {
      // The caption still says a preview runs: the download is refused for that, and the next press of
      // the preview button only takes the caption back.
      Button(win, "btn_down")->click();
      ASSERT_EQ(messages.size(), 1) << c.qq;
      EXPECT_EQ(messages.first(), QString::fromUtf8(kMessagePreviewRunning)) << c.qq;
      messages.clear();
      Button(win, "btnview")->click();
      EXPECT_EQ(Button(win, "btnview")->text(), QString::fromUtf8(kCaptionPreviewIdle)) << c.qq;
      EXPECT_FALSE(win->WorkerRunning()) << c.qq;
      ShowPageAndWait(NoticePage(c.qq, c.notice));
    }
    // A notice page holds no album list: the download is refused with its message.
    Button(win, "btn_down")->click();
    ASSERT_EQ(messages.size(), 1) << c.qq;
    EXPECT_EQ(messages.first(), QString::fromUtf8(kMessageNoAlbumList)) << c.qq;
    EXPECT_FALSE(win->WorkerRunning()) << c.qq;
  }
}

TEST_F(AlbumWindowTest, DownloadRefusalsBeforeAnyAlbumList) {
  Open();
  // A pane that shows a picture holds no HTML document: the download waits and the stop timer is armed.
  Pane(win, "iedown")
      ->OpenAddress(QString::fromStdString("http://" + albumd->HostPort() + "/covers/10001/0.jpg"));
  ASSERT_TRUE(Pane(win, "iedown")->WaitUntilReady(kLoadMs));
  ASSERT_FALSE(Pane(win, "iedown")->HasHtmlDocument());
  Button(win, "btn_down")->click();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages.first(), QString::fromUtf8(kMessageAlbumPaneBusy));
  EXPECT_TRUE(Child<QTimer>(win, "TimerCheck")->isActive());
  EXPECT_FALSE(win->WorkerRunning());

  // The vendor's album page is HTML but no album list of ours.
  Pane(win, "iedown")->OpenAddress(QString::fromStdString("http://" + albumd->HostPort() + "/123_10001"));
  ASSERT_TRUE(Pane(win, "iedown")->WaitUntilReady(kLoadMs));
  messages.clear();
  Button(win, "btn_down")->click();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages.first(), QString::fromUtf8(kMessageNoAlbumList));
  // A preview whose album list failed leaves its button saying a preview runs: the download is refused
  // for that.
  Preview("10014");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !win->WorkerRunning(); }, kLoadMs));
  ASSERT_EQ(Button(win, "btnview")->text(), QString::fromUtf8(kCaptionPreviewRunning));
  messages.clear();
  Button(win, "btn_down")->click();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages.first(), QString::fromUtf8(kMessagePreviewRunning));
  EXPECT_FALSE(win->WorkerRunning());
  EXPECT_EQ(Button(win, "btn_down")->text(), QString::fromUtf8(kCaptionDownloadIdle));
}

// The whole walk: client page, link command, preview, album link, download, view link, home.
TEST_F(AlbumWindowTest, FromTheClientPageToFilesOnDisk) {
  target = root + "/saved";
  fs::create_directories(target);
  // The vendor base must come from the client page's field, not stay what start-up put there.
  Open(/*keepHomeTimer=*/true, "B 1&2", "http://stale.invalid");
  const std::string base = "http://" + albumd->HostPort();
  const QString client = QString::fromStdString(base + "/client.php?clientver=2.1&clientrand=B%201%262");
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return SameAddress(Pane(win, "iedown")->CurrentAddress(), client); }, kLoadMs))
      << Pane(win, "iedown")->CurrentAddress().toStdString();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return SameAddress(Pane(win, "ie")->CurrentAddress(), client + "&comefrom=client"); }, kLoadMs));
  ASSERT_TRUE(QTest::qWaitFor([&] { return win->Session().vendorBase == base; }, kLoadMs))
      << win->Session().vendorBase << " " << win->Session().albumPaneHtml.substr(0, 300) << " "
      << Pane(win, "iedown")->CurrentAddress().toStdString();
  ASSERT_TRUE(WaitForLog("clientrand=B%201%262 200"));

  QStringList completions;
  {
    auto original = Pane(win, "iedown")->OnDocumentComplete;
    Pane(win, "iedown")->OnDocumentComplete = [&, original](const QString& a) {
      completions << "begin " + a;
      original(a);
      completions << "end " + a + " " + QString::number(win->Session().albumPaneHtml.size());
    };
  }
  // The vendor page's link command starts the preview of its number.
  ASSERT_TRUE(QTest::qWaitFor([&] { return Pane(win, "ie")->HasHtmlDocument(); }, kLoadMs));
  Pane(win, "ie")->page()->runJavaScript("document.getElementById('demo').click();");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Edit(win, "edtqq")->text() == "10001"; }, kLoadMs))
      << Pane(win, "ie")->CurrentAddress().toStdString();
  ASSERT_TRUE(WaitForMessages(1));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return win->Session().albumPaneHtml.find("check_5") != std::string::npos; }, kLoadMs))
      << Pane(win, "iedown")->CurrentAddress().toStdString() << "\n"
      << win->Session().albumPaneHtml.substr(0, 400) << "\n"
      << Markup().substr(0, 100) << "\n"
      << completions.join("\n").toStdString();

  // An album link opens the album on the vendor site in the online pane; the album page stays.
  const QString albumPage = Pane(win, "iedown")->CurrentAddress();
  Script("link_0", "$(\"link_0\").click();");
  const QString album = QString::fromStdString(base + "/93015_10001/photo/1001");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Pane(win, "ie")->CurrentAddress() == album; }, kLoadMs))
      << Pane(win, "ie")->CurrentAddress().toStdString();
  EXPECT_EQ(Pane(win, "iedown")->CurrentAddress(), albumPage);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Child<QGroupBox>(win, "ie_gb")->title() == QString::fromUtf8("春节回家 - 10001的相册"); },
      kLoadMs))
      << Child<QGroupBox>(win, "ie_gb")->title().toStdString();

  // Untick album 1 (as a person does: a click) and download the rest.
  Script("check_1", "$(\"check_1\").click();");
  Button(win, "btn_down")->click();
  EXPECT_EQ(Button(win, "btn_down")->text(), QString::fromUtf8(kCaptionDownloadRunning));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !win->WorkerRunning(); }, 30000));
  EXPECT_EQ(Button(win, "btn_down")->text(), QString::fromUtf8(kCaptionDownloadIdle));
  EXPECT_EQ(win->StatusPanel(0).toStdString(), std::string(kDownloadFinishedStatus));
  ASSERT_EQ(chooseTitles.size(), 1);
  EXPECT_EQ(chooseTitles.first().toStdString(), std::string(kChooseFolderTitle));
  const DownloadCounters expected{4, 1, 15, 0};
  EXPECT_EQ((DownloadCounters{win->Session().counters.albumsOk, win->Session().counters.albumsFailed,
                              win->Session().counters.photosOk, win->Session().counters.photosFailed}),
            expected);
  ASSERT_EQ(summaries.size(), 1);
  EXPECT_EQ(summaries.first().toStdString(), DownloadSummary("10001", expected));
  const std::string albumRoot = target + "/10001的相册/";
  EXPECT_EQ(win->Session().downloadFolder, albumRoot);
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(QDir::cleanPath(opened.first()), QDir::cleanPath(QString::fromStdString(albumRoot)));

  // The page after the job: ticks and view links on the finished albums, the unticked album untouched,
  // the empty album failed with its alert link.
  for (int n : {0, 2, 3, 5}) {
    const std::string id = std::to_string(n);
    EXPECT_NE(Script("status_" + id, "$(\"status_" + id + "\").innerHTML").find("#GOTO2:"), std::string::npos)
        << n;
    EXPECT_EQ(Script("check_" + id, "$(\"check_" + id + "\").checked"), "False") << n;
    EXPECT_NE(Script("ainp_" + id, "$(\"ainp_" + id + "\").innerHTML").find("看"), std::string::npos) << n;
    EXPECT_EQ(Script("tbl_" + id, "$(\"tbl_" + id + "\").style.backgroundColor"), "rgb(255, 255, 255)") << n;
  }
  EXPECT_EQ(Script("status_1", "$(\"status_1\").innerHTML"), "");
  EXPECT_EQ(Script("check_1", "$(\"check_1\").checked"), "False");
  EXPECT_NE(Script("status_4", "$(\"status_4\").innerHTML").find("失败"), std::string::npos);
  EXPECT_EQ(Script("link_4", "$(\"link_4\").href").rfind("javascript:alert", 0), 0u);

  // Files on disk hold albumd's bytes.
  const std::string images = DefaultDataDir() + "/images/";
  EXPECT_EQ(ReadFile(albumRoot + "春节回家/年夜饭.JPG"), ReadFile(images + "garden.jpg"));
  EXPECT_EQ(ReadFile(albumRoot + "春节回家/放烟花.GIF"), ReadFile(images + "lantern.gif"));
  EXPECT_EQ(ReadFile(albumRoot + "春节回家/贴春联.PNG"), ReadFile(images + "leaf.png"));
  EXPECT_FALSE(fs::exists(albumRoot + "西湖游记"));
  // One folder per downloaded album, holding exactly its photos; the empty album got no folder. The copy's
  // viewer is its entry page and one hidden folder beside the albums.
  std::map<std::string, int> perFolder;
  for (auto entry = fs::recursive_directory_iterator(albumRoot); entry != fs::recursive_directory_iterator();
       ++entry) {
    if (entry->path().filename() == ".lorvanta-viewer") {
      entry.disable_recursion_pending();
      continue;
    }
    if (entry->path().parent_path().filename().empty() || entry->path() == fs::path(albumRoot) / "index.html")
      continue;
    if (entry->is_regular_file()) ++perFolder[entry->path().parent_path().filename().string()];
  }
  EXPECT_TRUE(fs::is_regular_file(albumRoot + "index.html"));
  const std::map<std::string, int> expectedFolders{
      {"春节回家", 4}, {"私人收藏", 3}, {"宝宝成长记", 4}, {"台灣之旅·裏山", 4}};
  EXPECT_EQ(perFolder, expectedFolders);
  EXPECT_EQ(ReadFile(albumRoot + "台灣之旅·裏山/夜市.GIF"), ReadFile(images + "lantern.gif"));
  // The unticked album was left as it was; the failed one keeps its tick and gets no view link.
  EXPECT_EQ(Script("tbl_1", "$(\"tbl_1\").style.backgroundColor"), "");
  EXPECT_EQ(Script("ainp_1", "$(\"ainp_1\").innerHTML"), "");
  EXPECT_EQ(Script("check_4", "$(\"check_4\").checked"), "True");
  EXPECT_EQ(Script("ainp_4", "$(\"ainp_4\").innerHTML"), "");
  EXPECT_EQ(Script("tbl_4", "$(\"tbl_4\").style.backgroundColor"), "rgb(255, 255, 255)");
  SaveShot("download-10001.png");

  // A view link opens the folder that really holds the album's photos.
  opened.clear();
  Script("ainp_0", "$(\"ainp_0\").getElementsByTagName(\"a\")[0].click();");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.isEmpty(); }, 5000));
  EXPECT_EQ(opened.first().toStdString(), albumRoot + "春节回家");
  // The blue tick in the status cell leads to the same folder.
  opened.clear();
  Script("status_3", "$(\"status_3\").getElementsByTagName(\"a\")[0].click();");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.isEmpty(); }, 5000));
  EXPECT_EQ(opened.first().toStdString(), albumRoot + "宝宝成长记");
  // A folder link leads only into an album folder: not above the album root, not to a missing folder.
  opened.clear();
  for (const char* name : {"..", "..%2F..", "%2E%2E", "%2Ftmp", "西湖游记"}) {
    Script("ainp_0", std::string("var a=document.createElement(\"a\");a.href=\"#GOTO2:") + name +
                         "\";$(\"ainp_0\").appendChild(a);a.click();");
  }
  QTest::qWait(300);
  EXPECT_TRUE(opened.isEmpty()) << opened.join("|").toStdString();
  EXPECT_EQ(QUrl(Pane(win, "iedown")->CurrentAddress()).adjusted(QUrl::RemoveFragment), QUrl(albumPage));

  // An address typed into the address box opens in the online pane; a blank box opens nothing.
  const QString typed = QString::fromStdString(base + "/93015_10001/photo/1004");
  Edit(win, "edtieurl")->setText(typed);
  QTest::keyClick(Edit(win, "edtieurl"), Qt::Key_Return);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Pane(win, "ie")->CurrentAddress() == typed; }, kLoadMs));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return Child<QGroupBox>(win, "ie_gb")->title() == QString::fromUtf8("宝宝成长记 - 10001的相册");
      },
      kLoadMs));
  Edit(win, "edtieurl")->setText("  ");
  QTest::keyClick(Edit(win, "edtieurl"), Qt::Key_Return);
  QTest::qWait(300);
  EXPECT_EQ(Pane(win, "ie")->CurrentAddress(), typed);

  // Home while an album list is shown changes only the online pane.
  Pane(win, "ie")->OpenAddress(album);
  ASSERT_TRUE(Pane(win, "ie")->WaitUntilReady(kLoadMs));
  Button(win, "btn_home")->click();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return SameAddress(Pane(win, "ie")->CurrentAddress(), client + "&comefrom=client"); }, kLoadMs));
  // The album page stays (the scroll of the download may have moved its fragment).
  EXPECT_EQ(QUrl(Pane(win, "iedown")->CurrentAddress()).adjusted(QUrl::RemoveFragment), QUrl(albumPage));
}

// The vendor's site is gone: both panes show the program's own client page, whose sign-in link leads to
// QQ's sign-in page and whose number box starts a preview, as the vendor's link command did.
TEST_F(AlbumWindowTest, WithoutTheVendorSiteBothPanesShowTheBuiltInClientPage) {
  ::setenv("LORVANTA_VENDOR_HOST", "127.0.0.1:9", 1);  // nothing listens there
  ::setenv("LORVANTA_LOGIN_HOST", ("http://" + albumd->HostPort()).c_str(), 1);
  Open(/*keepHomeTimer=*/true);
  for (const char* pane : {"iedown", "ie"}) {
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Pane(win, pane)->PageMarkup().contains("id=\"signin\""); }, kLoadMs))
        << pane << " " << Pane(win, pane)->CurrentAddress().toStdString();
  }
  EXPECT_FALSE(Pane(win, "iedown")->PageMarkup().contains("id=\"qq\""))
      << "the album pane points to the QQ box";
  TWebPane* online = Pane(win, "ie");
  EXPECT_EQ(EvaluateInPage(online, "document.getElementById('signin').href").toString().toStdString(),
            "http://" + albumd->HostPort() +
                "/cgi-bin/xlogin?appid=549000912&daid=5&s_url=https%3A%2F%2Fqzs.qq.com%2Fqzone%2Fv5%2F"
                "loginsucc.html%3Fpara%3Dizone");
  EvaluateInPage(online, "document.getElementById('qq').value='10001'; true");
  ASSERT_TRUE(ClickInPage(online, CentreOfElement(online, "go")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Edit(win, "edtqq")->text() == "10001"; }, kLoadMs));
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(win->Session().preview().albumEntries.size(), 6u);
  ASSERT_TRUE(ClickInPage(online, CentreOfElement(online, "signin")));
  EXPECT_TRUE(QTest::qWaitFor([&] { return online->PageMarkup().contains("id=\"login\""); }, kLoadMs));
  ::unsetenv("LORVANTA_LOGIN_HOST");
}

TEST_F(AlbumWindowTest, ClosingDuringAStalledPhotoLeavesNoPartialFile) {
  target = root + "/saved";
  fs::create_directories(target);
  Open();
  ASSERT_NO_FATAL_FAILURE(PreviewAndWait("10035"));
  Button(win, "btn_down")->click();
  ASSERT_TRUE(WaitForLog("/photos/10035/0/1", 10000))
      << messages.join("|").toStdString() << " " << win->StatusPanel(0).toStdString() << " "
      << albumd->LogLines().size() << " " << (albumd->LogLines().empty() ? "" : albumd->LogLines().back());
  QTest::qWait(200);
  win->close();
  EXPECT_TRUE(win->WaitForWorker(10000)) << "the stalled transfer is aborted";
  EXPECT_TRUE(summaries.isEmpty());
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(target)) {
    if (!entry.is_regular_file()) continue;
    ++files;
    EXPECT_EQ(ReadFile(entry.path()), ReadFile(DefaultDataDir() + "/images/garden.jpg")) << entry.path();
  }
  EXPECT_EQ(files, 1) << "only the photo fetched before the stall";
}

TEST_F(AlbumWindowTest, StopWhileTheFolderBrowserIsOpenStartsNothing) {
  target = root + "/saved";
  fs::create_directories(target);
  Open();
  ASSERT_NO_FATAL_FAILURE(PreviewAndWait("10001"));
  const size_t logBefore = albumd->LogLines().size();
  // The stop is pressed while the folder browser is open: nothing may start, also not when a folder is
  // chosen after it; the start pressed after the stop is cancelled at its own browser.
  int asked = 0;
  win->chooseFolderHook = [&](const QString&, QString& folder) {
    if (++asked > 1) return false;
    Button(win, "btn_down")->click();  // stop
    EXPECT_EQ(Button(win, "btn_down")->text(), QString::fromUtf8(kCaptionDownloadIdle));
    EXPECT_EQ(win->StatusPanel(0).toStdString(), std::string(kDownloadStoppedStatus));
    Button(win, "btn_down")->click();  // start again, cancelled at its folder browser
    folder = QString::fromStdString(target);
    return true;
  };
  Button(win, "btn_down")->click();
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(win->WorkerRunning());
  QTest::qWait(100);
  EXPECT_TRUE(summaries.isEmpty());
  EXPECT_EQ(win->Session().counters.photosOk, 0);
  EXPECT_FALSE(fs::exists(target + "/10001的相册")) << "no job was started";
  EXPECT_FALSE(LoggedSince(logBefore, "fcg_list_photo"));
  EXPECT_FALSE(LoggedSince(logBefore, "/photos/"));
  // The second start was cancelled at its folder browser: its caption stays until the next press.
  EXPECT_EQ(Button(win, "btn_down")->text(), QString::fromUtf8(kCaptionDownloadRunning));
}

// Another run writing the same album root: the download is refused with a message box naming it, nothing is
// fetched or moved aside, and the window can start again.
TEST_F(AlbumWindowTest, ADownloadIntoAnAlbumRootAnotherRunWritesIsRefusedWithAMessage) {
  target = root + "/saved";
  fs::create_directories(target + "/10001的相册/旧的");
  Open();
  ASSERT_NO_FATAL_FAILURE(PreviewAndWait("10001"));
  AlbumRootLock::Holder none;
  auto other = AlbumRootLock::Take(target + "/10001的相册", AlbumRootLock::Mode::kWrite, none);
  ASSERT_TRUE(other && other->Unlocked().empty());
  const size_t logBefore = albumd->LogLines().size();
  Button(win, "btn_down")->click();
  ASSERT_TRUE(WaitForMessages(2));
  EXPECT_NE(messages.back().toStdString().find("另一个 Lorvanta 正在写入这个文件夹"), std::string::npos)
      << messages.back().toStdString();
  EXPECT_NE(messages.back().toStdString().find("进程 " + std::to_string(getpid())), std::string::npos);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !win->WorkerRunning(); }, kLoadMs));
  EXPECT_EQ(Button(win, "btn_down")->text(), QString::fromUtf8(kCaptionDownloadIdle));
  EXPECT_TRUE(summaries.isEmpty());
  EXPECT_FALSE(LoggedSince(logBefore, "fcg_list_photo"));
  EXPECT_TRUE(fs::is_directory(target + "/10001的相册/旧的"));  // not moved aside
  EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()),
            2);  // the root, the lock
}

// Link commands and the QQ box on the vendor's own pages: only the exact command word with its "|" starts a
// preview, and the online view takes only a valid QQ number.
TEST_F(AlbumWindowTest, OnlinePaneCommandsAndTheOnlineView) {
  Open();
  const std::string base = "http://" + albumd->HostPort();
  const QString home =
      QString::fromStdString(base + "/client.php?clientver=2.1&clientrand=Btest&comefrom=client");
  Pane(win, "ie")->OpenAddress(home);
  ASSERT_TRUE(Pane(win, "ie")->WaitUntilReady(kLoadMs));
  // Links the page could carry; each is clicked as a person would follow it.
  auto follow = [&](const std::string& fragment) {
    Pane(win, "ie")->page()->runJavaScript(
        QString::fromStdString("var a=document.createElement('a');a.href='" + fragment +
                               "';document.body.appendChild(a);a.click();"));
  };
  for (const char* fragment : {"#TAVRENGOTO:downvelquan|10002", "#TAVRENGOTO:DOWNVELQUAN10002",
                               "#TAVRENGOTO:DOWNVELQUANX|10002", "#tavrengoto:DOWNVELQUAN|10002"}) {
    follow(fragment);
    // The navigation itself goes on: the pane shows the address with its fragment.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return QUrl(Pane(win, "ie")->CurrentAddress()).fragment(QUrl::FullyDecoded) == fragment + 1; },
        kLoadMs))
        << fragment << " " << Pane(win, "ie")->CurrentAddress().toStdString();
    QTest::qWait(200);
    EXPECT_EQ(Edit(win, "edtqq")->text(), "") << fragment;
    EXPECT_FALSE(win->WorkerRunning()) << fragment;
    EXPECT_EQ(Button(win, "btnview")->text(), QString::fromUtf8(kCaptionPreviewIdle)) << fragment;
  }
  EXPECT_TRUE(messages.isEmpty());

  // An invalid number in the QQ box opens nothing online; a valid one opens its album list there.
  const QString before = Pane(win, "ie")->CurrentAddress();
  for (const char* text : {"1234", "12a45", "", "１２３４５"}) {
    messages.clear();
    Edit(win, "edtqq")->setText(QString::fromUtf8(text));
    Button(win, "btnonline")->click();
    ASSERT_EQ(messages.size(), 1) << text;
    EXPECT_EQ(messages.first(), QString::fromUtf8(kMessageInvalidQQ)) << text;
  }
  QTest::qWait(200);
  EXPECT_EQ(Pane(win, "ie")->CurrentAddress(), before);
  messages.clear();
  Edit(win, "edtqq")->setText(" 10001 ");
  Button(win, "btnonline")->click();
  const QString online = QString::fromStdString(base + "/93015_10001");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Pane(win, "ie")->CurrentAddress() == online; }, kLoadMs))
      << Pane(win, "ie")->CurrentAddress().toStdString();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Child<QGroupBox>(win, "ie_gb")->title() == QString::fromUtf8("10001的相册"); }, kLoadMs));
  EXPECT_EQ(win->Session().qqNumber, "10001");
  EXPECT_FALSE(win->WorkerRunning()) << "the online view starts no preview";
  EXPECT_TRUE(messages.isEmpty());
}

// A person clicks the link on albumd's client page in the online pane. Its address is the page's own
// address again with the command as the fragment, written as a path with a query (not "#..."), so the
// engine makes it a same-document navigation: the pane must still report it, and the preview of the number
// starts in the album pane.
TEST_F(AlbumWindowTest, MouseClickOnTheClientPageLinkStartsThePreview) {
  Open();
  // Shared with the handler, which the window keeps until it closes, after this body.
  auto reported = std::make_shared<QStringList>();
  const QStringList& reports = *reported;
  {
    auto original = Pane(win, "ie")->OnBeforeNavigate2;
    Pane(win, "ie")->OnBeforeNavigate2 = [reported, original](const QString& a, bool& cancel) {
      *reported << a;
      original(a, cancel);
    };
  }
  const QString home = QString::fromStdString("http://" + albumd->HostPort() +
                                              "/client.php?clientver=2.1&clientrand=Btest&comefrom=client");
  Button(win, "btn_home")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Pane(win, "ie")->CurrentAddress() == home; }, kLoadMs))
      << Pane(win, "ie")->CurrentAddress().toStdString();
  ASSERT_TRUE(Pane(win, "ie")->WaitUntilReady(kLoadMs));
  ASSERT_TRUE(Pane(win, "iedown")->WaitUntilReady(kLoadMs));

  EXPECT_EQ(
      EvaluateInPage(Pane(win, "ie"), "document.getElementById('demo').getAttribute('href')").toString(),
      "/client.php?clientver=2.1&clientrand=Btest&comefrom=client#TAVRENGOTO:DOWNVELQUAN|10001");
  ASSERT_TRUE(ClickInPage(Pane(win, "ie"), CentreOfElement(Pane(win, "ie"), "demo")));

  ASSERT_TRUE(QTest::qWaitFor([&] { return Edit(win, "edtqq")->text() == "10001"; }, kLoadMs))
      << reports.join(" ").toStdString();
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(messages.first().toStdString(), PreviewDoneMessage("10001"));
  EXPECT_EQ(win->Session().qqNumber, "10001");
  EXPECT_EQ(win->Session().preview().albumEntries.size(), 6u);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return win->Session().albumPaneHtml.find("check_5") != std::string::npos; }, kLoadMs));

  // The online pane went on to the fragment in the same document and reported the click once: the report
  // of a fragment the host opens afterwards comes after any second one.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Pane(win, "ie")->url().fragment(QUrl::FullyDecoded) == "TAVRENGOTO:DOWNVELQUAN|10001"; },
      kLoadMs))
      << Pane(win, "ie")->CurrentAddress().toStdString();
  Pane(win, "ie")->OpenAddress(home + "#end");
  ASSERT_TRUE(QTest::qWaitFor([&] { return reports.contains(home + "#end"); }, kLoadMs));
  ASSERT_EQ(reports.size(), 3) << reports.join(" ").toStdString();
  EXPECT_EQ(reports[0], home);
  EXPECT_TRUE(reports[1].startsWith(home + "#"));
  EXPECT_EQ(QUrl(reports[1]).fragment(QUrl::FullyDecoded), "TAVRENGOTO:DOWNVELQUAN|10001");
}

// Route requests held at a gate in front of albumd: the stops below happen while the request is really
// under way, whatever the machine's speed.
class GatedAlbumWindowTest : public AlbumWindowTest {
 protected:
  void SetUp() override {
    AlbumWindowTest::SetUp();
    gate = std::make_unique<RouteGate>(albumd->HostPort());
    ::setenv("LORVANTA_ROUTE_HOST", gate->HostPort().c_str(), 1);
  }
  void TearDown() override {
    gate->Release("10001");
    AlbumWindowTest::TearDown();
    gate.reset();
  }
  std::unique_ptr<RouteGate> gate;
};

TEST_F(GatedAlbumWindowTest, StopWhileTheRouteRequestIsUnderWayStillShowsThePage) {
  Open();
  gate->Hold("10001");
  Preview("10001");
  ASSERT_TRUE(QTest::qWaitFor([&] { return gate->Arrived("10001") == 1; }, kLoadMs));
  Button(win, "btnview")->click();  // stop
  EXPECT_EQ(Button(win, "btnview")->text(), QString::fromUtf8(kCaptionPreviewIdle));
  EXPECT_EQ(win->StatusPanel(0).toStdString(), std::string(kPreviewRunningStatus));
  EXPECT_EQ(Pane(win, "iedown")->CurrentAddress(), "about:blank") << "the stop empties the album pane";
  EXPECT_TRUE(win->WorkerRunning()) << "the retrieval runs on";
  EXPECT_TRUE(win->StopRequested());
  EXPECT_TRUE(messages.isEmpty());

  gate->Release("10001");
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(messages.first().toStdString(), PreviewDoneMessage("10001"));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return win->Session().albumPaneHtml.find("check_5") != std::string::npos; }, kLoadMs));
  EXPECT_EQ(win->Session().preview().albumEntries.size(), 6u);
  EXPECT_EQ(Button(win, "btnview")->text(), QString::fromUtf8(kCaptionPreviewIdle));
  EXPECT_EQ(win->StatusPanel(0).toStdString(), std::string(kPreviewDoneStatus));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !win->WorkerRunning(); }, kLoadMs));
  EXPECT_EQ(gate->Arrived("10001"), 1);
}

TEST_F(GatedAlbumWindowTest, NewerPreviewWinsOverAStoppedOne) {
  Open();
  gate->Hold("10001");
  Preview("10001");
  ASSERT_TRUE(QTest::qWaitFor([&] { return gate->Arrived("10001") == 1; }, kLoadMs));
  Button(win, "btnview")->click();  // stop
  Preview("10015");                 // waits for the stopped one, whose results are then dropped
  EXPECT_EQ(Button(win, "btnview")->text(), QString::fromUtf8(kCaptionPreviewRunning));
  QTest::qWait(200);
  EXPECT_EQ(gate->Arrived("10015"), 0) << "the newer job must not run beside the stopped one";

  gate->Release("10001");
  ASSERT_TRUE(WaitForMessages(1));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !win->WorkerRunning(); }, kLoadMs));
  QTest::qWait(200);
  ASSERT_EQ(messages.size(), 1) << "the stale job announces nothing";
  EXPECT_EQ(messages.first().toStdString(), PreviewDoneMessage("10015"));
  EXPECT_EQ(gate->Arrived("10015"), 1);
  EXPECT_EQ(win->Session().qqNumber, "10015");
  EXPECT_EQ(win->Session().preview().albumEntries.size(), 2u);
  EXPECT_EQ(Button(win, "btnview")->text(), QString::fromUtf8(kCaptionPreviewIdle));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return win->Session().albumPaneHtml.find("check_1") != std::string::npos; }, kLoadMs));
  EXPECT_FALSE(PageHas("春节回家"));
  EXPECT_FALSE(PageHas("check_2"));
}

// A service whose every reply is slow, for stopping a download between two photos.
class SlowAlbumWindowTest : public AlbumWindowTest {
 protected:
  static void SetUpTestSuite() {
    AlbumdProcess::Options options;
    options.latencyMs = 250;
    albumd = AlbumdProcess::Start(options);
  }
};

TEST_F(SlowAlbumWindowTest, StopBetweenPhotosKeepsWhatWasFetchedWhole) {
  target = root + "/saved";
  fs::create_directories(target);
  Open();
  ASSERT_NO_FATAL_FAILURE(PreviewAndWait("10001"));
  Button(win, "btn_down")->click();
  ASSERT_TRUE(WaitForLog("/photos/10001/0/0.jpg"));
  Button(win, "btn_down")->click();  // stop
  EXPECT_EQ(Button(win, "btn_down")->text(), QString::fromUtf8(kCaptionDownloadIdle));
  EXPECT_EQ(win->StatusPanel(0).toStdString(), std::string(kDownloadStoppedStatus));
  EXPECT_TRUE(win->StopRequested());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !win->WorkerRunning(); }, kLoadMs));
  EXPECT_TRUE(summaries.isEmpty()) << "a stopped download shows no summary";
  EXPECT_TRUE(opened.isEmpty());
  // Every photo asked for was finished and is whole; nothing after the stop was asked for.
  int requested = 0;
  for (const std::string& line : albumd->LogLines()) requested += line.rfind("GET /photos/10001/", 0) == 0;
  int files = 0;
  for (auto it = fs::recursive_directory_iterator(target + "/10001的相册"); it != fs::end(it); ++it) {
    const fs::directory_entry& entry = *it;
    // The stopped copy's viewer is not a photo.
    const std::string name = entry.path().filename().string();
    if (it.depth() == 0 && (name == kViewerEntryFile || name == kViewerFolder)) {
      it.disable_recursion_pending();
      continue;
    }
    if (!entry.is_regular_file()) continue;
    ++files;
    EXPECT_EQ(entry.path().parent_path().filename().string(), "春节回家") << entry.path();
    EXPECT_GT(fs::file_size(entry.path()), 0u) << entry.path();
  }
  EXPECT_GE(files, 1);
  EXPECT_LT(files, 4) << "the stop ends the first album";
  EXPECT_EQ(files, requested);
  EXPECT_EQ(ReadFile(target + "/10001的相册/春节回家/年夜饭.JPG"),
            ReadFile(DefaultDataDir() + "/images/garden.jpg"));
  // No album got the finished tick, and the albums after the one at work were never started.
  EXPECT_EQ(Script("status_0", "$(\"status_0\").innerHTML").find("#GOTO2:"), std::string::npos);
  EXPECT_EQ(Script("status_1", "$(\"status_1\").innerHTML"), "");
}

// An album unticked while the download runs is left out when the job comes to it.
TEST_F(SlowAlbumWindowTest, AnAlbumUntickedDuringTheDownloadIsSkipped) {
  target = root + "/saved";
  fs::create_directories(target);
  Open();
  ASSERT_NO_FATAL_FAILURE(PreviewAndWait("10001"));
  const size_t logBefore = albumd->LogLines().size();
  Button(win, "btn_down")->click();
  ASSERT_TRUE(WaitForLog("/photos/10001/0/0.jpg"));
  Script("check_1", "$(\"check_1\").click();");
  ASSERT_TRUE(WaitForLog("albumid=1003"));
  Button(win, "btn_down")->click();  // stop
  ASSERT_TRUE(QTest::qWaitFor([&] { return !win->WorkerRunning(); }, kLoadMs));
  EXPECT_FALSE(LoggedSince(logBefore, "albumid=1002"));
  EXPECT_EQ(Script("status_1", "$(\"status_1\").innerHTML"), "");
  EXPECT_NE(Script("status_0", "$(\"status_0\").innerHTML").find("#GOTO2:"), std::string::npos);
  EXPECT_FALSE(fs::exists(target + "/10001的相册/西湖游记"));
}

}  // namespace

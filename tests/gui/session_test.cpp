// Signing in through the online pane reaches the downloads: the album service's private album comes with
// the session, and once the user signs out it fails as the service answers anonymous requests.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "gui/mainfrm.h"
#include "gui/webpane.h"
#include "pageinput.h"
#include "tests/gui/windowcontrols.h"
#include "testserver.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLoadMs = 15000;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class SessionWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    albumd = AlbumdProcess::Start();
    ::setenv("LORVANTA_ROUTE_HOST", albumd->HostPort().c_str(), 1);
    ::setenv("LORVANTA_VENDOR_HOST", albumd->HostPort().c_str(), 1);
    TStartupInputs inputs;
    const std::string r = sandbox.path().toStdString();
    inputs.env = [r](const std::string& name) -> std::string {
      if (name == "XDG_DATA_HOME") return r + "/data";
      return {};
    };
    inputs.machineId = [] { return std::string("Btest"); };
    win = std::make_unique<Tmainfrm>(inputs);
    Child<QTimer>(win, "iedown_start")->stop();
    win->messageHook = [this](const QString& text) { messages << text; };
    win->chooseFolderHook = [this](const QString&, QString& folder) {
      folder = sandbox.path() + "/dl";
      return true;
    };
    win->askOpenFolderHook = [this](const QString& summary) {
      summaries << summary;
      return false;
    };
    win->resize(1280, 800);
    win->show();
  }
  void TearDown() override {
    Visit("/logout.php");  // the profile lives as long as the process: leave it signed out
    win->close();
    EXPECT_TRUE(win->WaitForWorker(10000));
    win.reset();
    ::setenv("LORVANTA_ROUTE_HOST", TestServer::Instance().HostPort().c_str(), 1);
    ::setenv("LORVANTA_VENDOR_HOST", TestServer::Instance().HostPort().c_str(), 1);
    ::unsetenv("LORVANTA_SITE_HOST");
  }

  void Visit(const std::string& path) {
    Pane(win, "ie")->OpenAddress(QString::fromStdString("http://" + albumd->HostPort() + path), kLoadMs);
  }
  // Fills and sends the sign-in form in the online pane, as a person would.
  void SignIn(const std::string& qq = "10060") {
    Visit("/login.php");
    ASSERT_TRUE(Pane(win, "ie")->PageMarkup().contains("id=\"login\""));
    EvaluateInPage(
        Pane(win, "ie"),
        QString::fromStdString("document.getElementById('uin').value='" + qq +
                               "';document.getElementById('password').value='secret-" + qq + "'; true"));
    ASSERT_TRUE(ClickInPage(Pane(win, "ie"), CentreOfElement(Pane(win, "ie"), "submit")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Pane(win, "ie")->PageMarkup().contains("signedin"); }, kLoadMs))
        << Pane(win, "ie")->CurrentAddress().toStdString() << "\n"
        << [&] {
             std::string all;
             for (const auto& l : albumd->LogLines()) all += l + "\n";
             return all;
           }();
  }
  void PreviewAndWait(const char* qq = "10060") {
    const int before = messages.size();
    Edit(win, "edtqq")->setText(qq);
    Button(win, "btnview")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return messages.size() > before; }, kLoadMs));
  }
  void DownloadAndWait() {
    const int before = summaries.size();
    Button(win, "btn_down")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return summaries.size() > before; }, 60000));
    // The counters are the window's once the job has ended after the summary.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Button(win, "btn_down")->text() == QString::fromUtf8(kCaptionDownloadIdle); }, kLoadMs));
    // ... and its thread has let go of the album root (the lock beside it goes with the run).
    ASSERT_TRUE(QTest::qWaitFor([&] { return !win->WorkerRunning(); }, kLoadMs));
  }
  // Photos in the album folders (the viewer's entry page and hidden folder left out).
  int PhotosOnDisk() {
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(sandbox.path().toStdString() + "/dl")) {
      const std::string path = e.path().string();
      if (path.find("/.lorvanta-viewer") == std::string::npos && e.path().filename() != "index.html")
        files += e.is_regular_file() ? 1 : 0;
    }
    return files;
  }

  std::unique_ptr<AlbumdProcess> albumd;
  QTemporaryDir sandbox;
  std::unique_ptr<Tmainfrm> win;
  QStringList messages, summaries;
};

TEST_F(SessionWindowTest, ASignInInTheOnlinePaneReachesEveryFetch) {
  PreviewAndWait();
  EXPECT_EQ(win->Session().preview().albumEntries.size(), 2u);  // anonymous: the private album is not listed

  SignIn();
  PreviewAndWait();
  ASSERT_EQ(win->Session().preview().albumEntries.size(), 3u);
  DownloadAndWait();
  EXPECT_EQ(win->Session().counters.albumsOk, 3);
  EXPECT_EQ(win->Session().counters.photosOk, 6);
  EXPECT_EQ(PhotosOnDisk(), 6);
  // The sign-in cookies went only where they belong: every request of the download carried them.
  int carried = 0;
  for (const std::string& line : albumd->CookieLogLines()) {
    if (line.find("/photos/10060/1/") != std::string::npos)
      carried += line.find("p_skey") != std::string::npos;
  }
  EXPECT_EQ(carried, 3);
}

// Signed in to the album site in the online pane, the window lists and downloads through the site's own
// calls: no route, no XML list; the original and the video are saved as the command line saves them.
TEST_F(SessionWindowTest, SignedInToTheAlbumSiteTheWindowUsesItsLists) {
  ::setenv("LORVANTA_SITE_HOST", ("http://" + albumd->HostPort()).c_str(), 1);
  SignIn("10080");
  const size_t before = albumd->LogLines().size();
  PreviewAndWait("10080");
  ASSERT_EQ(win->Session().preview().albumEntries.size(), 2u);
  DownloadAndWait();
  EXPECT_EQ(win->Session().counters, (DownloadCounters{2, 0, 615, 0}));
  int route = 0, siteLists = 0;
  const auto log = albumd->LogLines();
  for (size_t i = before; i < log.size(); ++i) {
    route +=
        log[i].find("/GetRoute") != std::string::npos || log[i].find("fcg_list_photo") != std::string::npos;
    siteLists += log[i].find("fcg_list_album_v3") != std::string::npos ||
                 log[i].find("cgi_list_photo") != std::string::npos;
  }
  EXPECT_EQ(route, 0);
  EXPECT_EQ(siteLists, 4) << "one album list, one photo list, and two pages of the large album";
  const std::string album = sandbox.path().toStdString() + "/dl/10080的相册/周末出游/";
  EXPECT_EQ(Slurp(album + "花园.JPG"), Slurp(DefaultDataDir() + "/images/meadow.jpg"));
  EXPECT_EQ(Slurp(album + "小视频.MP4").substr(4, 4), "ftyp");
}

TEST_F(SessionWindowTest, AfterSigningOutThePrivateAlbumFailsAsTheServiceAnswers) {
  SignIn();
  PreviewAndWait();
  ASSERT_EQ(win->Session().preview().albumEntries.size(), 3u);
  Visit("/logout.php");
  // The page's sign-out expired the cookies: the download goes without the session.
  DownloadAndWait();
  EXPECT_EQ(win->Session().counters.albumsOk, 2);
  EXPECT_EQ(win->Session().counters.albumsFailed, 1);
  EXPECT_EQ(win->Session().counters.photosOk, 3);
  const std::string status = win->RunAlbumScript("status_1", "$(\"status_1\").innerHTML").toStdString();
  EXPECT_NE(status.find("失败"), std::string::npos) << status;
  const std::string link = win->RunAlbumScript("link_1", "$(\"link_1\").href").toStdString();
  EXPECT_NE(link.find("alert"), std::string::npos) << link;
}

// The tick box turns the window's download into the update: the older copy is not moved aside, a copy made
// before is adopted, only what it lacks is fetched, and records are kept.
TEST_F(SessionWindowTest, OnlyNewPhotosKeepsTheCopyAndFetchesWhatItLacks) {
  EXPECT_FALSE(Child<QCheckBox>(win, "chkonlynew")->isChecked());
  EXPECT_EQ(Child<QCheckBox>(win, "chkonlynew")->text(), QString::fromUtf8(kCaptionOnlyNewPhotos));
  PreviewAndWait();
  DownloadAndWait();  // a plain download, as the window always made them
  ASSERT_EQ(win->Session().counters.photosOk, 3);
  const std::string root = sandbox.path().toStdString() + "/dl/10060的相册/";
  fs::remove(root + "公开相册/花园.JPG");

  Child<QCheckBox>(win, "chkonlynew")->setChecked(true);
  PreviewAndWait();  // a finished download unticks its albums; a new preview ticks them again
  DownloadAndWait();
  EXPECT_EQ(win->Session().counters.photosOk, 1);  // only the deleted photo
  EXPECT_EQ(win->Session().counters.albumsOk, 2);
  EXPECT_TRUE(fs::exists(root + "公开相册/花园.JPG"));
  EXPECT_TRUE(fs::exists(root + "公开相册/.lorvanta-album.json"));
  for (const auto& e : fs::directory_iterator(sandbox.path().toStdString() + "/dl"))
    EXPECT_EQ(e.path().filename().string().find("_BAK_"), std::string::npos) << e.path();
  // The summary keeps its text.
  EXPECT_TRUE(summaries.last().contains(QString::fromUtf8("成功下载相片数量：1")));
}

}  // namespace

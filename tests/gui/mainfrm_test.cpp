#include "gui/mainfrm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "gui/webpane.h"
#include "tests/gui/windowcontrols.h"
#include "testserver.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLoadMs = 15000;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sandbox.isValid());
    root = sandbox.path().toStdString();
    fs::create_directories(root + "/data/pelloria");
    for (const char* name : {"velquan_photo_list.txt", "velquan_album_route.txt", "velquan_album_list.txt"})
      std::ofstream(root + "/data/pelloria/" + name) << "left over";
  }
  void TearDown() override {
    if (win) {
      win->close();
      EXPECT_TRUE(win->WaitForWorker(10000));
      win.reset();
    }
  }

  // Creates the window; with keepHomeTimer false the delayed home page is kept from firing.
  void Open(bool keepHomeTimer = false) {
    TStartupInputs inputs;
    const std::string r = root;
    inputs.env = [r](const std::string& name) -> std::string {
      if (name == "XDG_DATA_HOME") return r + "/data";
      if (name == "XDG_CACHE_HOME") return r + "/cache";
      if (name == "HOME") return r;
      return {};
    };
    inputs.clock = [] { return TLocalTime{9, 30, 15}; };
    inputs.machineId = [] { return std::string("Btest"); };
    win = std::make_unique<Tmainfrm>(inputs);
    if (!keepHomeTimer) Child<QTimer>(win, "iedown_start")->stop();
    win->messageHook = [this](const QString& text) { messages << text; };
    win->show();
  }

  bool AnyTempFileExists() const {
    return fs::exists(win->TempFiles().photoListFile) || fs::exists(win->TempFiles().routeFile) ||
           fs::exists(win->TempFiles().albumListFile);
  }

  QTemporaryDir sandbox;
  std::string root;
  std::unique_ptr<Tmainfrm> win;
  QStringList messages;
};

TEST_F(MainWindowTest, OpensWithTheControlsOfTheDesign) {
  Open();
  EXPECT_EQ(win->objectName(), "mainfrm");
  EXPECT_EQ(win->windowTitle(), "Lorvanta - Ostravel");

  const struct {
    const char* name;
    const char* caption;
  } buttons[] = {{"btnview", "相册预览"},
                 {"btnonline", "在线查看"},
                 {"btn_down", "开始下载QQ相册"},
                 {"btniego", "访问"},
                 {"btn_home", "主页"}};
  for (const auto& b : buttons) {
    auto* button = win->findChild<QPushButton*>(b.name);
    ASSERT_NE(button, nullptr) << b.name;
    EXPECT_EQ(button->text(), QString::fromUtf8(b.caption)) << b.name;
  }
  EXPECT_EQ(win->findChild<QGroupBox*>("left_gb")->title(), "Lorvanta");
  EXPECT_EQ(win->findChild<QGroupBox*>("ie_gb")->title(), QString::fromUtf8("在线查看QQ相册"));
  EXPECT_EQ(win->findChild<QLabel*>("Label1")->text(), QString::fromUtf8("输入QQ号码："));
  for (const char* name : {"edtqq", "edtieurl"}) EXPECT_NE(win->findChild<QLineEdit*>(name), nullptr) << name;
  for (const char* name : {"iedown", "ie"}) EXPECT_NE(win->findChild<TWebPane*>(name), nullptr) << name;
  for (const char* name : {"Panel1", "Panel2", "Panel3", "Panel4"})
    EXPECT_NE(win->findChild<QWidget*>(name), nullptr) << name;

  EXPECT_TRUE(Edit(win, "edtqq")->font().bold());
  EXPECT_EQ(Edit(win, "edtqq")->palette().color(QPalette::Text), QColor(0, 0x80, 0));
  EXPECT_EQ(Button(win, "btn_down")->palette().color(QPalette::ButtonText), QColor(0, 0, 0xFF));
  EXPECT_EQ(Child<QWidget>(win, "Panel1")->height(), 66);
  EXPECT_EQ(Child<QWidget>(win, "Panel2")->height(), 41);
  EXPECT_EQ(Child<QWidget>(win, "Panel4")->height(), 36);
  EXPECT_EQ(Child<QSplitter>(win, "Splitter1")->handleWidth(), 6);
  EXPECT_EQ(Child<QSplitter>(win, "Splitter1")->widget(0), Child<QGroupBox>(win, "left_gb"));
  EXPECT_EQ(Child<QSplitter>(win, "Splitter1")->widget(1), Child<QGroupBox>(win, "ie_gb"));
  EXPECT_EQ(win->findChild<QLabel*>("sb_panel0")->width(), 220);
  EXPECT_GE(win->findChild<QLabel*>("sb_panel1")->width(), 50);

  EXPECT_EQ(Child<QTimer>(win, "iedown_start")->interval(), 1000);
  EXPECT_EQ(Child<QTimer>(win, "TimerCheck")->interval(), 5000);
  EXPECT_FALSE(Child<QTimer>(win, "TimerCheck")->isActive());
  EXPECT_EQ(Pane(win, "iedown")->contextMenuPolicy(), Qt::NoContextMenu);
  EXPECT_EQ(Pane(win, "iedown")->DisableCtrlShortcuts(), "Y");
  EXPECT_EQ(Pane(win, "ie")->contextMenuPolicy(), Qt::DefaultContextMenu);
}

TEST_F(MainWindowTest, StartUpFormsTheRunStateAndRemovesLeftovers) {
  Open();
  EXPECT_EQ(win->ClientNumber(), 93015);
  EXPECT_EQ(win->WorkFolder(), root + "/data/pelloria/");
  EXPECT_EQ(win->TempFiles().routeFile, root + "/data/pelloria/velquan_album_route.txt");
  EXPECT_EQ(win->TempFiles().photoListFile, root + "/data/pelloria/velquan_photo_list.txt");
  EXPECT_EQ(win->TempFiles().albumListFile, root + "/data/pelloria/velquan_album_list.txt");
  EXPECT_FALSE(AnyTempFileExists());
  EXPECT_EQ(win->Session().vendorBase, TestServer::Instance().Base());
  EXPECT_EQ(win->MachineId(), "Btest");
  EXPECT_TRUE(win->Session().preview().pageLines.empty());
  EXPECT_TRUE(win->Session().preview().albumEntries.empty());
  EXPECT_EQ(Pane(win, "iedown")->CurrentAddress(), "about:blank");
  EXPECT_EQ(Pane(win, "ie")->CurrentAddress(), "about:blank");
}

TEST_F(MainWindowTest, HomeTimerLoadsTheClientPageInBothPanesOnce) {
  Open(/*keepHomeTimer=*/true);
  EXPECT_TRUE(Child<QTimer>(win, "iedown_start")->isActive());
  const QString client =
      QString::fromStdString(TestServer::Instance().Base() + "/client.php?clientver=2.1&clientrand=Btest");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Pane(win, "ie")->CurrentAddress() == client + "&comefrom=client"; }, kLoadMs))
      << Pane(win, "ie")->CurrentAddress().toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Pane(win, "iedown")->CurrentAddress() == client; }, kLoadMs));
  EXPECT_FALSE(Child<QTimer>(win, "iedown_start")->isActive());
  // The album pane's copy supplies the vendor base through its "subhost" field; the title goes to ie_gb.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return win->Session().vendorBase == TestServer::Instance().Base() + "/v"; }, kLoadMs));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Child<QGroupBox>(win, "ie_gb")->title() == "client"; }, kLoadMs));
  EXPECT_TRUE(win->Session().albumPaneHtml.find("subhost") != std::string::npos);
}

TEST_F(MainWindowTest, EnterInTheQQBoxOpensTheOnlineViewNotAPreview) {
  Open();
  Edit(win, "edtqq")->setText("  12345 ");
  QTest::keyClick(Edit(win, "edtqq"), Qt::Key_Return);
  EXPECT_EQ(Edit(win, "edtqq")->text(), "12345");
  const QString expected = QString::fromStdString(TestServer::Instance().Base() + "/93015_12345");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Pane(win, "ie")->CurrentAddress() == expected; }, kLoadMs))
      << Pane(win, "ie")->CurrentAddress().toStdString();
  EXPECT_EQ(win->Session().qqNumber, "12345");
  EXPECT_EQ(Button(win, "btnview")->text(), QString::fromUtf8(kCaptionPreviewIdle));
  EXPECT_FALSE(win->WorkerRunning());
  EXPECT_EQ(Pane(win, "iedown")->CurrentAddress(), "about:blank");
  EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MainWindowTest, InvalidQQNumbersAreRefusedWithTheMessage) {
  Open();
  for (const char* text : {"1234", "12a45", "", " 1 2 3 4 5 "}) {
    messages.clear();
    Edit(win, "edtqq")->setText(text);
    QTest::keyClick(Edit(win, "edtqq"), Qt::Key_Enter);
    ASSERT_EQ(messages.size(), 1) << text;
    EXPECT_EQ(messages.first(), QString::fromUtf8(kMessageInvalidQQ));
  }
  QTest::qWait(100);
  EXPECT_EQ(Pane(win, "ie")->CurrentAddress(), "about:blank");
  EXPECT_EQ(win->Session().qqNumber, "");
}

TEST_F(MainWindowTest, AddressBoxOpensWhatWasTyped) {
  Open();
  Edit(win, "edtieurl")->setText("   ");
  QTest::keyClick(Edit(win, "edtieurl"), Qt::Key_Return);
  QTest::qWait(100);
  EXPECT_EQ(Pane(win, "ie")->CurrentAddress(), "about:blank");

  const QString page = QString::fromStdString(TestServer::Instance().Base() + "/typed");
  Edit(win, "edtieurl")->setText(page);
  QTest::keyClick(Edit(win, "edtieurl"), Qt::Key_Return);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Pane(win, "ie")->CurrentAddress() == page; }, kLoadMs));
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return Child<QGroupBox>(win, "ie_gb")->title() == "Page /typed"; }, kLoadMs));
}

TEST_F(MainWindowTest, LinkCommandOfTheOnlinePaneFillsTheQQBox) {
  Open();
  bool cancel = true;
  win->ieBeforeNavigate2("http://v/page#TAVRENGOTO:downvelquan|777777", cancel);
  EXPECT_FALSE(cancel);
  win->ieBeforeNavigate2("http://v/page#TAVRENGOTO:DOWNVELQUAN123456", cancel);
  QTest::qWait(50);
  EXPECT_EQ(Edit(win, "edtqq")->text(), "");
  win->ieBeforeNavigate2("http://v/page#TAVRENGOTO:DOWNVELQUAN|123456", cancel);
  EXPECT_FALSE(cancel);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Edit(win, "edtqq")->text() == "123456"; }, 2000));
}

TEST_F(MainWindowTest, AlbumLinkOpensTheAlbumInTheOnlinePane) {
  Open();
  const std::string base = TestServer::Instance().Base();
  Pane(win, "iedown")
      ->ShowHtmlPage(AlbumPanePage(std::vector<std::string>{
          "<html><head><script>function $(o){return document.getElementById(o);}"
          "function cmd(obj,str){try{if($(obj)!==null) return eval(str);}finally{}}</script></head><body>",
          "<a id=\"link_0\" href=\"#GOTO1:/93015_12345/photo/V1\">album</a>"
          "<a id=\"link_1\" href=\"#GOTO1:" +
              base + "/direct\">direct</a></body></html>"}));
  ASSERT_TRUE(Pane(win, "iedown")->WaitUntilReady(kLoadMs));
  const QString album = Pane(win, "iedown")->CurrentAddress();
  Pane(win, "iedown")->CallPageFunction("cmd", "link_0", "$(\"link_0\").click();");
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return Pane(win, "ie")->CurrentAddress() == QString::fromStdString(base + "/93015_12345/photo/V1");
      },
      kLoadMs))
      << Pane(win, "ie")->CurrentAddress().toStdString();
  Pane(win, "iedown")->CallPageFunction("cmd", "link_1", "$(\"link_1\").click();");
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Pane(win, "ie")->CurrentAddress() == QString::fromStdString(base + "/direct"); },
      kLoadMs));
  EXPECT_EQ(Pane(win, "iedown")->CurrentAddress(), album) << "the album page stays";
}

TEST_F(MainWindowTest, WorkerRunsItsBodyAndHandsStepsToTheMainThread) {
  Open();
  std::atomic<int> modeSeen{0};
  std::atomic<bool> handedOver{false}, onMainThread{false}, highest{false};
  win->jobBody = [&](int mode) {
    modeSeen = mode;
    highest = QThread::currentThread()->priority() == QThread::HighestPriority;
    handedOver = win->CallOnMainThread([&] {
      onMainThread = QThread::currentThread() == qApp->thread();
      win->SetStatusPanel(0, QString::fromUtf8("正在预览相册列表..."));
    });
  };
  ASSERT_TRUE(win->StartJob(2));
  QPointer<TDownThread> thread = win->RunningJob();
  ASSERT_FALSE(thread.isNull());
  EXPECT_EQ(thread->mode, 2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !win->WorkerRunning(); }, kLoadMs));
  EXPECT_EQ(modeSeen, 2);
  EXPECT_TRUE(highest);
  EXPECT_TRUE(handedOver);
  EXPECT_TRUE(onMainThread);
  EXPECT_EQ(win->StatusPanel(0), QString::fromUtf8("正在预览相册列表..."));
  EXPECT_TRUE(QTest::qWaitFor([&] { return thread.isNull(); }, kLoadMs)) << "the thread frees itself";
}

TEST_F(MainWindowTest, ASecondJobWaitsUntilTheFirstHasEnded) {
  Open();
  std::atomic<bool> release{false}, sawInterruption{false};
  win->jobBody = [&](int) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    sawInterruption = QThread::currentThread()->isInterruptionRequested();
  };
  ASSERT_TRUE(win->StartJob(2));
  win->StopJob();
  EXPECT_TRUE(win->StopRequested());
  EXPECT_FALSE(win->StartJob(1)) << "the stopped job has not ended yet";
  EXPECT_TRUE(win->StopRequested()) << "a refused start leaves the stop request";
  release = true;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !win->WorkerRunning(); }, kLoadMs));
  EXPECT_TRUE(sawInterruption);
  win->jobBody = nullptr;
  EXPECT_TRUE(win->StartJob(1));
  EXPECT_FALSE(win->StopRequested());
}

TEST_F(MainWindowTest, ClosingWithARunningWorkerReturnsAtOnceAndLeavesNoTemporaryFile) {
  Open();
  for (const auto& path :
       {win->TempFiles().photoListFile, win->TempFiles().routeFile, win->TempFiles().albumListFile})
    std::ofstream(path) << "reply";
  std::atomic<int> served{0};
  std::atomic<bool> afterClose{true};
  const std::string routeFile = win->TempFiles().routeFile;
  win->jobBody = [&, routeFile](int) {
    for (int i = 0; i < 100000 && !win->StopRequested(); ++i) {
      if (win->CallOnMainThread([&] { win->SetStatusPanel(0, QString::number(i)); })) ++served;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // A job that goes on after the stop: its hand-overs are refused and a reply it still writes is
    // removed once it has ended.
    afterClose = win->CallOnMainThread([] {});
    std::ofstream(routeFile) << "late reply";
  };
  ASSERT_TRUE(win->StartJob(2));
  ASSERT_TRUE(QTest::qWaitFor([&] { return served > 3; }, kLoadMs));

  EXPECT_TRUE(win->close());
  EXPECT_FALSE(win->isVisible());
  EXPECT_TRUE(win->WorkerRunning()) << "the window did not wait for the worker";
  EXPECT_TRUE(win->StopRequested());
  EXPECT_TRUE(win->FetchAborted());
  EXPECT_FALSE(fs::exists(win->TempFiles().photoListFile));
  EXPECT_FALSE(fs::exists(win->TempFiles().albumListFile));

  EXPECT_TRUE(win->WaitForWorker(10000));
  EXPECT_FALSE(win->WorkerRunning());
  EXPECT_FALSE(afterClose);
  EXPECT_FALSE(AnyTempFileExists());
}

TEST_F(MainWindowTest, MainThreadWaitingForTheWorkerNeverDeadlocks) {
  Open();
  std::atomic<int> served{0};
  std::atomic<bool> refused{false};
  win->jobBody = [&](int) {
    // This job ignores the stop flag: only a refused hand-over ends it.
    for (int i = 0; i < 100000; ++i) {
      if (!win->CallOnMainThread([] {})) {
        refused = true;
        return;
      }
      ++served;
    }
  };
  ASSERT_TRUE(win->StartJob(1));
  ASSERT_TRUE(QTest::qWaitFor([&] { return served > 3; }, kLoadMs));
  EXPECT_TRUE(win->WaitForWorker(10000));
  EXPECT_TRUE(refused);
}

TEST_F(MainWindowTest, StopTimerEndsTheAlbumPaneWait) {
  Open();
  Pane(win, "iedown")->OpenAddress(QString::fromStdString(TestServer::Instance().Base() + "/slow"));
  Child<QTimer>(win, "TimerCheck")->setInterval(100);
  Child<QTimer>(win, "TimerCheck")->start();
  EXPECT_FALSE(Pane(win, "iedown")->WaitUntilReady(10000));
  EXPECT_FALSE(Child<QTimer>(win, "TimerCheck")->isActive());
}

}  // namespace

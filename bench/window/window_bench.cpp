// What one album status update costs in the window: the album list page of an account, served by the
// bundled album service and built by the preview job, is loaded into an album pane (TWebPane, offscreen),
// and the status scripts of one update (ShowAlbumStatus) are handed to the page's `cmd` function one
// after another, as the window hands them. Qt Test benchmarks: the figure is milliseconds per update.
//
//   window_bench [Qt Test options, e.g. -iterations 500]      (sets the offscreen platform itself)
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/benchsupport.h"
#include "core/albumdownload.h"
#include "core/albumpage.h"
#include "core/albumscripts.h"
#include "core/xmldoc.h"
#include "gui/pagestore.h"
#include "gui/webpane.h"
#include "net/fetchtofile.h"
#include "text/gbk.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace {

constexpr int kLoadMs = 30000;

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// One status update the job hands over, as the window runs it: every script call through `cmd`, handed
// to the page without waiting for each value. The window does not wait at all; here one more (empty)
// call is waited for, so that the figure includes the page's own work on the update and one round trip
// besides - it errs on the high side.
void RunUpdate(TWebPane& pane, int album, const std::string& statusHtml, std::string_view rowColor,
               const std::string& linkName) {
  for (const AlbumScript& call : ShowAlbumStatus(album, statusHtml, rowColor, linkName))
    pane.PostPageFunction("cmd", Q(call.elementId), Q(call.script));
  pane.CallPageFunction("cmd", "", "0");
}

enum class Update { kProgress, kFinished };

}  // namespace

class WindowBench : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    albumd_ = AlbumdProcess::Start();
    work_ = std::make_unique<bench::ScratchFolder>("lorvanta-window-bench");
    for (const char* qq : {"10001", "20000"})
      previews_[qq] = bench::PreviewAccount(albumd_->HostPort(), qq, work_->path());
  }

  void cleanupTestCase() {
    pane_.reset();
    work_.reset();
    albumd_.reset();
  }

  void ShowAlbumStatusOnMainThread_data() {
    QTest::addColumn<QString>("qq");
    QTest::addColumn<int>("album");
    QTest::addColumn<int>("kind");
    // Albums 0 to 2 need no scroll; from album 3 on every update scrolls first.
    QTest::newRow("demo 10001, album 1, progress") << "10001" << 1 << int(Update::kProgress);
    QTest::newRow("demo 10001, album 4, progress") << "10001" << 4 << int(Update::kProgress);
    QTest::newRow("demo 10001, album 4, finished") << "10001" << 4 << int(Update::kFinished);
    QTest::newRow("20000 (50 albums), album 30, progress") << "20000" << 30 << int(Update::kProgress);
    QTest::newRow("20000 (50 albums), album 30, finished") << "20000" << 30 << int(Update::kFinished);
  }

  void ShowAlbumStatusOnMainThread() {
    QFETCH(QString, qq);
    QFETCH(int, album);
    QFETCH(int, kind);
    TWebPane& pane = PaneWith(qq.toStdString());
    const AlbumEntryFields fields = previews_[qq.toStdString()].albums.at(album);
    int done = 0;
    QBENCHMARK {
      if (kind == int(Update::kProgress)) {
        RunUpdate(pane, album, ProgressStatusHtml(done++, fields.total), kStartedRowColor, fields.name);
      } else {
        RunUpdate(pane, album, FinishedStatusHtml(fields.name), kDoneRowColor, fields.name);
      }
    }
    // The calls must have reached the page: a missing element would make every call a cheap no-op.
    const QString cell = "status_" + QString::number(album);
    const QString text = pane.CallPageFunction("cmd", cell, "$(\"" + cell + "\").textContent");
    if (kind == int(Update::kProgress)) {
      QCOMPARE(text, QString::number(done - 1) + "/" + Q(fields.total));
    } else {
      QCOMPARE(text, QString::fromUtf8("√"));
      const QString check = "check_" + QString::number(album);
      QCOMPARE(pane.CallPageFunction("cmd", check, "$(\"" + check + "\").checked"), QString("False"));
    }
  }

  // The same progress update handed over from a worker thread and waited for there, as the download
  // thread hands every step to the window (a queued call onto the main thread, the worker blocked until
  // it has run). Each iteration also wakes the worker and is woken back: two thread switches more than
  // the window pays, so the figure errs on the high side.
  void ShowAlbumStatusFromWorkerThread() {
    constexpr int kAlbum = 30;
    TWebPane& pane = PaneWith("20000");
    const AlbumEntryFields fields = previews_["20000"].albums.at(kAlbum);
    std::binary_semaphore go(0);
    std::atomic<bool> end{false};
    QEventLoop* waiting = nullptr;  // main thread only
    int done = 0;                   // main thread only
    std::thread worker([&] {
      for (;;) {
        go.acquire();
        if (end) return;
        QMetaObject::invokeMethod(
            &pane,
            [&] {
              RunUpdate(pane, kAlbum, ProgressStatusHtml(done++, fields.total), kStartedRowColor,
                        fields.name);
            },
            Qt::BlockingQueuedConnection);
        QMetaObject::invokeMethod(
            &pane, [&] { waiting->quit(); }, Qt::QueuedConnection);
      }
    });
    QBENCHMARK {
      QEventLoop loop;
      waiting = &loop;
      go.release();
      loop.exec();
    }
    end = true;
    go.release();
    worker.join();
    const QString cell = "status_" + QString::number(kAlbum);
    QCOMPARE(pane.CallPageFunction("cmd", cell, "$(\"" + cell + "\").textContent"),
             QString::number(done - 1) + "/" + Q(fields.total));
  }

 private:
  // A shown album pane holding the album list page of qq; loaded once per account and kept.
  TWebPane& PaneWith(const std::string& qq) {
    if (!pane_ || paneQq_ != qq) {
      pane_ = std::make_unique<TWebPane>();
      pane_->resize(800, 600);
      // As in the window: the album pane's own links; fragment links (the scroll) go on.
      pane_->OnBeforeNavigate2 = [](const QString& address, bool& cancel) {
        cancel = AlbumPaneLink(address.toStdString(), "http://127.0.0.1/", "").action !=
                 AlbumPaneNavigation::Action::kProceed;
      };
      pane_->show();
      pane_->ShowHtmlPage(QByteArray::fromStdString(EncodeGbk(JoinPageLines(previews_[qq].pageLines))));
      if (!pane_->WaitUntilReady(kLoadMs)) qFatal("the album page of %s did not load", qq.c_str());
      paneQq_ = qq;
    }
    return *pane_;
  }

  std::unique_ptr<AlbumdProcess> albumd_;
  std::unique_ptr<bench::ScratchFolder> work_;
  std::map<std::string, PreviewResult> previews_;
  std::unique_ptr<TWebPane> pane_;
  std::string paneQq_;
};

int main(int argc, char** argv) {
  // Headless by default; a caller's own choice of platform stands.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
  if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  FetchGlobalInit();
  InitXmlLayer();
  RegisterWebPaneScheme();
  QApplication app(argc, argv);
  WindowBench bench;
  return QTest::qExec(&bench, argc, argv);
}

#include "window_bench.moc"

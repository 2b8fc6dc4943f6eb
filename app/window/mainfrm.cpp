#include "app/window/mainfrm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>
#include <utility>

#include "app/albumdownload.h"
#include "app/albumlist.h"
#include "app/albumpage.h"
#include "app/albumscripts.h"
#include "app/browser/webpane.h"
#include "app/hosts.h"
#include "app/qqnumber.h"
#include "machine/machineinfo.h"

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

QWidget* Panel(const char* name, QWidget* parent) {
  auto* panel = Named(new QWidget(parent), name);
  panel->setContentsMargins(0, 0, 0, 0);
  return panel;
}

void SetTextColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Text, color);
  palette.setColor(QPalette::ButtonText, color);
  palette.setColor(QPalette::WindowText, color);
  widget->setPalette(palette);
}

// Text after the first `marker` of `address`, at most `limit` characters; nothing when it is absent.
std::optional<QString> TextAfter(const QString& address, const QString& marker, int limit) {
  qsizetype at = address.indexOf(marker);
  if (at < 0) return std::nullopt;
  return address.mid(at + marker.size(), limit);
}

}  // namespace

// One hand-over from a worker to the main thread. States move Waiting -> Running -> Done, or
// Waiting -> Cancelled when the window closes first; only a call that never began can be cancelled, so a
// worker never leaves while its step still runs on the main thread with references into its stack.
struct Tmainfrm::THandOverCall {
  enum class State { Waiting, Running, Done, Cancelled };
  std::mutex mutex;
  std::condition_variable changed;
  State state = State::Waiting;
};

Tmainfrm::Tmainfrm(TStartupInputs inputs, QWidget* parent) : QMainWindow(parent), inputs_(std::move(inputs)) {
  BuildControls();
  FormCreate();
  iedown_start->start();
}

Tmainfrm::~Tmainfrm() {
  CloseHandOver();
  stopRequested = true;
  fetchAbort = true;
  if (worker) {
    worker->requestInterruption();
    worker->wait();
  }
}

void Tmainfrm::BuildControls() {
  setObjectName("mainfrm");
  setWindowTitle("Lorvanta - Ostravel");
  resize(870, 640);

  auto* central = new QWidget(this);
  auto* centralLayout = new QHBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  Splitter1 = Named(new QSplitter(Qt::Horizontal, central), "Splitter1");
  Splitter1->setHandleWidth(6);
  Splitter1->setChildrenCollapsible(false);
  centralLayout->addWidget(Splitter1);
  setCentralWidget(central);

  // Left half: the album pane.
  left_gb = Named(new QGroupBox("Lorvanta", Splitter1), "left_gb");
  auto* leftLayout = new QVBoxLayout(left_gb);
  leftLayout->setContentsMargins(2, 2, 2, 2);
  leftLayout->setSpacing(0);

  Panel1 = Panel("Panel1", left_gb);
  Panel1->setFixedHeight(66);
  auto* grid = new QGridLayout(Panel1);
  grid->setContentsMargins(4, 4, 4, 4);
  grid->setVerticalSpacing(6);
  Label1 = Named(new QLabel("输入QQ号码：", Panel1), "Label1");
  edtqq = Named(new QLineEdit(Panel1), "edtqq");
  QFont qqFont = edtqq->font();
  qqFont.setBold(true);
  edtqq->setFont(qqFont);
  SetTextColor(edtqq, QColor(0x00, 0x80, 0x00));
  btnview = Named(new QPushButton(kCaptionPreviewIdle, Panel1), "btnview");
  btnonline = Named(new QPushButton("在线查看", Panel1), "btnonline");
  grid->addWidget(Label1, 0, 0);
  grid->addWidget(edtqq, 0, 1);
  grid->addWidget(btnview, 1, 0);
  grid->addWidget(btnonline, 1, 1);
  leftLayout->addWidget(Panel1);

  Panel3 = Panel("Panel3", left_gb);
  auto* albumLayout = new QVBoxLayout(Panel3);
  albumLayout->setContentsMargins(0, 0, 0, 0);
  iedown = Named(new TWebPane(Panel3), "iedown");
  albumLayout->addWidget(iedown);
  leftLayout->addWidget(Panel3, 1);

  Panel2 = Panel("Panel2", left_gb);
  Panel2->setFixedHeight(41);
  auto* downLayout = new QHBoxLayout(Panel2);
  downLayout->setContentsMargins(4, 4, 4, 4);
  btn_down = Named(new QPushButton(kCaptionDownloadIdle, Panel2), "btn_down");
  SetTextColor(btn_down, QColor(0x00, 0x00, 0xFF));
  downLayout->addWidget(btn_down);
  leftLayout->addWidget(Panel2);

  // Right half: the online pane.
  ie_gb = Named(new QGroupBox("在线查看QQ相册", Splitter1), "ie_gb");
  auto* rightLayout = new QVBoxLayout(ie_gb);
  rightLayout->setContentsMargins(2, 2, 2, 2);
  rightLayout->setSpacing(0);
  Panel4 = Panel("Panel4", ie_gb);
  Panel4->setFixedHeight(36);
  auto* addressLayout = new QHBoxLayout(Panel4);
  addressLayout->setContentsMargins(4, 4, 4, 4);
  edtieurl = Named(new QLineEdit(Panel4), "edtieurl");
  btniego = Named(new QPushButton("访问", Panel4), "btniego");
  btn_home = Named(new QPushButton("主页", Panel4), "btn_home");
  addressLayout->addWidget(edtieurl, 1);
  addressLayout->addWidget(btniego);
  addressLayout->addWidget(btn_home);
  rightLayout->addWidget(Panel4);
  ie = Named(new TWebPane(ie_gb), "ie");
  rightLayout->addWidget(ie, 1);

  Splitter1->addWidget(left_gb);
  Splitter1->addWidget(ie_gb);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({217, 870 - 217 - 6});

  // Status bar: panel 0 for the job, panel 1 for the online pane's status text.
  sb = Named(new QStatusBar(this), "sb");
  setStatusBar(sb);
  for (int i = 0; i < 2; ++i) {
    statusPanels_[i] = new QLabel(sb);
    statusPanels_[i]->setObjectName(QString("sb_panel%1").arg(i));
  }
  statusPanels_[0]->setFixedWidth(220);
  statusPanels_[1]->setMinimumWidth(50);  // the last panel takes what is left, as status bars do
  sb->addWidget(statusPanels_[0]);
  sb->addWidget(statusPanels_[1], 1);

  iedown_start = Named(new QTimer(this), "iedown_start");
  iedown_start->setInterval(1000);
  TimerCheck = Named(new QTimer(this), "TimerCheck");
  TimerCheck->setInterval(5000);

  // Pane settings: the album pane is an application surface (no menu, Ctrl+Y swallowed); the online pane
  // is a browser (standard menu without view source, Ctrl+N swallowed).
  iedown->SetContextMenuEnabled(false);
  iedown->SetDisableCtrlShortcuts("Y");
  ie->SetContextMenuEnabled(true);
  ie->SetDisableCtrlShortcuts("N");

  connect(iedown_start, &QTimer::timeout, this, &Tmainfrm::iedown_startTimer);
  connect(TimerCheck, &QTimer::timeout, this, &Tmainfrm::TimerCheckTimer);
  connect(btnview, &QPushButton::clicked, this, &Tmainfrm::btnviewClick);
  connect(btnonline, &QPushButton::clicked, this, &Tmainfrm::btnonlineClick);
  connect(btn_down, &QPushButton::clicked, this, &Tmainfrm::btn_downClick);
  connect(btniego, &QPushButton::clicked, this, &Tmainfrm::btniegoClick);
  connect(btn_home, &QPushButton::clicked, this, &Tmainfrm::btn_homeClick);
  edtqq->installEventFilter(this);
  edtieurl->installEventFilter(this);

  iedown->OnBeforeNavigate2 = [this](const QString& a, bool& cancel) { iedownBeforeNavigate2(a, cancel); };
  iedown->OnDocumentComplete = [this](const QString& a) { iedownDocumentComplete(a); };
  ie->OnBeforeNavigate2 = [this](const QString& a, bool& cancel) { ieBeforeNavigate2(a, cancel); };
  ie->OnTitleChange = [this](const QString& t) { ieTitleChange(t); };
  ie->OnStatusTextChange = [this](const QString& t) { ieStatusTextChange(t); };
  // Script errors of either pane are answered with continue: the default action of the callbacks.
}

void Tmainfrm::FormCreate() {
  // A failing step ends start-up silently; the window opens all the same.
  try {
    clientNumber = MakeClientNumber(random_, inputs_.clock);
    workFolder = PrepareWorkFolder(inputs_.env);
    TTempFilePaths paths = MakeTempFilePaths(workFolder);
    photoListFile = paths.photoListFile;
    routeFile = paths.routeFile;
    albumListFile = paths.albumListFile;
    vendorBase = BuiltInVendorBase();
    pageLines.clear();
    albumEntries.clear();
    albumFields.clear();
    iedown->ShowBlankPage();
    ie->ShowBlankPage();
    machineId = inputs_.machineId ? inputs_.machineId() : BuildMachineId();
    DeleteTempFiles(paths);
  } catch (const std::exception&) {
  }
}

// --- jobs ----------------------------------------------------------------------------------------------

bool Tmainfrm::WorkerRunning() const {
  return !worker.isNull();
}

bool Tmainfrm::StartJob(int mode) {
  return StartJobWith(mode, jobBody);
}

bool Tmainfrm::StartJobWith(int mode, std::function<void(int mode)> body) {
  if (WorkerRunning()) return false;
  {
    std::lock_guard<std::mutex> lock(handOverMutex_);
    if (handOverClosed_) return false;
  }
  stopRequested = false;
  fetchAbort = false;
  auto* thread = new TDownThread(mode, std::move(body));
  // finished() is emitted on the worker; the queued call below runs on the main thread, and from then on
  // the window regards the job as over.
  connect(thread, &QThread::finished, this, [this, thread] {
    if (worker != thread) return;
    worker = nullptr;
    // A start that waited for this job to end runs now, after the handler has returned.
    if (queuedStart_) QTimer::singleShot(0, this, std::exchange(queuedStart_, nullptr));
  });
  worker = thread;
  return true;
}

bool Tmainfrm::StartOrQueueJob(int mode, std::function<void(int mode)> body) {
  {
    std::lock_guard<std::mutex> lock(handOverMutex_);
    if (handOverClosed_) return false;
  }
  if (!WorkerRunning()) return StartJobWith(mode, std::move(body));
  // The stopped job keeps stopRequested set until it has ended; only then is it cleared for this one.
  queuedStart_ = [this, mode, body = std::move(body)] { StartJobWith(mode, body); };
  return true;
}

void Tmainfrm::StopJob() {
  queuedStart_ = nullptr;
  stopRequested = true;
  if (worker) worker->requestInterruption();
}

bool Tmainfrm::CallOnMainThread(std::function<void()> step) {
  if (QThread::currentThread() == thread()) {
    step();
    return true;
  }
  auto call = std::make_shared<THandOverCall>();
  {
    std::lock_guard<std::mutex> lock(handOverMutex_);
    if (handOverClosed_) return false;
    pendingCalls_.push_back(call);
  }
  QMetaObject::invokeMethod(
      this,
      [this, call, step = std::move(step)] {
        {
          std::lock_guard<std::mutex> lock(call->mutex);
          if (call->state != THandOverCall::State::Waiting) return;
          call->state = THandOverCall::State::Running;
        }
        try {
          step();
        } catch (const std::exception&) {
          // A failing step ends silently, as every handler does; the job learns nothing more.
        }
        {
          std::lock_guard<std::mutex> lock(call->mutex);
          call->state = THandOverCall::State::Done;
        }
        call->changed.notify_all();
        std::lock_guard<std::mutex> lock(handOverMutex_);
        std::erase(pendingCalls_, call);
      },
      Qt::QueuedConnection);

  std::unique_lock<std::mutex> lock(call->mutex);
  call->changed.wait(lock, [&] {
    return call->state == THandOverCall::State::Done || call->state == THandOverCall::State::Cancelled;
  });
  return call->state == THandOverCall::State::Done;
}

void Tmainfrm::CloseHandOver() {
  std::lock_guard<std::mutex> lock(handOverMutex_);
  handOverClosed_ = true;
  for (const auto& call : pendingCalls_) {
    {
      std::lock_guard<std::mutex> callLock(call->mutex);
      if (call->state != THandOverCall::State::Waiting) continue;
      call->state = THandOverCall::State::Cancelled;
    }
    call->changed.notify_all();
  }
}

bool Tmainfrm::WaitForWorker(int timeoutMs) {
  CloseHandOver();
  stopRequested = true;
  fetchAbort = true;
  if (worker) {
    worker->requestInterruption();
    if (!worker->wait(QDeadlineTimer(timeoutMs))) return false;
    // Let the thread's queued finished() and its deleteLater run, so it is really gone.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  DeleteTempFiles(TempFiles());
  return true;
}

// --- closing -------------------------------------------------------------------------------------------

void Tmainfrm::closeEvent(QCloseEvent* event) {
  bool canClose = true;
  FormCloseQuery(canClose);
  if (canClose) {
    event->accept();
  } else {
    event->ignore();
  }
}

void Tmainfrm::FormCloseQuery(bool& canClose) {
  canClose = true;  // closing is always allowed; the window does not wait for a worker
  try {
    stopRequested = true;
    fetchAbort = true;
    DeleteTempFiles(TempFiles());
    // From now on a worker's hand-over returns false at once: nothing on the main thread serves it.
    CloseHandOver();
    if (worker && !worker->isInterruptionRequested()) worker->requestInterruption();
  } catch (const std::exception&) {
  }
}

// --- small handlers ------------------------------------------------------------------------------------

bool Tmainfrm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    int code = (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) ? 13 : key->key();
    if (watched == edtqq) edtqqKeyDown(code);
    if (watched == edtieurl) edtieurlKeyDown(code);
  }
  return QMainWindow::eventFilter(watched, event);
}

void Tmainfrm::edtqqKeyDown(int key) {
  // Enter opens the online view, not the preview: the preview has its own button.
  if (key == 13) btnonline->click();
}

void Tmainfrm::edtieurlKeyDown(int key) {
  if (key == 13) btniegoClick();
}

void Tmainfrm::iedown_startTimer() {
  iedown_start->stop();
  btn_home->click();
}

void Tmainfrm::TimerCheckTimer() {
  TimerCheck->stop();
  iedown->StopLoading();
}

void Tmainfrm::SetStatusPanel(int index, const QString& text) {
  if (index >= 0 && index < 2) statusPanels_[index]->setText(text);
}

QString Tmainfrm::StatusPanel(int index) const {
  return (index >= 0 && index < 2) ? statusPanels_[index]->text() : QString();
}

void Tmainfrm::ShowMessage(const QString& text) {
  if (messageHook) {
    messageHook(text);
    return;
  }
  QMessageBox::information(this, QApplication::applicationName(), text);
}

bool Tmainfrm::CheckQQBox() {
  std::string text = edtqq->text().toStdString();
  bool valid = IsValidQQNumber(text);
  edtqq->setText(Q(text));
  return valid;
}

std::string Tmainfrm::ClientPageAddress() {
  return BuiltInVendorBase() + "/client.php?clientver=2.1&clientrand=";
}

void Tmainfrm::btnonlineClick() {
  if (!CheckQQBox()) {
    ShowMessage(kMessageInvalidQQ);
    return;
  }
  std::string number = edtqq->text().toStdString();
  // A running job works from qqNumber; it is left alone until the job has ended.
  if (!WorkerRunning()) qqNumber = number;
  ie->OpenAddress(Q(vendorBase + "/" + std::to_string(clientNumber) + "_" + number));
}

void Tmainfrm::btniegoClick() {
  ie->OpenAddress(edtieurl->text());
}

void Tmainfrm::btn_homeClick() {
  // The identifier may hold blanks or "&" (a disk serial is free text): encoded, it stays one query value.
  std::string client = ClientPageAddress() + QUrl::toPercentEncoding(Q(machineId)).toStdString();
  // The album pane only gets the client page while it shows no album list and no job can still write
  // one (a stopped preview runs on to its end).
  if (btnview->text() == kCaptionPreviewIdle && albumEntries.empty() &&
      btn_down->text() == kCaptionDownloadIdle && !WorkerRunning())
    iedown->OpenAddress(Q(client));
  ie->OpenAddress(Q(client + "&comefrom=client"));
}

void Tmainfrm::ieTitleChange(const QString& title) {
  ie_gb->setTitle(title);
}

void Tmainfrm::ieStatusTextChange(const QString& text) {
  SetStatusPanel(1, text);
}

void Tmainfrm::ieBeforeNavigate2(const QString& address, bool& cancel) {
  cancel = false;  // the online pane always goes on to the address it was given
  auto found = TextAfter(address, "#TAVRENGOTO:", 10000);
  if (!found) return;
  // The pane reports addresses percent-encoded ("|" arrives as "%7C"); the command is plain text.
  const QString command = QUrl::fromPercentEncoding(found->toUtf8());
  qsizetype bar = command.indexOf('|');
  if (bar < 0) return;
  if (command.left(bar) != QLatin1String("DOWNVELQUAN")) return;
  QString argument = command.mid(bar + 1, 10000);
  // Start the preview after the navigation callback has returned: the preview loads pages itself.
  QTimer::singleShot(0, this, [this, argument] {
    edtqq->setText(argument);
    btnviewClick();
  });
}

void Tmainfrm::iedownBeforeNavigate2(const QString& address, bool& cancel) {
  const AlbumPaneNavigation nav = AlbumPaneLink(address.toStdString(), vendorBase, downloadFolder);
  switch (nav.action) {
    case AlbumPaneNavigation::Action::kProceed:
      return;
    case AlbumPaneNavigation::Action::kOpenOnline:
      ie->OpenAddress(Q(nav.target));
      break;
    case AlbumPaneNavigation::Action::kOpenFolder:
      OpenFolderWithDesktop(nav.target);
      break;
    case AlbumPaneNavigation::Action::kIgnore:
      break;
  }
  cancel = true;
}

void Tmainfrm::iedownDocumentComplete(const QString& address) {
  // The page is read once the engine's report has been handled: a script sent to the page from inside
  // the report of a page that replaced one still loading got no answer until the time limit (seen on a
  // real display), and the markup stayed that of the page before.
  const unsigned serial = ++albumPaneDocuments_;
  QTimer::singleShot(0, this, [this, address, serial] {
    if (serial == albumPaneDocuments_) ReadAlbumPaneDocument(address, serial, 40);
  });
}

void Tmainfrm::ReadAlbumPaneDocument(const QString& address, unsigned serial, int retries) {
  // Reading the page waits in a nested event loop, where the next page's completion can run this
  // handler again. Only the newest completion may write: an older one would put back the markup of a
  // page that is gone (and the download button would then miss the album list).
  // A short limit per try: a document that has just replaced another sometimes never answers the first
  // script sent to it, and the next try after a moment does. The last try has the full limit.
  QString markup = iedown->PageMarkup(retries > 0 ? 250 : 0);
  if (serial != albumPaneDocuments_) return;
  if (markup.isEmpty() && retries > 0 && iedown->CurrentAddress() == address) {
    // A document that does not answer yet is asked again shortly, unless a newer one has completed.
    QTimer::singleShot(50, this, [this, address, serial, retries] {
      if (serial == albumPaneDocuments_) ReadAlbumPaneDocument(address, serial, retries - 1);
    });
    return;
  }
  albumPaneHtml = markup.toStdString();
  if (address.contains("client.php")) {
    // The field is read directly: the vendor's page need not carry the album page's script functions.
    QString subhost = iedown->FieldValue("subhost");
    if (serial != albumPaneDocuments_) return;
    // A page without the field keeps the vendor address it had: an empty base would turn every online
    // link into a relative, unusable address. Only a web address is taken.
    if (subhost.startsWith(QLatin1String("http://")) || subhost.startsWith(QLatin1String("https://"))) {
      while (subhost.endsWith('/')) subhost.chop(1);
      vendorBase = subhost.toStdString();
    }
  }
}

// --- album pane steps ----------------------------------------------------------------------------------

QString Tmainfrm::RunAlbumScript(const std::string& elementId, const std::string& script) {
  return iedown->CallPageFunction("cmd", Q(elementId), Q(script));
}

std::vector<std::string> Tmainfrm::SplitPageText(const std::string& page) {
  // The page builders end every line with CR LF; the pane adds those itself.
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < page.size()) {
    size_t end = page.find("\r\n", from);
    if (end == std::string::npos) end = page.size();
    lines.push_back(page.substr(from, end - from));
    from = end + 2;
  }
  return lines;
}

void Tmainfrm::ShowPageText(const std::string& page) {
  iedown->ShowHtmlLines(SplitPageText(page));
}

void Tmainfrm::ShowJobPage(const std::vector<std::string>& lines) {
  // A job's page usually replaces the loading page, which may itself still be loading. The engine has
  // been seen to drop the newer load then and stay on the loading page, so the job's page is waited for
  // and, when the pane does not show it, loaded once more.
  for (int attempt = 0; attempt < 3; ++attempt) {
    iedown->ShowHtmlLines(lines);
    iedown->WaitUntilReady(kJobPageWaitMs);
    if (iedown->CurrentAddress() == iedown->GeneratedPageAddress().toString()) return;
    if (QCoreApplication::closingDown() || !isVisible()) return;
  }
}

bool Tmainfrm::AdoptPreview(const PreviewResult& result) {
  if (result.jobId != newestPreviewJob) return false;
  qqNumber = result.qqNumber;
  albumListHost = result.albumListHost;
  photoListHost = result.photoListHost;
  albumViewHost = result.albumViewHost;
  pageLines = result.pageLines;
  albumEntries = result.albumEntries;
  albumFields = result.albums;
  return true;
}

void Tmainfrm::OpenFolderWithDesktop(const std::string& folder) {
  QFileInfo target(Q(folder));
  if (folder.empty() || !target.isDir()) return;
  if (openFolderHook) {
    openFolderHook(target.absoluteFilePath());
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(target.absoluteFilePath()));
}

// --- the two jobs' hosts -------------------------------------------------------------------------------

namespace {

// Every step runs on the main thread; a step the window refuses (it is closing) is simply not done.
class TWindowPreviewHost : public PreviewHost {
 public:
  explicit TWindowPreviewHost(Tmainfrm& win) : win_(win) {}

  void RouteFailed(const PreviewResult& result) override {
    win_.CallOnMainThread([&] {
      if (!win_.AdoptPreview(result)) return;
      win_.ShowJobPage(Tmainfrm::SplitPageText(NoticePage(result.qqNumber, kRouteFailedMessage)));
      win_.btnview->setText(kCaptionPreviewIdle);
    });
  }
  void PreviewFailed(const PreviewResult& result) override {
    win_.CallOnMainThread([&] {
      if (!win_.AdoptPreview(result)) return;
      win_.ShowJobPage(Tmainfrm::SplitPageText(NoticePage(result.qqNumber, kAlbumListFailedMessage)));
    });
  }
  void ShowAlbumPage(const PreviewResult& result) override {
    win_.CallOnMainThread([&] {
      if (!win_.AdoptPreview(result)) return;
      win_.ShowJobPage(win_.pageLines);
    });
  }
  // A stale job ends silently: its caption change and message would belong to the newer preview.
  void PreviewDone(const PreviewResult& result) override {
    win_.CallOnMainThread([&] {
      if (!win_.AdoptPreview(result)) return;
      win_.btnview->setText(kCaptionPreviewIdle);
      win_.SetStatusPanel(0, Q(std::string(kPreviewDoneStatus)));
      win_.ShowMessage(Q(PreviewDoneMessage(result.qqNumber)));
    });
  }

 private:
  Tmainfrm& win_;
};

class TWindowDownloadHost : public DownloadHost {
 public:
  explicit TWindowDownloadHost(Tmainfrm& win) : win_(win) {}

  bool ChooseFolder(const std::string& title, std::string& folder) override {
    bool chosen = false;
    win_.CallOnMainThread([&] {
      QString path = Q(folder);
      if (win_.chooseFolderHook) {
        if (!win_.chooseFolderHook(Q(title), path)) return;
      } else {
        path = QFileDialog::getExistingDirectory(&win_, Q(title), path);
      }
      if (path.isEmpty()) return;
      folder = path.toStdString();
      chosen = true;
    });
    return chosen;
  }
  std::string ReadAlbumCheck(int n) override {
    std::string text;
    win_.CallOnMainThread([&] {
      const AlbumScript call = ReadCheckScript(n);
      text = win_.RunAlbumScript(call.elementId, call.script).toStdString();
      win_.currentAlbum = n;
      win_.currentChecked = ::ReadAlbumCheck(text);
    });
    return text;
  }
  void ShowAlbumStatus(const AlbumStatusUpdate& update) override {
    win_.CallOnMainThread([&] {
      win_.currentAlbum = update.currentAlbum;
      win_.statusHtml = AlbumStatusHtml(update);
      win_.rowColor = std::string(AlbumRowColor(update.state));
      win_.currentAlbumName = update.currentAlbumName;
      // Each call stands alone: a failing one does not keep the later ones from running. Their values
      // are not used, so they are handed to the page without waiting for each answer (a round trip per
      // call was most of the cost of a status update); the page runs them in order.
      for (const AlbumScript& call : ::ShowAlbumStatus(update.currentAlbum, win_.statusHtml, win_.rowColor,
                                                       update.currentAlbumName))
        win_.iedown->PostPageFunction("cmd", Q(call.elementId), Q(call.script));
    });
  }
  void SetStatusText(const std::string& text) override {
    win_.CallOnMainThread([&] { win_.SetStatusPanel(0, Q(text)); });
  }
  void DownloadFolderPrepared(const std::string& albumRoot) override {
    win_.CallOnMainThread([&] { win_.downloadFolder = albumRoot; });
  }
  bool AskOpenFolder(const std::string& summary) override {
    bool yes = false;
    win_.CallOnMainThread([&] {
      if (win_.askOpenFolderHook) {
        yes = win_.askOpenFolderHook(Q(summary));
        return;
      }
      QString shown = Q(summary);
      shown.remove('\r');
      yes = QMessageBox::question(&win_, Q(std::string(kSummaryCaption)), shown,
                                  QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    });
    return yes;
  }
  void OpenFolder(const std::string& folder) override {
    win_.CallOnMainThread([&] { win_.OpenFolderWithDesktop(folder); });
  }
  void DownloadFinished(const DownloadCounters& counters) override {
    win_.CallOnMainThread([&] {
      win_.albumsOk = counters.albumsOk;
      win_.albumsFailed = counters.albumsFailed;
      win_.photosOk = counters.photosOk;
      win_.photosFailed = counters.photosFailed;
      win_.btn_down->setText(kCaptionDownloadIdle);
      win_.SetStatusPanel(0, Q(std::string(kDownloadFinishedStatus)));
    });
  }

 private:
  Tmainfrm& win_;
};

}  // namespace

// --- the job buttons -----------------------------------------------------------------------------------

void Tmainfrm::StartPreview() {
  // Everything the job uses is taken now; the QQ box, the online view and later clicks cannot change it.
  PreviewInput input;
  input.jobId = ++newestPreviewJob;
  input.qqNumber = edtqq->text().toStdString();
  input.routeHost = RouteHost();
  input.clientNumber = clientNumber;
  input.routeFile = routeFile;
  input.albumListFile = albumListFile;
  input.fetchAbort = &fetchAbort;
  StartOrQueueJob(1, [this, input](int) {
    TWindowPreviewHost host(*this);
    RetrieveAlbumList(input, host);
  });
}

void Tmainfrm::StartDownload() {
  DownloadInput input;
  input.qqNumber = qqNumber;
  input.photoListHost = photoListHost;
  input.albumViewHost = albumViewHost;
  input.albums = albumFields;
  input.downloadFolder = downloadFolder;
  input.photoListFile = photoListFile;
  input.stopRequested = &stopRequested;
  input.fetchAbort = &fetchAbort;
  StartOrQueueJob(2, [this, input](int) {
    TWindowDownloadHost host(*this);
    DownloadCheckedAlbums(input, host);
  });
}

void Tmainfrm::btnviewClick() {
  if (!CheckQQBox()) {
    ShowMessage(kMessageInvalidQQ);
    return;
  }
  if (btn_down->text() == kCaptionDownloadRunning) {
    ShowMessage(kMessageDownloadRunning);
    return;
  }
  SetStatusPanel(0, Q(std::string(kPreviewRunningStatus)));
  iedown->ShowBlankPage();
  if (btnview->text() != kCaptionPreviewIdle) {
    // The retrieval is not interrupted: it runs on and still shows its page, unless a newer preview
    // is started before it ends.
    StopJob();
    btnview->setText(kCaptionPreviewIdle);
    return;
  }
  DeleteTempFiles(TempFiles());
  ShowPageText(LoadingPage(edtqq->text().toStdString()));
  btnview->setText(kCaptionPreviewRunning);
  StartPreview();
}

void Tmainfrm::btn_downClick() {
  if (!iedown->HasHtmlDocument()) {
    ShowMessage(kMessageAlbumPaneBusy);
    TimerCheck->start();
    return;
  }
  if (btnview->text() == kCaptionPreviewRunning) {
    ShowMessage(kMessagePreviewRunning);
    return;
  }
  // The markup is read again now: the completion report of a page that replaced a still-loading one
  // can come late, and the decision must rest on the page the user sees.
  if (const QString markup = iedown->PageMarkup(); !markup.isEmpty()) albumPaneHtml = markup.toStdString();
  if (QString::fromStdString(albumPaneHtml).toLower().indexOf("check_0") < 0 || albumEntries.empty()) {
    ShowMessage(kMessageNoAlbumList);
    return;
  }
  if (btn_down->text() == kCaptionDownloadIdle) {
    btn_down->setText(kCaptionDownloadRunning);
    StartDownload();
    return;
  }
  StopJob();
  btn_down->setText(kCaptionDownloadIdle);
  SetStatusPanel(0, Q(std::string(kDownloadStoppedStatus)));
}

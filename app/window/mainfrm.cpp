#include "app/window/mainfrm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
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
  if (WorkerRunning()) return false;
  {
    std::lock_guard<std::mutex> lock(handOverMutex_);
    if (handOverClosed_) return false;
  }
  stopRequested = false;
  fetchAbort = false;
  auto body = jobBody;  // the worker gets its own copy; the window may change jobBody later
  auto* thread = new TDownThread(mode, std::move(body));
  // finished() is emitted on the worker; the queued call below runs on the main thread, and from then on
  // the window regards the job as over.
  connect(thread, &QThread::finished, this, [this, thread] {
    if (worker == thread) worker = nullptr;
  });
  worker = thread;
  return true;
}

void Tmainfrm::StopJob() {
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
  std::string client = ClientPageAddress() + machineId;
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
  auto command = TextAfter(address, "#TAVRENGOTO:", 10000);
  if (!command) return;
  qsizetype bar = command->indexOf('|');
  if (bar < 0) return;
  if (command->left(bar) != QLatin1String("DOWNVELQUAN")) return;
  QString argument = command->mid(bar + 1, 10000);
  // Start the preview after the navigation callback has returned: the preview loads pages itself.
  QTimer::singleShot(0, this, [this, argument] {
    edtqq->setText(argument);
    btnviewClick();
  });
}

void Tmainfrm::iedownBeforeNavigate2(const QString& address, bool& cancel) {
  if (auto online = TextAfter(address, "#GOTO1:", 1000)) {
    if (online->startsWith(QLatin1String("http://")))
      ie->OpenAddress(*online);
    else
      ie->OpenAddress(Q(vendorBase) + *online);
    cancel = true;
    return;
  }
  if (auto folder = TextAfter(address, "#GOTO2:", 1000)) {
    cancel = true;
    QString name = QUrl::fromPercentEncoding(folder->toUtf8());
    // The name comes from the album list; it must stay one folder below the download folder.
    if (downloadFolder.empty() || name.isEmpty() || name.contains('/') || name == "." || name == "..") return;
    QFileInfo target(Q(downloadFolder) + name + "/");
    if (target.isDir()) QDesktopServices::openUrl(QUrl::fromLocalFile(target.absoluteFilePath()));
  }
}

void Tmainfrm::iedownDocumentComplete(const QString& address) {
  albumPaneHtml = iedown->PageMarkup().toStdString();
  if (address.contains("client.php")) {
    QString subhost = iedown->CallPageFunction("cmd", "subhost", "$(\"subhost\").value");
    // A page without the field keeps the vendor address it had: an empty base would turn every online
    // link into a relative, unusable address. Only a web address is taken.
    if (subhost.startsWith(QLatin1String("http://")) || subhost.startsWith(QLatin1String("https://"))) {
      while (subhost.endsWith('/')) subhost.chop(1);
      vendorBase = subhost.toStdString();
    }
  }
}

// The job-driven handlers are completed together with the jobs.
void Tmainfrm::btnviewClick() {}

void Tmainfrm::btn_downClick() {}

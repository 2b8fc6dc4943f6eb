#include "gui/mainfrm.h"

#include <QApplication>
#include <QCheckBox>
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
#include <QWebEngineProfile>
#include <exception>
#include <utility>

#include "core/albumdownload.h"
#include "core/albumlist.h"
#include "core/albumpage.h"
#include "core/albumscripts.h"
#include "core/albumselection.h"
#include "core/hosts.h"
#include "core/qqnumber.h"
#include "gui/cookiebridge.h"
#include "gui/webpane.h"
#include "gui/windowhosts.h"
#include "machine/machineinfo.h"
#include "net/cookiejar.h"
#include "text/gbk.h"
#include "viewer/downloadnotes.h"

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// Text after the first `marker` of `address`, at most `limit` characters; nothing when it is absent.
std::optional<QString> TextAfter(const QString& address, const QString& marker, int limit) {
  qsizetype at = address.indexOf(marker);
  if (at < 0) return std::nullopt;
  return address.mid(at + marker.size(), limit);
}

}  // namespace

Tmainfrm::Tmainfrm(TStartupInputs inputs, QWidget* parent)
    : QMainWindow(parent), inputs_(std::move(inputs)), session_(std::make_unique<CookieJar>()) {
  BuildControls();
  // Both panes are on the default profile, which is off the record: the session ends with the run.
  sessionBridge_ = new TCookieBridge(QWebEngineProfile::defaultProfile(), *session_, this);
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
  // Before the jar it feeds: the bridge is a child and would otherwise go after the members.
  delete sessionBridge_;
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
  if (handOver_.Closed()) return false;
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
  if (handOver_.Closed()) return false;
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
  return handOver_.Call(std::move(step));
}

void Tmainfrm::CloseHandOver() {
  handOver_.Close();
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

QByteArray AlbumPanePage(const std::vector<std::string>& lines) {
  return QByteArray::fromStdString(EncodeGbk(JoinPageLines(lines)));
}

void Tmainfrm::ShowPageText(const std::string& page) {
  iedown->ShowHtmlPage(AlbumPanePage(SplitPageText(page)));
}

void Tmainfrm::ShowJobPage(const std::vector<std::string>& lines) {
  // A job's page usually replaces the loading page, which may itself still be loading. The engine has
  // been seen to drop the newer load then and stay on the loading page, so the job's page is waited for
  // and, when the pane does not show it, loaded once more.
  const QByteArray page = AlbumPanePage(lines);
  for (int attempt = 0; attempt < 3; ++attempt) {
    iedown->ShowHtmlPage(page);
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
  input.cookies = session_.get();
  StartOrQueueJob(1, [this, input](int) {
    TWindowPreviewHost host(*this);
    RetrieveAlbumList(input, host);
  });
}

bool Tmainfrm::ChooseDownloadFolder(std::string& folder) {
  const QString title = Q(std::string(kChooseFolderTitle));
  QString path = Q(folder);
  if (chooseFolderHook) {
    if (!chooseFolderHook(title, path)) return false;
  } else {
    path = QFileDialog::getExistingDirectory(this, title, path);
  }
  if (path.isEmpty()) return false;
  folder = path.toStdString();
  return true;
}

void Tmainfrm::iedownTickBoxChange(const QString& elementId, bool checked) {
  if (selection_) selection_->Set(TickBoxAlbum(elementId.toStdString()), checked);
}

void Tmainfrm::StartDownload(const std::string& folder) {
  // The ticks as the page shows them now; from here on every box the user ticks or unticks is taken over
  // at once, and the job reads an album's tick when it comes to it.
  const int count = static_cast<int>(albumFields.size());
  const AlbumScript read = ReadTicksScript(count);
  selection_ = std::make_shared<AlbumSelection>(
      TicksFromScript(RunAlbumScript(read.elementId, read.script).toStdString(), count));
  DownloadInput input;
  input.qqNumber = qqNumber;
  input.photoListHost = photoListHost;
  input.albumViewHost = albumViewHost;
  input.albums = albumFields;
  input.downloadFolder = folder;
  input.selection = selection_;
  input.photoListFile = photoListFile;
  input.stopRequested = &stopRequested;
  input.fetchAbort = &fetchAbort;
  input.fetchOptions.cookies = session_.get();
  // Only new photos: no backup, the album root kept, a copy made before adopted, records kept.
  input.update = chkonlynew->isChecked();
  StartOrQueueJob(2, [this, input](int) {
    TWindowDownloadHost host(*this, input.albums);
    const DownloadOutcome outcome = DownloadCheckedAlbums(input, host);
    // A run that was refused before anything changed says why and leaves the window ready to start again.
    std::string refusal;
    if (outcome.end == DownloadOutcome::End::kLocked)
      refusal = LockHeldTextZh(outcome.albumRoot, outcome.lockHolder);
    if (outcome.end == DownloadOutcome::End::kManifestError) refusal = "无法更新：" + outcome.error;
    if (!refusal.empty()) {
      CallOnMainThread([this, refusal] {
        btn_down->setText(kCaptionDownloadIdle);
        SetStatusPanel(0, Q(std::string(kDownloadStoppedStatus)));
        ShowMessage(Q(refusal));
      });
      return;
    }
    // The copy becomes browsable before the user is offered to open it (not while the window closes).
    if (!fetchAbort) ViewerAfterDownload(outcome, host.Notes());
    if (outcome.end != DownloadOutcome::End::kCompleted) return;
    const std::string summary = DownloadSummary(input.qqNumber, outcome.counters);
    CallOnMainThread([&] {
      host.FlushNow();
      if (AskOpenFolder(summary)) OpenFolderWithDesktop(outcome.albumRoot);
      albumsOk = outcome.counters.albumsOk;
      albumsFailed = outcome.counters.albumsFailed;
      photosOk = outcome.counters.photosOk;
      photosFailed = outcome.counters.photosFailed;
      btn_down->setText(kCaptionDownloadIdle);
      SetStatusPanel(0, Q(std::string(kDownloadFinishedStatus)));
    });
  });
}

bool Tmainfrm::AskOpenFolder(const std::string& summary) {
  if (askOpenFolderHook) return askOpenFolderHook(Q(summary));
  QString shown = Q(summary);
  shown.remove('\r');
  return QMessageBox::question(this, Q(std::string(kSummaryCaption)), shown,
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
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
    // The folder is asked for before anything starts. Cancelled, the button keeps its caption until it is
    // pressed again; a press while the browser was open (a stop) has the last word.
    const unsigned press = ++downloadPresses_;
    std::string folder = downloadFolder;
    if (!ChooseDownloadFolder(folder) || press != downloadPresses_) return;
    StartDownload(folder);
    return;
  }
  ++downloadPresses_;
  StopJob();
  btn_down->setText(kCaptionDownloadIdle);
  SetStatusPanel(0, Q(std::string(kDownloadStoppedStatus)));
}

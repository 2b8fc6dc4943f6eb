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
#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

#include "core/albumdownload.h"
#include "core/albumlist.h"
#include "core/albumpage.h"
#include "core/albumscripts.h"
#include "core/albumselection.h"
#include "core/currentservice.h"
#include "core/hosts.h"
#include "core/photolists.h"
#include "core/qqnumber.h"
#include "gui/cookiebridge.h"
#include "gui/webpane.h"
#include "gui/windowhosts.h"
#include "machine/desktopnote.h"
#include "machine/machineinfo.h"
#include "net/cookiejar.h"
#include "text/gbk.h"
#include "viewer/downloadnotes.h"

namespace {

// A download this long is worth a desktop note when it ends unwatched.
constexpr auto kLongDownload = std::chrono::seconds(30);

// The status bar's word while the album site asks to wait.
std::string BusySiteText(int waitMs) {
  return "相册网站繁忙，" + std::to_string((waitMs + 999) / 1000) + " 秒后再试";
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

Tmainfrm::Tmainfrm(TStartupInputs inputs, QWidget* parent)
    : QMainWindow(parent), inputs_(std::move(inputs)), cookies_(std::make_unique<CookieJar>()) {
  BuildControls();
  // Both panes are on the default profile, which is off the record: the session ends with the run.
  sessionBridge_ = new TCookieBridge(QWebEngineProfile::defaultProfile(), *cookies_, this);
  FormCreate();
  iedown_start->start();
}

Tmainfrm::~Tmainfrm() {
  CloseHandOver();
  stopRequested_ = true;
  fetchAbort_ = true;
  if (worker_) {
    worker_->requestInterruption();
    worker_->wait();
  }
  // Before the jar it feeds: the bridge is a child and would otherwise go after the members.
  delete sessionBridge_;
}

void Tmainfrm::FormCreate() {
  // A failing step ends start-up silently; the window opens all the same.
  try {
    clientNumber_ = MakeClientNumber(random_, inputs_.clock);
    workFolder_ = PrepareWorkFolder(inputs_.env);
    temp_ = MakeTempFilePaths(workFolder_);
    session_.vendorBase = inputs_.vendorBase.empty() ? BuiltInVendorBase() : inputs_.vendorBase;
    iedown->ShowBlankPage();
    ie->ShowBlankPage();
    machineId_ = inputs_.machineId ? inputs_.machineId() : BuildMachineId();
    DeleteTempFiles(temp_);
  } catch (const std::exception&) {
  }
}

// --- jobs ----------------------------------------------------------------------------------------------

bool Tmainfrm::WorkerRunning() const {
  return !worker_.isNull();
}

bool Tmainfrm::StartJob(int mode) {
  return StartJobWith(mode, jobBody);
}

bool Tmainfrm::StartJobWith(int mode, std::function<void(int mode)> body) {
  if (WorkerRunning()) return false;
  if (handOver_.Closed()) return false;
  stopRequested_ = false;
  fetchAbort_ = false;
  auto* thread = new TDownThread(mode, std::move(body));
  // finished() is emitted on the worker_; the queued call below runs on the main thread, and from then on
  // the window regards the job as over.
  connect(thread, &QThread::finished, this, [this, thread] {
    if (worker_ != thread) return;
    worker_ = nullptr;
    session_.JobEnded();
    ShowSession();
    // A start that waited for this job to end runs now, after the handler has returned.
    if (queuedStart_) QTimer::singleShot(0, this, std::exchange(queuedStart_, nullptr));
  });
  worker_ = thread;
  return true;
}

bool Tmainfrm::StartOrQueueJob(int mode, std::function<void(int mode)> body) {
  if (handOver_.Closed()) return false;
  if (!WorkerRunning()) return StartJobWith(mode, std::move(body));
  // The stopped job keeps stopRequested_ set until it has ended; only then is it cleared for this one.
  queuedStart_ = [this, mode, body = std::move(body)] { StartJobWith(mode, body); };
  return true;
}

void Tmainfrm::StopJob() {
  queuedStart_ = nullptr;
  stopRequested_ = true;
  if (worker_) worker_->requestInterruption();
}

bool Tmainfrm::CallOnMainThread(std::function<void()> step) {
  return handOver_.Call(std::move(step));
}

void Tmainfrm::CloseHandOver() {
  handOver_.Close();
}

bool Tmainfrm::WaitForWorker(int timeoutMs) {
  CloseHandOver();
  stopRequested_ = true;
  fetchAbort_ = true;
  if (worker_) {
    worker_->requestInterruption();
    if (!worker_->wait(QDeadlineTimer(timeoutMs))) return false;
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
  canClose = true;  // closing is always allowed; the window does not wait for a worker_
  try {
    stopRequested_ = true;
    fetchAbort_ = true;
    DeleteTempFiles(TempFiles());
    // From now on a worker_'s hand-over returns false at once: nothing on the main thread serves it.
    CloseHandOver();
    if (worker_ && !worker_->isInterruptionRequested()) worker_->requestInterruption();
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
  if (!WorkerRunning()) session_.qqNumber = number;
  ie->OpenAddress(Q(session_.vendorBase + "/" + std::to_string(clientNumber_) + "_" + number));
}

void Tmainfrm::btniegoClick() {
  ie->OpenAddress(edtieurl->text());
}

void Tmainfrm::btn_homeClick() {
  // The identifier may hold blanks or "&" (a disk serial is free text): encoded, it stays one query value.
  std::string client = ClientPageAddress() + QUrl::toPercentEncoding(Q(machineId_)).toStdString();
  // The album pane only gets the client page while it shows no album list and no job can still write
  // one (a stopped preview runs on to its end).
  if (session_.MayShowClientPage(WorkerRunning())) iedown->OpenAddress(Q(client));
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
  const std::optional<std::string> number = OnlinePanePreviewCommand(address.toStdString());
  if (!number) return;
  const QString argument = Q(*number);
  // Start the preview after the navigation callback has returned: the preview loads pages itself.
  QTimer::singleShot(0, this, [this, argument] {
    edtqq->setText(argument);
    btnviewClick();
  });
}

void Tmainfrm::iedownBeforeNavigate2(const QString& address, bool& cancel) {
  const AlbumPaneNavigation nav =
      AlbumPaneLink(address.toStdString(), session_.vendorBase, session_.downloadFolder);
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
  session_.albumPaneHtml = markup.toStdString();
  if (address.contains("client.php")) {
    // The field is read directly: the vendor's page need not carry the album page's script functions.
    QString subhost = iedown->FieldValue("subhost");
    if (serial != albumPaneDocuments_) return;
    // A page without the field keeps the vendor address it had: an empty base would turn every online
    // link into a relative, unusable address. Only a web address is taken.
    if (subhost.startsWith(QLatin1String("http://")) || subhost.startsWith(QLatin1String("https://"))) {
      while (subhost.endsWith('/')) subhost.chop(1);
      session_.vendorBase = subhost.toStdString();
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
  return session_.Adopt(result);
}

void Tmainfrm::ShowSession() {
  btnview->setText(Q(std::string(session_.PreviewCaption())));
  btn_down->setText(Q(std::string(session_.DownloadCaption())));
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
  input.jobId = session_.PreviewStarted();
  input.qqNumber = edtqq->text().toStdString();
  input.routeHost = RouteHost();
  input.clientNumber = clientNumber_;
  input.routeFile = temp_.routeFile;
  input.albumListFile = temp_.albumListFile;
  input.fetchAbort = &fetchAbort_;
  input.cookies = cookies_.get();
  // Signed in to the album site in the online pane: the preview goes through the site's own lists.
  std::shared_ptr<const SiteSession> site = SignedInSite();
  StartOrQueueJob(1, [this, input, site](int) mutable {
    input.site = site.get();
    input.onBusy = [this](int waitMs) {
      const QString text = Q(BusySiteText(waitMs));
      CallOnMainThread([this, text] { SetStatusPanel(0, text); });
    };
    TWindowPreviewHost host(*this);
    RetrieveAlbumList(input, host);
  });
}

std::shared_ptr<const SiteSession> Tmainfrm::SignedInSite() const {
  std::optional<SiteSession> site = SiteSignIn(cookies_->All(), MakeSiteHosts(SiteHostOverride()));
  return site ? std::make_shared<const SiteSession>(std::move(*site)) : nullptr;
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

void Tmainfrm::PaneLoadFailed(TWebPane& pane, const QString& address) {
  if (!address.startsWith(Q(ClientPageAddress()))) return;
  // After the engine's report: a page shown from inside it could be dropped for the failed one.
  const bool online = &pane == ie;
  QTimer::singleShot(0, &pane, [&pane, online] {
    pane.ShowHtmlPage(AlbumPanePage(SplitPageText(BuiltInClientPage(SignInPageAddress(), online))));
  });
}

void Tmainfrm::iedownTickBoxChange(const QString& elementId, bool checked) {
  if (selection_) selection_->Set(TickBoxAlbum(elementId.toStdString()), checked);
}

void Tmainfrm::StartDownload(const std::string& folder) {
  // The ticks as the page shows them now; from here on every box the user ticks or unticks is taken over
  // at once, and the job reads an album's tick when it comes to it.
  const PreviewResult& preview = session_.preview();
  const int count = static_cast<int>(preview.albums.size());
  const AlbumScript read = ReadTicksScript(count);
  selection_ = std::make_shared<AlbumSelection>(
      TicksFromScript(RunAlbumScript(read.elementId, read.script).toStdString(), count));
  DownloadInput input;
  input.qqNumber = session_.qqNumber;
  input.photoListHost = preview.photoListHost;
  input.albumViewHost = preview.albumViewHost;
  input.albums = preview.albums;
  input.downloadFolder = folder;
  input.selection = selection_;
  input.photoListFile = temp_.photoListFile;
  input.stopRequested = &stopRequested_;
  input.fetchAbort = &fetchAbort_;
  input.fetchOptions.cookies = cookies_.get();
  // Only new photos: no backup, the album root kept, a copy made before adopted, records kept.
  input.update = chkonlynew->isChecked();
  std::shared_ptr<const SiteSession> site = SignedInSite();
  StartOrQueueJob(2, [this, input, site](int) mutable {
    const auto started = std::chrono::steady_clock::now();
    TWindowDownloadHost host(*this, input.albums);
    std::unique_ptr<CurrentPhotoLists> siteLists;
    if (site) {
      CurrentPhotoLists::Setup setup =
          CurrentPhotoLists::ForSession(*site, input.qqNumber, input.photoListFile);
      setup.options.cookies = input.fetchOptions.cookies;
      setup.options.abort = input.fetchAbort;
      setup.stopRequested = input.stopRequested;
      setup.onBusy = [&host](int waitMs) { host.SetStatusText(BusySiteText(waitMs)); };
      siteLists = std::make_unique<CurrentPhotoLists>(std::move(setup));
      input.photoLists = siteLists.get();
    }
    const DownloadOutcome outcome = DownloadCheckedAlbums(input, host);
    // A run that was refused before anything changed says why and leaves the window ready to start again.
    std::string refusal;
    if (outcome.end == DownloadOutcome::End::kLocked)
      refusal = LockHeldTextZh(outcome.albumRoot, outcome.lockHolder);
    if (outcome.end == DownloadOutcome::End::kManifestError) refusal = "无法更新：" + outcome.error;
    if (!refusal.empty()) {
      CallOnMainThread([this, refusal] {
        session_.DownloadRefused();
        ShowSession();
        SetStatusPanel(0, Q(std::string(kDownloadStoppedStatus)));
        ShowMessage(Q(refusal));
      });
      return;
    }
    // The copy becomes browsable before the user is offered to open it (not while the window closes).
    if (!fetchAbort_) ViewerAfterDownload(outcome, host.Notes());
    if (outcome.end != DownloadOutcome::End::kCompleted) return;
    const std::string summary = DownloadSummary(input.qqNumber, outcome.counters);
    // A long download that ended while the user was in another window is told on the desktop too.
    bool unwatched = false;
    CallOnMainThread([&] { unwatched = !isActiveWindow(); });
    if (unwatched && std::chrono::steady_clock::now() - started >= kLongDownload) {
      std::string body = summary;
      body.erase(std::remove(body.begin(), body.end(), '\r'), body.end());
      SendDesktopNote("Lorvanta：" + std::string(kSummaryCaption), body);
    }
    CallOnMainThread([&] {
      host.FlushNow();
      if (AskOpenFolder(summary)) OpenFolderWithDesktop(outcome.albumRoot);
      session_.DownloadCompleted(outcome.counters);
      ShowSession();
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
  const WindowSession::PreviewPress press = session_.PressPreview();
  if (press == WindowSession::PreviewPress::kDownloadRunning) {
    ShowMessage(kMessageDownloadRunning);
    return;
  }
  SetStatusPanel(0, Q(std::string(kPreviewRunningStatus)));
  iedown->ShowBlankPage();
  if (press == WindowSession::PreviewPress::kStop) {
    // The retrieval is not interrupted: it runs on and still shows its page, unless a newer preview
    // is started before it ends.
    StopJob();
    session_.Stopped(WorkerRunning());
    ShowSession();
    return;
  }
  DeleteTempFiles(TempFiles());
  ShowPageText(LoadingPage(edtqq->text().toStdString()));
  StartPreview();
  ShowSession();
}

void Tmainfrm::btn_downClick() {
  if (!iedown->HasHtmlDocument()) {
    ShowMessage(kMessageAlbumPaneBusy);
    TimerCheck->start();
    return;
  }
  // The markup is read again now: the completion report of a page that replaced a still-loading one
  // can come late, and the decision must rest on the page the user sees.
  if (session_.PressDownload(session_.albumPaneHtml) != WindowSession::DownloadPress::kPreviewRunning) {
    if (const QString markup = iedown->PageMarkup(); !markup.isEmpty())
      session_.albumPaneHtml = markup.toStdString();
  }
  switch (session_.PressDownload(session_.albumPaneHtml)) {
    case WindowSession::DownloadPress::kPreviewRunning:
      ShowMessage(kMessagePreviewRunning);
      return;
    case WindowSession::DownloadPress::kNoAlbumList:
      ShowMessage(kMessageNoAlbumList);
      return;
    case WindowSession::DownloadPress::kStart: {
      session_.DownloadStarted();
      ShowSession();
      // The folder is asked for before anything starts. Cancelled, the button keeps its caption until it
      // is pressed again; a press while the browser was open (a stop) has the last word.
      const unsigned press = ++downloadPresses_;
      std::string folder = session_.downloadFolder;
      if (!ChooseDownloadFolder(folder) || press != downloadPresses_) return;
      StartDownload(folder);
      return;
    }
    case WindowSession::DownloadPress::kStop:
      ++downloadPresses_;
      StopJob();
      session_.Stopped(WorkerRunning());
      ShowSession();
      SetStatusPanel(0, Q(std::string(kDownloadStoppedStatus)));
      return;
  }
}

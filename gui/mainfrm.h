// Tmainfrm: the program's only window, a shell over its WindowSession (core/windowsession.h). The left
// half is the album pane (QQ box, preview / online / download buttons, the generated album page in
// `iedown`), the right half the online pane (address box, visit and home buttons, the web view `ie`).
// The controls are its own; tests find them by their object names, as the names above.
//
// Jobs run on one TDownThread at a time; their hosts (windowhosts.h) hand a preview's steps over with
// CallOnMainThread (handover.h) and post a download's status updates (folded per frame) without waiting.
#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/jobhost.h"
#include "core/startup.h"
#include "core/windowsession.h"
#include "gui/downthread.h"
#include "gui/handover.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTimer;
class TWebPane;
class TCookieBridge;
class CookieJar;
class AlbumSelection;
struct SiteSession;

inline constexpr const char* kCaptionOnlyNewPhotos = "只下载新相片";
inline constexpr const char* kMessageInvalidQQ = "请输入有效的QQ号码！";
inline constexpr const char* kMessageDownloadRunning = "正在下载相片，请先停止！";
inline constexpr const char* kMessageAlbumPaneBusy = "正在处理相册列表，请稍等一会...";
inline constexpr const char* kMessagePreviewRunning = "正在获取相册列表，请稍候。。";
inline constexpr const char* kMessageNoAlbumList = "相册列表为空不能下载，请先预览相册！";

// The album pane's page: its lines (UTF-8), each followed by CR LF, in GBK, the code page it declares. The
// command line's --page writes these same bytes.
QByteArray AlbumPanePage(const std::vector<std::string>& lines);

// What start-up reads from the machine; tests replace them.
struct TStartupInputs {
  EnvLookup env = SystemEnvironment;
  LocalClock clock = SystemLocalTime;
  std::function<std::string()> machineId;  // empty: BuildMachineId() of the running machine
  std::string vendorBase;                  // empty: BuiltInVendorBase()
};

class Tmainfrm : public QMainWindow {
  Q_OBJECT

 public:
  explicit Tmainfrm(TStartupInputs inputs = TStartupInputs(), QWidget* parent = nullptr);
  // Waits for a worker that still runs (it has been told to stop), so that it never outlives the run
  // state it works on. main() waits with a limit first; see WaitForWorker.
  ~Tmainfrm() override;

  // --- state ---------------------------------------------------------------------------------------------
  const WindowSession& Session() const { return session_; }
  // Start-up's facts: the client number, the work folder and its temporary reply files, the machine id.
  int ClientNumber() const { return clientNumber_; }
  const std::string& WorkFolder() const { return workFolder_; }
  const std::string& MachineId() const { return machineId_; }
  TTempFilePaths TempFiles() const { return temp_; }
  // Set by a stop and when the window closes; the running job ends at its next poll.
  bool StopRequested() const { return stopRequested_; }
  // Set when the window closes: every transfer of the running job ends at once.
  bool FetchAborted() const { return fetchAbort_; }

  // --- jobs ----------------------------------------------------------------------------------------------
  // The body a worker runs for a mode (1 preview, 2 download). Empty: the worker ends at once.
  std::function<void(int mode)> jobBody;

  // Starts a worker with the mode: clears the stop and abort flags and keeps it as the running job. Refuses
  // (false) while an earlier worker has not ended yet, as two jobs must never share the run state.
  bool StartJob(int mode);
  // The stop flag is set and the running worker (if any) is asked to stop (requestInterruption).
  void StopJob();
  bool WorkerRunning() const;
  TDownThread* RunningJob() const { return worker_.data(); }

  // Runs `step` on the main thread and waits for it. From the main thread the step runs directly. False,
  // without running the step, once the window is closing or the main thread waits for the worker (it
  // could never serve the call then). A step that has begun is always waited for to its end.
  bool CallOnMainThread(std::function<void()> step);

  // After the window has closed: refuses further hand-overs, waits up to timeoutMs for the worker, and
  // deletes the temporary files once more (an aborted job may have left one after the close). True when
  // no worker runs any more.
  bool WaitForWorker(int timeoutMs);

  // --- small window helpers ------------------------------------------------------------------------------
  void SetStatusPanel(int index, const QString& text);
  QString StatusPanel(int index) const;
  // The program's message box; tests may catch messages through messageHook instead.
  void ShowMessage(const QString& text);
  std::function<void(const QString& text)> messageHook;
  // IsValidQQNumber on the QQ box, the trimmed text written back into it.
  bool CheckQQBox();
  // The vendor's client page address without the machine identifier.
  static std::string ClientPageAddress();

  // --- album pane and job steps (main thread) -------------------------------------------------------
  // Calls the album page's `cmd` function with the element id and the script; the value as text, empty
  // for no value or any failure.
  QString RunAlbumScript(const std::string& elementId, const std::string& script);
  // A page made of CR LF terminated lines (notice and loading pages) into the album pane.
  void ShowPageText(const std::string& page);
  static std::vector<std::string> SplitPageText(const std::string& page);
  // A page of a job (album page, notice page) into the album pane, waited for and loaded again if the
  // pane did not take it.
  void ShowJobPage(const std::vector<std::string>& lines);
  static constexpr int kJobPageWaitMs = 10000;
  // Opens a folder with the desktop, but only an existing directory.
  void OpenFolderWithDesktop(const std::string& folder);
  // The download's dialogs; tests answer them instead of a person.
  std::function<bool(const QString& title, QString& folder)> chooseFolderHook;
  std::function<bool(const QString& summary)> askOpenFolderHook;
  std::function<void(const QString& folder)> openFolderHook;

 public slots:
  void FormCreate();
  void iedown_startTimer();
  void TimerCheckTimer();
  void edtqqKeyDown(int key);
  void edtieurlKeyDown(int key);
  void btnviewClick();
  void btn_downClick();
  void btnonlineClick();
  void btniegoClick();
  void btn_homeClick();
  void ieTitleChange(const QString& title);
  void ieStatusTextChange(const QString& text);
  void ieBeforeNavigate2(const QString& address, bool& cancel);
  void iedownBeforeNavigate2(const QString& address, bool& cancel);
  void iedownDocumentComplete(const QString& address);
  void iedownTickBoxChange(const QString& elementId, bool checked);
  // The vendor's client page could not be loaded (its site is gone): the program's own stands in.
  void PaneLoadFailed(TWebPane& pane, const QString& address);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class TWindowPreviewHost;
  friend class TWindowDownloadHost;

  // The captions as the session says.
  void ShowSession();
  // Takes the results of a preview job into the session; false (nothing taken) when a newer preview has
  // been started since.
  bool AdoptPreview(const PreviewResult& result);
  void BuildControls();
  void FormCloseQuery(bool& canClose);
  void CloseHandOver();
  // Starts the body at once, or, while a stopped job still runs, as soon as that one has ended (the two
  // must never share the run state). False when the window is closing.
  bool StartOrQueueJob(int mode, std::function<void(int mode)> body);
  bool StartJobWith(int mode, std::function<void(int mode)> body);
  void StartPreview();
  // The album site's sign-in that the browser profile holds (the online pane is where people sign in);
  // null: none, the XML service is used.
  std::shared_ptr<const SiteSession> SignedInSite() const;
  // The folder browser (or chooseFolderHook), starting at `folder`; false when nothing was chosen.
  bool ChooseDownloadFolder(std::string& folder);
  void StartDownload(const std::string& folder);
  // The summary box (or askOpenFolderHook); true for Yes.
  bool AskOpenFolder(const std::string& summary);
  // The ticks of the download under way (or the last one); the album page's boxes update it.
  std::shared_ptr<AlbumSelection> selection_;
  unsigned downloadPresses_ = 0;  // presses of the download button, so a stop during the folder browser wins
  std::function<void()> queuedStart_;
  unsigned albumPaneDocuments_ = 0;  // completions of the album pane so far
  // Takes the markup (and on the vendor's client page its subhost field) of completion `serial`.
  void ReadAlbumPaneDocument(const QString& address, unsigned serial, int retries);

  QGroupBox* left_gb = nullptr;
  QWidget* Panel1 = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* edtqq = nullptr;
  QPushButton* btnview = nullptr;
  QPushButton* btnonline = nullptr;
  QWidget* Panel2 = nullptr;
  QPushButton* btn_down = nullptr;
  QCheckBox* chkonlynew = nullptr;  // download only the photos the copy lacks (keeps the album root)
  QWidget* Panel3 = nullptr;
  TWebPane* iedown = nullptr;
  QSplitter* Splitter1 = nullptr;
  QGroupBox* ie_gb = nullptr;
  QWidget* Panel4 = nullptr;
  QLineEdit* edtieurl = nullptr;
  QPushButton* btniego = nullptr;
  QPushButton* btn_home = nullptr;
  TWebPane* ie = nullptr;
  QStatusBar* sb = nullptr;
  QTimer* iedown_start = nullptr;
  QTimer* TimerCheck = nullptr;

  WindowSession session_;
  // The running job, main thread only. Cleared when the thread reports finished() (a queued call onto
  // the main thread) and, at the latest, when the thread object deletes itself; so the window never
  // touches a thread whose body has ended.
  QPointer<TDownThread> worker_;
  int clientNumber_ = 0;
  std::string workFolder_;
  std::string machineId_;
  TTempFilePaths temp_;
  std::atomic<bool> stopRequested_{false};
  // Abort flag for every transfer a job makes; set when the window closes so a running fetch ends at
  // once instead of finishing a large download nobody waits for.
  std::atomic<bool> fetchAbort_{false};

  TStartupInputs inputs_;
  TProgramRandom random_;
  // The session every fetch of every job takes: the panes' cookies, kept one with the browser profile.
  std::unique_ptr<CookieJar> cookies_;
  TCookieBridge* sessionBridge_ = nullptr;
  TMainThreadGate handOver_{this};
  QLabel* statusPanels_[2] = {nullptr, nullptr};
};

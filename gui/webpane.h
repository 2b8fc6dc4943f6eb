// TWebPane: one browser pane of the main window on Qt WebEngine. It offers the operations the window and
// the jobs rely on (show generated pages, run the page's script functions synchronously, open
// addresses, wait for a page) and reports navigations, completed documents, title and status texts and
// script errors to the window through callbacks named after the events.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWebEngineView>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWebEngineUrlRequestJob;

// Rendering for a machine without a GPU (no display at all, or no render node to draw with): the panes
// would be composited through software OpenGL there, which cost the main thread most of a core while a
// download changes the album page, and the download waited for it. Qt Quick's software renderer and
// Chromium's software compositor draw the same pixels for a fraction of that. Settings the user made are
// kept. Call before the application object is made.
void ChooseRenderingWithoutGpu();

class TWebPane : public QWebEngineView {
  Q_OBJECT

 public:
  explicit TWebPane(QWidget* parent = nullptr);
  ~TWebPane() override;

  // --- settings --------------------------------------------------------------------------------------
  // Letters whose key press with Ctrl alone held is swallowed by the pane ("Y" on the album pane).
  void SetDisableCtrlShortcuts(const QString& letters);
  QString DisableCtrlShortcuts() const { return ctrlLetters_; }
  // No context menu at all (album pane), or the standard menu without its view-source item (online pane).
  void SetContextMenuEnabled(bool enabled);

  // --- operations ------------------------------------------------------------------------------------
  // Shows a finished generated page: its bytes as they are, served as "text/html;charset=gb2312" from
  // the pane's own scheme (see pagestore.h), so that in-page links work and its size is not limited.
  void ShowHtmlPage(const QByteArray& page);
  // The bytes of the generated page the pane was last given (as served to the engine); empty when it
  // shows no generated page.
  QByteArray PageBytes() const;
  // An existing folder opens as a file address without waiting; a blank address does nothing; anything
  // else is navigated to and, with a timeout (ms) other than 0, waited for.
  void OpenAddress(const QString& address, int timeoutMs = 0);
  // Waits, processing events, until the page is loaded. False when StopLoading() interrupted it or the
  // timeout (ms; 0 = none) passed; true when loaded or when the application is shutting down.
  bool WaitUntilReady(int timeoutMs);
  // Opens about:blank and waits for it.
  void ShowBlankPage();
  // True when the pane shows an HTML document (not an image, a text file or nothing yet).
  bool HasHtmlDocument();
  // Interrupts a running WaitUntilReady and stops the page's loading.
  void StopLoading();
  // documentElement.innerHTML followed by CR LF; empty when the pane holds no HTML document or no answer
  // came within timeoutMs (0: the script time limit).
  QString PageMarkup(int timeoutMs = 0);
  // Calls the page's global function `name` with two text arguments and waits for its value, as text:
  // a text as it is, "True"/"False" for a boolean, the decimal text of a number, empty for undefined,
  // null, an object, a missing function, a thrown error or no answer within the time limit.
  QString CallPageFunction(const QString& name, const QString& a, const QString& b);
  // The same call without waiting for its value: it runs after every script handed to the page before it
  // and before every later one, so a later CallPageFunction sees what it did.
  void PostPageFunction(const QString& name, const QString& a, const QString& b);
  // Several such calls in one hand-over to the page, run in their order; each stands alone (a failing
  // one does not keep the later ones from running), exactly as the same PostPageFunction calls would.
  void PostPageFunctionCalls(const QString& name, const QList<QPair<QString, QString>>& calls);
  QString CurrentAddress() const;
  // The address of the generated page last given to ShowHtmlPage (empty before the first).
  QUrl GeneratedPageAddress() const { return internalUrl_; }
  // The value of the form field with the given id, read in the pane's own script world, so it needs no
  // script function of the page; empty when there is no such field or no HTML document.
  QString FieldValue(const QString& id);

  // Time limit of one synchronous script call, ms.
  void SetScriptTimeout(int ms) { scriptTimeoutMs_ = ms; }

  // --- events (main thread) --------------------------------------------------------------------------
  // Every navigation of the pane, same-document fragment links included. Setting cancel stops it.
  std::function<void(const QString& address, bool& cancel)> OnBeforeNavigate2;
  // A load failed (the host could not be reached, an error status); called before OnDocumentComplete.
  std::function<void(const QString& address)> OnLoadFailed;
  // A document finished loading (also an error page); not called for a load that was stopped.
  std::function<void(const QString& address)> OnDocumentComplete;
  std::function<void(const QString& title)> OnTitleChange;
  std::function<void(const QString& text)> OnStatusTextChange;
  // A script error of the page. It is only reported: no dialog, the page's scripts keep running.
  std::function<void(int line, const QString& address, const QString& message)> OnScriptError;
  // The user ticked or unticked a check box of the page (its element id, its new state). A script that
  // sets a box is not reported.
  std::function<void(const QString& elementId, bool checked)> OnTickBoxChange;
  // A page's alert(): shown in a message box that does not block the page or the caller.
  std::function<void(const QString& message)> OnAlert;

  // Internal hand-over from the pane's page object.
  bool HandleNavigationRequest(const QUrl& url, bool isMainFrame);
  void HandleConsoleMessage(int level, const QString& message, int line, const QString& source);
  void HandleAlert(const QString& message);

 signals:
  // The loading state changed, a stop was requested, or the pane is going away: waits re-check.
  void readyStateChanged();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::optional<QVariant> RunScriptAndWait(const QString& script, unsigned world, int timeoutMs);
  void StartLoad(const QUrl& url);
  void WatchFocusProxy();
  bool FireBeforeNavigate(const QString& address);

  QString ctrlLetters_;
  bool contextMenuEnabled_ = true;
  int scriptTimeoutMs_ = 5000;
  bool loading_ = false;
  bool awaitingStart_ = false;  // a load was asked for and the engine has not reported its start yet
  bool stopRequested_ = false;
  QUrl internalUrl_;   // the generated page that the pane itself is loading
  QUrl requestedUrl_;  // the last address this pane itself asked to load
  int pageSerial_ = 0;
  QObject* watchedProxy_ = nullptr;
};

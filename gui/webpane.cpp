#include "gui/webpane.h"

#include <errno.h>
#include <iconv.h>

#include <QAction>
#include <QBuffer>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "gui/pagestore.h"

namespace {

// Prefix of the console message by which the injected navigation watcher reports a same-document
// navigation, and the watcher's function (in the pane's own script world) that carries out an approved one.
constexpr const char* kNavMarker = "lorvanta-nav:";
constexpr const char* kTickMarker = "lorvanta-tick:";
constexpr const char* kNavScriptName = "lorvanta-nav";
constexpr const char* kNavGoFunction = "lorvantaNavGo";

// Same-document (fragment) navigations never reach acceptNavigationRequest, yet the panes must be able to
// veto "#GOTO1:" or "#TAVRENGOTO:" navigations before they happen, however they are written: a link to
// "#x", to "/page?q#x" or to "http://host/page?q#x" that names this document, or a script that sets
// location, location.hash or location.href. The engine (Chromium 102 in Qt 6.4.2, measured) has the
// Navigation API: its "navigate" event comes before every one of these, after the page's own click
// handlers (a click the page holds back is no navigation), is cancelable for all of them (also for a
// fragment address the host loads itself) and reaches listeners of this isolated script world. So the
// watcher stops every fragment navigation there, tells the host, and lets an approved one go on through
// lorvantaNavGo, which the host calls in this world, out of the page's reach. Navigations to another
// document are left alone: the host sees them in acceptNavigationRequest. A back or forward step between
// fragments cannot be cancelled there, so it is not reported either.
// An engine without the Navigation API still gets link clicks that name this document with a fragment.
constexpr const char* kNavScript = R"JS(
(function () {
  var approved = null;
  function withoutFragment(u) { var i = u.indexOf('#'); return i < 0 ? u : u.slice(0, i); }
  function sameDocument(u) { return u.indexOf('#') >= 0 && withoutFragment(u) === withoutFragment(location.href); }
  function report(u) { console.log('lorvanta-nav:' + u); }
  // A box the user ticks or unticks (a script setting .checked fires no change event).
  document.addEventListener('change', function (e) {
    var t = e.target;
    if (t && t.type === 'checkbox' && t.id) console.log('lorvanta-tick:' + (t.checked ? '1' : '0') + t.id);
  }, true);
  window.lorvantaNavGo = function (u) {
    // The document may have changed since the report; the approval was for the one that made it.
    if (!sameDocument(u)) return;
    approved = u;
    location.href = u;
  };
  if (typeof navigation === 'object' && navigation && typeof NavigateEvent === 'function') {
    navigation.addEventListener('navigate', function (e) {
      if (!e.hashChange || !e.cancelable) return;
      var u = e.destination.url;
      if (u === approved) { approved = null; return; }
      e.preventDefault();
      report(u);
    });
    return;
  }
  window.addEventListener('click', function (e) {
    if (e.defaultPrevented || e.button !== 0) return;
    var node = e.target;
    while (node && !(node.nodeType === 1 && /^(a|area)$/i.test(node.tagName) && node.hasAttribute('href')))
      node = node.parentNode;
    if (!node || typeof node.href !== 'string' || !sameDocument(node.href)) return;
    e.preventDefault();
    report(node.href);
  }, true);
})();
)JS";

// A text as a script string literal.
QString ScriptString(const QString& text) {
  QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
  return QString::fromUtf8(json.mid(1, json.size() - 2));
}

class TPanePage : public QWebEnginePage {
 public:
  TPanePage(QWebEngineProfile* profile, TWebPane* pane) : QWebEnginePage(profile, pane), pane_(pane) {}
  void Detach() { pane_ = nullptr; }

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
    return pane_ == nullptr || pane_->HandleNavigationRequest(url, isMainFrame);
  }
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                const QString& source) override {
    if (pane_ != nullptr) pane_->HandleConsoleMessage(level, message, line, source);
  }
  void javaScriptAlert(const QUrl&, const QString& message) override {
    if (pane_ != nullptr) pane_->HandleAlert(message);
  }
  // A link or script that asks for a new window opens in this pane, as the program has no other window.
  QWebEnginePage* createWindow(WebWindowType) override { return this; }

 private:
  TWebPane* pane_;
};

// Two forms of one address (the engine may add the root path's slash).
bool SameAddress(const QUrl& a, const QUrl& b) {
  return a.matches(b, QUrl::StripTrailingSlash | QUrl::NormalizePathSegments);
}

int NextPaneId() {
  static int id = 0;
  return ++id;
}

}  // namespace

namespace {

bool HasRenderNode() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", ec)) {
    if (entry.path().filename().string().rfind("renderD", 0) == 0) return true;
  }
  return false;
}

}  // namespace

void ChooseRenderingWithoutGpu() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const bool offscreen = platform != nullptr && std::string(platform) == "offscreen";
  if (!offscreen && HasRenderNode()) return;
  ::setenv("QT_QUICK_BACKEND", "software", 0);
  // Without a GPU the engine's own compositing goes through a software GL too; its software output
  // device is the cheaper way to the same frames.
  ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-gpu-compositing", 0);
}

TWebPane::TWebPane(QWidget* parent) : QWebEngineView(parent) {
  PageStore();
  auto* page = new TPanePage(QWebEngineProfile::defaultProfile(), this);
  setPage(page);
  // Generated pages are served from a local scheme, and the engine keeps local documents from loading
  // anything remote by default: the album covers on the album services would all show as broken images.
  page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
  setProperty("paneId", NextPaneId());

  QWebEngineScript watcher;
  watcher.setName(kNavScriptName);
  watcher.setSourceCode(kNavScript);
  watcher.setInjectionPoint(QWebEngineScript::DocumentCreation);
  watcher.setWorldId(QWebEngineScript::ApplicationWorld);
  watcher.setRunsOnSubFrames(false);
  page->scripts().insert(watcher);

  connect(page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
      awaitingStart_ = false;
      loading_ = true;
      return;
    }
    bool stopped = info.status() == QWebEngineLoadingInfo::LoadStoppedStatus ||
                   (info.status() == QWebEngineLoadingInfo::LoadFailedStatus && info.errorCode() == -3);
    // The end of a stopped load can arrive after the next load has been asked for (and a load that
    // replaces a running one reports no start of its own); it says nothing about that next load.
    if (stopped && awaitingStart_) return;
    awaitingStart_ = false;
    loading_ = false;
    emit readyStateChanged();
    if (!stopped && info.status() == QWebEngineLoadingInfo::LoadFailedStatus && OnLoadFailed)
      OnLoadFailed(info.url().toString());
    if (!stopped && OnDocumentComplete) OnDocumentComplete(info.url().toString());
  });
  connect(page, &QWebEnginePage::renderProcessTerminated, this, [this] {
    loading_ = false;
    emit readyStateChanged();
  });
  connect(page, &QWebEnginePage::titleChanged, this, [this](const QString& title) {
    // The engine names an untitled blank page by its address; that is no title to show.
    if (title == QLatin1String("about:blank") && url().toString() == title) return;
    if (OnTitleChange) OnTitleChange(title);
  });
  connect(page, &QWebEnginePage::linkHovered, this, [this](const QString& url) {
    if (OnStatusTextChange) OnStatusTextChange(url);
  });
}

TWebPane::~TWebPane() {
  // The page outlives this part of the object for a moment (it is a child); it must not call back.
  if (auto* panePage = dynamic_cast<TPanePage*>(page())) panePage->Detach();
  if (TPageStore* store = PageStore()) store->Remove(internalUrl_.path());
  emit readyStateChanged();
}

void TWebPane::SetDisableCtrlShortcuts(const QString& letters) {
  ctrlLetters_ = letters.toUpper();
  WatchFocusProxy();
}

void TWebPane::SetContextMenuEnabled(bool enabled) {
  contextMenuEnabled_ = enabled;
  setContextMenuPolicy(enabled ? Qt::DefaultContextMenu : Qt::NoContextMenu);
}

void TWebPane::contextMenuEvent(QContextMenuEvent* event) {
  if (!contextMenuEnabled_) {
    event->accept();
    return;
  }
  QMenu* menu = createStandardContextMenu();
  if (QAction* viewSource = pageAction(QWebEnginePage::ViewSource)) menu->removeAction(viewSource);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

bool TWebPane::event(QEvent* event) {
  if (event->type() == QEvent::ChildPolished || event->type() == QEvent::ChildAdded) WatchFocusProxy();
  return QWebEngineView::event(event);
}

void TWebPane::WatchFocusProxy() {
  // Keys go to the engine's render widget, which the view takes as its focus proxy once a page exists.
  QWidget* proxy = focusProxy();
  if (proxy == nullptr || proxy == watchedProxy_) return;
  proxy->installEventFilter(this);
  watchedProxy_ = proxy;
}

bool TWebPane::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride ||
      event->type() == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(event);
    Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::ControlModifier && key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z &&
        ctrlLetters_.contains(QChar('A' + (key->key() - Qt::Key_A)))) {
      event->accept();
      return true;
    }
  }
  return QWebEngineView::eventFilter(watched, event);
}

bool TWebPane::FireBeforeNavigate(const QString& address) {
  bool cancel = false;
  if (OnBeforeNavigate2) OnBeforeNavigate2(address, cancel);
  return cancel;
}

bool TWebPane::HandleNavigationRequest(const QUrl& url, bool isMainFrame) {
  if (isMainFrame && !internalUrl_.isEmpty() && url == internalUrl_) return true;  // our own page
  QPointer<TWebPane> guard(this);
  bool cancel = FireBeforeNavigate(url.toString());
  if (!guard) return false;
  if (cancel && isMainFrame && SameAddress(url, requestedUrl_)) {
    // The load this pane started will not happen: a waiter must not wait for it.
    awaitingStart_ = false;
    loading_ = false;
    emit readyStateChanged();
  }
  return !cancel;
}

void TWebPane::HandleConsoleMessage(int level, const QString& message, int line, const QString& source) {
  if (source.startsWith(QLatin1String("userscript:")) && message.startsWith(QLatin1String(kNavMarker))) {
    QString address = message.mid(static_cast<qsizetype>(qstrlen(kNavMarker)));
    QPointer<TWebPane> guard(this);
    bool cancel = FireBeforeNavigate(address);
    if (!guard || cancel) return;
    // The watcher's own world: a page cannot approve a navigation by calling this itself.
    page()->runJavaScript(QString(kNavGoFunction) + "(" + ScriptString(address) + ");",
                          QWebEngineScript::ApplicationWorld);
    return;
  }
  if (source.startsWith(QLatin1String("userscript:")) && message.startsWith(QLatin1String(kTickMarker))) {
    const QString rest = message.mid(static_cast<qsizetype>(qstrlen(kTickMarker)));
    if (OnTickBoxChange && !rest.isEmpty()) OnTickBoxChange(rest.mid(1), rest.front() == '1');
    return;
  }
  if (level == QWebEnginePage::ErrorMessageLevel) {
    // A script error: reported, answered with continue, never shown.
    if (OnScriptError) OnScriptError(line, source, message);
  }
}

void TWebPane::HandleAlert(const QString& message) {
  if (OnAlert) OnAlert(message);
  // The page's message is shown, but without a nested modal loop: a page must never be able to block the
  // window, a job waiting on the main thread, or a test.
  auto* box =
      new QMessageBox(QMessageBox::Information, window()->windowTitle(), message, QMessageBox::Ok, window());
  box->setObjectName("webPaneAlert");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

void TWebPane::StartLoad(const QUrl& url) {
  stopRequested_ = false;  // a new load supersedes an older stop request
  requestedUrl_ = url;
  const QUrl current = this->url();
  if (!loading_ && url.hasFragment() && !SameAddress(url, current) &&
      SameAddress(url.adjusted(QUrl::RemoveFragment), current.adjusted(QUrl::RemoveFragment))) {
    // Another fragment of the document shown: the engine makes it a same-document navigation, which the
    // watcher reports (and the handler may cancel) and which never reports a load start or end, so
    // nothing is waited for.
    load(url);
    return;
  }
  loading_ = true;
  awaitingStart_ = true;
  load(url);
}

void TWebPane::ShowHtmlPage(const QByteArray& page) {
  TPageStore* store = PageStore();
  store->Remove(internalUrl_.path());
  // A fresh address per page, so that showing a page is always a new document, never a same-page jump.
  QString path = QString("pane%1-%2").arg(property("paneId").toInt()).arg(++pageSerial_);
  store->Put(path, page);
  internalUrl_ = QUrl(QString(kWebPaneScheme) + ":" + path);
  StartLoad(internalUrl_);
}

QByteArray TWebPane::PageBytes() const {
  if (internalUrl_.isEmpty()) return {};
  return PageStore()->Get(internalUrl_.path());
}

void TWebPane::OpenAddress(const QString& address, int timeoutMs) {
  QString trimmed = address.trimmed();
  if (trimmed.isEmpty()) return;
  QFileInfo folder(trimmed);
  if (folder.isDir()) {
    StartLoad(QUrl::fromLocalFile(folder.absoluteFilePath()));
    return;
  }
  // A "javascript:" address would run its text inside whatever page the pane shows now. Addresses here
  // are built from typed text and from remote page fields, so that is never done.
  if (trimmed.startsWith(QLatin1String("javascript:"), Qt::CaseInsensitive)) return;
  StartLoad(QUrl::fromUserInput(trimmed));
  if (timeoutMs != 0) WaitUntilReady(timeoutMs);
}

bool TWebPane::WaitUntilReady(int timeoutMs) {
  if (!loading_ || QCoreApplication::closingDown()) {
    stopRequested_ = false;
    return true;
  }
  QPointer<TWebPane> guard(this);
  QEventLoop loop;
  bool timedOut = false;
  bool quitting = false;
  QTimer timer;
  timer.setSingleShot(true);
  connect(&timer, &QTimer::timeout, &loop, [&] {
    timedOut = true;
    loop.quit();
  });
  connect(this, &TWebPane::readyStateChanged, &loop, &QEventLoop::quit);
  connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
  connect(qApp, &QCoreApplication::aboutToQuit, &loop, [&] {
    quitting = true;
    loop.quit();
  });
  if (timeoutMs > 0) timer.start(timeoutMs);
  while (guard && loading_ && !stopRequested_ && !timedOut && !quitting) loop.exec();
  if (!guard || quitting) return true;
  bool stopped = stopRequested_;
  stopRequested_ = false;
  return !stopped && !timedOut;
}

void TWebPane::ShowBlankPage() {
  OpenAddress("about:blank", 0);
  // The blank page has no network behind it; the limit only keeps a dead renderer from holding the
  // caller forever.
  WaitUntilReady(30000);
}

void TWebPane::StopLoading() {
  stopRequested_ = true;
  loading_ = false;
  awaitingStart_ = false;
  emit readyStateChanged();
  stop();
}

std::optional<QVariant> TWebPane::RunScriptAndWait(const QString& script, unsigned world, int timeoutMs) {
  struct Answer {
    bool done = false;
    QVariant value;
    QPointer<QEventLoop> loop;
  };
  auto answer = std::make_shared<Answer>();
  QPointer<TWebPane> guard(this);
  QEventLoop loop;
  answer->loop = &loop;
  page()->runJavaScript(script, world, [answer](const QVariant& value) {
    answer->value = value;
    answer->done = true;
    if (answer->loop) answer->loop->quit();
  });
  if (!answer->done) {
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    connect(qApp, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    loop.exec();
  }
  if (!guard || !answer->done) return std::nullopt;
  return answer->value;
}

bool TWebPane::HasHtmlDocument() {
  auto answer = RunScriptAndWait(
      "(function(){var d=document;return !!(d&&d.documentElement&&/html/i.test(d.contentType||''));})()",
      QWebEngineScript::ApplicationWorld, scriptTimeoutMs_);
  return answer && answer->toBool();
}

QString TWebPane::PageMarkup(int timeoutMs) {
  auto answer = RunScriptAndWait(
      "(function(){var d=document;if(!d||!d.documentElement||!/html/i.test(d.contentType||''))return null;"
      "return d.documentElement.innerHTML;})()",
      QWebEngineScript::ApplicationWorld, timeoutMs > 0 ? timeoutMs : scriptTimeoutMs_);
  if (!answer || answer->typeId() != QMetaType::QString) return {};
  return answer->toString() + "\r\n";
}

void TWebPane::PostPageFunction(const QString& name, const QString& a, const QString& b) {
  page()->runJavaScript("(function(){try{var f=window[" + ScriptString(name) +
                            "];if(typeof f==='function')f(" + ScriptString(a) + "," + ScriptString(b) +
                            ");}catch(e){}})()",
                        QWebEngineScript::MainWorld);
}

void TWebPane::PostPageFunctionCalls(const QString& name, const QList<QPair<QString, QString>>& calls) {
  if (calls.isEmpty()) return;
  QString script = "(function(){var f=window[" + ScriptString(name) + "];if(typeof f!=='function')return;";
  for (const auto& [a, b] : calls)
    script += "try{f(" + ScriptString(a) + "," + ScriptString(b) + ");}catch(e){}";
  script += "})()";
  page()->runJavaScript(script, QWebEngineScript::MainWorld);
}

QString TWebPane::CallPageFunction(const QString& name, const QString& a, const QString& b) {
  // The conversion to text happens in the page, so every kind of value has one fixed spelling.
  QString script = "(function(){try{var f=window[" + ScriptString(name) +
                   "];if(typeof f!=='function')return '';var v=f(" + ScriptString(a) + "," + ScriptString(b) +
                   ");if(v===undefined||v===null)return '';"
                   "if(typeof v==='boolean')return v?'True':'False';"
                   "if(typeof v==='number'||typeof v==='bigint')return ''+v;"
                   "if(typeof v==='string')return v;return '';}catch(e){return '';}})()";
  auto answer = RunScriptAndWait(script, QWebEngineScript::MainWorld, scriptTimeoutMs_);
  if (!answer || answer->typeId() != QMetaType::QString) return {};
  return answer->toString();
}

QString TWebPane::CurrentAddress() const {
  return url().toString();
}

QString TWebPane::FieldValue(const QString& id) {
  auto answer = RunScriptAndWait("(function(){var e=document.getElementById(" + ScriptString(id) +
                                     ");return e&&typeof e.value==='string'?e.value:null;})()",
                                 QWebEngineScript::ApplicationWorld, scriptTimeoutMs_);
  if (!answer || answer->typeId() != QMetaType::QString) return {};
  return answer->toString();
}

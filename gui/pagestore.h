// Where the panes' generated pages live: a scheme of the program's own, served from memory. Pages given
// to the engine directly (setContent) cannot hold in-page links that work and are limited to about 2 MB;
// served this way they have neither problem.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QWebEngineUrlSchemeHandler>

class QWebEngineUrlRequestJob;

// The scheme. It must be registered before the QApplication exists: call RegisterWebPaneScheme() first
// thing in main().
inline constexpr const char* kWebPaneScheme = "lorvanta-page";
void RegisterWebPaneScheme();

// Generated pages, served to the panes from memory under the pane's own scheme. A page stays available
// until the pane shows the next one (so a reload still works) or the pane goes away.
class TPageStore : public QWebEngineUrlSchemeHandler {
 public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

  void requestStarted(QWebEngineUrlRequestJob* job) override;

  void Put(const QString& path, const QByteArray& bytes) { pages_.insert(path, bytes); }
  void Remove(const QString& path) { pages_.remove(path); }
  QByteArray Get(const QString& path) const { return pages_.value(path); }

 private:
  QHash<QString, QByteArray> pages_;
};

// The one store, installed on the profile all panes share; it lives as long as that profile.
TPageStore* PageStore();

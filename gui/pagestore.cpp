#include "gui/pagestore.h"

#include <QBuffer>
#include <QPointer>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

void RegisterWebPaneScheme() {
  QWebEngineUrlScheme scheme(kWebPaneScheme);
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed);
  QWebEngineUrlScheme::registerScheme(scheme);
}

void TPageStore::requestStarted(QWebEngineUrlRequestJob* job) {
  auto it = pages_.constFind(job->requestUrl().path());
  if (it == pages_.constEnd()) {
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    return;
  }
  auto* body = new QBuffer(job);
  body->setData(it.value());
  body->open(QIODevice::ReadOnly);
  job->reply("text/html;charset=gb2312", body);
}

TPageStore* PageStore() {
  static QPointer<TPageStore> store;
  if (store.isNull()) {
    QWebEngineProfile* profile = QWebEngineProfile::defaultProfile();
    store = new TPageStore(profile);
    profile->installUrlSchemeHandler(kWebPaneScheme, store);
  }
  return store;
}

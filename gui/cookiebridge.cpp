#include "gui/cookiebridge.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QNetworkCookie>
#include <QPointer>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include "net/cookiejar.h"

namespace {

Cookie FromBrowser(const QNetworkCookie& c) {
  Cookie cookie;
  // The profile names a host-only cookie by its host and a domain cookie with a leading dot.
  cookie.domain = c.domain().toStdString();
  cookie.includeSubdomains = c.domain().startsWith('.');
  cookie.path = c.path().isEmpty() ? "/" : c.path().toStdString();
  cookie.secure = c.isSecure();
  cookie.httpOnly = c.isHttpOnly();
  cookie.expires = c.isSessionCookie() ? 0 : c.expirationDate().toSecsSinceEpoch();
  cookie.name = c.name().toStdString();
  cookie.value = c.value().toStdString();
  return cookie;
}

}  // namespace

TCookieBridge::TCookieBridge(QWebEngineProfile* profile, CookieJar& jar, QObject* parent)
    : QObject(parent), profile_(profile), jar_(jar) {
  QWebEngineCookieStore* store = profile_->cookieStore();
  connect(store, &QWebEngineCookieStore::cookieAdded, this, [this](const QNetworkCookie& c) {
    if (!c.domain().isEmpty()) jar_.Add(FromBrowser(c));
  });
  connect(store, &QWebEngineCookieStore::cookieRemoved, this, [this](const QNetworkCookie& c) {
    jar_.Remove(c.domain().toStdString(), c.path().isEmpty() ? "/" : c.path().toStdString(),
                c.name().toStdString());
  });
  store->loadAllCookies();

  // Replies to fetches arrive on fetching threads; the profile is served on the main thread. The bridge
  // is checked there, where it is also deleted, so a late reply after the window closed does nothing.
  QPointer<TCookieBridge> self(this);
  jar_.SetWatcher([self](const std::string& url, const std::string& setCookie) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, url = QString::fromStdString(url), setCookie = QByteArray::fromStdString(setCookie)] {
          if (self.isNull()) return;
          const QUrl origin(url);
          for (const QNetworkCookie& c : QNetworkCookie::parseCookies(setCookie))
            self->profile_->cookieStore()->setCookie(c, origin);
        },
        Qt::QueuedConnection);
  });
}

TCookieBridge::~TCookieBridge() {
  jar_.SetWatcher({});
}

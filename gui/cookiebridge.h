// The window's session: the browser profile both panes share (off the record, so nothing outlives the
// run) and the cookie jar of the fetches kept as one. Every cookie the profile holds or gets (HttpOnly ones
// included) goes into the jar, every cookie it loses leaves it, and cookies that replies to the fetches set
// go back into the profile, so a sign-in in the online pane reaches every download and a session a
// download refreshed stays the browser's session too.
#pragma once

#include <QObject>

class CookieJar;
class QWebEngineProfile;

class TCookieBridge : public QObject {
  Q_OBJECT

 public:
  // Lives on the main thread; the jar must outlive it.
  TCookieBridge(QWebEngineProfile* profile, CookieJar& jar, QObject* parent = nullptr);
  ~TCookieBridge() override;

 private:
  QWebEngineProfile* profile_;
  CookieJar& jar_;
};

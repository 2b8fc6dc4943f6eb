// A person's input to a browser pane, for the window tests: values read from the page and real mouse
// clicks on its elements.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <memory>
#include <optional>

#include "gui/webpane.h"

// Runs a script in the pane's page and waits for its value; invalid when none came within the limit.
inline QVariant EvaluateInPage(TWebPane* pane, const QString& script,
                               unsigned world = QWebEngineScript::MainWorld, int timeoutMs = 15000) {
  // Shared with the callback, which may still come after a wait that gave up.
  auto answer = std::make_shared<std::optional<QVariant>>();
  pane->page()->runJavaScript(script, world, [answer](const QVariant& value) { *answer = value; });
  // No answer in time leaves the value invalid, which is what the caller is told.
  (void)QTest::qWaitFor([&] { return answer->has_value(); }, timeoutMs);
  return answer->value_or(QVariant());
}

// Centre of the element with the id in the pane's coordinates (a null point when there is none).
inline QPoint CentreOfElement(TWebPane* pane, const QString& id) {
  const QString literal = QString::fromUtf8(QJsonDocument(QJsonArray{id}).toJson(QJsonDocument::Compact));
  const QStringList xy =
      EvaluateInPage(pane,
                     "(function(){var e=document.getElementById(" + literal +
                         "[0]);if(!e)return '';var r=e.getBoundingClientRect();"
                         "return Math.round(r.left+r.width/2)+','+Math.round(r.top+r.height/2);})()",
                     QWebEngineScript::UserWorld)
          .toString()
          .split(',');
  return xy.size() == 2 ? QPoint(xy[0].toInt(), xy[1].toInt()) : QPoint();
}

// A mouse press and release on the pane's input surface (the view's focus proxy) at `at`. Right after a
// navigation the engine drops input until the new page's first frame is on screen, so the pointer is moved
// there first, again and again, until the page has seen a move (a listener in a script world of the tests,
// out of the page's sight). False when the point is off the surface or no move arrived within the limit.
inline bool ClickInPage(TWebPane* pane, QPoint at, int timeoutMs = 15000) {
  QWidget* surface = pane->focusProxy();
  if (surface == nullptr || !surface->rect().contains(at)) return false;
  EvaluateInPage(pane,
                 "window.pointerSeen=false;if(!window.pointerWatch){window.pointerWatch=true;"
                 "addEventListener('mousemove',function(){window.pointerSeen=true;},true);}",
                 QWebEngineScript::UserWorld);
  int step = 0;
  const bool seen = QTest::qWaitFor(
      [&] {
        QTest::mouseMove(surface, at + QPoint(++step % 2, 0));
        return EvaluateInPage(pane, "window.pointerSeen===true", QWebEngineScript::UserWorld).toBool();
      },
      timeoutMs);
  if (!seen) return false;
  QTest::mousePress(surface, Qt::LeftButton, {}, at);
  QTest::mouseRelease(surface, Qt::LeftButton, {}, at);
  return true;
}

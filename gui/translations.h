// Qt's own texts in the user's language: the buttons of message boxes, the folder dialog, the context menu
// of the web panes. The program's own texts are Chinese already and stay as they are.
#pragma once

#include <QList>
#include <QLocale>
#include <QString>

class QCoreApplication;
class QTranslator;

// Installs the catalogues of Qt (qt_, qtbase_, qtwebengine_) for the locale from the folder, each one
// that is there, the locale's fallbacks included (zh_Hans_CN finds zh_CN); a locale without catalogues
// keeps Qt's English. The translators belong to the application; the ones installed are returned.
QList<QTranslator*> InstallQtTranslations(QCoreApplication& app, const QLocale& locale = QLocale::system(),
                                          const QString& folder = QString());

#include "gui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QList<QTranslator*> InstallQtTranslations(QCoreApplication& app, const QLocale& locale,
                                          const QString& folder) {
  // Debian keeps them in qt6-translations-l10n, under Qt's own translations path.
  const QString dir = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
  QList<QTranslator*> installed;
  // qt_ is a catalogue of catalogues on some systems and a full one on others; the three are looked up
  // apart so a system that ships only some of them still gets those.
  for (const char* catalogue : {"qt", "qtbase", "qtwebengine"}) {
    auto* translator = new QTranslator(&app);
    if (translator->load(locale, QString::fromLatin1(catalogue), QStringLiteral("_"), dir) &&
        QCoreApplication::installTranslator(translator)) {
      installed.append(translator);
    } else {
      delete translator;
    }
  }
  return installed;
}

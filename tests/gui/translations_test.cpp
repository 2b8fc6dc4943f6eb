// Qt's own texts follow the locale: a message box's buttons and the folder dialog's are Chinese under
// zh_CN, German under de, Qt's English where no catalogue is; the program's own texts are not Qt's to change.
#include "gui/translations.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

namespace {

// Installs the locale's catalogues for the life of the object, so other tests see Qt's English again.
class InstalledFor {
 public:
  explicit InstalledFor(const char* locale) : installed_(InstallQtTranslations(*qApp, QLocale(locale))) {}
  ~InstalledFor() {
    for (QTranslator* t : installed_) {
      QCoreApplication::removeTranslator(t);
      delete t;
    }
  }
  int Count() const { return static_cast<int>(installed_.size()); }

 private:
  QList<QTranslator*> installed_;
};

QString Shown(QString text) {
  return text.remove(QLatin1Char('&'));
}

TEST(QtTranslations, MessageBoxAndFolderDialogButtonsFollowTheLocale) {
  struct Case {
    const char* locale;
    const char* yes;     // QMessageBox's Yes, without its accelerator mark
    const char* no;      // contained in No
    const char* cancel;  // contained in the folder dialog's Cancel
  } cases[] = {
      {"zh_CN", "是(Y)", "否", "取消"},
      {"de_DE", "Ja", "Nein", "Abbrechen"},
      {"C", "Yes", "No", "Cancel"},  // no catalogue: Qt's own English
  };
  for (const Case& c : cases) {
    InstalledFor installed(c.locale);
    if (std::string(c.locale) == "zh_CN") {
      EXPECT_GE(installed.Count(), 2) << "qt_/qtbase_/qtwebengine_zh_CN.qm (qt6-translations-l10n)";
    }
    QMessageBox box(QMessageBox::Question, "Lorvanta", "?", QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(Shown(box.button(QMessageBox::Yes)->text()), QString::fromUtf8(c.yes)) << c.locale;
    EXPECT_TRUE(box.button(QMessageBox::No)->text().contains(QString::fromUtf8(c.no))) << c.locale;

    QFileDialog dialog(nullptr, "folder");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    ASSERT_NE(buttons->button(QDialogButtonBox::Cancel), nullptr);
    EXPECT_TRUE(buttons->button(QDialogButtonBox::Cancel)->text().contains(QString::fromUtf8(c.cancel)))
        << c.locale << " " << buttons->button(QDialogButtonBox::Cancel)->text().toStdString();
  }
}

TEST(QtTranslations, AFolderWithoutCataloguesInstallsNothing) {
  const QList<QTranslator*> none = InstallQtTranslations(*qApp, QLocale("zh_CN"), "/nonexistent-catalogues");
  EXPECT_TRUE(none.isEmpty());
}

}  // namespace

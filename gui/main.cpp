// Program entry of the window.
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "core/xmldoc.h"
#include "gui/mainfrm.h"
#include "gui/pagestore.h"
#include "gui/translations.h"
#include "gui/webpane.h"
#include "net/fetchtofile.h"

int main(int argc, char** argv) {
  // Answered before anything starts, so it works without a display too.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
      std::cout << "lorvanta " LORVANTA_VERSION "\n";
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout
          << "usage: lorvanta [--version] [Qt options]\n"
             "The Lorvanta window: preview and download the photo albums of a QQ number.\n"
             "LORVANTA_ROUTE_HOST and LORVANTA_VENDOR_HOST point it at other services (see lorvanta(1)).\n";
      return 0;
    }
  }
  // The engine's sandbox cannot start as root; headless runs (no display) need the offscreen platform
  // and no GPU. Values the user set are kept.
  if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
  }
  ChooseRenderingWithoutGpu();
  FetchGlobalInit();
  InitXmlLayer();  // here, on the main thread, before any job can parse

  RegisterWebPaneScheme();  // before the application object, or the engine refuses the scheme
  QApplication app(argc, argv);
  QApplication::setApplicationName("Lorvanta");
  QApplication::setApplicationVersion(LORVANTA_VERSION);
  InstallQtTranslations(app);

  auto* mainfrm = new Tmainfrm();
  mainfrm->showMaximized();
  int rc = QApplication::exec();

  // The window has closed and told a running job to stop; its transfer aborts at the next progress
  // callback. Give it a moment; a job that still runs after that is not waited for: the thread is never
  // destroyed while it runs, so the process ends without tearing anything down.
  if (!mainfrm->WaitForWorker(5000)) {
    DeleteTempFiles(mainfrm->TempFiles());
    std::_Exit(rc);
  }
  delete mainfrm;
  return rc;
}

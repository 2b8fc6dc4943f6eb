#include "app/window/windowhosts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QString>

#include "app/albumdownload.h"
#include "app/albumlist.h"
#include "app/albumpage.h"
#include "app/albumscripts.h"
#include "app/browser/webpane.h"
#include "app/window/mainfrm.h"

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

void TWindowPreviewHost::RouteFailed(const PreviewResult& result) {
  win_.CallOnMainThread([&] {
    if (!win_.AdoptPreview(result)) return;
    win_.ShowJobPage(Tmainfrm::SplitPageText(NoticePage(result.qqNumber, kRouteFailedMessage)));
    win_.btnview->setText(kCaptionPreviewIdle);
  });
}

void TWindowPreviewHost::PreviewFailed(const PreviewResult& result) {
  win_.CallOnMainThread([&] {
    if (!win_.AdoptPreview(result)) return;
    win_.ShowJobPage(Tmainfrm::SplitPageText(NoticePage(result.qqNumber, kAlbumListFailedMessage)));
  });
}

void TWindowPreviewHost::ShowAlbumPage(const PreviewResult& result) {
  win_.CallOnMainThread([&] {
    if (!win_.AdoptPreview(result)) return;
    win_.ShowJobPage(win_.pageLines);
  });
}

void TWindowPreviewHost::PreviewDone(const PreviewResult& result) {
  win_.CallOnMainThread([&] {
    if (!win_.AdoptPreview(result)) return;
    win_.btnview->setText(kCaptionPreviewIdle);
    win_.SetStatusPanel(0, Q(std::string(kPreviewDoneStatus)));
    win_.ShowMessage(Q(PreviewDoneMessage(result.qqNumber)));
  });
}

bool TWindowDownloadHost::ChooseFolder(const std::string& title, std::string& folder) {
  bool chosen = false;
  win_.CallOnMainThread([&] {
    QString path = Q(folder);
    if (win_.chooseFolderHook) {
      if (!win_.chooseFolderHook(Q(title), path)) return;
    } else {
      path = QFileDialog::getExistingDirectory(&win_, Q(title), path);
    }
    if (path.isEmpty()) return;
    folder = path.toStdString();
    chosen = true;
  });
  return chosen;
}

std::string TWindowDownloadHost::ReadAlbumCheck(int n) {
  std::string text;
  win_.CallOnMainThread([&] {
    const AlbumScript call = ReadCheckScript(n);
    text = win_.RunAlbumScript(call.elementId, call.script).toStdString();
    win_.currentAlbum = n;
    win_.currentChecked = ::ReadAlbumCheck(text);
  });
  return text;
}

void TWindowDownloadHost::ShowAlbumStatus(const AlbumStatusUpdate& update) {
  win_.CallOnMainThread([&] {
    win_.currentAlbum = update.currentAlbum;
    win_.statusHtml = AlbumStatusHtml(update);
    win_.rowColor = std::string(AlbumRowColor(update.state));
    win_.currentAlbumName = update.currentAlbumName;
    // Each call stands alone: a failing one does not keep the later ones from running. Their values
    // are not used, so they are handed to the page without waiting for each answer (a round trip per
    // call was most of the cost of a status update); the page runs them in order.
    for (const AlbumScript& call : ::ShowAlbumStatus(update.currentAlbum, win_.statusHtml, win_.rowColor,
                                                     update.currentAlbumName))
      win_.iedown->PostPageFunction("cmd", Q(call.elementId), Q(call.script));
  });
}

void TWindowDownloadHost::SetStatusText(const std::string& text) {
  win_.CallOnMainThread([&] { win_.SetStatusPanel(0, Q(text)); });
}

void TWindowDownloadHost::DownloadFolderPrepared(const std::string& albumRoot) {
  win_.CallOnMainThread([&] { win_.downloadFolder = albumRoot; });
}

bool TWindowDownloadHost::AskOpenFolder(const std::string& summary) {
  bool yes = false;
  win_.CallOnMainThread([&] {
    if (win_.askOpenFolderHook) {
      yes = win_.askOpenFolderHook(Q(summary));
      return;
    }
    QString shown = Q(summary);
    shown.remove('\r');
    yes = QMessageBox::question(&win_, Q(std::string(kSummaryCaption)), shown,
                                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  });
  return yes;
}

void TWindowDownloadHost::OpenFolder(const std::string& folder) {
  win_.CallOnMainThread([&] { win_.OpenFolderWithDesktop(folder); });
}

void TWindowDownloadHost::DownloadFinished(const DownloadCounters& counters) {
  win_.CallOnMainThread([&] {
    win_.albumsOk = counters.albumsOk;
    win_.albumsFailed = counters.albumsFailed;
    win_.photosOk = counters.photosOk;
    win_.photosFailed = counters.photosFailed;
    win_.btn_down->setText(kCaptionDownloadIdle);
    win_.SetStatusPanel(0, Q(std::string(kDownloadFinishedStatus)));
  });
}

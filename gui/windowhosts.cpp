#include "gui/windowhosts.h"

#include <QPushButton>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "core/albumdownload.h"
#include "core/albumlist.h"
#include "core/albumpage.h"
#include "core/albumscripts.h"
#include "gui/mainfrm.h"
#include "gui/webpane.h"

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// How often at most the page is given the download's status: about one screen refresh. Updates that come
// faster would only cost the renderer frames that nobody sees.
constexpr auto kFrame = std::chrono::milliseconds(16);

}  // namespace

void TWindowPreviewHost::RouteFailed(const PreviewResult& result) {
  win_.CallOnMainThread([&] {
    if (!win_.AdoptPreview(result)) return;
    win_.ShowJobPage(Tmainfrm::SplitPageText(NoticePage(result.qqNumber, kRouteFailedMessage)));
    win_.session_.PreviewEnded();
    win_.ShowSession();
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
    win_.ShowJobPage(win_.session_.preview().pageLines);
  });
}

void TWindowPreviewHost::PreviewDone(const PreviewResult& result) {
  win_.CallOnMainThread([&] {
    if (!win_.AdoptPreview(result)) return;
    win_.session_.PreviewEnded();
    win_.ShowSession();
    win_.SetStatusPanel(0, Q(std::string(kPreviewDoneStatus)));
    win_.ShowMessage(Q(PreviewDoneMessage(result.qqNumber)));
  });
}

TWindowDownloadHost::TWindowDownloadHost(Tmainfrm& win, std::vector<AlbumEntryFields> albums)
    : win_(win), feed_(std::make_shared<TDownloadStatusFeed>()), notes_(std::move(albums)) {}

void TWindowDownloadHost::FlushStatus(Tmainfrm& win, TDownloadStatusFeed& feed) {
  std::vector<AlbumStatusUpdate> updates;
  std::optional<std::string> text;
  {
    std::lock_guard<std::mutex> lock(feed.mutex);
    updates.swap(feed.updates);
    text.swap(feed.statusText);
    feed.flushQueued = false;
  }
  feed.lastFlush = std::chrono::steady_clock::now();
  QList<QPair<QString, QString>> calls;
  for (const AlbumStatusUpdate& update : updates) {
    const std::string statusHtml = AlbumStatusHtml(update);
    win.session_.shownAlbum = update.currentAlbum;
    win.session_.shownStatusHtml = statusHtml;
    // The album at work is scrolled to once, when it begins; every later update finds it there.
    const bool scroll = update.currentAlbum != feed.scrolledAlbum;
    feed.scrolledAlbum = update.currentAlbum;
    for (const AlbumScript& call : ::ShowAlbumStatus(
             update.currentAlbum, statusHtml, AlbumRowColor(update.state), update.currentAlbumName, scroll))
      calls.append({Q(call.elementId), Q(call.script)});
  }
  // One hand-over for everything: the page runs the calls in order, each on its own, and nothing waits
  // for their values.
  win.iedown->PostPageFunctionCalls("cmd", calls);
  // After a stop the status bar says so; a text of the photo that was under way must not cover it.
  if (text && !win.stopRequested_) win.SetStatusPanel(0, Q(*text));
}

void TWindowDownloadHost::QueueFlush(bool queued) {
  if (queued) return;
  // The timer starts on the main thread, where the frame's clock is kept; the window as context drops
  // the flush with the window.
  std::shared_ptr<TDownloadStatusFeed> feed = feed_;
  Tmainfrm* win = &win_;
  QMetaObject::invokeMethod(
      win,
      [win, feed] {
        const auto due = feed->lastFlush + kFrame;
        const auto now = std::chrono::steady_clock::now();
        if (now >= due) {
          FlushStatus(*win, *feed);
          return;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now);
        QTimer::singleShot(wait, Qt::PreciseTimer, win, [win, feed] { FlushStatus(*win, *feed); });
      },
      Qt::QueuedConnection);
}

void TWindowDownloadHost::ShowAlbumStatus(const AlbumStatusUpdate& update) {
  notes_.Update(update);
  bool queued;
  {
    std::lock_guard<std::mutex> lock(feed_->mutex);
    auto same = std::find_if(feed_->updates.begin(), feed_->updates.end(), [&](const AlbumStatusUpdate& u) {
      return u.currentAlbum == update.currentAlbum;
    });
    if (same != feed_->updates.end()) {
      *same = update;
    } else {
      feed_->updates.push_back(update);
    }
    queued = std::exchange(feed_->flushQueued, true);
  }
  QueueFlush(queued);
}

void TWindowDownloadHost::SetStatusText(const std::string& text) {
  bool queued;
  {
    std::lock_guard<std::mutex> lock(feed_->mutex);
    feed_->statusText = text;
    queued = std::exchange(feed_->flushQueued, true);
  }
  QueueFlush(queued);
}

void TWindowDownloadHost::DownloadFolderPrepared(const std::string& albumRoot) {
  notes_.Prepared(albumRoot);
  win_.CallOnMainThread([&] { win_.session_.downloadFolder = albumRoot; });
}

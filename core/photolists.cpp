#include "core/photolists.h"

#include <chrono>
#include <filesystem>
#include <random>
#include <system_error>
#include <thread>

#include "core/addresses.h"
#include "core/imagecheck.h"
#include "core/wholefile.h"
#include "core/xmldoc.h"

PhotoListSource::Result ClassicPhotoLists::List(const AlbumEntryFields& album) {
  Result result;
  // A failed fetch leaves no file, so it can never be mistaken for the previous album's list.
  std::error_code ec;
  std::filesystem::remove(setup_.replyFile, ec);
  result.report =
      FetchWithRetries(PhotoListAddress(album, setup_.qqNumber, setup_.photoListHost, setup_.albumViewHost),
                       setup_.replyFile, setup_.options, setup_.retry, setup_.stopRequested);
  if (!result.report.ok) return result;
  try {
    const XmlDocument list = XmlDocument::LoadFromFile(setup_.replyFile);
    const XmlNode first = FirstPhotoNode(list);
    if (!first) {
      result.unusable = "the photo list holds no photo";
      return result;
    }
    result.listing = ListPhotoNodes(first);
  } catch (const EXmlDocument& e) {
    result.unusable = std::string("the photo list cannot be read: ") + e.what();
  }
  return result;
}

CurrentPhotoLists::Setup CurrentPhotoLists::ForSession(const SiteSession& site, std::string hostUin,
                                                       std::string replyFile) {
  Setup setup;
  setup.hosts = site.hosts;
  setup.hostUin = std::move(hostUin);
  setup.uin = site.uin;
  setup.token = site.token;
  setup.replyFile = std::move(replyFile);
  setup.pauseMinMs = site.pauseMinMs;
  setup.pauseMaxMs = site.pauseMaxMs;
  setup.busyPauseMs = site.busyPauseMs;
  return setup;
}

CurrentPhotoLists::CurrentPhotoLists(Setup setup) : setup_(std::move(setup)) {
  // The site's own pages send these, and the list calls are refused or throttled without them.
  setup_.options.headers.push_back("Referer: " + std::string(kSiteReferer));
  setup_.options.headers.push_back("Origin: " + std::string(kSiteOrigin));
}

bool WaitUnlessStopped(int ms, const std::atomic<bool>* stop, const std::atomic<bool>* abort) {
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
    if (abort != nullptr && abort->load(std::memory_order_relaxed)) return false;
    const auto now = Clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(std::min<Clock::duration>(until - now, std::chrono::milliseconds(50)));
  }
}

PhotoListSource::Result CurrentPhotoLists::List(const AlbumEntryFields& album) {
  Result result;
  std::mt19937 random(std::random_device{}());
  int start = 0;
  int signInAsked = 0;
  int busyWaits = 0;
  for (;;) {
    if (calls_++ > 0) {
      std::uniform_int_distribution<int> pause(setup_.pauseMinMs,
                                               std::max(setup_.pauseMinMs, setup_.pauseMaxMs));
      if (!WaitUnlessStopped(pause(random), setup_.stopRequested, setup_.options.abort)) {
        result.report.aborted = true;
        result.report.error = "the fetch was stopped";
        return result;
      }
    }
    std::error_code ec;
    std::filesystem::remove(setup_.replyFile, ec);
    const std::string address =
        CurrentPhotoListAddress(setup_.hosts, setup_.token, setup_.hostUin, setup_.uin, album.id, start,
                                kPhotoPageSize, std::to_string(random() % 1000000000));
    result.report =
        FetchWithRetries(address, setup_.replyFile, setup_.options, setup_.retry, setup_.stopRequested);
    if (!result.report.ok) return result;
    const CurrentPhotoPage page = ReadCurrentPhotoPage(ReadWholeFile(setup_.replyFile));
    if (!page.readable) {
      result.unusable = "the photo list is no reply of the album service";
      return result;
    }
    if (page.status.SignInNeeded() && signInAsked++ == 0) continue;
    if (page.status.SignInNeeded()) {
      result.unusable = std::string(kSignInNeededReason) + page.status.message;
      return result;
    }
    if (page.status.Busy() && busyWaits < kBusyTries) {
      const int wait = setup_.busyPauseMs << busyWaits++;
      if (setup_.onBusy) setup_.onBusy(wait);
      if (!WaitUnlessStopped(wait, setup_.stopRequested, setup_.options.abort)) {
        result.report.ok = false;
        result.report.aborted = true;
        result.report.error = "the fetch was stopped";
        return result;
      }
      continue;
    }
    if (!page.status.ok()) {
      result.unusable = "the album service refused the photo list (code " + std::to_string(page.status.code) +
                        (page.status.message.empty() ? std::string() : ": " + page.status.message) + ")";
      return result;
    }
    for (const CurrentPhoto& photo : page.photos)
      result.listing.photos.push_back(
          TPhotoEntry{photo.name, photo.url, photo.phototype, photo.video, photo.taken});
    // An entry that cannot be read is one photo lost, not the list: it counts as a failed photo.
    for (int i = 0; i < page.unreadable; ++i) result.listing.photos.push_back(TPhotoEntry{});
    const int got = static_cast<int>(page.photos.size()) + page.unreadable;
    start += got;
    if (got == 0 || start >= page.totalInAlbum) break;
    if (start >= kMaxPhotoEntries) {
      result.listing.entryLimitHit = true;
      break;
    }
  }
  if (result.listing.photos.empty()) result.unusable = "the photo list holds no photo";
  return result;
}

std::function<bool(const std::string&, FetchReport&)> CurrentPhotoLists::PhotoCheck() const {
  return [](const std::string& tempPath, FetchReport& report) {
    if (!IsPhotoPlaceholder(tempPath, report.bytes)) return true;
    report.error = "the photo host answered its placeholder for a photo without its key (加密照片)";
    return false;
  };
}

#include "core/photolists.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

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
  setup.budget = site.budget;
  return setup;
}

SiteCaller::SiteCaller(Setup setup) : setup_(std::move(setup)) {
  // The site's own pages send these, and the list calls are refused or throttled without them.
  if (setup_.options.userAgent.empty()) setup_.options.userAgent = std::string(kSiteUserAgent);
  setup_.options.headers.push_back("Referer: " + std::string(kSiteReferer));
  setup_.options.headers.push_back("Origin: " + std::string(kSiteOrigin));
}

SiteCaller::Answer SiteCaller::Call(const std::function<std::string(const std::string& nonce)>& address,
                                    const std::string& replyFile,
                                    const std::function<const ServiceStatus*(const std::string& text)>& read,
                                    Tries& tries, FetchReport& report) {
  const auto wait = [this](int ms) {
    return WaitUnlessEnded(ms, setup_.stopRequested, setup_.options.abort);
  };
  for (;;) {
    if (calls_++ > 0) {
      std::uniform_int_distribution<int> pause(setup_.pauseMinMs,
                                               std::max(setup_.pauseMinMs, setup_.pauseMaxMs));
      if (!wait(pause(random_))) return Answer::kStopped;
    }
    if (setup_.budget && !setup_.budget->Take(setup_.stopRequested, setup_.options.abort, setup_.onPace))
      return Answer::kStopped;
    // An older reply must never stand in for this one.
    std::error_code ec;
    std::filesystem::remove(replyFile, ec);
    report = FetchWithRetries(address(std::to_string(random_() % 1000000000)), replyFile, setup_.options,
                              setup_.retry, setup_.stopRequested);
    if (!report.ok) return Answer::kNotFetched;
    const ServiceStatus* status = read(ReadWholeFile(replyFile));
    if (status != nullptr && status->SignInNeeded() && tries.signInAsked++ == 0) continue;
    if (status != nullptr && status->Busy() && tries.busyWaits < kBusyTries) {
      const int ms = setup_.busyPauseMs << tries.busyWaits++;
      if (setup_.onBusy) setup_.onBusy(ms);
      if (!wait(ms)) return Answer::kStopped;
      continue;
    }
    return Answer::kReply;
  }
}

CurrentPhotoLists::CurrentPhotoLists(Setup setup) : setup_(std::move(setup)), calls_(setup_) {}

PhotoListSource::Result CurrentPhotoLists::List(const AlbumEntryFields& album) {
  std::lock_guard<std::mutex> hold(lock_);
  Result result;
  if (!signedOut_.empty()) {
    // The session has run out: the site is not asked again for every album left (that is how accounts get
    // frozen); each is named instead, and what was fetched stays.
    result.report.ok = true;
    result.unusable = signedOut_;
    return result;
  }
  SiteCaller::Tries tries;
  int start = 0;
  for (;;) {
    CurrentPhotoPage page;
    const SiteCaller::Answer answer = calls_.Call(
        [&](const std::string& nonce) {
          return CurrentPhotoListAddress(setup_.hosts, setup_.token, setup_.hostUin, setup_.uin, album.id,
                                         start, kPhotoPageSize, nonce);
        },
        setup_.replyFile,
        [&page](const std::string& text) {
          page = ReadCurrentPhotoPage(text);
          return page.readable ? &page.status : nullptr;
        },
        tries, result.report);
    if (answer == SiteCaller::Answer::kStopped) {
      result.report.ok = false;
      result.report.aborted = true;
      result.report.error = "the fetch was stopped";
    }
    if (answer != SiteCaller::Answer::kReply) return result;
    if (!page.readable) {
      result.unusable = "the photo list is no reply of the album service";
      return result;
    }
    if (page.status.SignInNeeded()) {
      result.unusable = signedOut_ = std::string(kSignInNeededReason) + page.status.message;
      return result;
    }
    if (!page.status.ok()) {
      result.unusable = "the album service refused the photo list (code " + std::to_string(page.status.code) +
                        (page.status.message.empty() ? std::string() : ": " + page.status.message) + ")";
      return result;
    }
    for (const CurrentPhoto& photo : page.photos)
      result.listing.photos.push_back(
          TPhotoEntry{photo.name, photo.url, photo.phototype, photo.video, photo.taken, photo.desc});
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

namespace {
constexpr std::string_view kPlaceholderReason =
    "the photo host answered its placeholder for a photo without its key (加密照片)";
}  // namespace

std::function<bool(const std::string&, FetchReport&)> CurrentPhotoLists::PhotoCheck() const {
  return [](const std::string& tempPath, FetchReport& report) {
    if (!IsPhotoPlaceholder(tempPath, report.bytes)) return true;
    report.error = std::string(kPlaceholderReason);
    return false;
  };
}

bool CurrentPhotoLists::RenewAfter(const AlbumEntryFields& album, const FetchReport& report, int seen) {
  if (report.ok || report.failure != FetchFailure::kNotImage || report.error != kPlaceholderReason)
    return false;
  std::lock_guard<std::mutex> hold(lock_);
  if (generation_ != seen) return true;  // renewed while this photo was under way
  if (!signedOut_.empty()) return false;
  // The key comes as a cookie of the list's reply; the session's jar keeps it for the photos.
  CurrentPhotoPage page;
  SiteCaller::Tries tries;
  FetchReport fetched;
  const SiteCaller::Answer answer = calls_.Call(
      [&](const std::string& nonce) {
        return CurrentPhotoListAddress(setup_.hosts, setup_.token, setup_.hostUin, setup_.uin, album.id, 0, 1,
                                       nonce);
      },
      setup_.replyFile,
      [&page](const std::string& text) {
        page = ReadCurrentPhotoPage(text);
        return page.readable ? &page.status : nullptr;
      },
      tries, fetched);
  if (answer != SiteCaller::Answer::kReply || !page.readable || !page.status.ok()) return false;
  ++generation_;
  return true;
}

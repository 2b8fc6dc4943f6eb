// Where a download's photo lists come from: one album service as the download job sees it. The job asks
// for one album's list at a time, on a fetching thread (its own with one connection), and plans the album
// from what comes back; how the list is asked for and read is the service's.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "core/currentservice.h"
#include "core/jobhost.h"
#include "core/photoplan.h"
#include "net/fetchretry.h"
#include "net/fetchtofile.h"

class PhotoListSource {
 public:
  struct Result {
    FetchReport report;    // not ok: the list was not fetched (report.error says why, aborted on a stop)
    std::string unusable;  // fetched, but no list to plan from: why, in plain words
    PhotoListing listing;  // the photos, when neither of the above
  };
  virtual ~PhotoListSource() = default;
  virtual Result List(const AlbumEntryFields& album) = 0;
  // A check of the service's own that every photo's reply must pass too (its stand-ins for photos it will
  // not give); empty: none.
  virtual std::function<bool(const std::string& tempPath, FetchReport& report)> PhotoCheck() const {
    return nullptr;
  }
};

// The XML service: one photo list per album from the photo-list host (priv "1") or the view-album host,
// through a reply file.
class ClassicPhotoLists : public PhotoListSource {
 public:
  struct Setup {
    std::string qqNumber, photoListHost, albumViewHost;
    std::string replyFile;  // the temporary reply file; removed before every fetch
    FetchOptions options;
    RetryPolicy retry;
    const std::atomic<bool>* stopRequested = nullptr;
  };
  explicit ClassicPhotoLists(Setup setup) : setup_(std::move(setup)) {}
  Result List(const AlbumEntryFields& album) override;

 private:
  Setup setup_;
};

// Today's album site: the signed-in photo list calls, page by page (at most kPhotoPageSize photos a call)
// until the album's total is in, one call at a time with a pause between calls. A refusal for want of a
// sign-in is asked once more (it is sometimes a one-off); a busy service is waited for, longer each time.
class CurrentPhotoLists : public PhotoListSource {
 public:
  struct Setup {
    SiteHosts hosts;
    std::string hostUin;  // whose albums
    std::string uin;      // who is signed in
    std::string token;    // RequestToken of the session's sign-in key
    std::string replyFile;
    FetchOptions options;  // with the session's cookies
    RetryPolicy retry;
    const std::atomic<bool>* stopRequested = nullptr;
    // The pause before every list call but the first, drawn between the two (ms).
    int pauseMinMs = 1000, pauseMaxMs = 3000;
    // The first wait on a busy service (ms); each further one is twice as long, up to kBusyTries waits.
    int busyPauseMs = 120000;
    // Called with every wait on a busy service (ms), for the front end to say so.
    std::function<void(int waitMs)> onBusy;
  };
  static constexpr int kBusyTries = 5;
  // The setup of a signed-in session for the albums of hostUin: hosts, numbers, token and pauses. The
  // front end adds the fetch options (the session's cookies), the flags and onBusy.
  static Setup ForSession(const SiteSession& site, std::string hostUin, std::string replyFile);
  explicit CurrentPhotoLists(Setup setup);
  Result List(const AlbumEntryFields& album) override;
  // The "encrypted photo" placeholder is refused: the photo key was missing or stale.
  std::function<bool(const std::string& tempPath, FetchReport& report)> PhotoCheck() const override;

 private:
  Setup setup_;
  int calls_ = 0;
};

// Waits ms, in steps short enough to notice either flag (each may be null) at once; false when one was set.
bool WaitUnlessStopped(int ms, const std::atomic<bool>* stop, const std::atomic<bool>* abort);

// The refusal a photo list ends with when the session is not (or no longer) signed in.
inline constexpr std::string_view kSignInNeededReason = "sign-in needed: ";

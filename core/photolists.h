// Where a download's photo lists come from: one album service as the download job sees it. The job asks
// for one album's list at a time, on a fetching thread (its own with one connection), and plans the album
// from what comes back; how the list is asked for and read is the service's.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <random>
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
  // Whether a photo of `album` whose fetch failed as `report` says is worth one more try: true once the
  // service was asked again for what that photo lacked (its photo key). `seen` is KeyGeneration() from
  // before the fetch, so the photos that met the same spent key at once cost one question, not one each.
  // Called on fetching threads.
  virtual bool RenewAfter(const AlbumEntryFields& /*album*/, const FetchReport& /*report*/, int /*seen*/) {
    return false;
  }
  virtual int KeyGeneration() const { return 0; }
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

// The album site's list calls as a careful browser makes them: one at a time with a pause before every
// call but the first, the site's Referer and Origin, a refusal for want of a sign-in asked once more (it is
// sometimes a one-off), and a busy site waited for, longer each time (at most kBusyTries waits).
class SiteCaller {
 public:
  static constexpr int kBusyTries = 5;
  struct Setup {
    FetchOptions options;  // with the session's cookies; the site's headers are added
    RetryPolicy retry;
    const std::atomic<bool>* stopRequested = nullptr;
    // The pause before every call but the first, drawn between the two (ms); the first wait on a busy
    // service (ms), each further one twice as long.
    int pauseMinMs = 1000, pauseMaxMs = 3000;
    int busyPauseMs = 120000;
    std::shared_ptr<CallBudget> budget;       // the calls a minute; null: no budget
    std::function<void(long waitMs)> onPace;  // told of every wait the budget asks for
    // Called with every wait on a busy service (ms), for the front end to say so.
    std::function<void(int waitMs)> onBusy;
  };
  // What one list has asked again so far (kept by the caller across the pages of one list).
  struct Tries {
    int signInAsked = 0;
    int busyWaits = 0;
  };
  enum class Answer {
    kReply,       // `read` has the last reply, whatever its status
    kNotFetched,  // the reply was not fetched: report says why
    kStopped,     // a stop ended a wait
  };
  explicit SiteCaller(Setup setup);
  // Fetches address(nonce) into replyFile and gives its text to `read`, which keeps what it read and
  // returns its status (null: the text is no reply of the site); asks again as that status wants.
  Answer Call(const std::function<std::string(const std::string& nonce)>& address,
              const std::string& replyFile,
              const std::function<const ServiceStatus*(const std::string& text)>& read, Tries& tries,
              FetchReport& report);

 private:
  Setup setup_;
  int calls_ = 0;
  std::mt19937 random_{std::random_device{}()};
};

// Today's album site: the signed-in photo list calls, page by page (at most kPhotoPageSize photos a call)
// until the album's total is in, one call at a time with a pause between calls. A refusal for want of a
// sign-in is asked once more (it is sometimes a one-off); a busy service is waited for, longer each time.
class CurrentPhotoLists : public PhotoListSource {
 public:
  struct Setup : SiteCaller::Setup {
    SiteHosts hosts;
    std::string hostUin;  // whose albums
    std::string uin;      // who is signed in
    std::string token;    // RequestToken of the session's sign-in key
    std::string replyFile;
  };
  // The setup of a signed-in session for the albums of hostUin: hosts, numbers, token and pauses. The
  // front end adds the fetch options (the session's cookies), the flags and onBusy.
  static Setup ForSession(const SiteSession& site, std::string hostUin, std::string replyFile);
  explicit CurrentPhotoLists(Setup setup);
  Result List(const AlbumEntryFields& album) override;
  // The "encrypted photo" placeholder is refused: the photo key was missing or stale.
  std::function<bool(const std::string& tempPath, FetchReport& report)> PhotoCheck() const override;
  // A placeholder means the photo key ran out: one call of the album's photo list brings a fresh one.
  bool RenewAfter(const AlbumEntryFields& album, const FetchReport& report, int seen) override;
  int KeyGeneration() const override { return generation_; }

 private:
  Setup setup_;
  std::mutex lock_;  // the calls go one at a time, whichever thread asks
  SiteCaller calls_;
  std::atomic<int> generation_{0};  // photo keys fetched so far by RenewAfter
  std::string signedOut_;           // the refusal once the site has said the session is gone
};

// The refusal a photo list ends with when the session is not (or no longer) signed in.
inline constexpr std::string_view kSignInNeededReason = "sign-in needed: ";

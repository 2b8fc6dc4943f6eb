// Where a download's photo lists come from: one album service as the download job sees it. The job asks
// for one album's list at a time, on a fetching thread (its own with one connection), and plans the album
// from what comes back; how the list is asked for and read is the service's.
#pragma once

#include <atomic>
#include <string>

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

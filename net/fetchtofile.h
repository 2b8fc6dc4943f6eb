// Downloading one address into one file, on the calling thread. The album jobs use it for every service
// reply and every photo.
//
// The reply goes to a temporary file beside the target and replaces the target only once it is complete and
// accepted, so after any failure the target is as it was (absent or the older file) and no partial or
// temporary file is left behind. Each thread keeps its own transfer handle and reuses it, so connections to
// a host stay open from one photo to the next; a handle is never shared between threads. Nothing here
// throws into the caller.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "net/cookiejar.h"
#include "net/fetchfailure.h"
#include "net/ratebudget.h"

// Temporary files of fetches under way are named with this prefix (and the fetching process's number).
inline constexpr const char* kFetchTemporaryPrefix = ".lorvanta-fetch-";

// What became of one fetch.
struct FetchReport {
  bool ok = false;                             ///< the target file now holds the complete, accepted reply
  long httpStatus = 0;                         ///< status of the final response, 0 when none arrived
  long long bytes = 0;                         ///< body bytes received
  long long contentLength = -1;                ///< announced Content-Length, -1 when absent
  long long lastModified = -1;                 ///< seconds since epoch from Last-Modified, -1 when absent
  long retryAfterSeconds = -1;                 ///< from Retry-After (seconds form), -1 when absent
  std::string contentType;                     ///< Content-Type of the final response
  int curlCode = 0;                            ///< the transfer library's result code
  std::string error;                           ///< what went wrong, in plain words; empty when ok
  bool aborted = false;                        ///< ended because the caller's abort flag was set
  bool timedOut = false;                       ///< ended by the connect, low-speed or total time limit
  FetchFailure failure = FetchFailure::kNone;  ///< kNone when ok
  std::string md5;                             ///< FetchOptions::digest: of the body as written, when ok
  // With FetchOptions::deferPlacing, a reply that is complete and accepted waits in its temporary file:
  // ok is true, and this step (flushing it when durable, giving it its name) must still be called on the
  // report, on any thread; it sets ok and the failure as the placing went.
  std::function<void(FetchReport&)> place;
};

struct FetchOptions {
  // Another thread sets it: the transfer ends (within a fraction of a second) as a failure.
  const std::atomic<bool>* abort = nullptr;
  long connectTimeoutMs = 15000;
  // Fail when the reply comes slower than lowSpeedBytesPerSec for lowSpeedTimeSec, so a server that stops
  // sending, or dribbles a byte now and then, cannot hold a job.
  long lowSpeedTimeSec = 30;
  long lowSpeedBytesPerSec = 1024;
  // A reply that announces or carries more bytes than this fails at once (0 = no cap), so an endless or
  // absurdly large reply cannot fill the disk.
  long long maxBytes = 256LL * 1024 * 1024;
  long totalTimeoutMs = 0;              ///< 0 = none
  long long maxRecvBytesPerSecond = 0;  ///< 0 = unlimited; per fetch
  RateBudget* rateBudget = nullptr;     ///< shared by every fetch given it; null = none
  // The session: its cookies go to the hosts they belong to, and cookies replies set go into it. Null:
  // no cookies are sent or kept.
  CookieJar* cookies = nullptr;
  std::string userAgent;  ///< empty = a built-in one
  // Further request headers, each "Name: value" (a Referer a host insists on); one holding a line break
  // is left out.
  std::vector<std::string> headers;
  // Take the MD5 digest of the body while it is written (FetchReport::md5), so nobody reads it back for it.
  bool digest = false;
  // false: a redirect is not followed but is itself the reply (a 3xx status counts as success), for an
  // address whose redirect only carries cookies.
  bool followRedirects = true;
  // Give the target file the reply's Last-Modified time when it has one.
  bool keepServerTime = true;
  // The bytes reach the disk before the file appears under its name (flushed, then renamed), so a crash
  // or a power cut never leaves a name over missing bytes. The folder itself is not flushed here: callers
  // that record the name flush it once for many files (wholefile.h).
  bool durable = false;
  // Never replace a file already at the target, also one whose name differs only in case on a disk that
  // does not tell case apart: the fetch fails instead (kNameTaken).
  bool keepExisting = false;
  // Leave the last step (flush and rename) to FetchReport::place, so that a caller can let it run beside
  // the next transfer instead of keeping the connection idle while the disk flushes.
  bool deferPlacing = false;
  // Called with the completed temporary file before it is renamed over the target; false rejects the
  // reply (it then counts as a failure of kind kNotImage and no file is left), and the callback may put
  // its reason into the report's error. Used for integrity checks of photos.
  std::function<bool(const std::string& tempPath, FetchReport& report)> accept;
};

// Fetches url (http or https; redirects are followed, at most 10) into file. Success needs a complete body
// and a final status of 2xx; 4xx and 5xx answers, redirects that were not followed, a body shorter than its
// Content-Length, time limits, the size cap, the abort flag and a rejecting accept callback are failures.
//
// A kept-alive connection is only used again while its framing holds: when bytes are waiting on it after a
// complete reply (the server sent more than it announced), that reply fails and every connection of the
// thread is closed, so the extra bytes can never be read as the answer to another address.
FetchReport FetchToFileReport(const std::string& url, const std::string& file,
                              const FetchOptions& options = {});

// FetchToFileReport(...).ok
bool FetchToFile(const std::string& url, const std::string& file, const FetchOptions& options = {});

// Closes the calling thread's transfer handle and the connections it keeps open; the next fetch on this
// thread opens new ones. For a thread that is done fetching but lives on.
void FetchReleaseThreadHandles();

// Initialises the transfer library once; call at program start on the main thread. Safe to call again.
void FetchGlobalInit();

// Album list retrieval (the preview job): asks the route service which hosts serve a QQ number, fetches
// the album list from the photo host, and builds the album list page and one AlbumEntry line per album.
// Runs on a worker thread; every window step goes through the PreviewHost.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/addresses.h"
#include "core/currentservice.h"
#include "core/jobhost.h"
#include "core/xmldoc.h"
#include "net/cookiejar.h"

// What the retrieval works from, taken at its start.
struct PreviewInput {
  std::uint64_t jobId = 0;
  std::string qqNumber;
  std::string routeHost;  // host (or host:port) of the album route service
  int clientNumber = 0;
  std::string routeFile;  // temporary reply files
  std::string albumListFile;
  // Set by another thread to end a fetch under way (the window sets it when it closes). The retrieval
  // watches no stop flag of its own: a stopped preview runs to its end, and its results carry its jobId.
  const std::atomic<bool>* fetchAbort = nullptr;
  // The session (signed-in cookies) the route and album list requests go with; null: none.
  CookieJar* cookies = nullptr;
  // Today's album site instead of the route and XML calls; null: those.
  const SiteSession* site = nullptr;
  // Told of every wait on a busy album site (ms), on the job's thread, for the front end to say so.
  std::function<void(int waitMs)> onBusy;
};

struct PreviewOutcome {
  enum class End {
    kRouteFailed,    // the route reply was not fetched (RouteFailed was handed over)
    kSilentEnd,      // route reply or album list unusable: nothing was handed over
    kNoAlbumList,    // the album list has no "data" or no "album" (PreviewFailed)
    kNoAlbumListed,  // every album element was left out (PreviewFailed, then PreviewDone)
    kListed,         // at least one album listed (ShowAlbumPage, then PreviewDone)
    kSignInNeeded,   // the album site: not signed in, or the session expired (PreviewFailed)
    kRefused,        // the album site refused the list for another reason (PreviewFailed); see error
  };
  End end = End::kSilentEnd;
  PreviewResult result;
  std::string error;  // kSignInNeeded, kRefused, and a failed fetch of the album site: the service's words
};

// Nodes of the album list the walk visits at most; a longer list is cut there (and says so).
constexpr int kMaxAlbumNodes = 100000;

// Walks the album list from its first "album" node: for every readable album element appends its page
// block, its AlbumEntry line and its fields to result (numbered on from what result holds). True when the
// list was cut at kMaxAlbumNodes.
bool WalkAlbumList(XmlNode firstAlbum, int clientNumber, PreviewResult& result);

// Runs the whole retrieval. Never throws: every failure ends it as the table of outcomes says. With
// input.site, the album site's calls stand in for the route and the XML list: the same page and entries,
// albums the signed-in user may not open left out (and named in result.inaccessibleAlbums).
PreviewOutcome RetrieveAlbumList(const PreviewInput& input, PreviewHost& host);

// Ends a listed album page: closed and shown when it lists an album (kListed), else PreviewFailed
// (kNoAlbumListed); then PreviewDone.
void EndAlbumPage(PreviewOutcome& outcome, PreviewHost& host);

// The AlbumEntry line: id, priv, name, total and desc, each trimmed, joined by "|".
std::string AlbumEntryLine(std::string_view id, std::string_view priv, std::string_view name,
                           std::string_view total, std::string_view desc);

inline constexpr std::string_view kPreviewRunningStatus = "正在预览相册列表...";
inline constexpr std::string_view kPreviewDoneStatus = "相册列表下载成功...";
// The completion message for qqNumber (its two lines separated by LF CR).
std::string PreviewDoneMessage(std::string_view qqNumber);

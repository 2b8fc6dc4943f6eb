#include "core/currentpreview.h"

#include <filesystem>
#include <random>
#include <system_error>

#include "core/albumpage.h"
#include "core/photolists.h"
#include "core/textutil.h"
#include "core/wholefile.h"

PreviewOutcome RetrieveSiteAlbumList(const PreviewInput& input, PreviewHost& host) {
  using End = PreviewOutcome::End;
  PreviewOutcome outcome;
  PreviewResult& result = outcome.result;
  result.jobId = input.jobId;
  result.qqNumber = input.qqNumber;
  AppendPageLine(result.pageLines, result.qqNumber, HeaderLine());
  const SiteSession& site = *input.site;

  FetchOptions options;
  options.abort = input.fetchAbort;
  options.cookies = input.cookies;
  options.headers = {"Referer: " + std::string(kSiteReferer), "Origin: " + std::string(kSiteOrigin)};
  std::mt19937 random(std::random_device{}());

  int start = 0;
  int signInAsked = 0;
  int busyWaits = 0;
  int calls = 0;
  int n = 0;
  for (;;) {
    if (calls++ > 0) {
      std::uniform_int_distribution<int> pause(site.pauseMinMs, std::max(site.pauseMinMs, site.pauseMaxMs));
      if (!WaitUnlessStopped(pause(random), nullptr, input.fetchAbort)) return outcome;
    }
    // An older reply must never stand in for this one.
    std::error_code ec;
    std::filesystem::remove(input.albumListFile, ec);
    const FetchReport report =
        FetchToFileReport(CurrentAlbumListAddress(site.hosts, site.token, input.qqNumber, site.uin, start,
                                                  kAlbumPageSize, std::to_string(random() % 1000000000)),
                          input.albumListFile, options);
    if (!report.ok) {
      outcome.error = "the album list could not be fetched: " + report.error;
      host.RouteFailed(result);
      outcome.end = End::kRouteFailed;
      return outcome;
    }
    const CurrentAlbumPage page = ReadCurrentAlbumPage(ReadWholeFile(input.albumListFile));
    if (page.readable && page.status.SignInNeeded() && signInAsked++ == 0) continue;
    if (page.readable && page.status.Busy() && busyWaits < CurrentPhotoLists::kBusyTries) {
      if (!WaitUnlessStopped(site.busyPauseMs << busyWaits++, nullptr, input.fetchAbort)) return outcome;
      continue;
    }
    if (!page.readable || !page.status.ok()) {
      outcome.end = !page.readable               ? End::kNoAlbumList
                    : page.status.SignInNeeded() ? End::kSignInNeeded
                                                 : End::kRefused;
      outcome.error = !page.readable ? "the album list is no reply of the album service"
                                     : "code " + std::to_string(page.status.code) +
                                           (page.status.message.empty() ? "" : ": " + page.status.message);
      host.PreviewFailed(result);
      return outcome;
    }
    for (const CurrentAlbum& album : page.albums) {
      if (!album.allowAccess) {
        result.inaccessibleAlbums.push_back(album.fields.name);
        continue;
      }
      const AlbumEntryFields& f = album.fields;
      const AlbumFields fields{f.name, album.cover, f.desc, f.total, f.priv, f.id};
      AppendPageLine(result.pageLines, result.qqNumber,
                     AlbumBlock(n++, fields, input.clientNumber, input.qqNumber));
      result.albumEntries.push_back(AlbumEntryLine(f.id, f.priv, f.name, f.total, f.desc));
      result.albums.push_back(f);
    }
    start += static_cast<int>(page.albums.size());
    if (page.albums.empty() || start >= page.albumsInUser) break;
    if (start >= kMaxAlbumNodes) {
      result.listCut = true;
      break;
    }
  }
  EndAlbumPage(outcome, host);
  return outcome;
}

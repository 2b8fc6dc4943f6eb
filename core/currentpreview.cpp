#include "core/currentpreview.h"

#include "core/albumpage.h"
#include "core/photolists.h"
#include "core/textutil.h"

PreviewOutcome RetrieveSiteAlbumList(const PreviewInput& input, PreviewHost& host) {
  using End = PreviewOutcome::End;
  PreviewOutcome outcome;
  PreviewResult& result = outcome.result;
  result.jobId = input.jobId;
  result.qqNumber = input.qqNumber;
  AppendPageLine(result.pageLines, result.qqNumber, HeaderLine());
  const SiteSession& site = *input.site;

  SiteCaller::Setup setup;
  setup.options.abort = input.fetchAbort;
  setup.options.cookies = input.cookies;
  setup.pauseMinMs = site.pauseMinMs;
  setup.pauseMaxMs = site.pauseMaxMs;
  setup.busyPauseMs = site.busyPauseMs;
  setup.budget = site.budget;
  setup.onBusy = input.onBusy;
  SiteCaller calls(std::move(setup));
  SiteCaller::Tries tries;

  int start = 0;
  int n = 0;
  for (;;) {
    CurrentAlbumPage page;
    FetchReport report;
    const SiteCaller::Answer answer = calls.Call(
        [&](const std::string& nonce) {
          return CurrentAlbumListAddress(site.hosts, site.token, input.qqNumber, site.uin, start,
                                         kAlbumPageSize, nonce);
        },
        input.albumListFile,
        [&page](const std::string& text) {
          page = ReadCurrentAlbumPage(text);
          return page.readable ? &page.status : nullptr;
        },
        tries, report);
    if (answer == SiteCaller::Answer::kStopped) return outcome;
    if (answer == SiteCaller::Answer::kNotFetched) {
      outcome.error = "the album list could not be fetched: " + report.error;
      host.RouteFailed(result);
      outcome.end = End::kRouteFailed;
      return outcome;
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

// The viewer's HTML pages, made from what was read from the album root (model.h). Pure text in, text out:
// the caller writes them.
//
// index.html sits in the album root; the album pages sit in the viewer folder beside the style sheet,
// script, placeholder and thumbnails. Every link is relative and every path component percent-encoded, so
// any album or photo name works and the copy can be moved as a whole. Each page declares UTF-8 and a
// Content-Security-Policy that allows only files of the copy itself and no inline script or style.
#pragma once

#include <string>
#include <string_view>

#include "viewer/model.h"

// The page of album index (0-based) in the viewer folder: "album-0001.html", "album-0002.html", ...
std::string AlbumPageName(size_t index);

// The Content-Security-Policy of every page.
extern const char kViewerPolicy[];

// The mark every page carries in its head; the viewer rewrites only an index.html that has it.
extern const char kViewerGenerator[];

// index.html: every album in order with its cover (the first photo's thumbnail), name, description, photo
// count, privacy marker, date of the copy, and failure. Of an album's photos it reads only the first: the
// count is photoCount.
std::string EntryPage(const ShownSite& site);

// The page of site.albums[index]: the album's photos as a grid in order, and for each photo a large view
// (at "#p<n>", n from 1) with previous and next links that work without script.
std::string AlbumPage(const ShownSite& site, size_t index);

// Why an album failed, in the pages' language. The download gives its reasons in English ("the photo list
// holds no photo", "the photo list could not be fetched: HTTP 404", ...); a reason it is known to give
// becomes a Chinese phrase, and what followed the known part (an address, the system's words) is kept as
// detail. Any other reason becomes a general phrase with the whole text as detail. Plain text, not yet
// escaped.
struct FailureWords {
  std::string phrase;
  std::string detail;  // empty when there is nothing to add

  bool operator==(const FailureWords&) const = default;
};
FailureWords ChineseFailureReason(std::string_view reason);

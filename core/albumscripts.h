// The scripts the window runs in the album page (through its `cmd` page function) to show a download's
// progress, and the rules for the album pane's own links. Plain functions returning text, so that each can
// be checked byte for byte without a browser; the window runs them with RunAlbumScript.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/jobhost.h"

// One call of the page function `cmd`: the element that must exist, and the script evaluated then.
struct AlbumScript {
  std::string elementId;
  std::string script;

  bool operator==(const AlbumScript&) const = default;
};

AlbumScript ScrollScript(int n);  // scrolls so that album n stands third from the top (n > 2)
AlbumScript StatusCellScript(int n, std::string_view statusHtml);
AlbumScript RowColorScript(int n, std::string_view rowColor);
AlbumScript ViewLinkScript(int n, std::string_view albumLinkName);
AlbumScript AlertLinkScript(int n);
AlbumScript UntickScript(int n);

// Reads the ticks of albums 0 to count-1 at once: a text of one "0" (unticked) or "1" per album. A box
// that is missing counts as ticked.
AlbumScript ReadTicksScript(int count);
// The ticks from that script's text; an album the text does not cover (the call failed) counts as ticked.
std::vector<bool> TicksFromScript(std::string_view scriptResult, int count);
// The album whose tick box has this element id ("check_N"), or -1 for any other element.
int TickBoxAlbum(std::string_view elementId);

// The ordered calls that show a status update of album currentAlbum: the scroll (albums from 3 on), the
// status cell, the row colour, and for a finished album (its markup links "#GOTO2:") the view link and
// the untick; for a failed album (its markup holds "失败" and no "#GOTO2:" link) the album link becomes
// an alert. statusHtml and the link name are escaped for the script strings they stand in, so no text
// can end a string and run script of its own. Without `scroll` the scroll is left out: the window scrolls
// only when the album at work changes, since a scroll is a navigation of the page and costs a frame.
std::vector<AlbumScript> ShowAlbumStatus(int currentAlbum, std::string_view statusHtml,
                                         std::string_view rowColor, std::string_view currentAlbumName,
                                         bool scroll = true);

// The status cell markup and the row colour of a status update: "开始" on orange when started, the k/total
// count on orange while photos come in, the blue tick linking the album folder when done (white row), and
// "失败" on white for an album that failed or had to be abandoned.
std::string AlbumStatusHtml(const AlbumStatusUpdate& update);
std::string_view AlbumRowColor(AlbumState state);
// The row of the album at work, and of every other one.
inline constexpr std::string_view kStartedRowColor = "#FF6600";
inline constexpr std::string_view kDoneRowColor = "#FFFFFF";

// The markups the download job puts into an album's status cell.
std::string StartedStatusHtml();
std::string FailedStatusHtml();
std::string ProgressStatusHtml(int done, std::string_view total);
// The finished album's blue tick, linking "#GOTO2:" + the album folder's final name component. Link names
// (here and in ViewLinkScript) are percent-encoded, so any folder name survives the trip through the
// browser's address handling and comes back exactly; a plain ASCII name stays as it is.
std::string FinishedStatusHtml(std::string_view albumLinkName);

// What the album pane does with a navigation to the given address.
struct AlbumPaneNavigation {
  enum class Action {
    kProceed,     // not one of our links: the navigation goes on
    kOpenOnline,  // cancel; open `target` in the online pane
    kOpenFolder,  // cancel; open the folder `target` with the desktop
    kIgnore,      // cancel; open nothing (a "#GOTO2:" link that names no album folder)
  };
  Action action = Action::kProceed;
  std::string target;
};

// "#GOTO1:" + text: text (at most 1000 bytes) when it begins with "http://", else vendorBase + text.
// "#GOTO2:" + name: the album folder albumRoot + name, but only when name (percent-decoded) is one plain
// path component (no "/", not "." or "..") and that folder really is a directory (not a link) inside
// albumRoot; anything else opens nothing. albumRoot is the download's album root (empty before any
// download, when no folder is opened).
AlbumPaneNavigation AlbumPaneLink(std::string_view address, std::string_view vendorBase,
                                  std::string_view albumRoot);

// The online pane's link command: an address holding "#TAVRENGOTO:" + "DOWNVELQUAN|" + number asks for a
// preview of that number. The text after the marker (at most 10000 bytes) is percent-decoded, since the
// pane reports addresses encoded; the command word must match exactly. The number as given (at most 10000
// bytes), or nothing for any other address.
std::optional<std::string> OnlinePanePreviewCommand(std::string_view address);

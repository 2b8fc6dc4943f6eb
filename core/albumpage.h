// The pages the album pane shows: the notice page, the loading page and the album list page, built from
// fixed markup pieces. Everything here returns UTF-8 text. A page's text is its lines, each followed by
// CR LF (JoinPageLines); its bytes, as the window hands them to the pane and the command line's --page
// writes them, are that text in GBK (EncodeGbk of text/gbk.h), the code page its charset declares.
//
// A notice or loading page is returned as its three lines already joined. The album list page is built
// line by line (AppendPageLine).
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The fields of one album element of the album list, as read.
struct AlbumFields {
  std::string name, pre, desc, total, priv, id;
};

// The notice page: a message in a white box with a red border. The message is markup of the program's own
// and goes in unchanged.
std::string NoticePage(std::string_view qqNumber, std::string_view message);

// The client page of the program's own, for both panes when the vendor's cannot be loaded: a link to
// QQ's sign-in page (signInAddress) and, in the online pane (onlinePane), a QQ number box whose button
// sends that pane's link command for a preview of the number; the album pane's page points to the QQ box
// above it instead.
std::string BuiltInClientPage(std::string_view signInAddress, bool onlinePane);

// The loading page shown while the album list is being fetched.
std::string LoadingPage(std::string_view qqNumber);

// The first line of the album list page: document type, head with style and the `$`/`cmd` script, body
// start.
std::string PageHeadLine(std::string_view qqNumber);

// The second line: the header with the scroll handle "scrolid", and the open album container.
std::string HeaderLine();

// The marker under the tick box: 密 for priv "2", 私 for priv "3" (compared exactly), empty otherwise.
std::string PrivacyMarker(std::string_view priv);

// The block line of album number n. Every field of the album is escaped for where it stands (element
// text or attribute value), so no album text can add markup or script to the page; a field without & < >
// or quotes is inserted byte for byte.
std::string AlbumBlock(int n, const AlbumFields& album, int clientNumber, std::string_view qqNumber);

// Appends a line to the album list page being built; an empty page first gets its head line.
void AppendPageLine(std::vector<std::string>& pageLines, std::string_view qqNumber, std::string line);

// Completes the album list page when at least one album was listed (adds "</body></html>") and returns
// true; returns false, leaving the lines alone, when none was (the notice page is shown instead).
bool FinishAlbumPage(std::vector<std::string>& pageLines, size_t albumCount);

// The page text of a line list: every line followed by CR LF.
std::string JoinPageLines(const std::vector<std::string>& lines);

// The messages of the notice page.
inline constexpr std::string_view kAlbumListFailedMessage = "无法预览相册列表！";
inline constexpr std::string_view kRouteFailedMessage = "无法预览相册[1]";

#include "core/albumscripts.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/textutil.h"

namespace {

constexpr std::string_view kGoto1 = "#GOTO1:";
constexpr std::string_view kGoto2 = "#GOTO2:";
constexpr size_t kMaxLinkText = 1000;

std::string Id(std::string_view prefix, int n) {
  return std::string(prefix) + std::to_string(n);
}

// At most `limit` bytes, not cutting a UTF-8 character.
std::string_view Limit(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t keep = limit;
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
  return text.substr(0, keep);
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

AlbumScript ReadTicksScript(int count) {
  return {"check_0", "(function(){var s=\"\";for(var i=0;i<" + std::to_string(count) +
                         ";i++){var e=$(\"check_\"+i);s+=(e!==null&&e.checked===false)?\"0\":\"1\";}"
                         "return s;})()"};
}

std::vector<bool> TicksFromScript(std::string_view scriptResult, int count) {
  std::vector<bool> ticked(static_cast<size_t>(std::max(count, 0)), true);
  for (size_t n = 0; n < ticked.size() && n < scriptResult.size(); ++n) ticked[n] = scriptResult[n] != '0';
  return ticked;
}

int TickBoxAlbum(std::string_view elementId) {
  constexpr std::string_view kPrefix = "check_";
  if (elementId.substr(0, kPrefix.size()) != kPrefix) return -1;
  const std::string_view digits = elementId.substr(kPrefix.size());
  if (digits.empty() || digits.size() > 9 || (digits.size() > 1 && digits[0] == '0')) return -1;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

AlbumScript ScrollScript(int n) {
  return {"scrolid", "$(\"scrolid\").href=\"#mao_" + std::to_string(n - 2) + "\";$(\"scrolid\").click();"};
}

AlbumScript StatusCellScript(int n, std::string_view statusHtml) {
  return {Id("status_", n),
          "$(\"" + Id("status_", n) + "\").innerHTML=\"" + EscapeJsString(statusHtml) + "\";"};
}

AlbumScript RowColorScript(int n, std::string_view rowColor) {
  const std::string tbl = "$(\"" + Id("tbl_", n) + "\")";
  const std::string color = EscapeJsString(rowColor);
  return {Id("tbl_", n), "if(" + tbl + ".style.backgroundColor!==\"" + color + "\") " + tbl +
                             ".style.backgroundColor=\"" + color + "\";"};
}

AlbumScript ViewLinkScript(int n, std::string_view albumLinkName) {
  return {Id("ainp_", n), "$(\"" + Id("ainp_", n) +
                              "\").innerHTML=\"<div style=\\\"margin-top:10px;\\\"><a href=\\\"#GOTO2:" +
                              EscapeJsString(EscapeHtml(PercentEncode(albumLinkName))) +
                              "\\\" title=\\\"查看下载的相片\\\">看</a></div>\";"};
}

AlbumScript AlertLinkScript(int n) {
  return {Id("link_", n), "$(\"" + Id("link_", n) +
                              "\").href=\"javascript:alert(\\\"此相册可能是加密相册，无法访问！\\\")\""};
}

AlbumScript UntickScript(int n) {
  return {Id("check_", n), "$(\"" + Id("check_", n) + "\").checked=false;"};
}

std::vector<AlbumScript> ShowAlbumStatus(int currentAlbum, std::string_view statusHtml,
                                         std::string_view rowColor, std::string_view currentAlbumName,
                                         bool scroll) {
  std::vector<AlbumScript> calls;
  if (scroll && currentAlbum > 2) calls.push_back(ScrollScript(currentAlbum));
  calls.push_back(StatusCellScript(currentAlbum, statusHtml));
  calls.push_back(RowColorScript(currentAlbum, rowColor));
  const bool finished = Contains(statusHtml, kGoto2);
  if (finished) {
    calls.push_back(ViewLinkScript(currentAlbum, currentAlbumName));
    calls.push_back(UntickScript(currentAlbum));
  }
  // A finished album whose name holds the word must not be turned into the failure alert.
  if (!finished && Contains(statusHtml, "失败")) calls.push_back(AlertLinkScript(currentAlbum));
  return calls;
}

std::string AlbumStatusHtml(const AlbumStatusUpdate& update) {
  switch (update.state) {
    case AlbumState::kStarted:
      return StartedStatusHtml();
    case AlbumState::kProgress:
      return ProgressStatusHtml(update.photosDone, update.total);
    case AlbumState::kDone:
      return FinishedStatusHtml(update.currentAlbumName);
    case AlbumState::kFailed:
    case AlbumState::kAbandoned:
      return FailedStatusHtml();
  }
  return FailedStatusHtml();
}

std::string_view AlbumRowColor(AlbumState state) {
  return state == AlbumState::kStarted || state == AlbumState::kProgress ? kStartedRowColor : kDoneRowColor;
}

std::string StartedStatusHtml() {
  return "<nobr><font color=\"red\">开始</font></nobr>";
}

std::string FailedStatusHtml() {
  return "<nobr><font color=\"red\">失败</font></nobr>";
}

std::string ProgressStatusHtml(int done, std::string_view total) {
  return "<nobr><span style=\"color:#FF0000;\">" + std::to_string(done) + "/" + EscapeHtml(total) +
         "</span></nobr>";
}

std::string FinishedStatusHtml(std::string_view albumLinkName) {
  return "<a href=\"#GOTO2:" + EscapeHtml(PercentEncode(albumLinkName)) +
         "\" title=\"点击查看相片\"><font color=\"blue\">√</font></a>";
}

AlbumPaneNavigation AlbumPaneLink(std::string_view address, std::string_view vendorBase,
                                  std::string_view albumRoot) {
  using Action = AlbumPaneNavigation::Action;
  if (size_t at = address.find(kGoto1); at != std::string_view::npos) {
    const std::string_view text = Limit(address.substr(at + kGoto1.size()), kMaxLinkText);
    if (text.rfind("http://", 0) == 0) return {Action::kOpenOnline, std::string(text)};
    return {Action::kOpenOnline, std::string(vendorBase) + std::string(text)};
  }
  if (size_t at = address.find(kGoto2); at != std::string_view::npos) {
    // The pane reports the address percent-encoded; the folder name in the link is plain text.
    const std::string name = PercentDecode(Limit(address.substr(at + kGoto2.size()), kMaxLinkText));
    const bool plainComponent = !name.empty() && name != "." && name != ".." &&
                                name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
    if (!plainComponent || albumRoot.empty()) return {Action::kIgnore, {}};
    std::string folder(albumRoot);
    if (folder.back() != '/') folder += '/';
    folder += name;
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(folder, ec);
    if (ec || !std::filesystem::is_directory(status)) return {Action::kIgnore, {}};
    return {Action::kOpenFolder, folder};
  }
  return {Action::kProceed, {}};
}

std::optional<std::string> OnlinePanePreviewCommand(std::string_view address) {
  constexpr std::string_view kMarker = "#TAVRENGOTO:";
  constexpr std::string_view kCommand = "DOWNVELQUAN";
  const size_t at = address.find(kMarker);
  if (at == std::string_view::npos) return std::nullopt;
  constexpr size_t kMaxCommandText = 10000;
  const std::string command = PercentDecode(Limit(address.substr(at + kMarker.size()), kMaxCommandText));
  const size_t bar = command.find('|');
  if (bar == std::string::npos || std::string_view(command).substr(0, bar) != kCommand) return std::nullopt;
  return std::string(Limit(std::string_view(command).substr(bar + 1), kMaxCommandText));
}

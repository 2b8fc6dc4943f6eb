#include "viewer/pages.h"

#include <cstdio>
#include <ctime>

#include "core/albummanifest.h"
#include "viewer/assets.h"
#include "viewer/htmltext.h"
#include "viewer/viewer.h"

const char kViewerPolicy[] =
    "default-src 'none'; img-src 'self'; style-src 'self'; script-src 'self'; base-uri 'none'; "
    "form-action 'none'";
const char kViewerGenerator[] = "Lorvanta album viewer";

namespace {

// Links from index.html into the viewer folder, and from an album page (inside it) back to the root.
const std::string kFromRoot = HrefComponent(kViewerFolder) + "/";
const std::string kToRoot = "../";

std::string Bdi(std::string_view text) {
  return "<bdi>" + HtmlText(text) + "</bdi>";
}

// A failed album may come without any name at all.
std::string AlbumName(const ShownAlbum& a) {
  return a.name.empty() ? "（无名相册）" : Bdi(a.name);
}

std::string LocalDate(std::time_t t, bool withTime) {
  std::tm tm{};
  if (t <= 0 || localtime_r(&t, &tm) == nullptr) return "?";
  char buf[32];
  std::strftime(buf, sizeof buf, withTime ? "%Y-%m-%d %H:%M" : "%Y-%m-%d", &tm);
  return buf;
}

std::string TimeElement(std::time_t t, bool withTime) {
  if (t <= 0) return "?";
  return "<time datetime=\"" + UtcTimeText(t) + "\">" + LocalDate(t, withTime) + "</time>";
}

std::string Head(const std::string& title, const std::string& toViewerFolder, bool script) {
  std::string h = "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n";
  h += "<meta http-equiv=\"Content-Security-Policy\" content=\"" + std::string(kViewerPolicy) + "\">\n";
  h += "<meta name=\"referrer\" content=\"no-referrer\">\n";
  h += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  h += "<meta name=\"generator\" content=\"" + std::string(kViewerGenerator) + "\">\n";
  // RCDATA: no markup inside, so invisible characters get their code without the span.
  h += "<title>" + HtmlAttribute(title) + "</title>\n";
  h += "<link rel=\"stylesheet\" href=\"" + toViewerFolder + std::string(kStyleFile) + "\">\n";
  if (script) h += "<script src=\"" + toViewerFolder + std::string(kScriptFile) + "\" defer></script>\n";
  return h + "</head>\n";
}

bool AllDigits(const std::string& s) {
  return !s.empty() && s.size() < 10 && s.find_first_not_of("0123456789") == std::string::npos;
}

std::string CountText(const ShownAlbum& a) {
  std::string t = std::to_string(a.photoCount) + " 张照片";
  if (AllDigits(a.total) && std::stoul(a.total) != a.photoCount) t += "（相册共 " + a.total + " 张）";
  return t;
}

std::string Badges(const ShownAlbum& a) {
  std::string b;
  if (a.priv == "2") b += "<span class=\"badge priv-2\">受保护</span>";
  if (a.priv == "3") b += "<span class=\"badge priv-3\">私密</span>";
  if (a.failed) b += "<span class=\"badge failed\">失败</span>";
  return b.empty() ? b : "<p class=\"badges\">" + b + "</p>\n";
}

std::string Reason(const ShownAlbum& a) {
  if (!a.failed) return {};
  std::string why = "原因不明";
  if (!a.failureReason.empty()) {
    const FailureWords words = ChineseFailureReason(a.failureReason);
    why = HtmlText(words.phrase);
    if (!words.detail.empty()) why += "（" + Bdi(words.detail) + "）";
  }
  return "<p class=\"reason\">下载失败：" + why + "</p>\n";
}

std::string Meta(const ShownAlbum& a) {
  std::string m = CountText(a);
  if (a.folder.empty() || !a.folderPresent) m += " · 没有相册文件夹";
  if (a.copied > 0) m += " · 复制于 " + TimeElement(a.copied, false);
  return "<p class=\"meta\">" + m + "</p>\n";
}

// The thumbnail of a photo, or the placeholder, as seen from the viewer folder.
std::string ThumbSrc(const ShownPhoto& p) {
  return p.thumb.empty() ? std::string(kPlaceholderFile)
                         : std::string(kThumbFolder) + "/" + HrefComponent(p.thumb);
}

std::string PhotoHref(const ShownAlbum& a, const ShownPhoto& p) {
  return kToRoot + HrefComponent(a.folder) + "/" + HrefComponent(p.file);
}

// What stands instead of a thumbnail in the grid, when something does.
std::string TileState(const ShownPhoto& p) {
  if (!p.present) return "文件不在";
  if (p.kind.empty()) return "不是图片";
  if (p.thumb.empty()) return "无法预览";
  return {};
}

// The large picture: the photo itself when a browser can show it, the thumbnail for HEIF (which browsers
// do not show), the placeholder when there is nothing to show.
std::string LargeSrc(const ShownAlbum& a, const ShownPhoto& p) {
  if (p.present && !p.kind.empty() && p.kind != "heif") return PhotoHref(a, p);
  return ThumbSrc(p);
}

std::string NavLink(const std::string& cls, const std::string& href, const std::string& label) {
  if (href.empty()) return "<span class=\"" + cls + " off\">" + label + "</span>";
  const std::string rel = cls == "prev" || cls == "next" ? " rel=\"" + cls + "\"" : "";
  return "<a class=\"" + cls + "\"" + rel + " href=\"" + href + "\">" + label + "</a>";
}

}  // namespace

FailureWords ChineseFailureReason(std::string_view reason) {
  // The reasons the download gives for an album it could not save, each by how it begins; a longer
  // beginning before a shorter one that it starts with.
  struct Known {
    std::string_view english, chinese;
  };
  static constexpr Known kKnown[] = {
      {"the photo list holds no photo", "相片列表中没有相片"},
      {"the photo list could not be fetched: ", "无法获取相片列表"},
      {"the photo list cannot be read: ", "无法读取相片列表"},
      {"cannot create the folder ", "无法创建相册文件夹"},
      {"cannot write the journal: ", "无法写入相册文件夹"},
      {"cannot write ", "无法写入相册文件夹"},
      {"cannot record a name that is not valid UTF-8: ", "名称不是有效的 UTF-8，无法记录"},
      {"no free album folder name", "找不到可用的相册文件夹名"},
      {"no free photo file name", "找不到可用的相片文件名"},
      {"filesystem error: ", "文件操作失败"},
  };
  for (const Known& k : kKnown) {
    if (reason.starts_with(k.english))
      return {std::string(k.chinese), std::string(reason.substr(k.english.size()))};
  }
  return {"相册未能保存", std::string(reason)};
}

std::string AlbumPageName(size_t index) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "album-%04zu.html", index + 1);
  return buf;
}

std::string EntryPage(const ShownSite& site) {
  size_t photos = 0;
  for (const ShownAlbum& a : site.albums) photos += a.photoCount;
  std::string h = Head(site.title, kFromRoot, false);
  h += "<body class=\"entry\">\n<header class=\"top\">\n<h1>" + Bdi(site.title) + "</h1>\n";
  h += "<p class=\"meta\">" + std::to_string(site.albums.size()) + " 个相册 · " + std::to_string(photos) +
       " 张照片 · 复制于 " + TimeElement(site.copyTime, true) + "</p>\n</header>\n<main>\n";
  if (site.albums.empty()) h += "<p class=\"empty\">这里还没有相册。</p>\n";
  h += "<ol class=\"albums\">\n";
  for (size_t i = 0; i < site.albums.size(); ++i) {
    const ShownAlbum& a = site.albums[i];
    const std::string page = kFromRoot + AlbumPageName(i);
    const std::string cover = a.photos.empty() ? std::string(kPlaceholderFile) : ThumbSrc(a.photos.front());
    std::string cls = "album";
    if (a.priv == "2" || a.priv == "3") cls += " priv-" + a.priv;
    if (a.failed) cls += " failed";
    h += "<li class=\"" + cls + "\">\n";
    h += "<a class=\"cover\" href=\"" + page + "\"><img src=\"" + kFromRoot + cover + "\" alt=\"\"></a>\n";
    h += "<div class=\"about\">\n<h2><a href=\"" + page + "\">" + AlbumName(a) + "</a></h2>\n";
    h += Badges(a);
    if (!a.desc.empty()) h += "<p class=\"desc\">" + Bdi(a.desc) + "</p>\n";
    h += Meta(a) + Reason(a) + "</div>\n</li>\n";
  }
  return h + "</ol>\n</main>\n</body>\n</html>\n";
}

std::string AlbumPage(const ShownSite& site, size_t index) {
  const ShownAlbum& a = site.albums.at(index);
  std::string h = Head((a.name.empty() ? "（无名相册）" : a.name) + " · " + site.title, "", true);
  h += "<body class=\"album\">\n<header class=\"top\">\n<nav class=\"pager\">";
  h += NavLink("prev", index > 0 ? AlbumPageName(index - 1) : "", "‹ 上一个相册");
  h += NavLink("up", kToRoot + std::string(kViewerEntryFile), "全部相册");
  h += NavLink("next", index + 1 < site.albums.size() ? AlbumPageName(index + 1) : "", "下一个相册 ›");
  h += "</nav>\n<h1>" + AlbumName(a) + "</h1>\n" + Badges(a);
  if (!a.desc.empty()) h += "<p class=\"desc\">" + Bdi(a.desc) + "</p>\n";
  h += Meta(a) + Reason(a) + "</header>\n<main>\n";
  if (a.photos.empty()) h += "<p class=\"empty\">这个相册里没有照片。</p>\n";
  h += "<ol class=\"grid\">\n";
  const size_t n = a.photos.size();
  for (size_t k = 0; k < n; ++k) {
    const ShownPhoto& p = a.photos[k];
    const std::string state = TileState(p);
    h += "<li class=\"tile" + std::string(state.empty() ? "" : " missing") + "\" id=\"t" +
         std::to_string(k + 1) + "\"><a href=\"#p" + std::to_string(k + 1) + "\"><img src=\"" + ThumbSrc(p) +
         "\" alt=\"\" loading=\"lazy\"><span class=\"name\">" + Bdi(PhotoTitle(p.file)) + "</span>";
    if (!state.empty()) h += "<span class=\"state\">" + state + "</span>";
    h += "</a></li>\n";
  }
  h += "</ol>\n</main>\n";
  // The large views: hidden until the address names one. Their pictures load only when shown.
  for (size_t k = 0; k < n; ++k) {
    const ShownPhoto& p = a.photos[k];
    const std::string num = std::to_string(k + 1);
    h += "<section class=\"view\" id=\"p" + num + "\">\n<div class=\"stage\"><img src=\"" + LargeSrc(a, p) +
         "\" alt=\"" + HtmlAttribute(PhotoTitle(p.file)) + "\" loading=\"lazy\"></div>\n<div class=\"bar\">";
    h += NavLink("prev", k > 0 ? "#p" + std::to_string(k) : "", "‹ 上一张");
    h += "<span class=\"caption\">" + Bdi(PhotoTitle(p.file)) + "<span class=\"pos\">" + num + " / " +
         std::to_string(n) + "</span>";
    if (!p.desc.empty()) h += "<span class=\"pdesc\">" + Bdi(p.desc) + "</span>";
    h += "</span>";
    if (p.present) h += NavLink("orig", PhotoHref(a, p), p.kind.empty() ? "打开文件" : "原图");
    h += NavLink("next", k + 1 < n ? "#p" + std::to_string(k + 2) : "", "下一张 ›");
    h += NavLink("close", "#t" + num, "关闭 ×") + "</div>\n</section>\n";
  }
  return h + "</body>\n</html>\n";
}

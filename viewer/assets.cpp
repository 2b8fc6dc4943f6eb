#include "viewer/assets.h"

std::string_view StyleSheet() {
  // Grid tiles and covers have a fixed shape, so the page does not jump while thumbnails come in. The large
  // view is a fixed layer shown for the photo the address names (#p3), which needs no script.
  return R"css(:root{color-scheme:light dark;--bg:#f6f5f2;--fg:#1f1f1f;--muted:#6b6b6b;--card:#fff;--line:#e3e1dc;--link:#b45309;--bad:#dc2626}
@media (prefers-color-scheme:dark){:root{--bg:#19191b;--fg:#ececec;--muted:#a3a3a3;--card:#242428;--line:#3a3a40;--link:#fb923c;--bad:#f87171}}
*{box-sizing:border-box}
body{margin:0;background:var(--bg);color:var(--fg);font:15px/1.5 system-ui,"Noto Sans CJK SC","WenQuanYi Micro Hei",sans-serif}
a{color:inherit}
header.top{padding:24px 32px 4px}
h1{margin:0 0 4px;font-size:26px;line-height:1.25;overflow-wrap:anywhere}
.meta{color:var(--muted);margin:2px 0;font-size:14px}
main{padding:16px 32px 48px}
nav.pager{display:flex;flex-wrap:wrap;gap:18px;font-size:14px;margin-bottom:14px}
nav.pager a{color:var(--link);text-decoration:none}
.off{opacity:.4}
.desc{white-space:pre-line;overflow-wrap:anywhere;margin:6px 0}
.badge{display:inline-block;font-size:12px;line-height:18px;padding:0 6px;border-radius:4px;margin-right:6px;border:1px solid currentColor}
.badge.priv-2{color:#2563eb}.badge.priv-3{color:#7c3aed}.badge.failed{color:var(--bad)}
.reason{color:var(--bad);font-size:13px;margin:4px 0 0;overflow-wrap:anywhere}
.cc{font:11px/1 ui-monospace,monospace;border:1px solid currentColor;border-radius:3px;padding:0 2px;margin:0 1px;opacity:.7}
.empty{color:var(--muted)}
ol.albums{list-style:none;margin:0;padding:0;display:grid;grid-template-columns:repeat(auto-fill,minmax(230px,1fr));gap:20px}
li.album{background:var(--card);border:1px solid var(--line);border-radius:10px;overflow:hidden}
li.album.failed{border-color:var(--bad)}
li.album .cover{display:block;aspect-ratio:4/3;background:var(--line)}
li.album .cover img{display:block;width:100%;height:100%;object-fit:cover}
li.album .about{padding:10px 14px 14px}
li.album h2{font-size:17px;line-height:1.3;margin:0 0 6px;overflow-wrap:anywhere}
li.album h2 a{text-decoration:none}
li.album .desc{display:-webkit-box;-webkit-line-clamp:3;-webkit-box-orient:vertical;overflow:hidden;color:var(--muted);font-size:14px}
ol.grid{list-style:none;margin:0;padding:0;display:grid;grid-template-columns:repeat(auto-fill,minmax(160px,1fr));gap:12px}
.tile a{display:block;text-decoration:none}
.tile img{display:block;width:100%;aspect-ratio:1;object-fit:cover;border-radius:6px;background:var(--line)}
.tile .name{display:block;font-size:13px;margin-top:4px;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
.tile .state{display:block;font-size:12px;color:var(--bad)}
.view{display:none;position:fixed;inset:0;z-index:10;background:#111;color:#eee;flex-direction:column}
.view:target{display:flex}
.view .stage{flex:1;min-height:0;display:flex;align-items:center;justify-content:center;padding:12px}
.view .stage img{max-width:100%;max-height:100%;object-fit:contain}
.view .bar{display:flex;align-items:center;gap:20px;padding:10px 18px;background:#000;font-size:15px}
.view .bar a{color:#fff;text-decoration:none}
.view .caption{flex:1;min-width:0;text-align:center;overflow:hidden;text-overflow:ellipsis;white-space:nowrap}
.view .pos{color:#aaa;margin-left:8px}
.view .pdesc{display:block;white-space:pre-line;overflow-wrap:anywhere;color:#ddd;font-size:14px;max-height:4.5em;overflow-y:auto}
)css";
}

std::string_view KeyboardScript() {
  // Only adds keys to the plain links of the large view: left and right arrows follow its previous and next
  // links, Escape its close link. Reads nothing but the page's own links.
  return R"js('use strict';
document.addEventListener('keydown', function (e) {
  if (e.altKey || e.ctrlKey || e.metaKey || e.shiftKey) return;
  var id = location.hash.slice(1);
  var view = id ? document.getElementById(id) : null;
  if (!view || !view.classList.contains('view')) return;
  var which = null;
  switch (e.key) {
    case 'ArrowLeft': which = 'a.prev'; break;
    case 'ArrowRight': which = 'a.next'; break;
    case 'Escape': which = 'a.close'; break;
    default: return;
  }
  var link = view.querySelector(which);
  if (!link) return;
  e.preventDefault();
  link.click();
});
)js";
}

std::string_view PlaceholderPicture() {
  // A plain grey card with a crossed-out picture: no text, so it needs no font.
  return R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="400" height="300" viewBox="0 0 400 300">
<rect width="400" height="300" fill="#d9d7d2"/>
<g fill="none" stroke="#8d8a83" stroke-width="8" stroke-linejoin="round" stroke-linecap="round">
<rect x="135" y="95" width="130" height="100" rx="8"/>
<path d="M145 185l35-40 25 25 20-18 30 33"/>
<circle cx="232" cy="122" r="9"/>
<path d="M120 80l160 140"/>
</g>
</svg>
)svg";
}

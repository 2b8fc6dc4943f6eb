#include "core/albumpage.h"

#include <cerrno>
#include <stdexcept>

#include "core/textutil.h"

namespace {

constexpr std::string_view kCrLf = "\r\n";

std::string HeadPrefix(std::string_view qqNumber) {
  std::string s =
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
      "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"
      "<html xmlns=\"http://www.w3.org/1999/xhtml\">";
  s += "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" /><title>";
  s += EscapeHtml(qqNumber);
  s += "的QQ相册列表</title>";
  return s;
}

constexpr std::string_view kSimpleHeadEnd =
    "<style>html,body,table{font-size:12px;margin:0px;padding:0px;}</style></head>"
    "<body oncontextmenu=\"window.event.returnValue=false\">";

std::string ThreeLines(std::string_view first, std::string_view second) {
  std::string page;
  page.append(first).append(kCrLf);
  page.append(second).append(kCrLf);
  page.append("</body></html>").append(kCrLf);
  return page;
}

}  // namespace

std::string NoticePage(std::string_view qqNumber, std::string_view message) {
  std::string box =
      "<div style=\"margin:50px auto 0px auto;background-color:#FFFFFF;color:#FF0000;border:1px #FF0000 "
      "solid;padding:10px;font-size:14px;width:150px;\">";
  box += message;
  box += "</div>";
  return ThreeLines(HeadPrefix(qqNumber) + std::string(kSimpleHeadEnd), box);
}

std::string LoadingPage(std::string_view qqNumber) {
  return ThreeLines(
      HeadPrefix(qqNumber) + std::string(kSimpleHeadEnd),
      "<div style=\"margin:50px auto 0px auto;background-color:#FF6600;color:#FFFFFF;padding:10px "
      "2px;font-size:14px;width:150px;\"><marquee behavior=alternate "
      "scrollamount=3>正在获取相册列表...</marquee></div>");
}

std::string PageHeadLine(std::string_view qqNumber) {
  std::string s = HeadPrefix(qqNumber);
  s += "<style>html,body,table{font-size:12px;margin:0px;padding:0px;}a,a:visited{color:#134A8F;text-"
       "decoration:none;}img{border:0px;}a:hover{color:#FF6600;}";
  s += ".albumitem{padding-bottom:5px;margin-bottom:5px;border-bottom:1px dotted "
       "#ccc;background-color:#FFFFFF;}.inp_alm{margin:5px;}.statusdiv{border:1px solid "
       "#A4B5EE;padding:1px;background-color:#FFFFFF;}</style>";
  s += "</head><script language=\"javascript\">function $(obj){return document.getElementById(obj);}function "
       "cmd(obj,str){try{if($(obj)!==null) return eval(str);}finally{}}</script><body";
  s += " oncontextmenu=\"window.event.returnValue=false\"";
  s += ">";
  return s;
}

std::string HeaderLine() {
  return "<div style=\"padding:5px;margin-bottom:10px;border-bottom:1px solid "
         "#666;background-color:#EEE;color:#FF6600;font-size:14px;text-align:center;\">请选择要下载的相册<a "
         "id=\"scrolid\" href=\"#\"></a></div><div style=\"padding:5px;\">";
}

std::string PrivacyMarker(std::string_view priv) {
  if (priv == "2") return "<br />[<span style=\"color:#FF0000;\">密</span>]";
  if (priv == "3") return "<br />[<span style=\"color:#FF0000;\">私</span>]";
  return {};
}

std::string AlbumBlock(int n, const AlbumFields& album, int clientNumber, std::string_view qqNumber) {
  const std::string num = std::to_string(n);
  std::string s;
  s += "<div><a id=\"mao_";
  s += num;
  s += "\" /></div><div id=\"albumdiv_";
  s += num;
  s += "\" class=\"albumitem\"><table border=0 width=\"100%\" id=\"tbl_";
  s += num;
  s += "\"><tr><td align=\"center\"><input type=\"checkbox\" id=\"check_";
  s += num;
  s += "\" name=\"check_";
  s += num;
  s += "\" checked class=\"inp_alm\" />";
  s += PrivacyMarker(album.priv);
  s += "</td><td width=\"99%\"><a href=\"#GOTO1:/";
  s += std::to_string(clientNumber);
  s += "_";
  s += EscapeHtml(qqNumber);
  s += "/photo/";
  s += EscapeHtml(album.id);
  s += "\" id=\"link_";
  s += num;
  s += "\">";
  s += EscapeHtml(album.name);
  s += " (<font color=\"red\">";
  s += EscapeHtml(album.total);
  s += "</font>张)<br /><img src=\"";
  s += EscapeHtml(album.pre);
  s += "\" alt=\"";
  s += EscapeHtml(album.desc);
  s += "\" /></a></td><td align=\"right\"><div class=\"statusdiv\" id=\"status_";
  s += num;
  s += "\"></div><div id=\"ainp_";
  s += num;
  s += "\"></div></td></tr></table></div>";
  return s;
}

void AppendPageLine(std::vector<std::string>& pageLines, std::string_view qqNumber, std::string line) {
  if (pageLines.empty()) pageLines.push_back(PageHeadLine(qqNumber));
  pageLines.push_back(std::move(line));
}

bool FinishAlbumPage(std::vector<std::string>& pageLines, size_t albumCount) {
  if (albumCount == 0) return false;
  pageLines.push_back("</body></html>");
  return true;
}

std::string JoinPageLines(const std::vector<std::string>& lines) {
  std::string text;
  size_t size = 0;
  for (const auto& line : lines) size += line.size() + 2;
  text.reserve(size);
  for (const auto& line : lines) text.append(line).append(kCrLf);
  return text;
}

std::string BuiltInClientPage(std::string_view signInAddress, bool onlinePane) {
  std::string page;
  const auto line = [&page](std::string_view text) { page.append(text).append("\r\n"); };
  line("<!DOCTYPE html>");
  line("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />");
  line("<title>Lorvanta 相册助手</title></head>");
  line("<body style=\"font-family:sans-serif;margin:16px;\">");
  line("<h2>Lorvanta 相册助手</h2>");
  if (!onlinePane) {
    line("<p>相册网站只向登录的用户显示相册：请先用 QQ 登录，再在上面输入 QQ 号码，点“相册预览”。</p>");
    line("<p><a id=\"signin\" href=\"" + EscapeHtml(signInAddress) + "\">用 QQ 登录相册网站</a></p>");
    line("</body></html>");
    return page;
  }
  line("<p>相册网站只向登录的用户显示相册：请先用 QQ 登录，再输入 QQ 号码预览相册。</p>");
  line("<p><a id=\"signin\" href=\"" + EscapeHtml(signInAddress) + "\">用 QQ 登录相册网站</a></p>");
  line(
      "<form id=\"preview\" onsubmit=\"location.hash='TAVRENGOTO:DOWNVELQUAN|'+"
      "document.getElementById('qq').value;return false;\">");
  line(
      "QQ号码：<input id=\"qq\" type=\"text\" size=\"14\" /> <input id=\"go\" type=\"submit\" "
      "value=\"预览相册\" /></form>");
  line("</body></html>");
  return page;
}

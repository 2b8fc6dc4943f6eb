#include "viewer/htmltext.h"

#include <cstdio>

#include "core/textutil.h"
#include "text/utf8.h"

namespace {

// Characters that change how the text around them is shown, or that HTML itself does not allow.
bool ActsOnText(char32_t c) {
  if (c == '\t' || c == '\n' || c == '\r') return false;
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029 || c == 0xFEFF;
}

std::string CodeOf(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

std::string Escaped(std::string_view text, bool attribute) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t i = 0; i < text.size();) {
    // A byte that does not begin a well-formed character is read alone, as U+FFFD.
    const Utf8Char at = Utf8At(text, i);
    const char32_t c = at.length == 0 ? char32_t{0xFFFD} : at.code;
    i += at.length == 0 ? 1 : at.length;
    if (ActsOnText(c)) {
      out += attribute ? "[" + CodeOf(c) + "]" : "<span class=\"cc\">" + CodeOf(c) + "</span>";
    } else if (attribute && (c == '\n' || c == '\r' || c == '\t')) {
      out += ' ';
    } else if (c == '&' || c == '<' || c == '>' || c == '"' || c == '\'') {
      out += EscapeHtml(std::string(1, static_cast<char>(c)));
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

}  // namespace

std::string HtmlText(std::string_view text) {
  return Escaped(text, false);
}

std::string HtmlAttribute(std::string_view text) {
  return Escaped(text, true);
}

std::string HrefComponent(std::string_view name) {
  return PercentEncode(name);
}

std::string PhotoTitle(std::string_view fileName) {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::string(fileName);
  return std::string(fileName.substr(0, dot));
}

// GBK, the code page of the album pane's pages (they declare charset gb2312, and the album services write
// GBK-only characters under that name).
#pragma once

#include <string>
#include <string_view>

// The UTF-8 text in GBK. A character GBK lacks becomes a numeric character reference ("&#128512;"), a byte
// that is not UTF-8 becomes "&#65533;": markup text reaches the page whole in any case. Without a GBK
// converter on the system, every character outside ASCII is written as a reference. Never throws for bad
// text.
std::string EncodeGbk(std::string_view utf8);

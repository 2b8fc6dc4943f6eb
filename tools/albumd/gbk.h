// Text encoding for albumd's replies: the album services answer in GBK while albumd's data is UTF-8.
#pragma once

#include <string>

namespace albumd {

// Converts UTF-8 text to GBK. A character that GBK lacks becomes a numeric character reference such as
// "&#x1F600;", which is how the album services write them. Bytes that are not valid UTF-8 become "?".
std::string Utf8ToGbk(const std::string& utf8);

// True when every character of the UTF-8 text has a GBK code.
bool FitsGbk(const std::string& utf8);

// Escapes the characters that cannot stand as they are in XML or HTML text and attribute values.
std::string EscapeMarkup(const std::string& text);

}  // namespace albumd

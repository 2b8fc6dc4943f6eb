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

// EscapeMarkup for the album services' XML, where control characters are written as numeric references
// so that a line feed or an escape code inside a name is visibly part of the name: C0 controls in
// decimal ("&#10;", "&#9;"), DEL and the C1 controls in hex ("&#x7F;", "&#x9B;"). XML 1.0 has no place
// for C0 controls other than tab, line feed and carriage return, not even as references, so a name
// holding one makes the document malformed, which is what such a name is for.
std::string EscapeXmlText(const std::string& text);

// True when the UTF-8 text holds a C0 or C1 control character or DEL.
bool HasControlCharacters(const std::string& utf8);

}  // namespace albumd

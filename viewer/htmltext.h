// Text from the album service, or a file name read from disk, made safe for the viewer's pages.
//
// Such text is shown as text and nothing else: markup is escaped, bytes that are not UTF-8 become U+FFFD
// (the pages are UTF-8 and must stay so), and the invisible characters that act on the text around them
// (control characters, bidirectional embeddings, overrides and isolates, line and paragraph separators,
// the byte-order mark) are written as a visible code such as "U+202E" instead of being acted on.
#pragma once

#include <string>
#include <string_view>

// For element content: the codes of invisible characters are wrapped in <span class="cc">. Tab, line feed
// and carriage return are kept (they are white space to HTML; a description keeps its line breaks).
std::string HtmlText(std::string_view text);

// For a double-quoted attribute value: the same, the codes without markup, and every line break a space.
std::string HtmlAttribute(std::string_view text);

// One path component (a folder or file name) for a relative href or src: every byte outside
// A-Z a-z 0-9 - . _ ~ percent-encoded, so "#", "?", "%", "/" and spaces can neither end the path nor
// start a query or fragment.
std::string HrefComponent(std::string_view name);

// A file name without its last extension ("春游.JPG" -> "春游"); a name that is only an extension
// (".JPG") or has none comes back whole.
std::string PhotoTitle(std::string_view fileName);

// Small text helpers shared by the page builders, the file namer and the jobs. All text is UTF-8 bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "text/utf8.h"

// Removes bytes 0..32 (blanks and control characters) from both ends.
std::string TrimBlanks(std::string_view text);

// A count as the album service lists it (an album's total): decimal digits and nothing else, within int;
// nullopt for anything else.
std::optional<int> ParseCount(std::string_view text);

// Byte-wise ASCII upper case; other bytes stay as they are.
std::string AsciiUpper(std::string_view text);

// Escapes text for HTML element content and for a quoted attribute value: & < > " ' become entities.
// Text without those five characters comes back byte for byte.
std::string EscapeHtml(std::string_view text);

// Escapes text for the inside of a double-quoted JavaScript string literal: backslash, double quote, line
// breaks (CR, LF, U+2028, U+2029) and the other control characters. Text without them comes
// back byte for byte.
std::string EscapeJsString(std::string_view text);

// text made safe to print on a terminal or into a log: control characters (C0, DEL, C1), bidirectional
// controls, line and paragraph separators and the byte-order mark as \xNN or \uNNNN, a backslash
// doubled, bytes that are not UTF-8 as \xNN. Other text comes back as it is.
std::string EscapeForTerminal(std::string_view text);

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~ so that a value from a reply cannot change the
// structure of a query string it is put into.
std::string PercentEncode(std::string_view text);

// Decodes %XX escapes; a malformed escape stays as it is.
std::string PercentDecode(std::string_view text);

// UTF-8 as the program's text: reading one character, telling whether bytes are UTF-8, cutting between
// characters, and the trip to and from UTF-16 that the JSON values take. One place for all of it, so
// every part of the program agrees on what well-formed means (no overlong forms, no surrogates, nothing
// past U+10FFFF).
#pragma once

#include <string>
#include <string_view>

struct Utf8Char {
  char32_t code = 0;
  size_t length = 0;  // 0: the bytes at that place do not begin a well-formed character
};

// The character that begins at text[i] (i < text.size()).
Utf8Char Utf8At(std::string_view text, size_t i);

// True when text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// At most maxBytes of text, never cutting a character in two.
std::string CutOnCharacter(std::string_view text, size_t maxBytes);

// Appends the UTF-8 bytes of one code point (no checks: callers hand in valid ones).
void AppendUtf8(std::string& out, char32_t code);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string WideToUtf8(std::u16string_view text);
// UTF-8 to UTF-16 (characters beyond U+FFFF as surrogate pairs); a byte that does not begin a well-formed
// character becomes U+FFFD.
std::u16string Utf8ToWide(std::string_view text);

// Quoting for JSON and for the terminal: what reaches a reader must be exactly the name, and what reaches
// a terminal must never act on it.
#include "app/textutil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(JsonQuote, AstralCharactersAsSurrogatePairsOthersAsTheyAre) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", "\"\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\n\r\t\x01\x1f", "\"\\n\\r\\t\\u0001\\u001f\""},
      {"春游", "\"春游\""},                                          // BMP: UTF-8 as it is
      {"\xf0\x9f\x98\x80", "\"\\ud83d\\ude00\""},                    // U+1F600
      {"\xf0\x90\x80\x80", "\"\\ud800\\udc00\""},                    // U+10000, the first
      {"\xf4\x8f\xbf\xbf", "\"\\udbff\\udfff\""},                    // U+10FFFF, the last
      {"a\xffz", "\"a\\ufffdz\""},                                   // not UTF-8: marked
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},                 // an encoded surrogate is not UTF-8
      {"\xf0\x9f\x98", "\"\\ufffd\\ufffd\\ufffd\""},                 // cut short
  };
  for (const auto& c : cases) EXPECT_EQ(JsonQuote(c.in), c.out) << c.in;
  EXPECT_TRUE(IsValidUtf8("春游\xf0\x9f\x98\x80"));
  for (const char* bad : {"\xff", "\xc0\x80", "\xe0\x80\x80", "\xf8\x88\x80\x80\x80", "\xc3"})
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
}

TEST(EscapeForTerminal, ControlsAndInvisibleReorderingAreShownNotActedOn) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"春游 photo.JPG", "春游 photo.JPG"},
      {"a\nb\rc\x1b[2J", "a\\x0ab\\x0dc\\x1b[2J"},
      {"\xc2\x9b" "31m", "\\x9b31m"},                                 // C1 control introducer
      {"gpj.exe\xe2\x80\xae" "abc", "gpj.exe\\u202eabc"},             // right-to-left override
      {"\xe2\x81\xa6x\xe2\x81\xa9", "\\u2066x\\u2069"},                // isolates
      {"\xef\xbb\xbfname", "\\ufeffname"},
      {"back\\slash", "back\\\\slash"},                               // so an escape cannot be faked
      {"bad\xff", "bad\\xff"},
      {"\xe2\x80\x94", "\xe2\x80\x94"},                               // an ordinary dash stays
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeForTerminal(c.in), c.out) << c.in;
}

}  // namespace

#include "text/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf8, WellFormedMeansNoOverlongNoSurrogateNothingPastTheLastCodePoint) {
  EXPECT_TRUE(IsValidUtf8("春游\xf0\x9f\x98\x80"));
  for (const char* bad : {"\xff", "\xc0\x80", "\xe0\x80\x80", "\xf8\x88\x80\x80\x80", "\xc3"})
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
}

TEST(Utf8, CharactersAndTheirLengths) {
  struct Case {
    std::string text;
    char32_t code;
    size_t length;
  } cases[] = {
      {"a", U'a', 1},
      {"\xc3\xa9", 0xE9, 2},
      {"\xe6\x98\xa5", 0x6625, 3},
      {"\xf0\x9f\x98\x80", 0x1F600, 4},
      {"\xc3", 0, 0},
      {"\x80", 0, 0},
      {"\xed\xbf\xbf", 0, 0},      // U+DFFF encoded: a surrogate
      {"\xf4\x90\x80\x80", 0, 0},  // past U+10FFFF
  };
  for (const auto& c : cases) {
    const Utf8Char got = Utf8At(c.text, 0);
    EXPECT_EQ(got.length, c.length) << c.text;
    if (c.length > 0) {
      EXPECT_EQ(got.code, c.code) << c.text;
    }
  }
}

TEST(Utf8, CutsBetweenCharactersOnly) {
  const std::string text = "ab\xe6\x98\xa5\xf0\x9f\x98\x80";  // a b 春 😀
  EXPECT_EQ(CutOnCharacter(text, 100), text);
  EXPECT_EQ(CutOnCharacter(text, 2), "ab");
  EXPECT_EQ(CutOnCharacter(text, 3), "ab");
  EXPECT_EQ(CutOnCharacter(text, 4), "ab");
  EXPECT_EQ(CutOnCharacter(text, 5), "ab\xe6\x98\xa5");
  EXPECT_EQ(CutOnCharacter(text, 8), "ab\xe6\x98\xa5");
  EXPECT_EQ(CutOnCharacter(text, 9), text);
}

TEST(Utf8, ToUtf16AndBack) {
  EXPECT_EQ(Utf8ToWide("\xf0\x9f\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
  EXPECT_EQ(WideToUtf8(std::u16string{0xD83D, 0xDE00}), "\xf0\x9f\x98\x80");
  EXPECT_EQ(Utf8ToWide("a\xffz"), (std::u16string{u'a', 0xFFFD, u'z'}));
  EXPECT_EQ(WideToUtf8(std::u16string{0xD800}), "\xef\xbf\xbd");  // a lone surrogate
}

}  // namespace

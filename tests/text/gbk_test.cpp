#include "text/gbk.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EncodeGbk, ConvertsTextAndWritesMissingCharactersAsReferences) {
  struct Case {
    std::string utf8;
    std::string gbk;
  } cases[] = {
      {"abc<>&\r\n", "abc<>&\r\n"},
      {"相册", "\xCF\xE0\xB2\xE1"},
      {"镕", "\xE9\x46"},  // a GBK-only character (not in GB2312)
      {"€", "\x80"},       // GBK's euro sign
      {"a😀b", "a&#128512;b"},
      {"한", "&#54620;"},
      {"x\xFFy", "x&#65533;y"},          // not UTF-8
      {"\xE7\x9B", "&#65533;&#65533;"},  // cut-off character at the end
      {"", ""},
      {"a\xE4\xB8", "a&#65533;&#65533;"},                // a sequence cut at the end
      {std::string("a\0b", 3), std::string("a\0b", 3)},  // a NUL goes through
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeGbk(c.utf8), c.gbk) << c.utf8;
}

TEST(EncodeGbk, NothingIsLostAtTheConverterBufferSeams) {
  std::string many;
  std::string expected;
  for (int i = 0; i < 10000; ++i) {
    many += (i % 7 == 0) ? "😀" : "中";
    expected += (i % 7 == 0) ? "&#128512;" : "\xD6\xD0";
  }
  EXPECT_EQ(EncodeGbk(many), expected);
}

TEST(EncodeGbk, LongPageConvertsWhole) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "相😀";
  const std::string gbk = EncodeGbk(text);
  EXPECT_EQ(gbk.size(), 20000u * (2 + 9));
  EXPECT_EQ(gbk.substr(0, 11), "\xCF\xE0&#128512;");
}

}  // namespace

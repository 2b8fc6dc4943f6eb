// Text from the album service on the viewer's pages: shown as text, never acted on.
#include "viewer/htmltext.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HtmlText, MarkupQuotesAndInvisibleControlsBecomePlainText) {
  struct Case {
    std::string in, text, attribute;
  } cases[] = {
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;",
       "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"\"quoted\" 'single'", "&quot;quoted&quot; &#39;single&#39;", "&quot;quoted&quot; &#39;single&#39;"},
      {"&amp;", "&amp;amp;", "&amp;amp;"},
      {"a\xe2\x80\xa8"
       "b",
       "a<span class=\"cc\">U+2028</span>b", "a[U+2028]b"},
      {"gpj.exe\xe2\x80\xae"
       "abc",
       "gpj.exe<span class=\"cc\">U+202E</span>abc", "gpj.exe[U+202E]abc"},
      {"\xe2\x81\xa6x\xe2\x81\xa9", "<span class=\"cc\">U+2066</span>x<span class=\"cc\">U+2069</span>",
       "[U+2066]x[U+2069]"},
      {"\xef\xbb\xbfname", "<span class=\"cc\">U+FEFF</span>name", "[U+FEFF]name"},
      {std::string("nul\0x", 5), "nul<span class=\"cc\">U+0000</span>x", "nul[U+0000]x"},
      {"\x1b[2J\xc2\x9b", "<span class=\"cc\">U+001B</span>[2J<span class=\"cc\">U+009B</span>",
       "[U+001B][2J[U+009B]"},
      {"bad\xff\xc0\xaf", "bad\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd",
       "bad\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"line\nbreak\tand tab", "line\nbreak\tand tab", "line break and tab"},
      {"春游 #1 ?% 😀 שלום", "春游 #1 ?% 😀 שלום", "春游 #1 ?% 😀 שלום"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HtmlText(c.in), c.text) << c.in;
    EXPECT_EQ(HtmlAttribute(c.in), c.attribute) << c.in;
  }
}

TEST(HrefComponent, NothingInANameCanEndThePathOrStartAQuery) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"春游", "%E6%98%A5%E6%B8%B8"},
      {"a #1?x=%20&y.jpg", "a%20%231%3Fx%3D%2520%26y.jpg"},
      {"a/b\\c", "a%2Fb%5Cc"},
      {"\"q\" <i>'", "%22q%22%20%3Ci%3E%27"},
      {"javascript:alert(1)", "javascript%3Aalert%281%29"},
      {"Plain-name_1.2~", "Plain-name_1.2~"},
  };
  for (const auto& c : cases) EXPECT_EQ(HrefComponent(c.in), c.out) << c.in;
}

TEST(PhotoTitle, DropsOnlyTheLastExtension) {
  struct Case {
    std::string in, out;
  } cases[] = {{"春游.JPG", "春游"}, {"a.b.png", "a.b"}, {".JPG", ".JPG"}, {"noext", "noext"}, {"x.", "x"}};
  for (const auto& c : cases) EXPECT_EQ(PhotoTitle(c.in), c.out) << c.in;
}

}  // namespace

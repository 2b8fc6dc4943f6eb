// Text for the terminal: what reaches a terminal must never act on it.
#include "core/textutil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EscapeForTerminal, ControlsAndInvisibleReorderingAreShownNotActedOn) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"春游 photo.JPG", "春游 photo.JPG"},
      {"a\nb\rc\x1b[2J", "a\\x0ab\\x0dc\\x1b[2J"},
      {"\xc2\x9b"
       "31m",
       "\\x9b31m"},  // C1 control introducer
      {"gpj.exe\xe2\x80\xae"
       "abc",
       "gpj.exe\\u202eabc"},                             // right-to-left override
      {"\xe2\x81\xa6x\xe2\x81\xa9", "\\u2066x\\u2069"},  // isolates
      {"\xef\xbb\xbfname", "\\ufeffname"},
      {"back\\slash", "back\\\\slash"},  // so an escape cannot be faked
      {"bad\xff", "bad\\xff"},
      {"\xe2\x80\x94", "\xe2\x80\x94"},  // an ordinary dash stays
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeForTerminal(c.in), c.out) << c.in;
}

TEST(TextEscapes, EachEscapesWhatItsPlaceNeedsAndNothingElse) {
  struct Case {
    std::string in, html, js, percent;
  } cases[] = {
      {"plain 春游", "plain 春游", "plain 春游", "plain%20%E6%98%A5%E6%B8%B8"},
      {"<a href=\"x\">&'", "&lt;a href=&quot;x&quot;&gt;&amp;&#39;", "<a href=\\\"x\\\">&'",
       "%3Ca%20href%3D%22x%22%3E%26%27"},
      {"</script>", "&lt;/script&gt;", "</script>", "%3C%2Fscript%3E"},
      {"a\\b\nc\r\x01", "a\\b\nc\r\x01", "a\\\\b\\nc\\r\\x01", "a%5Cb%0Ac%0D%01"},
      {"line\xe2\x80\xa8sep", "line\xe2\x80\xa8sep", "line\\u2028sep", "line%E2%80%A8sep"},
      {"g|h?x=1&y#z", "g|h?x=1&amp;y#z", "g|h?x=1&y#z", "g%7Ch%3Fx%3D1%26y%23z"},
      {"-._~", "-._~", "-._~", "-._~"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeHtml(c.in), c.html) << c.in;
    EXPECT_EQ(EscapeJsString(c.in), c.js) << c.in;
    EXPECT_EQ(PercentEncode(c.in), c.percent) << c.in;
    EXPECT_EQ(PercentDecode(c.percent), c.in) << c.percent;
  }
  EXPECT_EQ(PercentDecode("100%"), "100%");  // a malformed escape stays
  EXPECT_EQ(PercentDecode("%zz%4"), "%zz%4");
  EXPECT_EQ(TrimBlanks(" \t\r\n\x01"
                       "a b\x1f "),
            "a b");
  EXPECT_EQ(TrimBlanks("\xc2\xa0"
                       "a"),
            "\xc2\xa0"
            "a");  // only bytes 0..32 are blanks
  EXPECT_EQ(AsciiUpper("abc春z"), "ABC春Z");
}

}  // namespace

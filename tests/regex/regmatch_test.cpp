// Matcher: one table of searches, then the exec-time errors, the loop stack and the guards.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "regex/regengine.h"

namespace {

const std::optional<std::string> kUnset;  // the group did not take part

struct MatchCase {
  const char* pattern;
  const char* modifiers;
  std::string subject;
  int offset;
  bool matched;
  std::vector<std::optional<std::string>> groups;  // 0 = the whole match; checked when matched
};

const char* kApp = "photoDomainNameCallback\\((.*?)\\)";
const std::string kJson = "{\"domain\":{\"albumlist\":\"alist.photo.qq.com\",\"pic\":[1,2,{\"x\":\"y\"}]}}";
const std::string kCall = "photoDomainNameCallback(" + kJson + ")";

const std::vector<MatchCase>& Cases() {
  static const std::vector<MatchCase> cases = {
      // The application's pattern on route replies.
      {kApp, "", kCall, 1, true, {kCall, kJson}},
      {kApp, "", kCall + ";\r\nfoo(1)", 1, true, {kCall, kJson}},
      {kApp, "", "try{\r\n" + kCall + "\r\n}catch(e){}", 1, true, {kCall, kJson}},
      {kApp, "", "photoDomainNameCallback()", 1, true, {"photoDomainNameCallback()", ""}},
      {kApp, "", "photoDomainNameCallback(" + kJson, 1, false, {}},
      {kApp, "", "photoDomainNameCallback", 1, false, {}},
      {kApp, "", "<html>404 Not Found</html>", 1, false, {}},
      {kApp, "", "", 1, false, {}},

      // Offsets and anchors.
      {"$", "", "abc", 4, true, {""}},
      {"^$", "", "", 1, true, {""}},
      {"^a", "", "aa", 2, false, {}},
      {"a", "", "abab", 2, true, {"a"}},
      {"\\Aab\\Z", "", "ab", 1, true, {"ab"}},
      {"b\\Z", "", "ab\n", 1, false, {}},

      // Multi-line with CR LF pairs.
      {"^b", "m", "a\r\nb", 1, true, {"b"}},
      {"^b", "m", "a\nb", 1, true, {"b"}},
      {"^b", "m", "a\rb", 1, true, {"b"}},
      {"^\\n", "m", "a\r\nb", 1, false, {}},
      {"a$", "m", "a\r\nb", 1, true, {"a"}},
      {"a\\r$", "m", "a\r\nb", 1, false, {}},
      {"^b", "", "a\nb", 1, false, {}},
      {"(?m)b$", "", "ab\ncd", 1, true, {"b"}},
      {"a.b", "-s", "a\nb", 1, false, {}},
      {"a..b", "-s", "a\r\nb", 1, false, {}},
      {"a.b", "-s", "axb", 1, true, {"axb"}},
      {"a.b", "", "a\nb", 1, true, {"a\nb"}},
      {"x.*y", "-s", "x12y\ny", 1, true, {"x12y"}},

      // Groups that do not take part.
      {"(a)|b", "", "b", 1, true, {"b", kUnset}},
      {"(a)?b", "", "b", 1, true, {"b", kUnset}},
      {"b(c)", "", "abc", 1, true, {"bc", "c"}},

      // Classes and ranges.
      {"[a-c]+", "", "xxabcd", 1, true, {"abc"}},
      {"[^a-c]+", "", "abxyz", 1, true, {"xyz"}},
      {"[\\d-z]+", "", "a1-z2", 1, true, {"1-z2"}},
      {"[]a]+", "", "x]a]", 1, true, {"]a]"}},
      {"[a-c]+", "i", "xABC", 1, true, {"ABC"}},
      {"[^a]", "", "a", 1, false, {}},
      {"\\d+", "", "ab123c", 1, true, {"123"}},
      {"\\D+", "", "12ab3", 1, true, {"ab"}},
      {"\\s+", "", "a \t\r\nb", 1, true, {" \t\r\n"}},
      {"\\S+", "", "  ab ", 1, true, {"ab"}},
      {"\\w+", "", "--a_1--", 1, true, {"a_1"}},
      {"\\W+", "", "ab-+c", 1, true, {"-+"}},
      {"\\x00|b", "", "ab", 1, true, {"b"}},
      {"[\\x00b]", "", "ab", 1, true, {"b"}},

      // The Cyrillic range extension.
      {"[\xE0-\xFF]+", "", "\xB8\xE0\xFF", 1, true, {"\xB8\xE0\xFF"}},
      {"[\xE0-\xFF]+", "-r", "\xB8\xE0\xFF", 1, true, {"\xE0\xFF"}},
      {"[\xC0-\xDF]", "", "\xA8", 1, true, {"\xA8"}},
      {"[\xE0-\xDF]+", "", "\xC0\xA8\xE0\xB8", 1, true, {"\xC0\xA8\xE0\xB8"}},
      {"[\xE0-\xDF]+", "i", "\xC0\xA8\xE0\xB8", 1, true, {"\xC0\xA8\xE0\xB8"}},

      // Braces that are literals, braces that count.
      {"a{,3}", "", "xa{,3}", 1, true, {"a{,3}"}},
      {"a{x}", "", "a{x}", 1, true, {"a{x}"}},
      {"a{2,3}", "", "aaaa", 1, true, {"aaa"}},
      {"a{2,3}?", "", "aaaa", 1, true, {"aa"}},
      {"a{2}", "", "a", 1, false, {}},
      {"(ab){2}c", "", "abababc", 1, true, {"ababc", "ab"}},
      {"((ab){2}c){2}", "", "ababcababc", 1, true, {"ababcababc", "ababc", "ab"}},

      // Greedy and lazy.
      {"a+?", "", "aaa", 1, true, {"a"}},
      {"a+", "", "aaa", 1, true, {"aaa"}},
      {"a+", "-g", "aaa", 1, true, {"a"}},
      {"(a+?)b", "", "aaab", 1, true, {"aaab", "aaa"}},
      {"<.+?>", "", "<a><b>", 1, true, {"<a>"}},
      {"<.+>", "", "<a><b>", 1, true, {"<a><b>"}},
      {"(ab)*?c", "", "ababc", 1, true, {"ababc", "ab"}},
      {"(ab)+?", "", "abab", 1, true, {"ab", "ab"}},
      {"(ab)??c", "", "abc", 1, true, {"abc", "ab"}},
      {"((ab)*?c){2}", "", "abcc", 1, true, {"abcc", "c", "ab"}},
      {"(a|ab)(c|bcd)(d*)", "", "abcd", 1, true, {"abcd", "a", "bcd", ""}},
      {"(.*)c", "", "abcbc", 1, true, {"abcbc", "abcb"}},
      {"(.*?)c", "", "abcbc", 1, true, {"abc", "ab"}},

      // Back-references, plain and folded.
      {"(a|b)\\1", "", "xabb", 1, true, {"bb", "b"}},
      {"(\\w+) \\1", "", "hello hello", 1, true, {"hello hello", "hello"}},
      {"(a)\\1", "i", "aA", 1, true, {"aA", "a"}},
      {"(a)\\1", "", "aA", 1, false, {}},
      {"(ab)\\1*abc", "", "abababc", 1, true, {"abababc", "ab"}},
      {"(ab)\\1*?c", "", "abababc", 1, true, {"abababc", "ab"}},
      {"(ab)\\1{2}", "", "abababab", 1, true, {"ababab", "ab"}},
      {"(a*)\\1*b", "", "b", 1, true, {"b", ""}},
      {"(a*)\\1+b", "", "xb", 1, true, {"b", ""}},
      {"(a)|\\1", "", "b", 1, false, {}},

      // Word boundaries.
      {"\\bfoo\\b", "", "a foo b", 1, true, {"foo"}},
      {"\\bfoo\\b", "", "afoo", 1, false, {}},
      {"\\Boo", "", "foo", 1, true, {"oo"}},
      {"\\b", "", "", 1, false, {}},
      {"o\\b", "", "foo", 3, true, {"o"}},

      // Inline modifiers scoped to groups.
      {"(?i)abc", "", "ABC", 1, true, {"ABC"}},
      {"((?i)a)b", "", "Ab", 1, true, {"Ab", "A"}},
      {"((?i)a)b", "", "AB", 1, false, {}},
      {"(?-i)a", "i", "A", 1, false, {}},
      {"a(?i)b|c", "", "C", 1, true, {"C"}},

      // Extended syntax.
      {"a b # note", "x", "ab", 1, true, {"ab"}},
      {"a\\ b", "x", "a b", 1, true, {"a b"}},
      {"[ ]", "x", " ", 1, true, {" "}},

      // Loops whose iteration can consume nothing end that iteration.
      {"(a{0,5})*", "", "b", 1, true, {"", ""}},
      {"(a{0,5})*b", "", "aaaaaaab", 1, true, {"aaaaaaab", ""}},
      {"(a{0,5})*?b", "", "aaab", 1, true, {"aaab", "aaa"}},
      {"(a{0,2}){3}b", "", "b", 1, true, {"b", ""}},
      {"(a{0,2}){2,}x", "", "aaaax", 1, true, {"aaaax", ""}},
      {"(a{0,1}b{0,1})+c", "", "abbc", 1, true, {"abbc", ""}},

      // Alternation order.
      {"cat|dog|bird", "", "a bird", 1, true, {"bird"}},
      {"a|ab", "", "ab", 1, true, {"a"}},
      {"(a|b)*c", "", "ababc", 1, true, {"ababc", "b"}},
  };
  return cases;
}

TEST(RegMatch, TableOfSearches) {
  for (const auto& c : Cases()) {
    SCOPED_TRACE(std::string("pattern: ") + c.pattern + " modifiers: " + c.modifiers +
                 " subject: " + c.subject);
    TRegEngine re;
    re.SetModifierStr(c.modifiers);
    re.SetExpression(c.pattern);
    re.SetInputString(c.subject);
    bool matched = false;
    try {
      matched = re.ExecPos(c.offset);
    } catch (const ERegEngine& e) {
      ADD_FAILURE() << "raised " << e.what();
      continue;
    }
    ASSERT_EQ(matched, c.matched);
    if (!matched) {
      EXPECT_EQ(re.MatchPos(0), -1);
      EXPECT_EQ(re.MatchText(1), "");
      continue;
    }
    for (std::size_t n = 0; n < c.groups.size(); ++n) {
      if (c.groups[n] == kUnset) {
        EXPECT_EQ(re.MatchPos(static_cast<int>(n)), -1) << "group " << n;
        EXPECT_EQ(re.MatchText(static_cast<int>(n)), "") << "group " << n;
      } else {
        EXPECT_EQ(re.MatchText(static_cast<int>(n)), *c.groups[n]) << "group " << n;
      }
    }
  }
}

int ErrorOf(TRegEngine& re, int offset) {
  try {
    re.ExecPos(offset);
  } catch (const ERegEngine& e) {
    EXPECT_EQ(e.ErrorNumber(), re.LastErrorCode());
    return e.ErrorNumber();
  }
  return 0;
}

TEST(RegMatch, OffsetsAndSubjectErrors) {
  TRegEngine re;
  re.SetExpression("a");
  EXPECT_EQ(ErrorOf(re, 1), 1005);
  EXPECT_THROW(re.InputString(), ERegEngine);
  EXPECT_EQ(re.LastErrorCode(), 1008);
  re.SetInputString("abc");
  EXPECT_EQ(ErrorOf(re, 0), 1006);
  EXPECT_EQ(ErrorOf(re, -5), 1006);
  EXPECT_FALSE(re.ExecPos(5));
  try {
    re.ExecPos(0);
  } catch (const ERegEngine& e) {
    EXPECT_STREQ(e.what(), "TRegEngine(exec): Offset Must Be Greater Then 0");
  }
  re.SetExpression("$");
  EXPECT_TRUE(re.ExecPos(4));
  EXPECT_EQ(re.MatchPos(0), 4);
  EXPECT_EQ(re.MatchLen(0), 0);
  EXPECT_EQ(re.InputString(), "abc");
}

TEST(RegMatch, PositionsLengthsAndClearedResults) {
  TRegEngine re;
  re.SetExpression("b(c)(x)?");
  ASSERT_TRUE(re.Exec("abc"));
  EXPECT_EQ(re.MatchPos(0), 2);
  EXPECT_EQ(re.MatchLen(0), 2);
  EXPECT_EQ(re.MatchPos(1), 3);
  EXPECT_EQ(re.MatchLen(1), 1);
  EXPECT_EQ(re.MatchPos(2), -1);
  EXPECT_EQ(re.MatchLen(2), -1);
  for (int n : {-1, 15, 100}) {
    EXPECT_EQ(re.MatchText(n), "");
    EXPECT_EQ(re.MatchPos(n), -1);
  }
  re.SetInputString("abc");
  EXPECT_EQ(re.MatchPos(0), -1) << "a new subject clears the results";
  ASSERT_TRUE(re.ExecPos(1));
  EXPECT_FALSE(re.ExecPos(3));
  EXPECT_EQ(re.MatchText(0), "") << "a failed search leaves no results";
  EXPECT_EQ(re.MatchText(1), "");
}

TEST(RegMatch, ExecNextWalksAllMatches) {
  TRegEngine re;
  re.SetExpression("a*");
  EXPECT_THROW(re.ExecNext(), ERegEngine);
  EXPECT_EQ(re.LastErrorCode(), 1007);
  std::vector<std::pair<int, int>> found;
  for (bool ok = re.Exec("baab"); ok; ok = re.ExecNext()) found.emplace_back(re.MatchPos(0), re.MatchLen(0));
  const std::vector<std::pair<int, int>> expected = {{1, 0}, {2, 2}, {4, 0}, {5, 0}};
  EXPECT_EQ(found, expected);
  EXPECT_THROW(re.ExecNext(), ERegEngine) << "after a failed search there is nothing to continue";
}

// A counted loop that is still open counts against the ten frames; a closed greedy one does not.
TEST(RegMatch, LoopStackLimit) {
  std::string ten, eleven;
  for (int i = 0; i < 10; ++i) ten += "(ab)*?";
  eleven = ten + "(ab)*?";
  TRegEngine re;
  re.SetExpression(ten + "c");
  EXPECT_TRUE(re.Exec("ababc"));
  re.SetExpression(eleven + "c");
  re.SetInputString("c");
  EXPECT_EQ(ErrorOf(re, 1), 1014);
  try {
    re.ExecPos(1);
  } catch (const ERegEngine& e) {
    EXPECT_STREQ(e.what(), "TRegEngine(exec): Loop Stack Exceeded");
  }

  std::string greedy, subject;
  for (int i = 0; i < 11; ++i) {
    greedy += "(ab){1,2}";
    subject += "ab";
  }
  re.SetExpression(greedy);
  EXPECT_TRUE(re.Exec(subject));
  EXPECT_EQ(re.MatchLen(0), 22);

  // Nested open loops: eleven levels deep.
  std::string nested = "a";
  for (int i = 0; i < 11; ++i) nested = "(" + nested + "){1,2}";
  re.SetExpression(nested);
  re.SetInputString("a");
  EXPECT_EQ(ErrorOf(re, 1), 1014);
}

// Patterns whose matcher recursion grows with the subject stop with an error instead of overflowing.
TEST(RegMatch, DeepRecursionRaisesInsteadOfCrashing) {
  // Ends in "c" so the required-literal hint cannot settle the search early.
  const std::string big = std::string(10 * 1024 * 1024, 'a') + "c";
  struct Deep {
    const char* pattern;
    const char* modifiers;
  };
  for (const Deep& d : {Deep{"(a|b)*c", ""}, Deep{".*c", "-s"}, Deep{"(a)+c", ""}, Deep{"(a)*?c", ""}}) {
    TRegEngine re;
    re.SetModifierStr(d.modifiers);
    re.SetExpression(d.pattern);
    re.SetInputString(big);
    int code = ErrorOf(re, 1);
    EXPECT_EQ(code, 1016) << d.pattern;
    EXPECT_EQ(RegErrorText(1016), "TRegEngine(exec): MatchPrim Recursion Too Deep");
    // The object stays usable.
    re.SetExpression("a{3}");
    EXPECT_TRUE(re.Exec("xaaa"));
  }
  // Moderate subjects still work with the recursive forms.
  TRegEngine re;
  re.SetExpression("(a|b)*c");
  std::string moderate(2000, 'a');
  EXPECT_TRUE(re.Exec(moderate + "c"));
  EXPECT_EQ(re.MatchLen(0), 2001);
}

TEST(RegMatch, BigSubjectsWithSimpleRepeats) {
  std::string reply(10 * 1024 * 1024, 'x');
  reply.replace(reply.size() - 40, 30, "photoDomainNameCallback({})");
  TRegEngine re;
  re.SetExpression(kApp);
  ASSERT_TRUE(re.Exec(reply));
  EXPECT_EQ(re.MatchText(1), "{}");
  re.SetExpression("x*y");
  EXPECT_FALSE(re.Exec(std::string(1 << 20, 'x')));
}

TEST(RegMatch, BacktrackingLimit) {
  TRegEngine re;
  re.SetExpression("(a|aa)*b");
  re.SetBacktrackLimit(100000);
  re.SetInputString(std::string(40, 'a') + "cb");
  EXPECT_EQ(ErrorOf(re, 1), 1017);
  EXPECT_EQ(RegErrorText(1017), "TRegEngine(exec): Backtracking Limit Exceeded");
  re.SetInputString("aaab");
  EXPECT_TRUE(re.ExecPos(1));
}

// A back-reference to an empty capture under a repeat must not try 2^31 counts.
TEST(RegMatch, EmptyBackReferenceRepeatIsOneTry) {
  TRegEngine re;
  re.SetExpression("(a*)\\1*\\1+\\1{5,}x");
  re.SetBacktrackLimit(10000);
  EXPECT_FALSE(re.Exec(std::string(2000, 'b')));
  EXPECT_TRUE(re.Exec("bbx"));
}

TEST(RegMatch, LinePairedSeparatorChangesLineRules) {
  TRegEngine re;
  re.SetModifierM(true);
  re.SetExpression("a\\r$");
  EXPECT_FALSE(re.Exec("a\r\nb"));
  re.SetLinePairedSeparator("");
  EXPECT_TRUE(re.Exec("a\r\nb")) << "without the pair the LF alone ends a line";
  re.SetExpression("^\\nb");
  EXPECT_TRUE(re.Exec("a\r\nb"));
}

TEST(RegMatch, CaseInverterIsUsedForFolding) {
  TRegEngine re;
  re.SetCaseInverter([](unsigned char c) -> unsigned char { return c == 'x' ? 'y' : c == 'y' ? 'x' : c; });
  re.SetModifierI(true);
  re.SetExpression("x[x]");
  EXPECT_TRUE(re.Exec("yy"));
  EXPECT_FALSE(re.Exec("XX"));
}

}  // namespace

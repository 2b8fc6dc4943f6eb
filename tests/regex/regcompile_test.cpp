// Compiler: pattern -> node sequence or error, search hints, properties that discard the program.
#include <gtest/gtest.h>

#include <string>

#include "regex/regdump.h"
#include "regex/regengine.h"

namespace {

struct CompileCase {
  const char* pattern;
  const char* modifiers;  // letters as in "(?...)", applied to the object before the build
  const char* outline;    // expected ProgramOutline, or nullptr when an error is expected
  int error = 0;
  const char* message = "";
};

const std::string kApp = "photoDomainNameCallback\\((.*?)\\)";

// Either the outline of the program or "error N: message".
std::string Build(const std::string& pattern, const char* modifiers) {
  TRegEngine re;
  re.SetModifierStr(modifiers);
  re.SetExpression(pattern);
  try {
    re.BuildProgram();
  } catch (const ERegEngine& e) {
    EXPECT_EQ(e.ErrorNumber(), re.LastErrorCode());
    EXPECT_TRUE(re.ProgramBytes().empty()) << "a failed build must leave no program";
    return "error " + std::to_string(e.ErrorNumber()) + ": " + e.what();
  }
  return ProgramOutline(re.ProgramBytes());
}

const CompileCase kCompileCases[] = {
    // The application's own pattern: the run stops at the backslash; ".*?" is a lazy simple star.
    {"photoDomainNameCallback\\((.*?)\\)", "",
     "Alternative Literal[photoDomainNameCallback] Literal[(] GroupOpen1 Alternative StarSimpleLazy AnyChar "
     "GroupClose1 Literal[)] Success"},

    // Literal runs give up their last character to a quantifier.
    {"abc*", "", "Alternative Literal[ab] StarSimple Literal[c] Success"},
    {"abc", "i", "Alternative LiteralFold[abc] Success"},
    {"a|b|", "", "Alternative Literal[a] Alternative Literal[b] Alternative Empty Success"},
    {"\\x00", "", "Alternative SetOf3[\\x00\\x00\\x00] Success"},
    {"\\x{41}\\t", "", "Alternative Literal[A] Literal[\\x09] Success"},

    // Braces: quantifiers, and braces that are literals.
    {"a{2,}", "", "Alternative RepeatSimple[2,2147483646] Literal[a] Success"},
    {"a{2}", "", "Alternative RepeatSimple[2,2] Literal[a] Success"},
    {"a{1,3}?", "", "Alternative RepeatSimpleLazy[1,3] Literal[a] Success"},
    {"a{,3}", "", "Alternative Literal[a] Literal[{,3}] Success"},
    {"a{x}", "", "Alternative Literal[a] Literal[{x}] Success"},
    {"a{2", "", "Alternative Literal[a] Literal[{2] Success"},
    {"(ab){2,3}", "",
     "Alternative LoopEntry GroupOpen1 Alternative Literal[ab] GroupClose1 Loop[2,3 body=11] Success"},
    {"a{3,2}", "", nullptr, 124, "TRegEngine(comp): BRACE Min Param Greater then Max (pos 5)"},
    {"a{123456789}", "", nullptr, 122, "TRegEngine(comp): BRACES Argument Too Big (pos 10)"},
    {"a{12345678}", "", "Alternative RepeatSimple[12345678,12345678] Literal[a] Success"},

    // Quantifier forms over complex atoms.
    {"(ab)*", "",
     "Alternative Alternative GroupOpen1 Alternative Literal[ab] GroupClose1 JumpBack Alternative Empty "
     "Success"},
    {"(ab)+", "",
     "Alternative GroupOpen1 Alternative Literal[ab] GroupClose1 Alternative JumpBack Alternative Empty "
     "Success"},
    {"(ab)*?", "",
     "Alternative LoopEntry GroupOpen1 Alternative Literal[ab] GroupClose1 LoopLazy[0,2147483646 body=11] "
     "Success"},
    {"(ab)?", "",
     "Alternative Alternative GroupOpen1 Alternative Literal[ab] GroupClose1 Alternative Empty Success"},
    {"a?", "", "Alternative Alternative Literal[a] Alternative Empty Success"},
    {"a??", "", "Alternative RepeatSimpleLazy[0,1] Literal[a] Success"},
    {"a*", "-g", "Alternative StarSimpleLazy Literal[a] Success"},
    {"a*?", "-g", "Alternative StarSimpleLazy Literal[a] Success"},
    {"(a*)?", "",
     "Alternative Alternative GroupOpen1 Alternative StarSimple Literal[a] GroupClose1 Alternative Empty "
     "Success"},
    {".*", "-s", "Alternative Alternative AnyButLineBreak JumpBack Alternative Empty Success"},

    // Quantifier errors.
    {"a**", "", nullptr, 107, "TRegEngine(comp): Nested *?+ (pos 2)"},
    {"a{2}{3}", "", nullptr, 107, "TRegEngine(comp): Nested *?+ (pos 4)"},
    {"a+??", "", nullptr, 107, "TRegEngine(comp): Nested *?+ (pos 3)"},
    {"*a", "", nullptr, 115, "TRegEngine(comp): ?+*{ Follows Nothing (pos 1)"},
    {"a|?", "", nullptr, 115, "TRegEngine(comp): ?+*{ Follows Nothing (pos 3)"},
    {"(a*)*", "", nullptr, 106, "TRegEngine(comp): *+ Operand Could Be Empty (pos 4)"},
    {"(a?){2}", "", nullptr, 106, "TRegEngine(comp): *+ Operand Could Be Empty (pos 4)"},
    {"^{x}", "", nullptr, 106, "TRegEngine(comp): *+ Operand Could Be Empty (pos 1)"},
    {"(a{0})*", "", nullptr, 106, "TRegEngine(comp): *+ Operand Could Be Empty (pos 6)"},
    {"(?i)*", "", nullptr, 106, "TRegEngine(comp): *+ Operand Could Be Empty (pos 4)"},

    // Groups.
    {"(((((((((((((((a)))))))))))))))", "", nullptr, 102, "TRegEngine(comp): ParseReg Too Many () (pos 15)"},
    {"a)", "", nullptr, 104, "TRegEngine(comp): ParseReg Unmatched () (pos 1)"},
    {"(a", "", nullptr, 103, "TRegEngine(comp): ParseReg Unmatched () (pos 2)"},
    {"(a)\\1", "", "Alternative GroupOpen1 Alternative Literal[a] GroupClose1 BackRef[1] Success"},
    {"(a)\\1", "i", "Alternative GroupOpen1 Alternative LiteralFold[a] GroupClose1 BackRefFold[1] Success"},

    // Classes.
    {"[]a]", "", "Alternative SetOf3[\\x5Daa] Success"},
    {"[a-]", "", "Alternative SetOf3[-aa] Success"},
    {"[\\d-z]", "", "Alternative SetBitmap[-0123456789z] Success"},
    {"[a-\\d]", "", "Alternative SetBitmap[-0123456789a] Success"},
    {"[\\D]", "", "Alternative SetOf3[DDD] Success"},
    {"[abc]", "", "Alternative SetOf3[abc] Success"},
    {"[abcd]", "", "Alternative SetBitmap[abcd] Success"},
    {"[^a]", "", "Alternative NotSetOf3[aaa] Success"},
    {"[a-b]", "i", "Alternative SetBitmap[ABab] Success"},
    {"[a\\-z]", "", "Alternative SetOf3[-az] Success"},
    {"[\\x41-\\x43]", "", "Alternative SetOf3[-AC] Success"},  // only a plain member starts a range
    {"[A-\\x43]", "", "Alternative SetOf3[ABC] Success"},
    {"[z-a]", "", nullptr, 109, "TRegEngine(comp): Invalid [] Range (pos 4)"},
    {"[", "", nullptr, 113, "TRegEngine(comp): Unmatched [] (pos 1)"},
    {"[^", "", nullptr, 113, "TRegEngine(comp): Unmatched [] (pos 2)"},
    {"[ab", "", nullptr, 113, "TRegEngine(comp): Unmatched [] (pos 3)"},
    {"[a\\", "", nullptr, 110, "TRegEngine(comp): Parse Atom Trailing \\ (pos 3)"},
    {"\\s", "", "Alternative SetBitmap[\\x09\\x0A\\x0C\\x0D ] Success"},
    {"\\w", "i",
     "Alternative SetBitmap[0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz] Success"},

    // The Cyrillic range extension (code page 1251 letters).
    {"[\xE0-\xE1]", "r", "Alternative SetOf3[\\xE0\\xE1\\xE1] Success"},
    {"[\xC0-\xDF]", "-r",
     "Alternative "
     "SetBitmap["
     "\\xC0\\xC1\\xC2\\xC3\\xC4\\xC5\\xC6\\xC7\\xC8\\xC9\\xCA\\xCB\\xCC\\xCD\\xCE\\xCF\\xD0\\xD1\\xD2\\xD3\\x"
     "D4\\xD5\\xD6\\xD7\\xD8\\xD9\\xDA\\xDB\\xDC\\xDD\\xDE\\xDF] Success"},
    {"[\xC0-\xDF]", "r",
     "Alternative "
     "SetBitmap["
     "\\xA8\\xC0\\xC1\\xC2\\xC3\\xC4\\xC5\\xC6\\xC7\\xC8\\xC9\\xCA\\xCB\\xCC\\xCD\\xCE\\xCF\\xD0\\xD1\\xD2\\x"
     "D3\\xD4\\xD5\\xD6\\xD7\\xD8\\xD9\\xDA\\xDB\\xDC\\xDD\\xDE\\xDF] Success"},
    {"[\xE0-\xDF]", "-r", nullptr, 109, "TRegEngine(comp): Invalid [] Range (pos 4)"},

    // Escapes.
    {"a\\", "", nullptr, 116, "TRegEngine(comp): Trailing \\ (pos 2)"},
    {"\\x", "", nullptr, 111, "TRegEngine(comp): No Hex Code After \\x (pos 2)"},
    {"\\x4", "", nullptr, 111, "TRegEngine(comp): No Hex Code After \\x (pos 3)"},
    {"\\x{4", "", nullptr, 111, "TRegEngine(comp): No Hex Code After \\x (pos 4)"},
    {"\\xg1", "", nullptr, 108, "TRegEngine(comp): Bad Hex Digit (pos 2)"},
    {"\\x{100}", "", nullptr, 112, "TRegEngine(comp): Hex Code After \\x Is Too Big (pos 5)"},

    // Anchors and dots by modifier.
    {"^a$", "", "Alternative TextStart Literal[a] TextEnd Success"},
    {"^a$", "m", "Alternative LineStart Literal[a] LineEnd Success"},
    {"\\A\\b\\B\\Z", "m", "Alternative TextStart WordBoundary NotWordBoundary TextEnd Success"},
    {".", "", "Alternative AnyChar Success"},
    {".", "-s", "Alternative AnyButLineBreak Success"},

    // Inline modifiers, comments, extended syntax.
    {"(?i)a", "", "Alternative NoOp LiteralFold[a] Success"},
    {"((?i)a)b", "", "Alternative GroupOpen1 Alternative NoOp LiteralFold[a] GroupClose1 Literal[b] Success"},
    {"(?-i)a", "i", "Alternative NoOp Literal[a] Success"},
    {"(?m-s)^.", "", "Alternative NoOp LineStart AnyButLineBreak Success"},
    {"a(?#note)b", "", "Alternative Literal[a] NoOp Literal[b] Success"},
    {"(?q)", "", nullptr, 127, "TRegEngine(comp): Urecognized Modifier (pos 2)"},
    {"(?i", "", nullptr, 127, "TRegEngine(comp): Urecognized Modifier (pos 2)"},
    {"(?#abc", "", nullptr, 125, "TRegEngine(comp): Unclosed (?#Comment) (pos 6)"},
    {"a b # note", "x", "Alternative Literal[ab] NoOp Success"},
    {"a b # note\n c", "x", "Alternative Literal[ab] NoOp NoOp Literal[c] Success"},
    {"a\\ b", "x", "Alternative Literal[a] Literal[ ] Literal[b] Success"},
    {"[ a]", "x", "Alternative SetOf3[ aa] Success"},
    {"a b", "", "Alternative Literal[a b] Success"},
};

TEST(RegCompile, TableOfPatterns) {
  for (const auto& c : kCompileCases) {
    std::string expected = c.outline ? c.outline : "error " + std::to_string(c.error) + ": " + c.message;
    EXPECT_EQ(Build(c.pattern, c.modifiers), expected)
        << "pattern: " << c.pattern << " modifiers: " << c.modifiers;
  }
}

TEST(RegCompile, FourteenGroupsAreTheLimit) {
  std::string pattern;
  for (int i = 0; i < 14; ++i) pattern += "(";
  pattern += "a";
  for (int i = 0; i < 14; ++i) pattern += ")";
  TRegEngine re;
  re.SetExpression(pattern);
  ASSERT_TRUE(re.Exec("a"));
  EXPECT_EQ(re.MatchText(14), "a");
}

TEST(RegCompile, ProgramBytesFollowTheNodeFormat) {
  TRegEngine re;
  re.SetExpression("a");
  re.BuildProgram();
  // magic; Alternative -> +12; Literal -> +7, "a", NUL; Success with no next node.
  const std::string expected(
      "\xD8\x06\x0C\x00\x00\x00\x08\x07\x00\x00\x00"
      "a\x00\x00\x00\x00\x00\x00",
      18);
  EXPECT_EQ(std::string(re.ProgramBytes()), expected);
}

TEST(RegCompile, ErrorCarriesCodeOffsetAndText) {
  TRegEngine re;
  re.SetExpression("ab(c");
  try {
    re.BuildProgram();
    FAIL() << "no error raised";
  } catch (const ERegEngine& e) {
    EXPECT_EQ(e.ErrorNumber(), 103);
    EXPECT_EQ(e.PatternOffset(), 4);
    EXPECT_STREQ(e.what(), "TRegEngine(comp): ParseReg Unmatched () (pos 4)");
  }
  EXPECT_EQ(re.LastErrorCode(), 103);
  EXPECT_EQ(re.PatternErrorOffset(), 0) << "no build is running any more";
}

TEST(RegCompile, SearchHints) {
  struct Hint {
    const char* pattern;
    int startChar;
    bool anchored;
    const char* required;
  };
  const Hint hints[] = {
      {"photoDomainNameCallback\\((.*?)\\)", 'p', false, ""},
      {"^abc", -1, true, ""},
      {"x*abc", -1, false, "abc"},
      {"\\d+ab\\d+abcd", -1, false, "abcd"},
      {"\\d+abc\\d+xyz", -1, false, "xyz"},  // a later literal of equal length wins
      {"x*abc|d", -1, false, ""},            // two alternatives: no hint
      {"(?i)x*abc", -1, false, ""},          // folded literals give no hint
      {"abc", 'a', false, ""},
  };
  for (const auto& h : hints) {
    TRegEngine re;
    re.SetExpression(h.pattern);
    re.BuildProgram();
    EXPECT_EQ(re.StartCharHint(), h.startChar) << h.pattern;
    EXPECT_EQ(re.AnchoredAtStart(), h.anchored) << h.pattern;
    EXPECT_EQ(re.RequiredLiteral(), h.required) << h.pattern;
  }
}

TEST(RegCompile, ExpressionKeepsOrDiscardsTheProgram) {
  TRegEngine re;
  EXPECT_EQ(re.Expression(), "");
  re.SetExpression("ab");
  re.BuildProgram();
  ASSERT_FALSE(re.ProgramBytes().empty());
  re.SetExpression("ab");
  EXPECT_FALSE(re.ProgramBytes().empty()) << "an equal, compiled text keeps its program";
  re.SetExpression("abc");
  EXPECT_TRUE(re.ProgramBytes().empty());
  EXPECT_EQ(re.Expression(), "abc");
  re.SetExpression(std::string_view("x\0y", 3));
  EXPECT_EQ(re.Expression(), "x") << "a NUL ends the pattern";

  re.SetExpression("");
  EXPECT_TRUE(re.ProgramBytes().empty());
  try {
    re.Exec("abc");
    FAIL() << "a search without expression must raise";
  } catch (const ERegEngine& e) {
    EXPECT_EQ(e.ErrorNumber(), 1003);
    EXPECT_STREQ(e.what(), "TRegEngine(exec): Not Assigned Expression Property");
  }
}

TEST(RegCompile, LinePairedSeparatorRules) {
  TRegEngine re;
  EXPECT_EQ(re.LinePairedSeparator(), "\r\n");
  re.SetExpression("a");
  re.BuildProgram();
  re.SetLinePairedSeparator("\r\n");
  EXPECT_FALSE(re.ProgramBytes().empty()) << "the same pair changes nothing";
  re.SetLinePairedSeparator("ab");
  EXPECT_TRUE(re.ProgramBytes().empty()) << "a new pair discards the program";
  EXPECT_EQ(re.LinePairedSeparator(), "ab");
  re.SetLinePairedSeparator("");
  EXPECT_EQ(re.LinePairedSeparator(), "");
  for (const char* bad : {"aa", "a", "abc"}) {
    try {
      re.SetLinePairedSeparator(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const ERegEngine& e) {
      EXPECT_EQ(e.ErrorNumber(), 128);
      EXPECT_STREQ(e.what(),
                   "TRegEngine(comp): LinePairedSeparator must countain two different chars or no chars at "
                   "all (pos 0)");
    }
  }
  EXPECT_EQ(re.LinePairedSeparator(), "");
}

TEST(RegCompile, ModifiersByIndexLetterAndDefaults) {
  TRegEngine re;
  EXPECT_FALSE(re.ModifierI());
  EXPECT_TRUE(re.ModifierR());
  EXPECT_TRUE(re.ModifierS());
  EXPECT_TRUE(re.ModifierG());
  EXPECT_FALSE(re.ModifierM());
  EXPECT_FALSE(re.ModifierX());
  re.SetModifierStr("IM-sG");
  EXPECT_TRUE(re.ModifierI());
  EXPECT_TRUE(re.ModifierM());
  EXPECT_FALSE(re.ModifierS());
  EXPECT_FALSE(re.ModifierG());
  re.SetModifier(6, true);
  EXPECT_TRUE(re.Modifier(6));
  for (int bad : {0, 7, -1}) {
    try {
      re.SetModifier(bad, true);
      ADD_FAILURE() << "index " << bad;
    } catch (const ERegEngine& e) {
      EXPECT_EQ(e.ErrorNumber(), 1013);
      EXPECT_STREQ(e.what(), "Unknown error");
    }
  }
  EXPECT_THROW(re.SetModifierStr("iq"), ERegEngine);
  EXPECT_TRUE(re.ModifierI()) << "a rejected letter string changes nothing";
  EXPECT_EQ(re.LastErrorCode(), 127);

  // A modifier changed after a build takes effect at the next search.
  TRegEngine r2;
  r2.SetExpression("abc");
  EXPECT_FALSE(r2.Exec("ABC"));
  r2.SetModifierI(true);
  EXPECT_TRUE(r2.Exec("ABC"));
}

TEST(RegCompile, ErrorTextTable) {
  EXPECT_EQ(RegErrorText(0), "No errors");
  EXPECT_EQ(RegErrorText(101), "TRegEngine(comp): Regexp Too Big");
  EXPECT_EQ(RegErrorText(104), RegErrorText(103));
  EXPECT_EQ(RegErrorText(119), "TRegEngine(comp): RarseAtom Internal Disaster");
  EXPECT_EQ(RegErrorText(126),
            "TRegEngine(comp): Braces '{min,max}' and non-greedy ops '*?', '+?', '?"
            "?' for complex cases are "
            "not available in this build");
  EXPECT_EQ(RegErrorText(1011), "TRegEngine(dump): Corrupted Opcode");
  EXPECT_EQ(RegErrorText(1015), "TRegEngine(exec): Loop Without LoopEntry !");
  EXPECT_EQ(RegErrorText(2000), "TRegEngine(misc): Bad p-code imported");
  EXPECT_EQ(RegErrorText(117), "Unknown error");
  EXPECT_EQ(RegErrorText(1013), "Unknown error");
}

TEST(RegCompile, DumpRejectsCorruptedPrograms) {
  for (std::string bad : {std::string(), std::string("\x01", 1), std::string("\xD8\x04\0\0\0\0", 6),
                          std::string("\xD8\x08\0\0\0\0a", 7)}) {
    try {
      DumpProgram(bad);
      ADD_FAILURE() << "accepted a corrupted program of " << bad.size() << " bytes";
    } catch (const ERegEngine& e) {
      EXPECT_EQ(e.ErrorNumber(), 1011);
    }
  }
  TRegEngine re;
  re.SetExpression(kApp);
  re.BuildProgram();
  const std::string dump = DumpProgram(re.ProgramBytes());
  EXPECT_NE(dump.find("   6: Literal next=35 \"photoDomainNameCallback\""), std::string::npos) << dump;
}

}  // namespace

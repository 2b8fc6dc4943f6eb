// Differential check against PCRE2 on random patterns of the syntax both engines share, over random
// subjects and every start offset. Options make PCRE2 follow our defaults: "." matches line breaks (s),
// "$" only at the very end.
#include <gtest/gtest.h>
#include <pcre2.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "regex/regengine.h"

namespace {

class PatternGen {
 public:
  explicit PatternGen(unsigned seed) : rng_(seed) {}

  std::string Pattern() {
    groups_ = 0;
    closed_.clear();
    return Reg(0);
  }

  std::string Subject() {
    static const char kChars[] = "aabbc 1A\n";
    std::string s;
    int len = Pick(12);
    for (int i = 0; i < len; ++i) s += kChars[Pick(sizeof kChars - 1)];
    return s;
  }

  int Groups() const { return groups_; }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  std::string Reg(int depth) {
    std::string r = Sequence(depth);
    while (Pick(4) == 0) r += "|" + Sequence(depth);
    return r;
  }

  std::string Sequence(int depth) {
    std::string s;
    int n = 1 + Pick(3);
    for (int i = 0; i < n; ++i) s += Piece(depth);
    return s;
  }

  std::string Piece(int depth) {
    static const char* kQuant[] = {"",   "",   "",    "*",     "+",     "?",    "*?",
                                   "+?", "??", "{2}", "{1,2}", "{0,2}", "{1,}", "{0,1}?"};
    std::string atom = Atom(depth);
    return atom + kQuant[Pick(sizeof kQuant / sizeof *kQuant)];
  }

  std::string Atom(int depth) {
    switch (Pick(depth < 3 ? 14 : 11)) {
      case 0:
      case 1:
      case 2:
        return std::string(1, "abc"[Pick(3)]);
      case 3:
        return ".";
      case 4:
        return "[ab]";
      case 5:
        return "[^a]";
      case 6:
        return "[a-c1]";
      case 7:
        return Pick(2) ? "\\d" : "\\w";
      case 8:
        return Pick(2) ? "\\s" : "\\W";
      case 9:
        return Pick(3) == 0 ? "^" : Pick(2) ? "$" : "\\b";
      case 10:
        // Only groups already closed: a reference inside its own group is left out of the comparison.
        if (!closed_.empty()) return "\\" + std::to_string(closed_[Pick(static_cast<int>(closed_.size()))]);
        return "a";
      default: {
        if (groups_ >= 9) return "b";
        const int number = ++groups_;
        std::string inner = Reg(depth + 1);
        closed_.push_back(number);
        return "(" + inner + ")";
      }
    }
  }

  std::mt19937 rng_;
  int groups_ = 0;
  std::vector<int> closed_;
};

TEST(RegPcreDiff, RandomPatternsAgreeWithPcre2) {
  // REGEX_DIFF_SEED and REGEX_DIFF_ROUNDS let a longer exploration run from the same test.
  const char* seedText = std::getenv("REGEX_DIFF_SEED");
  const char* roundsText = std::getenv("REGEX_DIFF_ROUNDS");
  PatternGen gen(seedText ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : 20240611u);
  const int rounds = roundsText ? std::atoi(roundsText) : 4000;
  pcre2_match_data* md = pcre2_match_data_create(32, nullptr);
  int compared = 0, skipped = 0, loopLimited = 0;
  for (int round = 0; round < rounds; ++round) {
    const std::string pattern = gen.Pattern();
    const bool fold = round % 5 == 0;
    TRegEngine re;
    re.SetModifierI(fold);
    re.SetExpression(pattern);
    re.SetBacktrackLimit(2'000'000);
    try {
      re.BuildProgram();
    } catch (const ERegEngine& e) {
      // Our compiler refuses repeats of pieces that may match nothing; nothing else may fail here.
      ASSERT_EQ(e.ErrorNumber(), 106) << pattern << ": " << e.what();
      ++skipped;
      continue;
    }
    int err = 0;
    PCRE2_SIZE erroff = 0;
    uint32_t options = PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY | (fold ? PCRE2_CASELESS : 0);
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), pattern.size(), options,
                                     &err, &erroff, nullptr);
    if (!code) {  // e.g. a quantified assertion, which PCRE2 may refuse
      ++skipped;
      continue;
    }
    for (int s = 0; s < 6; ++s) {
      const std::string subject = gen.Subject();
      re.SetInputString(subject);
      for (int offset = 1; offset <= static_cast<int>(subject.size()) + 1; ++offset) {
        bool ours = false;
        try {
          ours = re.ExecPos(offset);
        } catch (const ERegEngine& e) {
          // Open lazy loops count against the ten loop frames, and the step limit cuts long searches:
          // limits of this engine, not mismatches.
          ASSERT_TRUE(e.ErrorNumber() == 1014 || e.ErrorNumber() == 1017) << pattern << ": " << e.what();
          ++loopLimited;
          break;
        }
        const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.c_str()), subject.size(),
                                   offset - 1, 0, md, nullptr);
        ASSERT_TRUE(rc >= 0 || rc == PCRE2_ERROR_NOMATCH) << "PCRE2 error " << rc << " on " << pattern;
        const bool theirs = rc >= 0;
        ASSERT_EQ(ours, theirs) << "pattern " << pattern << (fold ? " (i)" : "") << " subject \"" << subject
                                << "\" offset " << offset;
        ++compared;
        if (!ours) continue;
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
        for (int n = 0; n <= gen.Groups(); ++n) {
          const bool set = n < rc && ov[2 * n] != PCRE2_UNSET;
          const int pos = set ? static_cast<int>(ov[2 * n]) + 1 : -1;
          const int len = set ? static_cast<int>(ov[2 * n + 1] - ov[2 * n]) : -1;
          ASSERT_EQ(re.MatchPos(n), pos) << "group " << n << " pattern " << pattern << " subject \""
                                         << subject << "\" offset " << offset;
          ASSERT_EQ(re.MatchLen(n), len) << "group " << n << " pattern " << pattern << " subject \""
                                         << subject << "\" offset " << offset;
        }
      }
    }
    pcre2_code_free(code);
  }
  pcre2_match_data_free(md);
  EXPECT_GT(compared, rounds * 5);
  EXPECT_LT(skipped, rounds / 2);
  std::printf("compared %d searches, %d patterns skipped, %d subjects hit the loop limit\n", compared,
              skipped, loopLimited);
}

}  // namespace

// TRegEngine: the program's own backtracking regular-expression engine.
//
// One object holds one pattern, the byte program compiled from it, one subject and the results of the
// last search. Text is single-byte; a NUL ends both pattern and subject. Every failure raises ERegEngine.
// The compiler lives in regcompile.cpp, the matcher in regmatch.cpp, the opcode table in regopcodes.h.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Raised for every compile and match failure; the message is ErrorText(code), with " (pos N)" for
// compile errors (codes below 1000).
class ERegEngine : public std::runtime_error {
 public:
  ERegEngine(int code, const std::string& message, int patternOffset)
      : std::runtime_error(message), code_(code), offset_(patternOffset) {}
  int ErrorNumber() const { return code_; }
  int PatternOffset() const { return offset_; }  ///< parse offset at the time of raising, 0 outside a build

 private:
  int code_;
  int offset_;
};

// The engine's text for an error code ("Unknown error" for codes without one).
std::string RegErrorText(int code);

class TRegEngine {
 public:
  using CaseInvertFn = unsigned char (*)(unsigned char);
  static constexpr int kMaxGroups = 14;

  TRegEngine();
  virtual ~TRegEngine() = default;
  // Results point into the object's own subject copy, so an engine is not copied.
  TRegEngine(const TRegEngine&) = delete;
  TRegEngine& operator=(const TRegEngine&) = delete;

  // Pattern. An equal, already compiled text keeps its program; anything else discards it.
  void SetExpression(std::string_view text);
  std::string Expression() const;

  // Modifiers i r s g m x (defaults: r s g on). Index 1..6 in that order; other indexes raise 1013.
  bool Modifier(int index) const;
  void SetModifier(int index, bool on);
  bool ModifierI() const { return Modifier(1); }
  bool ModifierR() const { return Modifier(2); }
  bool ModifierS() const { return Modifier(3); }
  bool ModifierG() const { return Modifier(4); }
  bool ModifierM() const { return Modifier(5); }
  bool ModifierX() const { return Modifier(6); }
  void SetModifierI(bool on) { SetModifier(1, on); }
  void SetModifierR(bool on) { SetModifier(2, on); }
  void SetModifierS(bool on) { SetModifier(3, on); }
  void SetModifierG(bool on) { SetModifier(4, on); }
  void SetModifierM(bool on) { SetModifier(5, on); }
  void SetModifierX(bool on) { SetModifier(6, on); }
  // Letters as inside "(?...)": "i", "-i", "im-sx". An unknown letter raises 127.
  void SetModifierStr(std::string_view letters);

  // Two different characters counted as one line break ("\r\n" by default), or "" for none; else 128.
  void SetLinePairedSeparator(std::string_view pair);
  std::string LinePairedSeparator() const;
  void SetCaseInverter(CaseInvertFn fn);

  // Compile now (a search compiles on demand). No expression: 1003.
  void BuildProgram();
  // Makes sure a program for the current expression and modifiers exists; true when it does.
  bool EnsureProgram();

  // Subject and searches. Offsets are 1-based; offset length + 1 may still find an empty match.
  void SetInputString(std::string_view text);
  std::string InputString() const;  ///< 1008 when none was assigned
  bool Exec(std::string_view text);
  bool ExecPos(int offset);
  // Continues after the last match: from its end, or one character further when it was empty, so the
  // same empty match is never found twice. 1007 without an earlier successful search.
  bool ExecNext();

  // Results of the last search; index 0 is the whole match, n the n-th "(" of the pattern.
  std::string MatchText(int n) const;
  int MatchPos(int n) const;  ///< 1-based, -1 when the group did not take part
  int MatchLen(int n) const;  ///< -1 when the group did not take part

  int LastErrorCode() const { return lastError_; }
  int PatternErrorOffset() const;

  // Search hints of the current program (valid after a build); for debugging and tests.
  int StartCharHint() const { return startChar_; }  ///< -1 when none
  bool AnchoredAtStart() const { return anchored_; }
  std::string RequiredLiteral() const { return requiredLiteral_; }
  // The compiled program (magic byte first), empty when none; regdump.h prints it.
  std::string_view ProgramBytes() const;

  // Guards against searches that would exhaust the stack or run for ever. Each step is one call of the
  // matcher or one continuation tried by a repeat; past the limit a search raises 1017.
  void SetBacktrackLimit(long long steps) { stepLimit_ = steps; }
  long long BacktrackLimit() const { return stepLimit_; }

 protected:
  // Stores the code, builds the message and raises ERegEngine. An override must raise too.
  virtual void RaiseError(int code);
  virtual std::string ErrorText(int code) const;

 private:
  using CharSet = std::array<std::uint64_t, 4>;
  struct LoopFrame {
    int loopNode = 0;                          // the Loop node this frame counts for
    int count = 0;                             // iterations started
    const unsigned char* iterStart = nullptr;  // where the running iteration began
  };
  struct JumpMark;

  [[noreturn]] void Fail(int code);
  void DiscardProgram();

  // Compiler (regcompile.cpp), shaped like the grammar.
  void Compile();
  int ParseReg(bool inGroup, int& flags);
  int ParseSequence(int& flags);
  int ParseQuantified(int& flags);
  int ParseAtom(int& flags);
  int ParseLiteralRun(int& flags);
  int ParseClass();
  int ParseBraceNumber(const char*& p);
  unsigned char EscapeCharValue();
  bool ApplyModifierLetters(std::string_view letters, std::uint32_t& set) const;
  void EmitCounted(int atom, int min, int max, bool lazy, bool simple);
  void EmitClass(const CharSet& set, bool negate);
  int AppendNode(std::uint8_t op);
  void AppendByte(std::uint8_t b);
  void AppendInt(std::int32_t v);
  void InsertNodeBefore(std::uint8_t op, int at, int size);
  void LinkChainEnd(int node, int target);
  void LinkOperandEnd(int node, int target);
  void ComputeHints();
  void CollectStartChars(int node, std::vector<bool>& seen);

  // Matcher (regmatch.cpp).
  bool SearchFrom(int offset);
  bool Attempt(const unsigned char* at);
  bool MatchPrim(int node);
  bool MatchRepeat(int node, int next);
  bool MatchLoop(int node, int next);
  int LoopExitOf(int jumpBack, int target) const;
  bool IterationWasEmpty(int jumpBack) const;
  int RegRepeat(int node, int max);
  bool StackExhausted() const;

  // Pattern and program.
  std::string expression_;
  bool hasExpression_ = false;
  std::vector<std::uint8_t> program_;
  bool compiled_ = false;
  std::uint32_t modifierSet_ = 0;
  std::uint32_t patternModifierSet_ = 0;
  std::uint32_t programModifierSet_ = 0;
  std::string spaceChars_;
  std::string wordChars_;
  std::string lineBreakChars_;
  CharSet wordSet_{};
  CharSet lineBreakSet_{};
  bool pairAssigned_ = false;
  unsigned char pairHead_ = 0, pairTail_ = 0;
  CaseInvertFn caseInverter_;
  mutable int lastError_ = 0;

  // Build-time state.
  bool building_ = false;
  bool sizing_ = false;
  const char* patStart_ = nullptr;
  const char* cur_ = nullptr;
  int groupCount_ = 0;
  int emitPos_ = 0;
  int size_ = 0;

  // Search hints.
  int startChar_ = -1;
  bool anchored_ = false;
  std::string requiredLiteral_;
  CharSet startSet_{};
  bool startSetFull_ = false;

  // Subject and results.
  std::string subject_;
  bool hasSubject_ = false;
  const unsigned char* subStart_[kMaxGroups + 1] = {};
  const unsigned char* subEnd_[kMaxGroups + 1] = {};
  const unsigned char* openStart_[kMaxGroups + 1] = {};  // start of a group still open while matching
  bool anyMatch_ = false;

  // Match-time state.
  const unsigned char* scan_ = nullptr;
  const unsigned char* subjectStart_ = nullptr;
  const unsigned char* subjectEnd_ = nullptr;
  std::array<LoopFrame, 11> loops_{};  // frames 1..10
  int loopDepth_ = 0;
  JumpMark* jumpTrail_ = nullptr;
  long long steps_ = 0;
  long long stepLimit_ = 50'000'000;
  const char* stackFloor_ = nullptr;  // below this address the matcher stops recursing
};

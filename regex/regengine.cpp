// TRegEngine: construction, properties, error reporting and program upkeep.
#include "regex/regengine.h"

#include "regex/regopcodes.h"

namespace {

constexpr std::uint32_t kModI = 1, kModR = 2, kModS = 4, kModG = 8, kModM = 16, kModX = 32;
constexpr std::uint32_t kModifierBits[] = {kModI, kModR, kModS, kModG, kModM, kModX};

// Byte-wise ASCII case swap, the stand-in for the platform's single-character casing.
unsigned char DefaultCaseInvert(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c - 'A' + 'a');
  return c;
}

}  // namespace

std::string RegErrorText(int code) {
  switch (code) {
    case 0:
      return "No errors";
    case 100:
      return "TRegEngine(comp): Null Argument";
    case 101:
      return "TRegEngine(comp): Regexp Too Big";
    case 102:
      return "TRegEngine(comp): ParseReg Too Many ()";
    case 103:
    case 104:
      return "TRegEngine(comp): ParseReg Unmatched ()";
    case 105:
      return "TRegEngine(comp): ParseReg Junk On End";
    case 106:
      return "TRegEngine(comp): *+ Operand Could Be Empty";
    case 107:
      return "TRegEngine(comp): Nested *?+";
    case 108:
      return "TRegEngine(comp): Bad Hex Digit";
    case 109:
      return "TRegEngine(comp): Invalid [] Range";
    case 110:
      return "TRegEngine(comp): Parse Atom Trailing \\";
    case 111:
      return "TRegEngine(comp): No Hex Code After \\x";
    case 112:
      return "TRegEngine(comp): Hex Code After \\x Is Too Big";
    case 113:
      return "TRegEngine(comp): Unmatched []";
    case 114:
      return "TRegEngine(comp): Internal Urp";
    case 115:
      return "TRegEngine(comp): ?+*{ Follows Nothing";
    case 116:
      return "TRegEngine(comp): Trailing \\";
    case 119:
      return "TRegEngine(comp): RarseAtom Internal Disaster";
    case 122:
      return "TRegEngine(comp): BRACES Argument Too Big";
    case 124:
      return "TRegEngine(comp): BRACE Min Param Greater then Max";
    case 125:
      return "TRegEngine(comp): Unclosed (?#Comment)";
    case 126:
      return "TRegEngine(comp): Braces '{min,max}' and non-greedy ops '*?', '+?', '?"
             "?' for complex cases are "
             "not available in this build";
    case 127:
      return "TRegEngine(comp): Urecognized Modifier";
    case 128:
      return "TRegEngine(comp): LinePairedSeparator must countain two different chars or no chars at all";
    case 1000:
      return "TRegEngine(exec): RegRepeat Called Inappropriately";
    case 1001:
      return "TRegEngine(exec): MatchPrim Memory Corruption";
    case 1002:
      return "TRegEngine(exec): MatchPrim Corrupted Pointers";
    case 1003:
      return "TRegEngine(exec): Not Assigned Expression Property";
    case 1004:
      return "TRegEngine(exec): Corrupted Program";
    case 1005:
      return "TRegEngine(exec): No Input String Specified";
    case 1006:
      return "TRegEngine(exec): Offset Must Be Greater Then 0";
    case 1007:
      return "TRegEngine(exec): ExecNext Without Exec[Pos]";
    case 1008:
      return "TRegEngine(exec): GetInputString Without InputString";
    case 1011:
      return "TRegEngine(dump): Corrupted Opcode";
    case 1014:
      return "TRegEngine(exec): Loop Stack Exceeded";
    case 1015:
      return "TRegEngine(exec): Loop Without LoopEntry !";
    // Our own guards: a search that would overflow the stack or backtrack without end stops here.
    case 1016:
      return "TRegEngine(exec): MatchPrim Recursion Too Deep";
    case 1017:
      return "TRegEngine(exec): Backtracking Limit Exceeded";
    case 2000:
      return "TRegEngine(misc): Bad p-code imported";
    default:
      return "Unknown error";
  }
}

TRegEngine::TRegEngine()
    : modifierSet_(kModR | kModS | kModG),
      spaceChars_(" \t\n\r\f"),
      wordChars_("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_"),
      lineBreakChars_("\r\n"),
      caseInverter_(DefaultCaseInvert) {
  for (unsigned char c : wordChars_) wordSet_[c >> 6] |= std::uint64_t(1) << (c & 63);
  SetLinePairedSeparator("\r\n");
}

void TRegEngine::RaiseError(int code) {
  lastError_ = code;
  std::string message = ErrorText(code);
  int offset = PatternErrorOffset();
  if (code < 1000) message += " (pos " + std::to_string(offset) + ")";
  throw ERegEngine(code, message, offset);
}

std::string TRegEngine::ErrorText(int code) const {
  return RegErrorText(code);
}

void TRegEngine::Fail(int code) {
  RaiseError(code);
  // An override that returned would leave the engine mid-operation; raise the plain error instead.
  lastError_ = code;
  throw ERegEngine(code, RegErrorText(code), PatternErrorOffset());
}

int TRegEngine::PatternErrorOffset() const {
  return building_ && cur_ && patStart_ ? static_cast<int>(cur_ - patStart_) : 0;
}

void TRegEngine::DiscardProgram() {
  program_.clear();
  startChar_ = -1;
  anchored_ = false;
  requiredLiteral_.clear();
}

void TRegEngine::SetExpression(std::string_view text) {
  // A NUL ends the pattern.
  text = text.substr(0, text.find('\0'));
  if (hasExpression_ && compiled_ && text == expression_) return;
  compiled_ = false;
  expression_.assign(text);
  hasExpression_ = !text.empty();
  DiscardProgram();
}

std::string TRegEngine::Expression() const {
  return hasExpression_ ? expression_ : std::string();
}

bool TRegEngine::Modifier(int index) const {
  if (index < 1 || index > 6) {
    const_cast<TRegEngine*>(this)->Fail(1013);
  }
  return (modifierSet_ & kModifierBits[index - 1]) != 0;
}

void TRegEngine::SetModifier(int index, bool on) {
  if (index < 1 || index > 6) Fail(1013);
  if (on)
    modifierSet_ |= kModifierBits[index - 1];
  else
    modifierSet_ &= ~kModifierBits[index - 1];
}

void TRegEngine::SetModifierStr(std::string_view letters) {
  std::uint32_t set = modifierSet_;
  if (!ApplyModifierLetters(letters, set)) Fail(127);
  modifierSet_ = set;
}

bool TRegEngine::ApplyModifierLetters(std::string_view letters, std::uint32_t& set) const {
  bool off = false;
  std::uint32_t result = set;
  for (char ch : letters) {
    std::uint32_t bit = 0;
    switch (ch | 0x20) {
      case 'i':
        bit = kModI;
        break;
      case 'r':
        bit = kModR;
        break;
      case 's':
        bit = kModS;
        break;
      case 'g':
        bit = kModG;
        break;
      case 'm':
        bit = kModM;
        break;
      case 'x':
        bit = kModX;
        break;
      default:
        if (ch != '-') return false;
        off = true;
        continue;
    }
    if (off)
      result &= ~bit;
    else
      result |= bit;
  }
  set = result;
  return true;
}

void TRegEngine::SetLinePairedSeparator(std::string_view pair) {
  if (pair.empty()) {
    if (!pairAssigned_) return;
    pairAssigned_ = false;
  } else if (pair.size() == 2 && pair[0] != pair[1]) {
    auto head = static_cast<unsigned char>(pair[0]), tail = static_cast<unsigned char>(pair[1]);
    if (pairAssigned_ && head == pairHead_ && tail == pairTail_) return;
    pairAssigned_ = true;
    pairHead_ = head;
    pairTail_ = tail;
  } else {
    Fail(128);
  }
  compiled_ = false;
  DiscardProgram();
}

std::string TRegEngine::LinePairedSeparator() const {
  return pairAssigned_ ? std::string{char(pairHead_), char(pairTail_)} : std::string();
}

void TRegEngine::SetCaseInverter(CaseInvertFn fn) {
  caseInverter_ = fn ? fn : DefaultCaseInvert;
  compiled_ = false;
  DiscardProgram();  // folded classes bake the inverted forms in
}

void TRegEngine::BuildProgram() {
  if (!hasExpression_) Fail(1003);
  Compile();
}

bool TRegEngine::EnsureProgram() {
  if (!program_.empty() && modifierSet_ != programModifierSet_) DiscardProgram();
  lineBreakSet_ = {};
  for (unsigned char c : lineBreakChars_) lineBreakSet_[c >> 6] |= std::uint64_t(1) << (c & 63);
  if (program_.empty()) BuildProgram();
  if (program_.empty() || program_[0] != regop::kProgramMagic) Fail(1004);
  return true;
}

std::string_view TRegEngine::ProgramBytes() const {
  return {reinterpret_cast<const char*>(program_.data()), program_.size()};
}

void TRegEngine::SetInputString(std::string_view text) {
  for (int i = 0; i <= kMaxGroups; ++i) subStart_[i] = subEnd_[i] = nullptr;
  anyMatch_ = false;
  subject_.assign(text.substr(0, text.find('\0')));
  hasSubject_ = true;
}

std::string TRegEngine::InputString() const {
  if (!hasSubject_) const_cast<TRegEngine*>(this)->Fail(1008);
  return subject_;
}

std::string TRegEngine::MatchText(int n) const {
  if (n < 0 || n > kMaxGroups || !hasSubject_ || !subStart_[n] || !subEnd_[n]) return {};
  if (subEnd_[n] < subStart_[n]) return {};
  return std::string(reinterpret_cast<const char*>(subStart_[n]), subEnd_[n] - subStart_[n]);
}

int TRegEngine::MatchPos(int n) const {
  if (n < 0 || n > kMaxGroups || !hasSubject_ || !subStart_[n] || !subEnd_[n]) return -1;
  return static_cast<int>(subStart_[n] - reinterpret_cast<const unsigned char*>(subject_.data())) + 1;
}

int TRegEngine::MatchLen(int n) const {
  if (n < 0 || n > kMaxGroups || !hasSubject_ || !subStart_[n] || !subEnd_[n]) return -1;
  return subEnd_[n] < subStart_[n] ? 0 : static_cast<int>(subEnd_[n] - subStart_[n]);
}

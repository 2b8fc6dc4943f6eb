// TRegEngine compiler: pattern text -> byte program (see regopcodes.h), in two passes.
//
// The first pass only counts bytes, the second writes into a buffer of exactly that size. The parse
// functions follow the grammar:
//   reg       := sequence ( "|" sequence )*
//   sequence  := quantified*
//   quantified:= atom ( "*" | "+" | "?" | "{" min [ "," [ max ] ] "}" ) [ "?" ]
//   atom      := literal-run | "." | "^" | "$" | "[" class "]" | "\" escape | "(" reg ")" | "(?" ... ")"
// Every parse step returns the position of the first node it emitted and a set of flags about the piece.
#include <array>
#include <cstring>

#include "regex/regengine.h"
#include "regex/regopcodes.h"
#include "text/hex.h"

using namespace regop;

namespace {

constexpr std::uint32_t kModI = 1, kModR = 2, kModS = 4, kModG = 8, kModM = 16, kModX = 32;

// Parse flags of a piece.
constexpr int kNonEmpty = 1;    // never matches the empty string
constexpr int kSingleChar = 2;  // one node that matches exactly one character
constexpr int kStartsRep = 4;   // starts with a repetition (enables the required-literal hint)

constexpr const char* kMeta = "^$.[()|?+*\\{";

// Lookup table: literal runs test every pattern character against the metacharacters.
constexpr auto kMetaTable = [] {
  std::array<bool, 256> t{};
  for (const char* p = kMeta; *p; ++p) t[static_cast<unsigned char>(*p)] = true;
  return t;
}();

bool IsMeta(char c) {
  return kMetaTable[static_cast<unsigned char>(c)];
}
bool IsQuantifier(char c) {
  return c == '*' || c == '+' || c == '?' || c == '{';
}
bool IsExtSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

// One build of expression_ into program_; on any error no program is left.
void TRegEngine::Compile() {
  DiscardProgram();
  compiled_ = false;
  if (!hasExpression_) Fail(100);
  building_ = true;
  try {
    programModifierSet_ = patternModifierSet_ = modifierSet_;
    patStart_ = cur_ = expression_.c_str();

    // Sizing pass.
    sizing_ = true;
    groupCount_ = 1;
    size_ = 0;
    emitPos_ = 0;
    int flags = 0;
    AppendByte(kProgramMagic);
    ParseReg(false, flags);

    // Writing pass.
    sizing_ = false;
    program_.assign(size_, 0);
    patternModifierSet_ = modifierSet_;
    cur_ = patStart_;
    groupCount_ = 1;
    emitPos_ = 0;
    AppendByte(kProgramMagic);
    ParseReg(false, flags);
    if (emitPos_ != size_) Fail(114);  // the passes disagree: a compiler bug, never a bad pattern

    ComputeHints();
    if (program_[1] == Alternative && ReadInt(&program_[2]) != 0 &&
        program_[1 + ReadInt(&program_[2])] == Success && (flags & kStartsRep)) {
      // Longest literal along the top-level chain; a later one of equal length wins.
      for (int node = 1 + kNodeHeader; node != 0;) {
        std::uint8_t op = program_[node];
        if (op == Literal) {
          std::size_t len = std::strlen(reinterpret_cast<const char*>(&program_[node + kNodeHeader]));
          if (len >= requiredLiteral_.size() && len > 0)
            requiredLiteral_.assign(reinterpret_cast<const char*>(&program_[node + kNodeHeader]), len);
        }
        if (op == Success) break;
        std::int32_t off = ReadInt(&program_[node + 1]);
        node = off == 0 ? 0 : node + off;
      }
    }
  } catch (...) {
    // Any failure of the build leaves no program behind; the error itself goes on to the caller.
    building_ = false;
    sizing_ = false;
    DiscardProgram();
    compiled_ = false;
    patStart_ = cur_ = nullptr;
    throw;
  }
  building_ = false;
  patStart_ = cur_ = nullptr;
  compiled_ = true;
}

// Start character, anchoring and the start-character set of a fresh program.
void TRegEngine::ComputeHints() {
  startChar_ = -1;
  anchored_ = false;
  requiredLiteral_.clear();
  startSet_ = {};
  std::vector<bool> seen(program_.size(), false);
  CollectStartChars(1, seen);
  startSetFull_ = true;
  for (auto w : startSet_) startSetFull_ = startSetFull_ && w == ~std::uint64_t(0);

  std::int32_t off = ReadInt(&program_[2]);
  if (program_[1] == Alternative && off != 0 && program_[1 + off] == Success) {
    int first = 1 + kNodeHeader;
    if (program_[first] == Literal)
      startChar_ = program_[first + kNodeHeader];
    else if (program_[first] == TextStart)
      anchored_ = true;
  }
}

// Adds to startSet_ every character a match along this chain can begin with. Nodes already visited are
// skipped: loops lead back to themselves, and a node seen once has given all it can.
void TRegEngine::CollectStartChars(int node, std::vector<bool>& seen) {
  auto add = [this](unsigned c) { startSet_[c >> 6] |= std::uint64_t(1) << (c & 63); };
  auto addAll = [this] { startSet_.fill(~std::uint64_t(0)); };
  while (node > 0 && node < static_cast<int>(program_.size())) {
    if (seen[node]) return;
    seen[node] = true;
    std::uint8_t op = program_[node];
    std::int32_t off = ReadInt(&program_[node + 1]);
    int next = off == 0 ? 0 : node + off;
    const std::uint8_t* operand = &program_[node + kNodeHeader];
    switch (op) {
      case Success:
      case AnyChar:
      case BackRef:
      case BackRefFold:
      case AnyButLineBreak:
        addAll();
        return;
      case TextEnd:
        add(0);
        return;
      case LineEnd:
        // Also the line breaks (and the pair's head), whatever modifiers the object has now: an inline
        // "(?m)" makes this node without the object's m.
        add(0);
        for (unsigned char c : lineBreakChars_) add(c);
        if (pairAssigned_) add(pairHead_);
        return;
      case Alternative:
        if (next && program_[next] == Alternative) {
          for (int alt = node; alt && program_[alt] == Alternative;) {
            seen[alt] = true;
            CollectStartChars(alt + kNodeHeader, seen);
            std::int32_t o = ReadInt(&program_[alt + 1]);
            alt = o == 0 ? 0 : alt + o;
          }
          return;
        }
        next = node + kNodeHeader;
        break;
      case Literal:
        add(operand[0]);
        return;
      case LiteralFold:
        add(operand[0]);
        add(caseInverter_(operand[0]));
        return;
      case StarSimple:
      case StarSimpleLazy:
        CollectStartChars(node + kNodeHeader, seen);
        break;
      case PlusSimple:
      case PlusSimpleLazy:
        CollectStartChars(node + kNodeHeader, seen);
        return;
      case RepeatSimple:
      case RepeatSimpleLazy:
        CollectStartChars(node + kRepeatHeader, seen);
        if (ReadInt(operand) > 0) return;
        break;
      case Loop:
      case LoopLazy:
        CollectStartChars(node + ReadInt(operand + 8), seen);
        // A body that can match nothing lets the rest of the pattern begin the match even with a
        // minimum above 0 ("(a{0,2}){2}b" matches "b"), so the rest always contributes.
        break;
      case Digit:
        for (unsigned c = '0'; c <= '9'; ++c) add(c);
        return;
      case NonDigit:
        for (unsigned c = 0; c < 256; ++c)
          if (c < '0' || c > '9') add(c);
        return;
      case SetOf3:
        for (int i = 0; i < 3; ++i) add(operand[i]);
        return;
      case NotSetOf3:
        for (unsigned c = 0; c < 256; ++c)
          if (c != operand[0] && c != operand[1] && c != operand[2]) add(c);
        return;
      case SetBitmap:
        for (unsigned c = 0; c < 256; ++c)
          if (operand[c >> 3] & (1u << (c & 7))) add(c);
        return;
      case TextStart:
      case JumpBack:
      case Empty:
      case NoOp:
      case LineStart:
      case WordBoundary:
      case NotWordBoundary:
      case LoopEntry:
        break;
      default:
        if (IsGroupOpen(op) || IsGroupClose(op)) break;
        Fail(1001);
    }
    node = next;
  }
}

// --- Node plumbing. In the sizing pass these only count. ---

int TRegEngine::AppendNode(std::uint8_t op) {
  int at = emitPos_;
  if (sizing_) {
    size_ += kNodeHeader;
  } else {
    program_[at] = op;
    WriteInt(&program_[at + 1], 0);
  }
  emitPos_ += kNodeHeader;
  return at;
}

void TRegEngine::AppendByte(std::uint8_t b) {
  if (sizing_)
    ++size_;
  else
    program_[emitPos_] = b;
  ++emitPos_;
}

void TRegEngine::AppendInt(std::int32_t v) {
  if (sizing_)
    size_ += 4;
  else
    WriteInt(&program_[emitPos_], v);
  emitPos_ += 4;
}

// Moves everything from `at` up by `size` bytes and puts a zeroed node of `op` there. Links are relative,
// so the moved nodes stay linked among themselves.
void TRegEngine::InsertNodeBefore(std::uint8_t op, int at, int size) {
  if (sizing_) {
    size_ += size;
  } else {
    std::memmove(&program_[at + size], &program_[at], emitPos_ - at);
    std::memset(&program_[at], 0, size);
    program_[at] = op;
  }
  emitPos_ += size;
}

void TRegEngine::LinkChainEnd(int node, int target) {
  if (sizing_) return;
  for (;;) {
    std::int32_t off = ReadInt(&program_[node + 1]);
    if (off == 0) break;
    node += off;
  }
  WriteInt(&program_[node + 1], target - node);
}

void TRegEngine::LinkOperandEnd(int node, int target) {
  if (sizing_ || program_[node] != Alternative) return;
  LinkChainEnd(node + kNodeHeader, target);
}

// --- The grammar. ---

// A sequence of alternatives: the whole pattern, or the inside of a group.
int TRegEngine::ParseReg(bool inGroup, int& flags) {
  const std::uint32_t savedModifiers = patternModifierSet_;
  int ret = 0, groupNo = 0;
  if (inGroup) {
    if (groupCount_ >= 15) Fail(102);
    groupNo = groupCount_++;
    ret = AppendNode(static_cast<std::uint8_t>(GroupOpenBase + groupNo));
  }
  int f = 0;
  int branch = ParseSequence(f);
  if (ret)
    LinkChainEnd(ret, branch);
  else
    ret = branch;
  flags = f & (kNonEmpty | kStartsRep);
  while (*cur_ == '|') {
    ++cur_;
    branch = ParseSequence(f);
    LinkChainEnd(ret, branch);
    if (!(f & kNonEmpty)) flags &= ~kNonEmpty;
    flags |= f & kStartsRep;
  }
  int ender =
      AppendNode(inGroup ? static_cast<std::uint8_t>(GroupCloseBase + groupNo) : std::uint8_t{Success});
  LinkChainEnd(ret, ender);
  if (!sizing_) {
    for (int node = ret; node;) {
      LinkOperandEnd(node, ender);
      std::int32_t off = ReadInt(&program_[node + 1]);
      node = off == 0 ? 0 : node + off;
      if (node == ender) break;
    }
  }
  if (inGroup) {
    if (*cur_ != ')') Fail(103);
    ++cur_;
  } else if (*cur_ != '\0') {
    Fail(*cur_ == ')' ? 104 : 105);
  }
  patternModifierSet_ = savedModifiers;
  return ret;
}

// One alternative: quantified atoms up to "|", ")" or the end.
int TRegEngine::ParseSequence(int& flags) {
  flags = 0;
  int ret = AppendNode(Alternative);
  int chain = 0;
  while (*cur_ != '\0' && *cur_ != '|' && *cur_ != ')') {
    int f = 0;
    int latest = ParseQuantified(f);
    flags |= f & kNonEmpty;
    if (chain == 0)
      flags |= f & kStartsRep;
    else
      LinkChainEnd(chain, latest);
    chain = latest;
  }
  if (chain == 0) AppendNode(Empty);
  return ret;
}

// One atom and the quantifier that may follow it.
int TRegEngine::ParseQuantified(int& flags) {
  int atomFlags = 0;
  int ret = ParseAtom(atomFlags);
  char op = *cur_;
  if (!IsQuantifier(op)) {
    flags = atomFlags;
    return ret;
  }
  if (op != '?' && !(atomFlags & kNonEmpty)) Fail(106);

  const bool simple = (atomFlags & kSingleChar) != 0;
  const char* after = cur_ + 1;  // the character after the quantifier
  int min = 0, max = 0;
  if (op == '{') {
    const char* p = cur_ + 1;
    const char* digits = p;
    min = ParseBraceNumber(p);
    if (p == digits || (*p != '}' && *p != ',')) {
      flags = atomFlags;  // no quantifier: the "{" starts the next literal
      return ret;
    }
    max = min;
    if (*p == ',') {
      ++p;
      const char* maxDigits = p;
      max = ParseBraceNumber(p);
      if (p == maxDigits) max = kUnbounded;
      if (*p != '}') {
        flags = atomFlags;
        return ret;
      }
    }
    if (max < min) {
      cur_ = p;
      Fail(124);
    }
    after = p + 1;
  }
  const bool lazyMark = *after == '?';
  const bool lazy = lazyMark || !(patternModifierSet_ & kModG);

  switch (op) {
    case '*':
      flags = kStartsRep;
      if (simple) {
        InsertNodeBefore(lazy ? StarSimpleLazy : StarSimple, ret, kNodeHeader);
      } else if (lazy) {
        EmitCounted(ret, 0, kUnbounded, true, false);
      } else {
        InsertNodeBefore(Alternative, ret, kNodeHeader);  // either the atom, then back
        int back = AppendNode(JumpBack);
        LinkOperandEnd(ret, back);
        LinkOperandEnd(ret, ret);
        LinkChainEnd(ret, AppendNode(Alternative));  // or nothing
        LinkChainEnd(ret, AppendNode(Empty));
      }
      break;
    case '+':
      flags = kNonEmpty | kStartsRep;
      if (simple) {
        InsertNodeBefore(lazy ? PlusSimpleLazy : PlusSimple, ret, kNodeHeader);
      } else if (lazy) {
        EmitCounted(ret, 1, kUnbounded, true, false);
      } else {
        int again = AppendNode(Alternative);  // after the atom: either once more
        LinkChainEnd(ret, again);
        int back = AppendNode(JumpBack);
        LinkChainEnd(back, ret);
        LinkChainEnd(again, AppendNode(Alternative));  // or on
        LinkChainEnd(ret, AppendNode(Empty));
      }
      break;
    case '?':
      flags = 0;
      if (lazy) {
        EmitCounted(ret, 0, 1, true, simple);
      } else {
        InsertNodeBefore(Alternative, ret, kNodeHeader);  // either the atom
        LinkChainEnd(ret, AppendNode(Alternative));       // or nothing
        int nothing = AppendNode(Empty);
        LinkChainEnd(ret, nothing);
        LinkOperandEnd(ret, nothing);
      }
      break;
    default:  // braces
      flags = max > 0 ? kNonEmpty | kStartsRep : 0;
      EmitCounted(ret, min, max, lazy, simple);
      cur_ = after - 1;  // on the "}"
      break;
  }
  cur_ = after;
  if (lazyMark) ++cur_;
  if (IsQuantifier(*cur_)) Fail(107);
  return ret;
}

// A repeat node in front of a single-character atom, or a counted loop around a complex one.
void TRegEngine::EmitCounted(int atom, int min, int max, bool lazy, bool simple) {
  if (simple) {
    InsertNodeBefore(lazy ? RepeatSimpleLazy : RepeatSimple, atom, kRepeatHeader);
    if (!sizing_) {
      WriteInt(&program_[atom + kNodeHeader], min);
      WriteInt(&program_[atom + kNodeHeader + 4], max);
    }
    return;
  }
  InsertNodeBefore(LoopEntry, atom, kNodeHeader);
  const int body = atom + kNodeHeader;
  int loop = AppendNode(lazy ? LoopLazy : Loop);
  AppendInt(min);
  AppendInt(max);
  AppendInt(body - loop);
  LinkChainEnd(atom, loop);  // the LoopEntry
  LinkChainEnd(body, loop);  // the body comes back to the Loop
}

// Decimal digits of a brace quantifier, at most 8 of them.
int TRegEngine::ParseBraceNumber(const char*& p) {
  int value = 0, digits = 0;
  while (*p >= '0' && *p <= '9') {
    if (++digits > 8) {
      cur_ = p;
      Fail(122);
    }
    value = value * 10 + (*p - '0');
    ++p;
  }
  return value;
}

// The value of the escape whose letter is at the cursor; leaves the cursor after it.
unsigned char TRegEngine::EscapeCharValue() {
  char e = *cur_;
  switch (e) {
    case 'a':
      ++cur_;
      return 7;
    case 'e':
      ++cur_;
      return 27;
    case 'f':
      ++cur_;
      return 12;
    case 'n':
      ++cur_;
      return 10;
    case 'r':
      ++cur_;
      return 13;
    case 't':
      ++cur_;
      return 9;
    case 'x': {
      ++cur_;
      if (*cur_ == '\0') Fail(111);
      if (*cur_ == '{') {
        ++cur_;
        int value = 0;
        while (*cur_ != '}') {
          if (*cur_ == '\0') Fail(111);
          int h = HexDigitValue(*cur_);
          if (h < 0) Fail(108);
          value = value * 16 + h;
          if (value > 255) Fail(112);
          ++cur_;
        }
        ++cur_;
        return static_cast<unsigned char>(value);
      }
      int hi = HexDigitValue(*cur_);
      if (hi < 0) Fail(108);
      ++cur_;
      if (*cur_ == '\0') Fail(111);
      int lo = HexDigitValue(*cur_);
      if (lo < 0) Fail(108);
      ++cur_;
      return static_cast<unsigned char>(hi * 16 + lo);
    }
    default:
      ++cur_;
      return static_cast<unsigned char>(e);
  }
}

// One atom: a literal run, a class, an escape, a group, an anchor or a modifier/comment group.
int TRegEngine::ParseAtom(int& flags) {
  flags = 0;
  char c = *cur_;
  if (c == '\0' || c == '|' || c == ')') Fail(114);
  if (c != '^' && c != '$' && c != '.' && c != '(' && c != '[' && c != '\\' && c != '*' && c != '+' &&
      c != '?')
    return ParseLiteralRun(flags);
  ++cur_;
  const bool multiLine = (patternModifierSet_ & kModM) && (!lineBreakChars_.empty() || pairAssigned_);
  switch (c) {
    case '*':
    case '+':
    case '?':
      Fail(115);
    case '^':
      return AppendNode(multiLine ? LineStart : TextStart);
    case '$':
      return AppendNode(multiLine ? LineEnd : TextEnd);
    case '.':
      if (patternModifierSet_ & kModS) {
        flags = kNonEmpty | kSingleChar;
        return AppendNode(AnyChar);
      }
      flags = kNonEmpty;
      return AppendNode(AnyButLineBreak);
    case '(':
      if (*cur_ == '?') {
        ++cur_;
        if (*cur_ == '#') {
          while (*cur_ != ')') {
            if (*cur_ == '\0') Fail(125);
            ++cur_;
          }
          ++cur_;
          return AppendNode(NoOp);
        }
        const char* close = std::strchr(cur_, ')');
        if (!close || !ApplyModifierLetters(std::string_view(cur_, close - cur_), patternModifierSet_))
          Fail(127);
        cur_ = close + 1;
        return AppendNode(NoOp);
      } else {
        int f = 0;
        int ret = ParseReg(true, f);
        flags = f & (kNonEmpty | kStartsRep);
        return ret;
      }
    case '[':
      flags = kNonEmpty | kSingleChar;
      return ParseClass();
    default:
      break;  // backslash
  }

  char e = *cur_;
  if (e == '\0') Fail(116);
  const bool fold = (patternModifierSet_ & kModI) != 0;
  switch (e) {
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
      ++cur_;
      flags = kNonEmpty | kSingleChar;
      int ret = AppendNode(fold ? BackRefFold : BackRef);
      AppendByte(static_cast<std::uint8_t>(e - '0'));
      return ret;
    }
    case 'A':
      ++cur_;
      return AppendNode(TextStart);
    case 'Z':
      ++cur_;
      return AppendNode(TextEnd);
    case 'b':
      ++cur_;
      return AppendNode(WordBoundary);
    case 'B':
      ++cur_;
      return AppendNode(NotWordBoundary);
    case 'd':
    case 'D':
      ++cur_;
      flags = kNonEmpty | kSingleChar;
      return AppendNode(e == 'd' ? Digit : NonDigit);
    case 's':
    case 'S':
    case 'w':
    case 'W': {
      ++cur_;
      flags = kNonEmpty | kSingleChar;
      CharSet set{};
      for (unsigned char ch : (e == 's' || e == 'S') ? spaceChars_ : wordChars_)
        set[ch >> 6] |= std::uint64_t(1) << (ch & 63);
      int ret = emitPos_;
      EmitClass(set, e == 'S' || e == 'W');
      return ret;
    }
    default: {
      unsigned char v = EscapeCharValue();
      flags = kNonEmpty | kSingleChar;
      if (v == 0) {
        // NUL ends the subject and so takes part in no match: a set that accepts nothing.
        int ret = AppendNode(SetOf3);
        AppendByte(0);
        AppendByte(0);
        AppendByte(0);
        return ret;
      }
      int ret = AppendNode(fold ? LiteralFold : Literal);
      AppendByte(v);
      AppendByte(0);
      return ret;
    }
  }
}

// A run of ordinary characters as one Literal; under x also whitespace and comments.
int TRegEngine::ParseLiteralRun(int& flags) {
  const bool extended = (patternModifierSet_ & kModX) != 0;
  if (extended && (IsExtSpace(*cur_) || *cur_ == '#')) {
    if (*cur_ == '#') {
      while (*cur_ != '\0' && *cur_ != '\n' && *cur_ != '\r') ++cur_;
      while (*cur_ == '\n' || *cur_ == '\r') ++cur_;
    } else {
      while (IsExtSpace(*cur_)) ++cur_;
    }
    flags = 0;
    return AppendNode(NoOp);
  }
  int len = 0;
  while (cur_[len] != '\0' && !IsMeta(cur_[len])) ++len;
  if (len == 0) {
    if (*cur_ != '{') Fail(119);
    len = 1;  // a "{" that was no quantifier, with what follows it
    while (cur_[len] != '\0' && !IsMeta(cur_[len])) ++len;
  }
  if (extended) {
    // A "#" ends the run; it starts a comment that the next atom skips.
    for (int i = 1; i < len; ++i)
      if (cur_[i] == '#') {
        len = i;
        break;
      }
  }
  if (len > 1 && IsQuantifier(cur_[len])) --len;  // the quantifier takes the last character alone
  int ret = AppendNode((patternModifierSet_ & kModI) ? LiteralFold : Literal);
  int emitted = 0;
  for (int i = 0; i < len; ++i) {
    if (extended && IsExtSpace(cur_[i])) continue;
    AppendByte(static_cast<std::uint8_t>(cur_[i]));
    ++emitted;
  }
  AppendByte(0);
  cur_ += len;
  flags = kNonEmpty | (emitted == 1 ? kSingleChar : 0);
  return ret;
}

// "[...]" after the "[": collects the members in a set and emits SetOf3/NotSetOf3 or SetBitmap.
int TRegEngine::ParseClass() {
  CharSet set{};
  const bool fold = (patternModifierSet_ & kModI) != 0;
  const bool cyrillic = (patternModifierSet_ & kModR) != 0;
  auto add = [&](unsigned char ch) {
    set[ch >> 6] |= std::uint64_t(1) << (ch & 63);
    if (fold) {
      unsigned char inv = caseInverter_(ch);
      set[inv >> 6] |= std::uint64_t(1) << (inv & 63);
    }
  };
  auto addString = [&](const std::string& s) {
    for (unsigned char ch : s) add(ch);
  };

  int ret = emitPos_;
  bool negate = false;
  if (*cur_ == '^') {
    negate = true;
    ++cur_;
  }
  bool havePrev = false;  // the previous item was a plain member, which may start a range
  unsigned char prev = 0;
  if (*cur_ == ']') {
    add(']');
    havePrev = true;
    prev = ']';
    ++cur_;
  }
  while (*cur_ != '\0' && *cur_ != ']') {
    if (*cur_ == '-' && havePrev && cur_[1] != ']' && cur_[1] != '\0') {
      if (cur_[1] == '\\' && cur_[2] != '\0' && std::strchr("dDsSwW", cur_[2])) {
        add('-');
        ++cur_;
        havePrev = false;
        continue;
      }
      ++cur_;
      unsigned char end;
      if (*cur_ == '\\') {
        ++cur_;
        if (*cur_ == '\0') Fail(110);
        end = EscapeCharValue();
      } else {
        end = static_cast<unsigned char>(*cur_++);
      }
      unsigned char start = prev;
      bool cyrLower = cyrillic && start == 0xE0 && end == 0xFF;
      bool cyrUpper = cyrillic && start == 0xC0 && end == 0xDF;
      bool cyrBoth = cyrillic && start == 0xE0 && end == 0xDF;
      if (cyrLower || cyrBoth) {
        for (unsigned ch = 0xE0; ch <= 0xFF; ++ch) add(static_cast<unsigned char>(ch));
        add(0xB8);
      }
      if (cyrUpper || cyrBoth) {
        for (unsigned ch = 0xC0; ch <= 0xDF; ++ch) add(static_cast<unsigned char>(ch));
        add(0xA8);
      }
      if (!cyrLower && !cyrUpper && !cyrBoth) {
        if (end < start) Fail(109);
        for (unsigned ch = start; ch <= end; ++ch) add(static_cast<unsigned char>(ch));
      }
      havePrev = false;
      continue;
    }
    if (*cur_ == '\\') {
      ++cur_;
      if (*cur_ == '\0') Fail(110);
      char e = *cur_;
      if (e == 'd') {
        for (char ch = '0'; ch <= '9'; ++ch) add(static_cast<unsigned char>(ch));
        ++cur_;
      } else if (e == 's') {
        addString(spaceChars_);
        ++cur_;
      } else if (e == 'w') {
        addString(wordChars_);
        ++cur_;
      } else {
        add(EscapeCharValue());
      }
      havePrev = false;
      continue;
    }
    prev = static_cast<unsigned char>(*cur_++);
    add(prev);
    havePrev = true;
  }
  if (*cur_ != ']') Fail(113);
  ++cur_;
  EmitClass(set, negate);
  return ret;
}

// SetOf3/NotSetOf3 for 1..3 members (ascending, the highest repeated), SetBitmap otherwise.
void TRegEngine::EmitClass(const CharSet& set, bool negate) {
  unsigned char members[3] = {0, 0, 0};
  int count = 0;
  for (unsigned ch = 0; ch < 256; ++ch)
    if (set[ch >> 6] >> (ch & 63) & 1) {
      if (count < 3) members[count] = static_cast<unsigned char>(ch);
      ++count;
    }
  if (count >= 1 && count <= 3) {
    AppendNode(negate ? NotSetOf3 : SetOf3);
    for (int i = 0; i < 3; ++i) AppendByte(members[i < count ? i : count - 1]);
    return;
  }
  AppendNode(SetBitmap);
  for (int byte = 0; byte < 32; ++byte) {
    unsigned bits = static_cast<unsigned>(set[byte >> 3] >> ((byte & 7) * 8)) & 0xFF;
    AppendByte(static_cast<std::uint8_t>(negate ? ~bits : bits));
  }
}

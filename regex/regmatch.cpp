// TRegEngine matcher: runs a compiled program (regopcodes.h) over the subject.
//
// MatchPrim is continuation-style: a call returns true only when the whole rest of the pattern matched.
// Whatever a node changes (scan position, group bounds, loop frames) it puts back before returning false,
// so a failed branch leaves no trace and callers need not save state around each try.
//
// Two guards keep a search finite: the recursion stops (error 1016) before the stack runs out, measured
// against the real stack of the calling thread, and the number of steps is capped (error 1017).
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "regex/regengine.h"
#include "regex/regopcodes.h"

using namespace regop;

namespace {

// Room kept free below the matcher's deepest frame for callees, signal handlers and sanitizer reports.
constexpr std::size_t kStackReserve = 256 * 1024;
// Used when the thread's stack cannot be determined.
constexpr std::size_t kFallbackStackBudget = 512 * 1024;

// Lowest usable address of the calling thread's stack, computed once per thread.
const char* ThreadStackLow() {
  thread_local const char* low = [] {
    pthread_attr_t attr;
    const char* result = nullptr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      void* addr = nullptr;
      std::size_t size = 0;
      if (pthread_attr_getstack(&attr, &addr, &size) == 0 && addr) result = static_cast<const char*>(addr);
      pthread_attr_destroy(&attr);
    }
    return result;
  }();
  return low;
}

inline bool InSet(const std::uint8_t* bitmap, unsigned char c) {
  return bitmap[c >> 3] & (1u << (c & 7));
}

}  // namespace

// The matcher's trail of loop-back points, to spot a loop iteration that consumed nothing.
struct TRegEngine::JumpMark {
  int node;
  const unsigned char* pos;
  JumpMark* prev;
};

bool TRegEngine::Exec(std::string_view text) {
  SetInputString(text);
  return SearchFrom(1);
}

bool TRegEngine::ExecPos(int offset) {
  return SearchFrom(offset);
}

bool TRegEngine::ExecNext() {
  if (!hasSubject_ || !anyMatch_ || !subStart_[0] || !subEnd_[0]) Fail(1007);
  auto base = reinterpret_cast<const unsigned char*>(subject_.data());
  int offset = static_cast<int>(subEnd_[0] - base) + 1;
  if (subEnd_[0] == subStart_[0]) ++offset;
  return SearchFrom(offset);
}

// The frame address, not a local's: sanitizers may move locals onto a separate fake stack.
bool TRegEngine::StackExhausted() const {
  return static_cast<const char*>(__builtin_frame_address(0)) < stackFloor_;
}

bool TRegEngine::SearchFrom(int offset) {
  for (int i = 0; i <= kMaxGroups; ++i) subStart_[i] = subEnd_[i] = nullptr;
  anyMatch_ = false;
  if (!EnsureProgram()) return false;
  if (!hasSubject_) Fail(1005);
  if (offset < 1) Fail(1006);
  const auto length = static_cast<long long>(subject_.size());
  if (offset > length + 1) return false;

  subjectStart_ = reinterpret_cast<const unsigned char*>(subject_.c_str());
  subjectEnd_ = subjectStart_ + length;
  const unsigned char* start = subjectStart_ + offset - 1;

  if (!requiredLiteral_.empty()) {
    std::string_view rest(reinterpret_cast<const char*>(start), subjectEnd_ - start);
    if (rest.find(requiredLiteral_) == std::string_view::npos) return false;
  }

  loopDepth_ = 0;
  jumpTrail_ = nullptr;
  steps_ = 0;
  const char* here = static_cast<const char*>(__builtin_frame_address(0));
  const char* low = ThreadStackLow();
  if (low && here > low + kStackReserve) {
    stackFloor_ = low + kStackReserve;
  } else {
    auto top = reinterpret_cast<std::uintptr_t>(here);
    stackFloor_ = reinterpret_cast<const char*>(top > kFallbackStackBudget ? top - kFallbackStackBudget : 0);
  }

  bool found = false;
  if (anchored_) {
    found = Attempt(start);
  } else if (startChar_ >= 0) {
    for (const unsigned char* p = start; p < subjectEnd_;) {
      p = static_cast<const unsigned char*>(std::memchr(p, startChar_, subjectEnd_ - p));
      if (!p) break;
      if (Attempt(p)) {
        found = true;
        break;
      }
      ++p;
    }
  } else {
    for (const unsigned char* p = start; p <= subjectEnd_; ++p) {
      if (!startSetFull_ && !(startSet_[*p >> 6] >> (*p & 63) & 1)) continue;
      if (Attempt(p)) {
        found = true;
        break;
      }
    }
  }
  if (!found)
    for (int i = 0; i <= kMaxGroups; ++i) subStart_[i] = subEnd_[i] = nullptr;
  anyMatch_ = found;
  return found;
}

bool TRegEngine::Attempt(const unsigned char* at) {
  scan_ = at;
  if (!MatchPrim(1)) return false;
  subStart_[0] = at;
  subEnd_[0] = scan_;
  return true;
}

bool TRegEngine::MatchPrim(int node) {
  if (++steps_ > stepLimit_) Fail(1017);
  if (StackExhausted()) Fail(1016);
  const std::uint8_t* prog = program_.data();
  const int progSize = static_cast<int>(program_.size());
  for (;;) {
    if (node <= 0 || node + kNodeHeader > progSize) Fail(1002);
    const std::uint8_t op = prog[node];
    const std::int32_t off = ReadInt(prog + node + 1);
    const int next = off == 0 ? 0 : node + off;
    const std::uint8_t* operand = prog + node + kNodeHeader;
    const unsigned char c = *scan_;
    switch (op) {
      case Success:
        return true;
      case TextStart:
        if (scan_ != subjectStart_) return false;
        break;
      case TextEnd:
        if (c != 0) return false;
        break;
      case AnyChar:
        if (c == 0) return false;
        ++scan_;
        break;
      case Alternative: {
        if (next == 0 || prog[next] != Alternative) {
          node += kNodeHeader;  // no choice to make: straight into the body
          continue;
        }
        const unsigned char* save = scan_;
        for (int alt = node; alt != 0 && prog[alt] == Alternative;) {
          if (MatchPrim(alt + kNodeHeader)) return true;
          scan_ = save;
          std::int32_t o = ReadInt(prog + alt + 1);
          alt = o == 0 ? 0 : alt + o;
        }
        return false;
      }
      case Literal: {
        const unsigned char* s = scan_;
        for (const std::uint8_t* p = operand; *p; ++p, ++s)
          if (*s != *p) return false;
        scan_ = s;
        break;
      }
      case LiteralFold: {
        const unsigned char* s = scan_;
        for (const std::uint8_t* p = operand; *p; ++p, ++s)
          if (*s == 0 || (*s != *p && *s != caseInverter_(*p))) return false;
        scan_ = s;
        break;
      }
      case Digit:
        if (c < '0' || c > '9') return false;
        ++scan_;
        break;
      case NonDigit:
        if (c == 0 || (c >= '0' && c <= '9')) return false;
        ++scan_;
        break;
      case SetOf3:
        if (c == 0 || (c != operand[0] && c != operand[1] && c != operand[2])) return false;
        ++scan_;
        break;
      case NotSetOf3:
        if (c == 0 || c == operand[0] || c == operand[1] || c == operand[2]) return false;
        ++scan_;
        break;
      case SetBitmap:
        if (c == 0 || !InSet(operand, c)) return false;
        ++scan_;
        break;
      case BackRef:
      case BackRefFold: {
        int n = operand[0];
        if (n < 1 || n > kMaxGroups) Fail(1001);
        const unsigned char *from = subStart_[n], *to = subEnd_[n];
        if (!from || !to) return false;
        if (to < from) return false;
        auto len = to - from;
        if (subjectEnd_ - scan_ < len) return false;
        if (op == BackRef) {
          if (std::memcmp(scan_, from, len) != 0) return false;
        } else {
          for (decltype(len) i = 0; i < len; ++i)
            if (scan_[i] != from[i] && scan_[i] != caseInverter_(from[i])) return false;
        }
        scan_ += len;
        break;
      }
      case JumpBack: {
        // Back to the start of a loop. If nothing was consumed since this loop last came back here, one
        // more round would find the same state again: the iteration ends and the loop is left.
        if (IterationWasEmpty(node)) {
          const int exit = LoopExitOf(node, next);
          return exit != 0 && MatchPrim(exit);
        }
        for (JumpMark* m = jumpTrail_; m; m = m->prev)
          if (m->node == node) {
            if (m->pos != scan_) break;
            const int exit = LoopExitOf(node, next);
            return exit != 0 && MatchPrim(exit);
          }
        JumpMark mark{node, scan_, jumpTrail_};
        jumpTrail_ = &mark;
        bool ok = MatchPrim(next);
        jumpTrail_ = mark.prev;
        return ok;
      }
      case Empty:
      case NoOp:
        break;
      case LineStart:
        if (scan_ != subjectStart_) {
          const unsigned char p = scan_[-1];
          bool afterPair =
              pairAssigned_ && scan_ - subjectStart_ >= 2 && scan_[-2] == pairHead_ && p == pairTail_;
          if (!afterPair) {
            if (pairAssigned_ && p == pairHead_ && c == pairTail_) return false;
            if (!(lineBreakSet_[p >> 6] >> (p & 63) & 1)) return false;
          }
        }
        break;
      case LineEnd:
        if (c != 0) {
          bool atPair = pairAssigned_ && c == pairHead_ && scan_[1] == pairTail_;
          if (!atPair) {
            if (pairAssigned_ && c == pairTail_ && scan_ > subjectStart_ && scan_[-1] == pairHead_)
              return false;
            if (!(lineBreakSet_[c >> 6] >> (c & 63) & 1)) return false;
          }
        }
        break;
      case AnyButLineBreak:
        if (c == 0) return false;
        if (pairAssigned_ && c == pairHead_ && scan_[1] == pairTail_) return false;
        if (lineBreakSet_[c >> 6] >> (c & 63) & 1) return false;
        ++scan_;
        break;
      case WordBoundary:
      case NotWordBoundary: {
        bool before = scan_ != subjectStart_ && (wordSet_[scan_[-1] >> 6] >> (scan_[-1] & 63) & 1);
        bool after = c != 0 && (wordSet_[c >> 6] >> (c & 63) & 1);
        if ((before != after) != (op == WordBoundary)) return false;
        break;
      }
      case StarSimple:
      case PlusSimple:
      case RepeatSimple:
      case StarSimpleLazy:
      case PlusSimpleLazy:
      case RepeatSimpleLazy:
        return MatchRepeat(node, next);
      case LoopEntry: {
        if (loopDepth_ >= 10) Fail(1014);
        const int depth = loopDepth_ + 1;
        const LoopFrame saved = loops_[depth];
        loops_[depth] = LoopFrame{next, 0, scan_};
        loopDepth_ = depth;
        const unsigned char* save = scan_;
        bool ok = MatchPrim(next);
        loopDepth_ = depth - 1;
        loops_[depth] = saved;
        if (!ok) scan_ = save;
        return ok;
      }
      case Loop:
      case LoopLazy:
        return MatchLoop(node, next);
      default:
        if (IsGroupOpen(op)) {
          // The start stays pending until the group closes, so that a back-reference inside a repeated
          // group still sees the previous complete capture.
          const int n = op - GroupOpenBase;
          const unsigned char* saved = openStart_[n];
          openStart_[n] = scan_;
          if (MatchPrim(next)) return true;
          openStart_[n] = saved;
          return false;
        }
        if (IsGroupClose(op)) {
          const int n = op - GroupCloseBase;
          const unsigned char *savedStart = subStart_[n], *savedEnd = subEnd_[n];
          subStart_[n] = openStart_[n];
          subEnd_[n] = scan_;
          if (MatchPrim(next)) return true;
          subStart_[n] = savedStart;
          subEnd_[n] = savedEnd;
          return false;
        }
        Fail(1001);
    }
    node = next;
  }
}

// Where a loop built from alternatives continues once it is done. "x*" is
//   A1(x JumpBack->A1) A2(Empty) ...   and "x+" is   x B1(JumpBack->x) B2(Empty) ...
// so the exit is the body of A2 (found through the JumpBack's target) or of B2 (the JumpBack is B1's body).
int TRegEngine::LoopExitOf(int jumpBack, int target) const {
  const std::uint8_t* prog = program_.data();
  auto nextOf = [prog](int node) {
    std::int32_t off = ReadInt(prog + node + 1);
    return off == 0 ? 0 : node + off;
  };
  if (target > 0 && prog[target] == Alternative) {
    int second = nextOf(target);
    if (second && prog[second] == Alternative) return second + kNodeHeader;
  }
  const int owner = jumpBack - kNodeHeader;
  if (owner > 0 && prog[owner] == Alternative) {
    int second = nextOf(owner);
    if (second && prog[second] == Alternative) return second + kNodeHeader;
  }
  return 0;
}

// True when the group that forms this loop's body has just captured nothing here: the loop's last
// iteration consumed nothing. The group's GroupClose is stored right before the JumpBack ("x*"), or right
// before the Alternative that holds it ("x+").
bool TRegEngine::IterationWasEmpty(int jumpBack) const {
  const std::uint8_t* prog = program_.data();
  int close = jumpBack - kNodeHeader;
  if (close > 0 && prog[close] == Alternative) close -= kNodeHeader;
  if (close <= 0 || !IsGroupClose(prog[close])) return false;
  const int n = prog[close] - GroupCloseBase;
  return subEnd_[n] == scan_ && subStart_[n] == scan_;
}

// The simple repeats: count the run of the single-character operand once, then try the rest of the
// pattern after each count (greedy: longest first), only where the following literal can start.
bool TRegEngine::MatchRepeat(int node, int next) {
  const std::uint8_t* prog = program_.data();
  const std::uint8_t op = prog[node];
  int min = 0, max = 2147483647, operandNode = node + kNodeHeader;
  if (op == PlusSimple || op == PlusSimpleLazy) min = 1;
  if (op == RepeatSimple || op == RepeatSimpleLazy) {
    min = ReadInt(prog + node + kNodeHeader);
    max = ReadInt(prog + node + kNodeHeader + 4);
    operandNode = node + kRepeatHeader;
  }
  const bool lazy = op == StarSimpleLazy || op == PlusSimpleLazy || op == RepeatSimpleLazy;
  if (next <= 0 || next >= static_cast<int>(program_.size())) Fail(1002);
  const int follow = prog[next] == Literal ? prog[next + kNodeHeader] : -1;

  // Width of one count: one character, or the captured text for a back-reference.
  long long width = 1;
  const std::uint8_t operandOp = prog[operandNode];
  if (operandOp == BackRef || operandOp == BackRefFold) {
    int g = prog[operandNode + kNodeHeader];
    if (g >= 1 && g <= kMaxGroups && subStart_[g] && subEnd_[g] && subEnd_[g] >= subStart_[g])
      width = subEnd_[g] - subStart_[g];
  }
  const unsigned char* const s = scan_;
  const int n = RegRepeat(operandNode, max);
  if (n < min) {
    scan_ = s;
    return false;
  }
  if (width == 0) {
    // Copies of an empty capture: every count lands on the same spot, so one try stands for all.
    scan_ = s;
    if (follow < 0 || *s == follow) {
      if (MatchPrim(next)) return true;
    }
    scan_ = s;
    return false;
  }
  if (lazy) {
    for (long long i = min; i <= n; ++i) {
      const unsigned char* at = s + i * width;
      if (follow >= 0 && *at != follow) {
        if (width == 1) {
          // Jump to the next place where the following literal starts.
          const void* hit = std::memchr(at, follow, (s + n) - at + 1);
          if (!hit) break;
          i = static_cast<const unsigned char*>(hit) - s;
          at = s + i;
        } else {
          continue;
        }
      }
      scan_ = at;
      if (++steps_ > stepLimit_) Fail(1017);
      if (MatchPrim(next)) return true;
    }
  } else {
    for (long long i = n; i >= min; --i) {
      const unsigned char* at = s + i * width;
      if (follow >= 0 && *at != follow) {
        if (width == 1) {
          const unsigned char* lo = s + min;
          const void* hit = memrchr(lo, follow, at - lo);
          if (!hit) break;
          i = static_cast<const unsigned char*>(hit) - s;
          at = s + i;
        } else {
          continue;
        }
      }
      scan_ = at;
      if (++steps_ > stepLimit_) Fail(1017);
      if (MatchPrim(next)) return true;
    }
  }
  scan_ = s;
  return false;
}

// Loop / LoopLazy: the closing node of a counted loop over a complex operand.
bool TRegEngine::MatchLoop(int node, int next) {
  const std::uint8_t* prog = program_.data();
  const bool lazy = prog[node] == LoopLazy;
  const std::int32_t min = ReadInt(prog + node + kNodeHeader);
  const std::int32_t max = ReadInt(prog + node + kNodeHeader + 4);
  const int body = node + ReadInt(prog + node + kNodeHeader + 8);
  int d = loopDepth_;
  while (d > 0 && loops_[d].loopNode != node) --d;
  if (d == 0) Fail(1015);

  const unsigned char* const s = scan_;
  const LoopFrame frame = loops_[d];
  const int c = frame.count;

  // One more iteration of the body, counted in frame d; undone when it fails.
  auto iterate = [&]() {
    loops_[d].count = c + 1;
    loops_[d].iterStart = scan_;
    if (MatchPrim(body)) return true;
    loops_[d] = frame;
    scan_ = s;
    return false;
  };
  // The rest of the pattern after the loop. A greedy loop closes its frame first when it is the
  // innermost one; a lazy loop stays open meanwhile, so that it can still take another round.
  auto leave = [&]() {
    const int savedDepth = loopDepth_;
    if (!lazy && d == loopDepth_) loopDepth_ = d - 1;
    bool ok = MatchPrim(next);
    loopDepth_ = savedDepth;
    if (!ok) {
      loops_[d] = frame;
      scan_ = s;
    }
    return ok;
  };

  // An open-ended loop whose last optional iteration consumed nothing would come back here unchanged
  // for ever: it is left. The required iterations, and bounded loops up to their maximum, still run,
  // so that every iteration keeps its full choice of paths; their counts bound them.
  if (c > min && max == kUnbounded && scan_ == frame.iterStart) return leave();
  if (c < min) return iterate();
  if (!lazy) {
    if (c < max && iterate()) return true;
    return leave();
  }
  if (leave()) return true;
  return c < max && iterate();
}

// How many times the single-character node matches in a row from scan_, at most max; advances scan_.
int TRegEngine::RegRepeat(int node, int max) {
  const std::uint8_t* prog = program_.data();
  const std::uint8_t op = prog[node];
  const std::uint8_t* operand = prog + node + kNodeHeader;
  const unsigned char* p = scan_;
  const long long avail = subjectEnd_ - scan_;
  const long long limit = std::min<long long>(max, avail);
  const unsigned char* const stop = p + limit;
  switch (op) {
    case AnyChar:
      p = stop;
      break;
    case Literal: {
      const unsigned char ch = operand[0];
      while (p < stop && *p == ch) ++p;
      break;
    }
    case LiteralFold: {
      const unsigned char ch = operand[0], inv = caseInverter_(ch);
      while (p < stop && (*p == ch || *p == inv)) ++p;
      break;
    }
    case Digit:
      while (p < stop && *p >= '0' && *p <= '9') ++p;
      break;
    case NonDigit:
      while (p < stop && (*p < '0' || *p > '9')) ++p;
      break;
    case SetOf3:
      while (p < stop && (*p == operand[0] || *p == operand[1] || *p == operand[2])) ++p;
      break;
    case NotSetOf3:
      while (p < stop && *p != operand[0] && *p != operand[1] && *p != operand[2]) ++p;
      break;
    case SetBitmap:
      while (p < stop && InSet(operand, *p)) ++p;
      break;
    case BackRef:
    case BackRefFold: {
      const int g = operand[0];
      if (g < 1 || g > kMaxGroups || !subStart_[g] || !subEnd_[g] || subEnd_[g] < subStart_[g]) return 0;
      const unsigned char* from = subStart_[g];
      const long long len = subEnd_[g] - from;
      if (len == 0) return max;  // the caller treats an empty capture as one try
      int count = 0;
      while (count < max && subjectEnd_ - p >= len) {
        bool same = true;
        for (long long i = 0; i < len && same; ++i)
          same = p[i] == from[i] || (op == BackRefFold && p[i] == caseInverter_(from[i]));
        if (!same) break;
        p += len;
        ++count;
      }
      scan_ = p;
      return count;
    }
    default:
      Fail(1000);
  }
  const int count = static_cast<int>(p - scan_);
  scan_ = p;
  return count;
}

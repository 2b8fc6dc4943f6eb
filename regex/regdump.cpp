// Program listings: walks the nodes in storage order, the operand layouts of regopcodes.h.
#include "regex/regdump.h"

#include <cstdio>
#include <cstring>
#include <functional>

#include "regex/regengine.h"
#include "regex/regopcodes.h"

using namespace regop;

const char* regop::OpName(std::uint8_t op) {
  switch (op) {
    case Success:
      return "Success";
    case TextStart:
      return "TextStart";
    case TextEnd:
      return "TextEnd";
    case AnyChar:
      return "AnyChar";
    case Alternative:
      return "Alternative";
    case JumpBack:
      return "JumpBack";
    case Literal:
      return "Literal";
    case Empty:
      return "Empty";
    case StarSimple:
      return "StarSimple";
    case PlusSimple:
      return "PlusSimple";
    case Digit:
      return "Digit";
    case NonDigit:
      return "NonDigit";
    case RepeatSimple:
      return "RepeatSimple";
    case NoOp:
      return "NoOp";
    case LiteralFold:
      return "LiteralFold";
    case LoopEntry:
      return "LoopEntry";
    case Loop:
      return "Loop";
    case SetOf3:
      return "SetOf3";
    case NotSetOf3:
      return "NotSetOf3";
    case SetBitmap:
      return "SetBitmap";
    case BackRef:
      return "BackRef";
    case BackRefFold:
      return "BackRefFold";
    case StarSimpleLazy:
      return "StarSimpleLazy";
    case PlusSimpleLazy:
      return "PlusSimpleLazy";
    case RepeatSimpleLazy:
      return "RepeatSimpleLazy";
    case LoopLazy:
      return "LoopLazy";
    case LineStart:
      return "LineStart";
    case LineEnd:
      return "LineEnd";
    case AnyButLineBreak:
      return "AnyButLineBreak";
    case WordBoundary:
      return "WordBoundary";
    case NotWordBoundary:
      return "NotWordBoundary";
    default:
      return nullptr;
  }
}

namespace {

[[noreturn]] void Corrupted() {
  throw ERegEngine(1011, RegErrorText(1011), 0);
}

// Printable form of one program byte inside an operand.
std::string Shown(unsigned char c) {
  if (c >= 0x20 && c < 0x7F && c != '[' && c != ']' && c != '\\') return std::string(1, char(c));
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02X", c);
  return buf;
}

// Calls visit(position, name, operand text, next position or 0) for every node in storage order.
void Walk(std::string_view program,
          const std::function<void(int, const std::string&, const std::string&, int)>& visit) {
  auto prog = reinterpret_cast<const std::uint8_t*>(program.data());
  const int size = static_cast<int>(program.size());
  if (size < 1 || prog[0] != kProgramMagic) Corrupted();
  int pos = 1;
  while (pos < size) {
    if (pos + kNodeHeader > size) Corrupted();
    const std::uint8_t op = prog[pos];
    const std::int32_t off = ReadInt(prog + pos + 1);
    std::string name, operand;
    int length = kNodeHeader;
    if (IsGroupOpen(op)) {
      name = "GroupOpen" + std::to_string(op - GroupOpenBase);
    } else if (IsGroupClose(op)) {
      name = "GroupClose" + std::to_string(op - GroupCloseBase);
    } else if (const char* n = OpName(op)) {
      name = n;
      const std::uint8_t* o = prog + pos + kNodeHeader;
      auto need = [&](int bytes) {
        if (pos + kNodeHeader + bytes > size) Corrupted();
      };
      switch (op) {
        case Literal:
        case LiteralFold: {
          const void* end = std::memchr(o, 0, size - pos - kNodeHeader);
          if (!end) Corrupted();
          for (const std::uint8_t* p = o; p != end; ++p) operand += Shown(*p);
          length += static_cast<int>(static_cast<const std::uint8_t*>(end) - o) + 1;
          break;
        }
        case RepeatSimple:
        case RepeatSimpleLazy:
          need(8);
          operand = std::to_string(ReadInt(o)) + "," + std::to_string(ReadInt(o + 4));
          length += 8;  // the operand node follows as a node of its own
          break;
        case Loop:
        case LoopLazy:
          need(12);
          operand = std::to_string(ReadInt(o)) + "," + std::to_string(ReadInt(o + 4)) +
                    " body=" + std::to_string(pos + ReadInt(o + 8));
          length += 12;
          break;
        case SetOf3:
        case NotSetOf3:
          need(3);
          operand = Shown(o[0]) + Shown(o[1]) + Shown(o[2]);
          length += 3;
          break;
        case SetBitmap:
          need(32);
          for (unsigned c = 0; c < 256; ++c)
            if (o[c >> 3] & (1u << (c & 7))) operand += Shown(static_cast<unsigned char>(c));
          length += 32;
          break;
        case BackRef:
        case BackRefFold:
          need(1);
          operand = std::to_string(o[0]);
          length += 1;
          break;
        default:
          break;
      }
    } else {
      Corrupted();
    }
    visit(pos, name, operand, off == 0 ? 0 : pos + off);
    pos += length;
  }
}

}  // namespace

std::string DumpProgram(std::string_view program) {
  std::string out;
  Walk(program, [&](int pos, const std::string& name, const std::string& operand, int next) {
    char head[32];
    std::snprintf(head, sizeof head, "%4d: ", pos);
    out += head + name + " next=" + std::to_string(next);
    if (!operand.empty()) out += " \"" + operand + "\"";
    out += '\n';
  });
  return out;
}

std::string ProgramOutline(std::string_view program) {
  std::string out;
  Walk(program, [&](int, const std::string& name, const std::string& operand, int) {
    if (!out.empty()) out += ' ';
    out += name;
    if (!operand.empty()) out += "[" + operand + "]";
  });
  return out;
}

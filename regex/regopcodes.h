// The compiled program of TRegEngine, documented once.
//
// A program is a byte array: byte 0 is kProgramMagic, nodes follow from byte 1, without alignment or
// padding. Every node is
//   offset 0  1 byte    opcode
//   offset 1  4 bytes   signed little-endian offset from this node to the next one; 0 = no next node
//   offset 5  ...       operands
// "next" always names the node to run after this one matched. Values not in the table below are never
// emitted; meeting one is a corrupted program.
//
//   op                 value  operands                                   matches
//   Success              0    -                                          always; the match is complete
//   TextStart            1    -                                          at the subject start ("\A", "^")
//   TextEnd              2    -                                          at the subject end ("\Z", "$")
//   AnyChar              3    -                                          any character ("." under s)
//   Alternative          6    body at offset 5                           one alternative; next = the next one
//   JumpBack             7    -                                          nothing; next points backwards
//   Literal              8    NUL-terminated characters                  exactly these characters
//   Empty                9    -                                          the empty string
//   StarSimple          10    single-character node at offset 5          it 0.. times, greedy
//   PlusSimple          11    as StarSimple                              it 1.. times, greedy
//   Digit               12    -                                          "0".."9"
//   NonDigit            13    -                                          any non-digit
//   RepeatSimple        18    min i32, max i32, node at offset 13        it min..max times, greedy
//   NoOp                19    -                                          nothing (comments, modifiers)
//   LiteralFold         20    NUL-terminated characters                  these, case-insensitive
//   LoopEntry           23    -                                          opens a counted loop; next = Loop
//   Loop                24    min i32, max i32, body offset i32          closes a counted loop, greedy
//   SetOf3              25    3 bytes                                    one of the 3 bytes
//   NotSetOf3           26    3 bytes                                    none of the 3 bytes
//   SetBitmap           27    32 bytes, bit c%8 of byte c/8              a character whose bit is set
//   BackRef             28    group number byte                          the text of that group
//   BackRefFold         29    as BackRef                                 the same, case-insensitive
//   StarSimpleLazy      30    as StarSimple                              0.. times, lazy
//   PlusSimpleLazy      31    as StarSimple                              1.. times, lazy
//   RepeatSimpleLazy    32    as RepeatSimple                            min..max, lazy
//   LoopLazy            33    as Loop                                    counted loop, lazy
//   LineStart           34    -                                          "^" under m
//   LineEnd             35    -                                          "$" under m
//   AnyButLineBreak     36    -                                          "." without s
//   WordBoundary        37    -                                          "\b"
//   NotWordBoundary     38    -                                          "\B"
//   GroupOpen n      40..53   -                                          start of group n = value - 39
//   GroupClose n     55..68   -                                          end of group n = value - 54
//
// A NUL named in the pattern ("\x00") compiles to SetOf3 {0,0,0}: NUL ends the subject, so that node never
// matches, which is exactly what such an atom can do here.
#pragma once

#include <cstdint>
#include <cstring>

namespace regop {

enum : std::uint8_t {
  Success = 0,
  TextStart = 1,
  TextEnd = 2,
  AnyChar = 3,
  Alternative = 6,
  JumpBack = 7,
  Literal = 8,
  Empty = 9,
  StarSimple = 10,
  PlusSimple = 11,
  Digit = 12,
  NonDigit = 13,
  RepeatSimple = 18,
  NoOp = 19,
  LiteralFold = 20,
  LoopEntry = 23,
  Loop = 24,
  SetOf3 = 25,
  NotSetOf3 = 26,
  SetBitmap = 27,
  BackRef = 28,
  BackRefFold = 29,
  StarSimpleLazy = 30,
  PlusSimpleLazy = 31,
  RepeatSimpleLazy = 32,
  LoopLazy = 33,
  LineStart = 34,
  LineEnd = 35,
  AnyButLineBreak = 36,
  WordBoundary = 37,
  NotWordBoundary = 38,
  GroupOpenBase = 39,   // GroupOpen n = GroupOpenBase + n
  GroupCloseBase = 54,  // GroupClose n = GroupCloseBase + n
};

constexpr std::uint8_t kProgramMagic = 216;
constexpr int kNodeHeader = 5;                   // opcode + next offset
constexpr int kRepeatHeader = 13;                // RepeatSimple: header + min + max
constexpr int kLoopSize = 17;                    // Loop: header + min + max + body offset
constexpr std::int32_t kUnbounded = 2147483646;  // "{n,}" and the loop forms of "*" and "+"

inline std::int32_t ReadInt(const std::uint8_t* p) {
  std::uint32_t v =
      std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
  return static_cast<std::int32_t>(v);
}

inline void WriteInt(std::uint8_t* p, std::int32_t value) {
  auto v = static_cast<std::uint32_t>(value);
  p[0] = v & 0xFF;
  p[1] = (v >> 8) & 0xFF;
  p[2] = (v >> 16) & 0xFF;
  p[3] = (v >> 24) & 0xFF;
}

inline bool IsGroupOpen(std::uint8_t op) {
  return op > GroupOpenBase && op <= GroupOpenBase + 14;
}
inline bool IsGroupClose(std::uint8_t op) {
  return op > GroupCloseBase && op <= GroupCloseBase + 14;
}

// The opcode's name as the dump prints it, or nullptr for a value that is never emitted.
const char* OpName(std::uint8_t op);

}  // namespace regop

// Fuzzes the compiler and the matcher: byte 0 picks modifiers, then the pattern up to the first NUL,
// then the subject. Every outcome must be a match, no match, or an ERegEngine; nothing else.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "regex/regdump.h"
#include "regex/regengine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const unsigned mods = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t cut = rest.find('\0');
  std::string_view pattern = rest.substr(0, cut);
  std::string_view subject = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);

  TRegEngine re;
  re.SetBacktrackLimit(200000);  // keeps each input fast; exponential patterns end in error 1017
  for (int i = 1; i <= 6; ++i) re.SetModifier(i, (mods >> (i - 1)) & 1);
  if (mods & 0x40) re.SetLinePairedSeparator("");
  try {
    re.SetExpression(pattern);
    re.BuildProgram();
    (void)DumpProgram(re.ProgramBytes());
    if (re.Exec(subject)) {
      for (int n = 0; n <= TRegEngine::kMaxGroups; ++n) {
        int pos = re.MatchPos(n), len = re.MatchLen(n);
        if (pos < 0) continue;
        // Every reported group lies inside the subject.
        if (pos < 1 || len < 0 || static_cast<std::size_t>(pos - 1 + len) > subject.size()) __builtin_trap();
        if (re.MatchText(n) != subject.substr(pos - 1, len)) __builtin_trap();
      }
      for (int k = 0; k < 3 && re.ExecNext(); ++k) {
      }
    }
    if (mods & 0x80) re.ExecPos(1 + static_cast<int>(subject.size() / 2));
  } catch (const ERegEngine&) {
  }
  return 0;
}

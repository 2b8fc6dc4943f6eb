// regex-probe PATTERN SUBJECT [MODIFIERS]: runs one search and prints what the engine found.
//
// MODIFIERS are letters as inside "(?...)", e.g. "i" or "m-s". With REGEX_PROBE_DUMP set in the
// environment the compiled program is listed too. Exit status: 0 matched, 1 no match, 2 error.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "regex/regdump.h"
#include "regex/regengine.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: regex-probe PATTERN SUBJECT [MODIFIERS]\n");
    return 2;
  }
  TRegEngine re;
  try {
    re.SetExpression(argv[1]);
    if (argc == 4) re.SetModifierStr(argv[3]);
    bool matched = re.Exec(argv[2]);
    if (std::getenv("REGEX_PROBE_DUMP")) std::fputs(DumpProgram(re.ProgramBytes()).c_str(), stdout);
    if (!matched) {
      std::printf("no match\n");
      return 1;
    }
    std::printf("match\n");
    for (int n = 0; n <= TRegEngine::kMaxGroups; ++n) {
      if (re.MatchPos(n) < 0) continue;
      std::printf("%d: pos %d len %d \"%s\"\n", n, re.MatchPos(n), re.MatchLen(n), re.MatchText(n).c_str());
    }
    return 0;
  } catch (const ERegEngine& e) {
    std::fprintf(stderr, "error %d: %s\n", e.ErrorNumber(), e.what());
    return 2;
  }
}

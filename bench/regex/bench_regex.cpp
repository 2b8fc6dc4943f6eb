// TRegEngine beside std::regex and PCRE2 (no JIT) on the same inputs:
//   Reply    the application's pattern over a 1 MiB route reply
//   Literal  a literal search over 10 MiB
//   Class    a class with alternation over 1 MiB
//   Compile  compiling a 200-character pattern
#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <random>
#include <regex>
#include <string>

#include "regex/regengine.h"

namespace {

const char* kApp = "photoDomainNameCallback\\((.*?)\\)";
const char* kLiteral = "needle-in-the-haystack";
const char* kClass = "[0-9]+(px|em|pt)";

// A reply: script text full of "p", then the callback around a large JSON object.
const std::string& Reply() {
  static const std::string reply = [] {
    std::string s;
    while (s.size() < 512 * 1024) s += "var photo_preview = pp.post(\"prop\", {page: 1});\r\n";
    s += "photoDomainNameCallback({";
    while (s.size() < 1024 * 1024 - 64) s += "\"photo\":\"http://p.qpic.cn/pic/a.jpg\",";
    s += "\"end\":1});\r\n";
    return s;
  }();
  return reply;
}

std::string Letters(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(size, ' ');
  for (auto& c : s) c = static_cast<char>('a' + rng() % 26);
  return s;
}

const std::string& Haystack() {
  static const std::string s = Letters(10 * 1024 * 1024, 1) + kLiteral;
  return s;
}

const std::string& Css() {
  static const std::string s = [] {
    std::string t;
    std::mt19937 rng(2);
    while (t.size() < 1024 * 1024) {
      // Digits everywhere, but no unit the pattern accepts until the very end.
      t += "margin: " + std::to_string(rng() % 100) + (rng() % 4 == 0 ? "pc" : rng() % 2 ? "%" : " e");
      t += "; color: #a0b0c0; ";
    }
    return t + "width: 12em;";
  }();
  return s;
}

const std::string& LongPattern() {
  static const std::string p = [] {
    std::string t = "^(?i)";
    int i = 0;
    while (t.size() < 190) t += "(ab|c[d-f]+|g{1,3}h?)" + std::to_string(i++) + "\\s*";
    t = t.substr(0, t.rfind(')') + 1);
    while (t.size() < 200) t += "x";
    return t;
  }();
  return p;
}

void OursSearch(benchmark::State& state, const char* pattern, const std::string& subject) {
  TRegEngine re;
  re.SetExpression(pattern);
  for (auto _ : state) {
    bool ok = re.Exec(subject);
    benchmark::DoNotOptimize(ok);
    if (!ok) state.SkipWithError("no match");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * subject.size()));
}

void PcreSearch(benchmark::State& state, const char* pattern, const std::string& subject) {
  int err = 0;
  PCRE2_SIZE off = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, PCRE2_DOTALL,
                                   &err, &off, nullptr);
  pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
  for (auto _ : state) {
    int rc =
        pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0, md, nullptr);
    benchmark::DoNotOptimize(rc);
    if (rc < 0) state.SkipWithError("no match");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * subject.size()));
  pcre2_match_data_free(md);
  pcre2_code_free(code);
}

void StdSearch(benchmark::State& state, const char* pattern, const std::string& subject) {
  // std::regex has no "s" flag: "[^]" stands in for "." so the lazy loop may cross line breaks.
  std::string p = pattern;
  for (std::size_t at; (at = p.find("(.*?)")) != std::string::npos;) p.replace(at, 5, "([\\s\\S]*?)");
  std::regex re(p);
  for (auto _ : state) {
    std::smatch m;
    bool ok = std::regex_search(subject, m, re);
    benchmark::DoNotOptimize(ok);
    if (!ok) state.SkipWithError("no match");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * subject.size()));
}

void BM_Reply_Ours(benchmark::State& s) {
  OursSearch(s, kApp, Reply());
}
void BM_Reply_Pcre2(benchmark::State& s) {
  PcreSearch(s, kApp, Reply());
}
// libstdc++'s std::regex recurses once per character of the lazy loop and overflows the stack on the
// 1 MiB reply (measured: SIGSEGV), so it runs on 8 KiB of the same JSON instead (64 KiB crashed as well).
void BM_Reply_StdRegex(benchmark::State& s) {
  static const std::string small = [] {
    std::string r = Reply().substr(Reply().size() - 80 * 1024, 8 * 1024);  // inside the JSON object
    r.replace(0, 24, "photoDomainNameCallback(");
    return r + "})";
  }();
  StdSearch(s, kApp, small);
}
void BM_Literal_Ours(benchmark::State& s) {
  OursSearch(s, kLiteral, Haystack());
}
void BM_Literal_Pcre2(benchmark::State& s) {
  PcreSearch(s, kLiteral, Haystack());
}
void BM_Literal_StdRegex(benchmark::State& s) {
  StdSearch(s, kLiteral, Haystack());
}
void BM_Class_Ours(benchmark::State& s) {
  OursSearch(s, kClass, Css());
}
void BM_Class_Pcre2(benchmark::State& s) {
  PcreSearch(s, kClass, Css());
}
void BM_Class_StdRegex(benchmark::State& s) {
  StdSearch(s, kClass, Css());
}

void BM_Compile_Ours(benchmark::State& state) {
  const std::string& p = LongPattern();
  TRegEngine re;
  for (auto _ : state) {
    re.SetExpression("");
    re.SetExpression(p);
    re.BuildProgram();
  }
}
void BM_Compile_Pcre2(benchmark::State& state) {
  const std::string& p = LongPattern();
  for (auto _ : state) {
    int err = 0;
    PCRE2_SIZE off = 0;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(p.c_str()), p.size(), PCRE2_DOTALL, &err, &off, nullptr);
    if (!code) state.SkipWithError("PCRE2 refused the pattern");
    pcre2_code_free(code);
  }
}
void BM_Compile_StdRegex(benchmark::State& state) {
  // std::regex knows no "(?i)": the flag is passed instead.
  std::string p = LongPattern();
  p.replace(p.find("(?i)"), 4, "");
  for (auto _ : state) {
    std::regex re(p, std::regex::icase);
    benchmark::DoNotOptimize(re);
  }
}

}  // namespace

BENCHMARK(BM_Reply_Ours);
BENCHMARK(BM_Reply_Pcre2);
BENCHMARK(BM_Reply_StdRegex);
BENCHMARK(BM_Literal_Ours);
BENCHMARK(BM_Literal_Pcre2);
BENCHMARK(BM_Literal_StdRegex);
BENCHMARK(BM_Class_Ours);
BENCHMARK(BM_Class_Pcre2);
BENCHMARK(BM_Class_StdRegex);
BENCHMARK(BM_Compile_Ours);
BENCHMARK(BM_Compile_Pcre2);
BENCHMARK(BM_Compile_StdRegex);
BENCHMARK_MAIN();

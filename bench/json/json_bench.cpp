// Parse throughput of two 1 MiB documents (one of many small objects, one of long strings full of
// escapes) and lookup by name in an object of 10,000 fields, each beside nlohmann::json on the same bytes.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "json/qzjson.h"

namespace {

constexpr size_t kDocumentSize = 1 << 20;

// Records like those of an album list: numbers, short names, flags and a nested object.
const std::string& ObjectDocument() {
  static const std::string doc = [] {
    std::string s = "[";
    for (int i = 0; s.size() < kDocumentSize - 300; ++i) {
      if (i) s += ',';
      const std::string n = std::to_string(i);
      s += "{\"id\":" + n + ",\"name\":\"album_" + n + "\",\"total\":" + std::to_string(i % 97) +
           ",\"priv\":" + (i % 3 ? "false" : "true") + ",\"score\":" + std::to_string(i % 50) + ".25" +
           ",\"cover\":{\"w\":640,\"h\":480,\"url\":\"http://127.0.0.1/p/" + n +
           ".jpg\"},\"tags\":[1,2,null]}";
    }
    s += "]";
    s.append(kDocumentSize - s.size(), ' ');
    return s;
  }();
  return doc;
}

// Long strings: escapes of every kind, \u groups and raw UTF-8, about one escape every ten bytes.
const std::string& StringDocument() {
  static const std::string doc = [] {
    std::string s = "[";
    for (int i = 0; s.size() < kDocumentSize - 600; ++i) {
      if (i) s += ',';
      s += '"';
      for (int k = 0; k < 12; ++k) {
        s += "line\\n\\t\\\"quoted\\\" C:\\\\photos\\\\\\u4e2d\\u6587 \xE7\x9B\xB8\xE5\x86\x8C\\/ end ";
      }
      s += '"';
    }
    s += "]";
    s.append(kDocumentSize - s.size(), ' ');
    return s;
  }();
  return doc;
}

void BM_Qz_ParseObjects(benchmark::State& state) {
  const std::string& doc = ObjectDocument();
  for (auto _ : state) {
    auto root = TqzJSON::ParseValue(doc);
    if (!root) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(root.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void BM_Nlohmann_ParseObjects(benchmark::State& state) {
  const std::string& doc = ObjectDocument();
  for (auto _ : state) {
    auto root = nlohmann::json::parse(doc);
    benchmark::DoNotOptimize(root);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void BM_Qz_ParseStrings(benchmark::State& state) {
  const std::string& doc = StringDocument();
  for (auto _ : state) {
    auto root = TqzJSON::ParseValue(doc);
    if (!root) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(root.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void BM_Nlohmann_ParseStrings(benchmark::State& state) {
  const std::string& doc = StringDocument();
  for (auto _ : state) {
    auto root = nlohmann::json::parse(doc);
    benchmark::DoNotOptimize(root);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

constexpr int kFields = 10000;

const std::string& WideObject() {
  static const std::string doc = [] {
    std::string s = "{";
    for (int i = 0; i < kFields; ++i)
      s += (i ? ",\"field_" : "\"field_") + std::to_string(i) + "\":" + std::to_string(i);
    return s + "}";
  }();
  return doc;
}

// Names looked up in a shuffled order, one in ten absent.
std::vector<int> LookupOrder() {
  std::vector<int> order;
  std::mt19937 rng(7);
  for (int i = 0; i < 4096; ++i) order.push_back(static_cast<int>(rng() % (kFields + kFields / 10)));
  return order;
}

void BM_Qz_FieldByName(benchmark::State& state) {
  auto root = TqzJSON::ParseValue(WideObject());
  auto* object = dynamic_cast<TqzJSONobject*>(root.get());
  std::vector<std::u16string> names;
  for (int i : LookupOrder()) names.push_back(Utf8ToWide("field_" + std::to_string(i)));
  size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(object->FieldByName(names[k]));
    k = (k + 1) % names.size();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Nlohmann_Find(benchmark::State& state) {
  const nlohmann::json root = nlohmann::json::parse(WideObject());
  std::vector<std::string> names;
  for (int i : LookupOrder()) names.push_back("field_" + std::to_string(i));
  size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(root.find(names[k]));
    k = (k + 1) % names.size();
  }
  state.SetItemsProcessed(state.iterations());
}

// The index of an object is built on its first lookup by name; this pays that cost on every iteration.
void BM_Qz_ParseWideObjectAndLookUpOnce(benchmark::State& state) {
  const std::string& doc = WideObject();
  for (auto _ : state) {
    auto root = TqzJSON::ParseValue(doc);
    benchmark::DoNotOptimize(static_cast<TqzJSONobject*>(root.get())->FieldByName(u"field_5000"));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void BM_Nlohmann_ParseWideObjectAndLookUpOnce(benchmark::State& state) {
  const std::string& doc = WideObject();
  for (auto _ : state) {
    const nlohmann::json root = nlohmann::json::parse(doc);
    benchmark::DoNotOptimize(root.find("field_5000"));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

}  // namespace

BENCHMARK(BM_Qz_ParseObjects)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nlohmann_ParseObjects)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Qz_ParseStrings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nlohmann_ParseStrings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Qz_FieldByName);
BENCHMARK(BM_Nlohmann_Find);
BENCHMARK(BM_Qz_ParseWideObjectAndLookUpOnce)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Nlohmann_ParseWideObjectAndLookUpOnce)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

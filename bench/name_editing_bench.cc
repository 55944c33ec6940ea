// AddName with the full name rule and duplicate check, in a small document
// and in one of 100 000 containers, against a bare hash map as baseline.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "nametree/name_server.h"

namespace nametree {
namespace {

CString NameFor(std::uint64_t i) {
  CString s = u"Pump";
  for (std::uint64_t v = i + 1; v; v /= 26) s.push_back(static_cast<char16_t>(u'A' + v % 26));
  return s;
}

// A global tree, two target trees, and `containers` plain containers spread
// under the targets: deep under the first, wide under the second (as wide
// as a saved document allows); names are added into the last container created.
struct Document {
  explicit Document(int containers) {
    global = server.AddContainer(0, kGlobalContainer);
    const std::uint32_t t1 = server.AddContainer(0, kTargetContainer);
    std::uint32_t wide = server.AddContainer(0, kTargetContainer);
    std::uint32_t parent = t1;
    int wideCount = 0;
    for (int i = 0; i < containers; ++i) {
      const std::uint32_t id = server.AddContainer(i % 2 ? wide : parent, 0);
      if (i % 100 == 0) parent = id;
      if (i % 2 && ++wideCount % kMaxEntriesPerTable == 0) wide = id;
      last = id;
    }
  }
  CNameServer server;
  std::uint32_t global = 0;
  std::uint32_t last = 0;
};

void BM_AddNameChecked(benchmark::State& state) {
  Document doc(static_cast<int>(state.range(0)));
  if (doc.last == 0) {
    state.SkipWithError("the document could not be built");
    return;
  }
  std::uint64_t i = 0;
  for (auto _ : state) {
    std::uint32_t id = 0;
    HRESULT hr = doc.server.AddName(id, doc.last, NameFor(i++), kOrdinaryName, true);
    benchmark::DoNotOptimize(hr);
    if (doc.server.GetNameSize(doc.last) > 20000) {
      state.PauseTiming();
      doc.server.GetContainer(doc.last)->ResetContainer();
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_AddNameChecked)->Arg(10)->Arg(100000)->Unit(benchmark::kNanosecond);

void BM_BaselineUnorderedMapInsertFind(benchmark::State& state) {
  std::unordered_map<std::u16string, std::uint32_t> map;
  std::uint64_t i = 0;
  for (auto _ : state) {
    CString key = NameFor(i);
    auto found = map.find(key);
    benchmark::DoNotOptimize(found);
    map.emplace(std::move(key), static_cast<std::uint32_t>(i++));
    if (map.size() > 20000) {
      state.PauseTiming();
      map.clear();
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_BaselineUnorderedMapInsertFind)->Unit(benchmark::kNanosecond);

}  // namespace
}  // namespace nametree

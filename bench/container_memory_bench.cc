// Memory of an initialised container as it fills: the figure that decides
// whether a project with 100 000 containers fits in a host's process.
#include <benchmark/benchmark.h>

#include "nametree/name_container.h"

namespace nametree {
namespace {

void BM_ContainerFootprint(benchmark::State& state) {
  const int names = static_cast<int>(state.range(0));
  std::size_t bytes = 0;
  for (auto _ : state) {
    CNameContainer c;
    for (int i = 0; i < names; ++i) {
      CString name = u"Motor";
      for (int v = i + 1; v; v /= 10) name.push_back(static_cast<char16_t>(u'0' + v % 10));
      c.AddName(name);
    }
    bytes = c.GetMemoryFootprint();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["bytes_per_container"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ContainerFootprint)->Arg(0)->Arg(1)->Arg(10)->Arg(100)->Arg(1000);

}  // namespace
}  // namespace nametree

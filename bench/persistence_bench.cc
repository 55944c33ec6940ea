// Save and Load of a large document through the in-memory storage, against
// memcpy of the same number of bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "nametree/memory_storage.h"
#include "nametree/name_server.h"

namespace nametree {
namespace {

constexpr int kNames = 1000000;

// 1 000 000 names in 100 containers of 10 000 each under one global container.
std::unique_ptr<CNameServer> MakeServer() {
  auto server = std::make_unique<CNameServer>();
  const std::uint32_t top = server->AddContainer(0, kGlobalContainer);
  for (int c = 0; c < 100; ++c) {
    CNameContainer* sub = server->GetContainer(server->AddContainer(top, 0));
    for (int i = 0; i < kNames / 100; ++i) {
      CString name = u"Signal_";
      for (int v = i + 1; v; v /= 10) name.push_back(static_cast<char16_t>(u'0' + v % 10));
      sub->AddName(name);
    }
  }
  return server;
}

std::size_t StreamSize(CNameServer& server) {
  ComPtr<IStorage> st = CreateMemoryStorage();
  server.Save(st.Get());
  ComPtr<IStream> s;
  st->OpenStream(u"NameServer", kOpenMode, s.Put());
  return MemoryStreamBytes(s.Get()).size();
}

void BM_SaveLoadMillionNames(benchmark::State& state) {
  auto server = MakeServer();
  const std::size_t bytes = StreamSize(*server);
  for (auto _ : state) {
    ComPtr<IStorage> st = CreateMemoryStorage();
    if (server->Save(st.Get()) != S_OK) state.SkipWithError("save failed");
    auto loaded = std::make_unique<CNameServer>();
    if (loaded->Load(st.Get()) != S_OK) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(loaded->GetTopLevelContainerIDs());
    state.PauseTiming();  // freeing the copy is measured on its own below
    loaded.reset();
    st.Reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["stream_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SaveLoadMillionNames)->Unit(benchmark::kMillisecond)->Iterations(3);

// The two halves on their own, to show where the time of the round trip goes.
void BM_SaveMillionNames(benchmark::State& state) {
  auto server = MakeServer();
  for (auto _ : state) {
    ComPtr<IStorage> st = CreateMemoryStorage();
    if (server->Save(st.Get()) != S_OK) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_SaveMillionNames)->Unit(benchmark::kMillisecond)->Iterations(3);

// Loads a saved copy and frees it again, timing one of the two.
void LoadAndFree(benchmark::State& state, bool timeTheLoad) {
  auto server = MakeServer();
  ComPtr<IStorage> st = CreateMemoryStorage();
  server->Save(st.Get());
  for (auto _ : state) {
    if (!timeTheLoad) state.PauseTiming();
    auto loaded = std::make_unique<CNameServer>();
    if (loaded->Load(st.Get()) != S_OK) state.SkipWithError("load failed");
    if (timeTheLoad) state.PauseTiming();
    else state.ResumeTiming();
    loaded.reset();
    if (timeTheLoad) state.ResumeTiming();
  }
}

void BM_LoadMillionNames(benchmark::State& state) { LoadAndFree(state, true); }
BENCHMARK(BM_LoadMillionNames)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FreeLoadedMillionNames(benchmark::State& state) { LoadAndFree(state, false); }
BENCHMARK(BM_FreeLoadedMillionNames)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BaselineMemcpySameBytes(benchmark::State& state) {
  auto server = MakeServer();
  const std::size_t bytes = StreamSize(*server);
  std::vector<char> from(bytes, 'x'), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_BaselineMemcpySameBytes)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace nametree

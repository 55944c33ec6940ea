// Trees as deep as they are long: a 12 MB stream of 1 000 000 nested
// records, and a chain 100 000 deep built through AddContainer, each loaded,
// saved and freed; and a checked AddName at the bottom of the chain.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "nametree/memory_storage.h"
#include "support/deep_stream.h"

namespace nametree {
namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Load, save and free, each timed on its own in seconds.
void RoundTrip(benchmark::State& state, IStorage* source) {
  auto t = Clock::now();
  auto server = std::make_unique<CNameServer>();
  if (server->Load(source) != S_OK) state.SkipWithError("load failed");
  state.counters["load_s"] = Since(t);
  t = Clock::now();
  ComPtr<IStorage> copy = CreateMemoryStorage();
  if (server->Save(copy.Get()) != S_OK) state.SkipWithError("save failed");
  state.counters["save_s"] = Since(t);
  t = Clock::now();
  server.reset();
  state.counters["free_s"] = Since(t);
}

void BM_MillionNestedRecords(benchmark::State& state) {
  const auto bytes = test::NestedStream(1000000, 0, 0);
  ComPtr<IStorage> source = test::StorageWith(bytes);
  for (auto _ : state) RoundTrip(state, source.Get());
  state.counters["stream_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_MillionNestedRecords)->Unit(benchmark::kMillisecond)->Iterations(1);

constexpr int kChain = 100000;

std::uint32_t BuildChain(CNameServer& server) {
  std::uint32_t id = server.AddContainer(0, kGlobalContainer);
  for (int i = 1; i < kChain; ++i) id = server.AddContainer(id, 0);
  return id;
}

void BM_ChainThroughAddContainer(benchmark::State& state) {
  for (auto _ : state) {
    CNameContainer::SetLastIssuedNameID(0);
    auto t = Clock::now();
    auto server = std::make_unique<CNameServer>();
    if (BuildChain(*server) == 0) state.SkipWithError("AddContainer refused");
    state.counters["build_s"] = Since(t);
    ComPtr<IStorage> saved = CreateMemoryStorage();
    t = Clock::now();
    if (server->Save(saved.Get()) != S_OK) state.SkipWithError("save failed");
    server.reset();
    state.counters["save_free_s"] = Since(t);
    RoundTrip(state, saved.Get());
  }
}
BENCHMARK(BM_ChainThroughAddContainer)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_CheckedAddNameAtTheBottom(benchmark::State& state) {
  CNameContainer::SetLastIssuedNameID(0);
  CNameServer server;
  const std::uint32_t bottom = BuildChain(server);
  for (auto _ : state) {
    std::uint32_t id = 0;
    if (server.AddName(id, bottom, u"Pump", 0, true) != S_OK) state.SkipWithError("AddName refused");
    server.DeleteName(bottom, id, false);
  }
}
BENCHMARK(BM_CheckedAddNameAtTheBottom)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace nametree

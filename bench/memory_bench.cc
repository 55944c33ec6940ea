// Heap bytes per name of whole documents, built through the server and
// after Save + Load, against two bare unordered_maps of the same names
// (ID to text and text to ID) measured in the same run; and the times of
// Load and Save against the floors they can be read against: building the
// two maps from the same strings, and one Write of the finished bytes.
//
// The heap is read with mallinfo2: bytes in use in the arena plus mmapped
// blocks, so large bucket arrays count too; and the library's own mappings
// (its largest arrays), which mallinfo2 does not see.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

#include "nametree/memory_storage.h"
#include "nametree/name_server.h"
#include "platform/zeroed_block.h"

namespace nametree {
namespace {

constexpr int kMostUnderOneTop = 10000;

std::size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd + ZeroedBlock::MappedBytes();
}

// Distinct names of 4 to 8 characters: a letter, then base-36 digits.
CString NameText(std::uint32_t i) {
  static const char16_t kDigits[] = u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const int length = 4 + static_cast<int>(i % 5);
  CString s(static_cast<std::size_t>(length), u'0');
  s[0] = static_cast<char16_t>(u'A' + i % 26);
  for (std::uint32_t v = i / 26, k = static_cast<std::uint32_t>(length) - 1; k > 0; --k, v /= 36) s[k] = kDigits[v % 36];
  return s;
}

// `containers` sub-containers of `names` names each, spread over a global
// top-level container and as many target ones as needed, at most 10 000
// under each.
std::unique_ptr<CNameServer> Build(int containers, int names) {
  auto server = std::make_unique<CNameServer>();
  std::uint32_t serial = 0, top = 0;
  for (int c = 0; c < containers; ++c) {
    if (c % kMostUnderOneTop == 0) top = server->AddContainer(0, c == 0 ? kGlobalContainer : kTargetContainer);
    const std::uint32_t sub = server->AddContainer(top, c < kMostUnderOneTop ? kGlobalContainer : kTargetContainer);
    for (int n = 0; n < names; ++n) {
      std::uint32_t id = 0;
      if (server->AddName(id, sub, NameText(serial++), kOrdinaryName, true) != S_OK) return nullptr;
    }
  }
  return server;
}

struct TwoMaps {
  std::unordered_map<std::uint32_t, CString> byId;
  std::unordered_map<CString, std::uint32_t> byText;
};

void Fill(TwoMaps& maps, const std::vector<CString>& texts) {
  for (std::uint32_t i = 0; i < texts.size(); ++i) {
    maps.byId.emplace(i + 1, texts[i]);
    maps.byText.emplace(texts[i], i + 1);
  }
}

void BM_BytesPerName(benchmark::State& state) {
  const int containers = static_cast<int>(state.range(0)), names = static_cast<int>(state.range(1));
  const double total = static_cast<double>(containers) * names;
  double built = 0, loaded = 0, floor = 0;
  for (auto _ : state) {
    std::size_t before = HeapInUse();
    {
      std::vector<CString> texts;
      for (std::uint32_t i = 0; i < total; ++i) texts.push_back(NameText(i));
      const std::size_t withTexts = HeapInUse();
      TwoMaps maps;
      Fill(maps, texts);
      floor = static_cast<double>(HeapInUse() - withTexts) / total;
    }
    before = HeapInUse();
    auto server = Build(containers, names);
    if (!server) {
      state.SkipWithError("a name was refused");
      return;
    }
    built = static_cast<double>(HeapInUse() - before) / total;
    ComPtr<IStorage> storage = CreateMemoryStorage();
    if (server->Save(storage.Get()) != S_OK) state.SkipWithError("save failed");
    server.reset();
    before = HeapInUse();
    auto copy = std::make_unique<CNameServer>();
    if (copy->Load(storage.Get()) != S_OK) state.SkipWithError("load failed");
    loaded = static_cast<double>(HeapInUse() - before) / total;
  }
  state.counters["built_B_per_name"] = built;
  state.counters["loaded_B_per_name"] = loaded;
  state.counters["two_maps_B_per_name"] = floor;
}
BENCHMARK(BM_BytesPerName)
    ->Args({100000, 10})
    ->Args({1000, 1000})
    ->Args({34, 30000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Heap bytes of an empty sub-container: 100 000 of them made through the
// server under ten top-level containers, with the server's index included.
void BM_BytesPerEmptyContainer(benchmark::State& state) {
  constexpr int kContainers = 100000, kTops = 10;
  double bytes = 0;
  for (auto _ : state) {
    auto server = std::make_unique<CNameServer>();
    std::vector<std::uint32_t> tops;
    for (int t = 0; t < kTops; ++t) tops.push_back(server->AddContainer(0, t == 0 ? kGlobalContainer : kTargetContainer));
    const std::size_t before = HeapInUse();
    for (int c = 0; c < kContainers; ++c) {
      if (server->AddContainer(tops[static_cast<std::size_t>(c % kTops)], kGlobalContainer) == 0) {
        state.SkipWithError("a container was refused");
        return;
      }
    }
    bytes = static_cast<double>(HeapInUse() - before) / kContainers;
  }
  state.counters["B_per_container"] = bytes;
}
BENCHMARK(BM_BytesPerEmptyContainer)->Iterations(1)->Unit(benchmark::kMillisecond);

// CPU time of this thread: on a shared machine, wall time mostly measures
// the neighbours.
double CpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

template <class F>
double MedianNs(F&& f) {
  std::vector<double> runs;
  for (int i = 0; i < 3; ++i) {
    const double t0 = CpuNs();
    f();
    runs.push_back(CpuNs() - t0);
  }
  std::sort(runs.begin(), runs.end());
  return runs[1];
}

// One million names in 1 000 containers: Load against building the two
// maps from the same strings, Save against one Write of its bytes into a
// fresh stream of the in-memory storage. Medians of three runs each.
void BM_LoadSaveAgainstFloors(benchmark::State& state) {
  constexpr int kContainers = 1000, kNames = 1000;
  auto server = Build(kContainers, kNames);
  if (!server) {
    state.SkipWithError("a name was refused");
    return;
  }
  std::vector<CString> texts;
  for (std::uint32_t i = 0; i < kContainers * kNames; ++i) texts.push_back(NameText(i));
  ComPtr<IStorage> saved = CreateMemoryStorage();
  server->Save(saved.Get());
  std::vector<std::uint8_t> bytes;
  {
    ComPtr<IStream> s;
    saved->OpenStream(u"NameServer", kOpenMode, s.Put());
    bytes = MemoryStreamBytes(s.Get());
  }
  double load = 0, maps = 0, save = 0, write = 0;
  for (auto _ : state) {
    std::vector<std::unique_ptr<CNameServer>> keep;
    load = MedianNs([&] {
      keep.push_back(std::make_unique<CNameServer>());
      if (keep.back()->Load(saved.Get()) != S_OK) state.SkipWithError("load failed");
    });
    keep.clear();
    std::vector<std::unique_ptr<TwoMaps>> keepMaps;
    maps = MedianNs([&] {
      keepMaps.push_back(std::make_unique<TwoMaps>());
      Fill(*keepMaps.back(), texts);
    });
    keepMaps.clear();
    std::vector<ComPtr<IStorage>> stores;
    for (int i = 0; i < 3; ++i) stores.push_back(CreateMemoryStorage());
    int at = 0;
    save = MedianNs([&] {
      if (server->Save(stores[static_cast<std::size_t>(at++)].Get()) != S_OK) state.SkipWithError("save failed");
    });
    stores.clear();
    for (int i = 0; i < 3; ++i) stores.push_back(CreateMemoryStorage());
    at = 0;
    write = MedianNs([&] {
      ComPtr<IStream> s;
      stores[static_cast<std::size_t>(at++)]->CreateStream(u"NameServer", kCreateMode, s.Put());
      std::uint32_t written = 0;
      s->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written);
    });
  }
  const double n = static_cast<double>(kContainers) * kNames;
  state.counters["load_ns_per_name"] = load / n;
  state.counters["two_maps_ns_per_name"] = maps / n;
  state.counters["load_over_two_maps"] = load / maps;
  state.counters["save_ns_per_name"] = save / n;
  state.counters["one_write_ns_per_name"] = write / n;
  state.counters["save_over_one_write"] = save / write;
}
BENCHMARK(BM_LoadSaveAgainstFloors)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace nametree

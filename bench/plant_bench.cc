// Every server operation in documents shaped like real projects: a global
// tree whose sub-containers are global (type 2), and one target tree per
// controller whose programs and tag tables are of type 3 or 4, ten names
// each. Shapes run from 1 target x 10 sub-containers to 100 x 1 000; keys
// are drawn at random from the document. A bare unordered_map holding every
// name under its container and text, probed the same way, is the baseline
// for the lookups; its find + insert of a fresh text, for the adds.
//
// Also: many distinct base names in one container, deleting among many
// siblings, and the legacy import per name object.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "legacy/legacy_doc.h"
#include "nametree/legacy_storage.h"
#include "nametree/name_server.h"

namespace nametree {
namespace {

constexpr int kNamesPerContainer = 10;

CString Text(const char16_t* prefix, std::uint64_t serial) {
  CString s = prefix;
  for (std::uint64_t v = serial + 1; v; v /= 26) s.push_back(static_cast<char16_t>(u'A' + v % 26));
  return s;
}

// Texts that no document holds, for adds, renames and misses.
CString FreshText() {
  static std::uint64_t serial = 0;
  return Text(u"Fresh", serial++);
}

struct Shape {
  int targets;
  int subs;
  bool sharedLocals;  // every program holds the same ten local names
};

std::string ShapeName(const Shape& s) {
  return std::to_string(s.targets) + "x" + std::to_string(s.subs) + (s.sharedLocals ? "/shared" : "/distinct");
}

struct Slot {
  std::uint32_t parent = 0;
  std::uint32_t id = 0;
  std::int16_t type = 0;
  std::array<std::uint32_t, kNamesPerContainer> nameIDs{};
  std::array<CString, kNamesPerContainer> texts{};
};

struct Plant {
  explicit Plant(const Shape& shape) : shape(shape) {
    server.Initialize(&manager);
    std::uint64_t serial = 0;
    auto fill = [&](std::uint32_t parent, std::int16_t type, bool shared) {
      Slot slot;
      slot.parent = parent;
      slot.type = type;
      slot.id = server.AddContainer(parent, type);
      CNameContainer* c = server.GetContainer(slot.id);
      for (int n = 0; n < kNamesPerContainer; ++n) {
        // Direct adds: a checked add would refuse the shared local names.
        slot.texts[n] = shared ? Text(u"Local", static_cast<std::uint64_t>(n)) : Text(u"Tag", serial++);
        slot.nameIDs[n] = c->AddName(slot.texts[n]);
      }
      names += kNamesPerContainer;
      return slot;
    };
    global = server.AddContainer(0, kGlobalContainer);
    tops.push_back(global);
    for (int s = 0; s < shape.subs; ++s) slots.push_back(fill(global, kGlobalContainer, false));
    globalSlots = slots.size();
    for (int t = 0; t < shape.targets; ++t) {
      const std::uint32_t target = server.AddContainer(0, kTargetContainer);
      tops.push_back(target);
      for (int s = 0; s < shape.subs; ++s) {
        const std::int16_t type = s % 2 ? kTargetContainer : 4;
        slots.push_back(fill(target, type, shape.sharedLocals && type == kTargetContainer));
      }
    }
    std::mt19937 rng(7);
    picks.resize(1 << 16);
    for (auto& p : picks) p = rng();
  }

  std::uint32_t Next() { return picks[cursor++ & (picks.size() - 1)]; }
  Slot& AnySlot() { return slots[Next() % slots.size()]; }
  Slot& GlobalSlot() { return slots[Next() % globalSlots]; }
  // A target sub-container of the given type (3 or 4).
  Slot& TargetSlot(std::int16_t type) {
    const std::size_t targetSlots = slots.size() - globalSlots;
    std::size_t i = globalSlots + (Next() % targetSlots);
    if (slots[i].type != type) i = i + 1 < slots.size() ? i + 1 : i - 1;
    return slots[i];
  }
  int AnyName() { return static_cast<int>(Next() % kNamesPerContainer); }

  Shape shape;
  CNotificationManager manager;
  CNameServer server;
  std::uint32_t global = 0;
  std::vector<std::uint32_t> tops;
  std::vector<Slot> slots;  // global sub-containers first, then the targets'
  std::size_t globalSlots = 0;
  std::size_t names = 0;
  std::vector<std::uint32_t> picks;
  std::size_t cursor = 0;
};

// The largest documents take a while to build: one is kept, for the
// operations of its shape, which run one after the other.
Plant& PlantFor(const Shape& shape) {
  static std::unique_ptr<Plant> plant;
  if (!plant || ShapeName(plant->shape) != ShapeName(shape)) {
    plant.reset();
    plant = std::make_unique<Plant>(shape);
  }
  return *plant;
}

using PlantOp = void (*)(benchmark::State&, Plant&);

// --- editing

template <class Pick>
void AddInto(benchmark::State& state, Plant& p, Pick pick, bool confine) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> added;
  for (auto _ : state) {
    const std::uint32_t cid = pick().id;
    std::uint32_t id = 0;
    benchmark::DoNotOptimize(p.server.AddName(id, cid, FreshText(), kOrdinaryName, true, confine));
    added.emplace_back(cid, id);
  }
  for (auto [cid, id] : added) p.server.GetContainer(cid)->DeleteName(id);
}

void AddGlobal(benchmark::State& s, Plant& p) { AddInto(s, p, [&]() -> Slot& { return p.GlobalSlot(); }, false); }
void AddProgram(benchmark::State& s, Plant& p) {
  AddInto(s, p, [&]() -> Slot& { return p.TargetSlot(kTargetContainer); }, false);
}
void AddTagTableOpen(benchmark::State& s, Plant& p) {
  AddInto(s, p, [&]() -> Slot& { return p.TargetSlot(4); }, false);
}
void AddTagTableConfined(benchmark::State& s, Plant& p) {
  AddInto(s, p, [&]() -> Slot& { return p.TargetSlot(4); }, true);
}

enum class RenameBy { kID, kText, kIDWithoutContainer };

template <RenameBy by>
void Rename(benchmark::State& state, Plant& p) {
  for (auto _ : state) {
    Slot& slot = p.AnySlot();
    const int n = p.AnyName();
    CString fresh = FreshText();
    HRESULT hr;
    if constexpr (by == RenameBy::kText) {
      hr = p.server.Rename(slot.id, slot.texts[n], fresh, kOrdinaryName, false, false);
    } else {
      hr = p.server.Rename(by == RenameBy::kID ? slot.id : 0, slot.nameIDs[n], fresh, kOrdinaryName, false, false);
    }
    if (hr == S_OK) slot.texts[n] = std::move(fresh);
  }
}

void DeleteName(benchmark::State& state, Plant& p) {
  for (auto _ : state) {
    Slot& slot = p.AnySlot();
    const int n = p.AnyName();
    benchmark::DoNotOptimize(p.server.DeleteName(slot.id, slot.nameIDs[n], false));
    state.PauseTiming();
    p.server.GetContainer(slot.id)->AddNameFromData(slot.nameIDs[n], slot.texts[n], 0);
    state.ResumeTiming();
  }
}

void DeleteContainer(benchmark::State& state, Plant& p) {
  for (auto _ : state) {
    Slot& slot = p.AnySlot();
    benchmark::DoNotOptimize(p.server.DeleteContainer(slot.id, false));
    state.PauseTiming();
    // Put it back as it was, through the parent, under the same IDs.
    CNameContainer* parent = p.server.GetContainer(slot.parent);
    parent->AddContainerFromData(parent, slot.id, slot.type);
    CNameContainer* c = parent->FindContainer(slot.id);
    for (int n = 0; n < kNamesPerContainer; ++n) c->AddNameFromData(slot.nameIDs[n], slot.texts[n], 0);
    state.ResumeTiming();
  }
}

void GetNextName(benchmark::State& state, Plant& p) {
  CString out;
  for (auto _ : state) benchmark::DoNotOptimize(p.server.GetNextName(p.AnySlot().id, u"Pump", 0, &out));
}

// --- checks and lookups: half of the texts are held, half are not

const CString& ProbeText(Plant& p, CString& miss) {
  if (p.Next() % 2) return p.AnySlot().texts[p.AnyName()];
  miss = Text(u"Absent", p.Next());
  return miss;
}

void IsDuplicateName(benchmark::State& state, Plant& p) {
  CString miss;
  for (auto _ : state) {
    const std::uint32_t cid = p.AnySlot().id;
    benchmark::DoNotOptimize(p.server.IsDuplicateName(cid, ProbeText(p, miss), false));
  }
}

void IsGlobalName(benchmark::State& state, Plant& p) {
  CString miss;
  for (auto _ : state) benchmark::DoNotOptimize(p.server.IsGlobalName(ProbeText(p, miss)));
}

void FindNameDescending(benchmark::State& state, Plant& p) {
  CString miss;
  for (auto _ : state) {
    const std::uint32_t top = p.tops[p.Next() % p.tops.size()];
    benchmark::DoNotOptimize(p.server.FindName(top, ProbeText(p, miss), true));
  }
}

void FindNameOwn(benchmark::State& state, Plant& p) {
  CString miss;
  for (auto _ : state) {
    const std::uint32_t cid = p.AnySlot().id;
    benchmark::DoNotOptimize(p.server.FindName(cid, ProbeText(p, miss), false));
  }
}

void GetID(benchmark::State& state, Plant& p) {
  CString miss;
  for (auto _ : state) {
    const std::uint32_t cid = p.AnySlot().id;
    benchmark::DoNotOptimize(p.server.GetID(cid, ProbeText(p, miss)));
  }
}

void GetName(benchmark::State& state, Plant& p) {
  CString text;
  for (auto _ : state) benchmark::DoNotOptimize(p.server.GetName(p.AnySlot().nameIDs[p.AnyName()], text));
}

void FindContainerOfName(benchmark::State& state, Plant& p) {
  for (auto _ : state)
    benchmark::DoNotOptimize(p.server.FindContainerOfName(p.AnySlot().nameIDs[p.AnyName()]));
}

void GetContainer(benchmark::State& state, Plant& p) {
  for (auto _ : state) benchmark::DoNotOptimize(p.server.GetContainer(p.AnySlot().id));
}

// The baseline's key: the container and the text, as the server holds a
// name. Keyed by text alone, the programs' shared local names would collapse
// into ten entries, and the baseline would answer a smaller question.
struct BareKey {
  std::uint32_t container;
  CString text;
};
// A probe names its text without copying it, as the server's lookups do.
struct BareProbe {
  std::uint32_t container;
  const CString& text;
};
struct BareKeyHash {
  using is_transparent = void;
  static std::size_t Of(std::uint32_t container, const CString& text) {
    return std::hash<CString>()(text) ^ (container * 0x9E3779B97F4A7C15ull);
  }
  std::size_t operator()(const BareKey& k) const { return Of(k.container, k.text); }
  std::size_t operator()(const BareProbe& k) const { return Of(k.container, k.text); }
};
struct BareKeyEqual {
  using is_transparent = void;
  template <class A, class B>
  bool operator()(const A& a, const B& b) const {
    return a.container == b.container && a.text == b.text;
  }
};
using BareMapType = std::unordered_map<BareKey, std::uint32_t, BareKeyHash, BareKeyEqual>;

BareMapType BuildBareMap(const Plant& p, std::size_t room) {
  BareMapType map;
  map.reserve(room);
  for (const Slot& s : p.slots)
    for (int n = 0; n < kNamesPerContainer; ++n) map.emplace(BareKey{s.id, s.texts[n]}, s.nameIDs[n]);
  return map;
}

// The same names in a bare map, probed as the lookups probe: a container,
// then a text.
void BareMap(benchmark::State& state, Plant& p) {
  const BareMapType map = BuildBareMap(p, p.names);
  CString miss;
  for (auto _ : state) {
    const std::uint32_t cid = p.AnySlot().id;
    benchmark::DoNotOptimize(map.find(BareProbe{cid, ProbeText(p, miss)}));
  }
}

// A bare map's add, as a checked AddName makes one: a random container is
// picked as the adds pick theirs, then a fresh text is looked up in it and
// inserted. The map is built name by name, as the document was, with room
// for every add, so that no rehash lands in the timing.
void BareMapAdd(benchmark::State& state, Plant& p) {
  BareMapType map = BuildBareMap(p, 2 * p.names);
  std::uint32_t next = 0;
  for (auto _ : state) {
    const std::uint32_t cid = p.AnySlot().id;
    CString text = FreshText();
    auto found = map.find(BareProbe{cid, text});
    benchmark::DoNotOptimize(found);
    map.emplace(BareKey{cid, std::move(text)}, ++next);
  }
}

struct NamedOp {
  const char* name;
  PlantOp op;
};

// The lookups first, while the document is as built.
const NamedOp kOps[] = {
    {"BareMap", BareMap},
    {"BareMapAdd", BareMapAdd},
    {"IsDuplicateName", IsDuplicateName},
    {"IsGlobalName", IsGlobalName},
    {"FindName/descend", FindNameDescending},
    {"FindName/own", FindNameOwn},
    {"GetID", GetID},
    {"GetName", GetName},
    {"FindContainerOfName", FindContainerOfName},
    {"GetContainer", GetContainer},
    {"AddName/global", AddGlobal},
    {"AddName/program", AddProgram},
    {"AddName/tagtable", AddTagTableOpen},
    {"AddName/tagtable-confined", AddTagTableConfined},
    {"Rename/byID", Rename<RenameBy::kID>},
    {"Rename/byText", Rename<RenameBy::kText>},
    {"Rename/byID-container0", Rename<RenameBy::kIDWithoutContainer>},
    {"DeleteName", DeleteName},
    {"DeleteContainer", DeleteContainer},
    {"GetNextName", GetNextName},
};

const Shape kShapes[] = {{1, 10, false}, {100, 1000, false}, {1, 10, true}, {100, 1000, true}};

const bool kRegistered = [] {
  for (const Shape& shape : kShapes) {
    for (const NamedOp& op : kOps) {
      const std::string name = std::string("Plant/") + op.name + "/" + ShapeName(shape);
      benchmark::RegisterBenchmark(name.c_str(), [shape, fn = op.op](benchmark::State& state) {
        Plant& p = PlantFor(shape);
        // Whatever the previous operation left to rebuild is not this one's cost.
        p.server.GetContainer(p.slots.front().id);
        fn(state, p);
        state.counters["names"] = static_cast<double>(p.names);
      })->MinTime(0.05)->Unit(benchmark::kNanosecond);
    }
  }
  return true;
}();

// --- one container with many distinct base names: GetNextName + AddName

void BM_DistinctBaseNames(benchmark::State& state) {
  const int bases = static_cast<int>(state.range(0));
  CNameServer server;
  const std::uint32_t target = server.AddContainer(0, kTargetContainer);
  const std::uint32_t program = server.AddContainer(target, kTargetContainer);
  std::vector<CString> names;
  for (int i = 0; i < bases; ++i) names.push_back(Text(u"Base", static_cast<std::uint64_t>(i)));
  CString out;
  for (const CString& b : names) server.GetNextName(program, b, 0, &out);
  std::mt19937 rng(3);
  for (auto _ : state) {
    server.GetNextName(program, names[rng() % names.size()], 0, &out);
    std::uint32_t id = 0;
    benchmark::DoNotOptimize(server.AddName(id, program, out, kOrdinaryName, true));
    if (server.GetNameSize(program) > 20000) {
      // Below the names a container may hold; the counters stay.
      state.PauseTiming();
      server.GetContainer(program)->ResetContainer();
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_DistinctBaseNames)->Arg(1000)->Arg(30000)->Unit(benchmark::kNanosecond);

// --- DeleteContainer + AddName among many direct siblings of a global container

void BM_DeleteAmongSiblings(benchmark::State& state) {
  const int siblings = static_cast<int>(state.range(0));
  CNameServer server;
  const std::uint32_t global = server.AddContainer(0, kGlobalContainer);
  std::vector<std::uint32_t> ids;
  for (int i = 0; i < siblings; ++i) ids.push_back(server.AddContainer(global, kGlobalContainer));
  std::mt19937 rng(5);
  for (auto _ : state) {
    std::uint32_t& victim = ids[rng() % ids.size()];
    server.DeleteContainer(victim, false);
    victim = server.AddContainer(global, kGlobalContainer);
    std::uint32_t id = 0;
    benchmark::DoNotOptimize(server.AddName(id, victim, FreshText(), kOrdinaryName, true));
  }
}
BENCHMARK(BM_DeleteAmongSiblings)->Arg(1000)->Arg(30000)->Unit(benchmark::kNanosecond);

// The same on the container itself, without the server's search for it.
void BM_DeleteAmongSiblingsInContainer(benchmark::State& state) {
  CNameContainer parent;
  std::vector<std::uint32_t> ids;
  for (int i = 0; i < state.range(0); ++i) ids.push_back(parent.AddContainer(kGlobalContainer));
  std::mt19937 rng(5);
  for (auto _ : state) {
    std::uint32_t& victim = ids[rng() % ids.size()];
    benchmark::DoNotOptimize(parent.DeleteContainer(victim));
    victim = parent.AddContainer(kGlobalContainer);
  }
}
BENCHMARK(BM_DeleteAmongSiblingsInContainer)->Arg(1000)->Arg(30000)->Unit(benchmark::kNanosecond);

// --- LoadOldVersion: per name object. With bags, half the objects come in
// bags of ten (a container each); the others name one of a few large
// containers of at most 30 000 names directly.

std::vector<std::uint8_t> LegacyPlant(int objects, bool bags) {
  constexpr int kPerLargeContainer = 30000;
  const int direct = bags ? objects / 2 : objects;
  const int large = (direct + kPerLargeContainer - 1) / kPerLargeContainer;
  LegacyDocument doc;
  std::uint32_t next = 1;
  LegacyBagContainer target;
  target.id = next++;
  target.type = kTargetContainer;
  for (int c = 0; c < large; ++c) target.subs.push_back(next++);
  doc.containers.push_back(target);
  for (int i = 0; i < objects; ++i) {
    LegacyNameObject r;
    r.name = Text(u"Legacy", static_cast<std::uint64_t>(i));
    r.id = next++;
    if (i < direct) {
      r.container = target.subs[static_cast<std::size_t>(i % large)];
    } else {
      if ((i - direct) % kNamesPerContainer == 0) {
        LegacyBag bag;
        bag.id = next++;
        bag.parent = target.id;
        doc.bags.push_back(bag);
      }
      doc.bags.back().members.push_back(r.id);
    }
    doc.objects.push_back(std::move(r));
  }
  doc.lastIssuedID = next;
  return EncodeLegacyStream(doc);
}

void BM_LoadOldVersion(benchmark::State& state) {
  const int objects = static_cast<int>(state.range(0));
  ComPtr<IStorage> storage = test::LegacyStorage(LegacyPlant(objects, state.range(1) != 0));
  for (auto _ : state) {
    CNameServer server;
    ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(storage.Get());
    benchmark::DoNotOptimize(server.LoadOldVersion(legacy.Get()));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * objects);
}
BENCHMARK(BM_LoadOldVersion)
    ->ArgNames({"objects", "bags"})
    ->Args({1000, 0})
    ->Args({100000, 0})
    ->Args({1000, 1})
    ->Args({100000, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace nametree

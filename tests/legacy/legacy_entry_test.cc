// Opening the legacy element, and what a load leaves behind when its stream
// is cut short, fails or lies about its sizes.
#include <functional>

#include "allocation_probe.h"
#include "legacy_fixture.h"
#include "nametree/memory_storage.h"
#include "support/fault_stream.h"
#include "support/hex.h"

namespace nametree::test {
namespace {

using LegacyEntry = LegacyTest;

LegacyDocument TargetDoc(std::uint32_t id) {
  LegacyDocument doc;
  doc.containers.push_back({.id = id, .type = 3});
  return doc;
}

// Something of every kind, with the fields readers pass over.
LegacyDocument Plant() {
  LegacyDocument doc;
  doc.lastIssuedID = 900;
  doc.objects = {
      {.version = 1, .name = u"Pump", .id = 100, .container = 10, .f = 2, .fWords = {1, 2}, .skipBytes = 2},
      {.name = u"Valve", .id = 101, .container = 10},
      {.name = u"Fan", .id = 102, .container = 1},
      {.version = 1, .name = u"Motor\u00e9", .id = 103, .container = 10},
  };
  doc.bags = {
      {.name = u"Devices", .id = 40, .parent = 10, .members = {100, 103}, .skipBytes = 1, .flag = 1},
      {.version = 1, .name = u"Drivers", .id = 41, .parent = 1, .members = {102}},
  };
  doc.containers = {
      {.version = 3, .name = u"Global", .id = 1, .subs = {2}, .type = 2, .jWords = 1, .skipBytes = 1},
      {.version = 2, .name = u"Line", .id = 10, .type = 3, .jWords = 2},
      {.name = u"Cell", .id = 50, .parent = 10, .type = 1},
  };
  doc.trailingBytes = 3;
  return doc;
}

// The records a load has acted on when its stream ends at `cut`.
LegacyDocument SurvivorsOf(const LegacyDocument& doc, const LegacyLayout& at, std::size_t cut) {
  LegacyDocument kept;
  for (std::size_t i = 0; i < doc.objects.size(); ++i)
    if (at.objectEnds[i] <= cut) kept.objects.push_back(doc.objects[i]);
  for (std::size_t i = 0; i < doc.bags.size(); ++i)
    if (at.bagEnds[i] <= cut) kept.bags.push_back(doc.bags[i]);
  for (std::size_t i = 0; i < doc.containers.size(); ++i)
    if (at.containerTypeEnds[i] <= cut) kept.containers.push_back(doc.containers[i]);
  return kept;
}

LegacyDocument OnlyNamespaces(LegacyDocument doc) {
  std::erase_if(doc.containers, [](const BagContainerRecord& r) { return r.type != 2 && r.type != 3; });
  doc.objects.clear();
  doc.bags.clear();
  return doc;
}

struct Outcome {
  std::string treeAfterFailure, treeAfterNextLoad;
  std::uint32_t counter;
  std::vector<std::uint32_t> specialBags;
};

// A failed load, then a successful empty one that converts what the
// failure left in the legacy lists.
Outcome FailThenEmpty(const std::function<HRESULT(CNameServer&)>& failing, const LegacyDocument& doc) {
  CNameContainer::SetLastIssuedNameID(1);
  CNameServer server;
  Outcome out;
  EXPECT_EQ(failing(server), E_FAIL);
  EXPECT_FALSE(server.IsDirty());
  out.counter = CNameContainer::GetLastIssuedNameID();
  out.treeAfterFailure = TreeOf(server);
  ComPtr<IStorage> empty = LegacyStorage(Encode({}));
  ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(empty.Get());
  EXPECT_EQ(server.LoadOldVersion(legacy.Get()), S_OK);
  out.treeAfterNextLoad = TreeOf(server);
  for (const BagRecord& b : doc.bags) out.specialBags.push_back(server.GetBagbyName(b.parent, b.name));
  return out;
}

Outcome Expected(const LegacyDocument& doc, const LegacyLayout& at, std::size_t cut) {
  Outcome out;
  CNameContainer::SetLastIssuedNameID(1);
  {
    CNameServer server;
    ComPtr<IStorage> st = LegacyStorage(Encode(OnlyNamespaces(SurvivorsOf(doc, at, cut))));
    ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(st.Get());
    EXPECT_EQ(server.LoadOldVersion(legacy.Get()), S_OK);
    out.treeAfterFailure = TreeOf(server);
  }
  CNameServer server;
  ComPtr<IStorage> st = LegacyStorage(Encode(SurvivorsOf(doc, at, cut)));
  ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(st.Get());
  EXPECT_EQ(server.LoadOldVersion(legacy.Get()), S_OK);
  out.treeAfterNextLoad = TreeOf(server);
  out.counter = cut >= at.counterEnd ? doc.lastIssuedID : 1;
  // A special bag is recorded once its parent ID is read.
  for (std::size_t i = 0; i < doc.bags.size(); ++i) {
    const bool special = doc.bags[i].name == u"Devices" || doc.bags[i].name == u"Drivers";
    out.specialBags.push_back(special && at.bagParentEnds[i] <= cut ? doc.bags[i].id : 0);
  }
  return out;
}

void ExpectSame(const Outcome& got, const Outcome& want, const std::string& where) {
  EXPECT_EQ(got.treeAfterFailure, want.treeAfterFailure) << where;
  EXPECT_EQ(got.treeAfterNextLoad, want.treeAfterNextLoad) << where;
  EXPECT_EQ(got.counter, want.counter) << where;
  EXPECT_EQ(got.specialBags, want.specialBags) << where;
}

TEST_F(LegacyEntry, ChildStorageIsFoundUnderEitherName) {
  const auto doc = Encode(TargetDoc(10));
  ComPtr<IStorage> older = LegacyStorage(doc, u"B926AE3FAF0511d28CDB00A0C9A0FF");
  EXPECT_EQ(LoadFrom(older.Get()), S_OK);
  EXPECT_EQ(TreeOf(server), "#10 t3\n");

  // With both present, only the first name is read.
  CNameServer both;
  ComPtr<IStorage> st = LegacyStorage(Encode(TargetDoc(20)));
  {
    ComPtr<IStorage> second;
    ASSERT_EQ(st->CreateStorage(u"B926AE3FAF0511d28CDB00A0C9A0FF", kCreateMode, second.Put()), S_OK);
    ComPtr<IStream> s;
    ASSERT_EQ(second->CreateStream(u"NameService", kCreateMode, s.Put()), S_OK);
    ASSERT_EQ(s->Write(doc.data(), static_cast<std::uint32_t>(doc.size()), nullptr), S_OK);
  }
  ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(st.Get());
  EXPECT_EQ(both.LoadOldVersion(legacy.Get()), S_OK);
  EXPECT_EQ(TreeOf(both), "#20 t3\n");
}

TEST_F(LegacyEntry, MissingPiecesFailWithoutChangingAnything) {
  CNameContainer::SetLastIssuedNameID(77);
  EXPECT_EQ(server.LoadOldVersion(nullptr), E_FAIL);
  ComPtr<IStorage> noChild = CreateMemoryStorage();
  ComPtr<IStorage> wrongChild = LegacyStorage(Encode(TargetDoc(10)), u"QXTNameServe");
  ComPtr<IStorage> noElement = LegacyStorage(std::nullopt);
  for (IStorage* st : {noChild.Get(), wrongChild.Get(), noElement.Get()}) {
    auto ledger = MemoryStorageLedger(st);
    const auto before = ledger->Live();
    EXPECT_EQ(LoadFrom(st), E_FAIL);
    EXPECT_EQ(ledger->Live(), before);
  }
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 77u);
  EXPECT_FALSE(server.IsDirty());
  EXPECT_EQ(TreeOf(server), "");
}

TEST_F(LegacyEntry, StreamCutAtEveryByte) {
  const LegacyDocument doc = Plant();
  LegacyLayout at;
  const auto bytes = Encode(doc, &at);
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    const std::vector<std::uint8_t> head(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    ComPtr<IStorage> st = LegacyStorage(head);
    auto ledger = MemoryStorageLedger(st.Get());
    const Outcome got = FailThenEmpty(
        [&](CNameServer& s) {
          ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(st.Get());
          return s.LoadOldVersion(legacy.Get());
        },
        doc);
    ExpectSame(got, Expected(doc, at, cut), "cut at " + std::to_string(cut));
    EXPECT_EQ(ledger->Live(), 1) << "handle left open, cut at " << cut;
  }
  // Whole, it converts: bag 41 takes Fan from the global container.
  ASSERT_EQ(LoadBytes(bytes), S_OK);
  EXPECT_EQ(TreeOf(server),
            "#1 t2\n  #2 t2\n  #41 t2\n    102 Fan\n"
            "#10 t3\n  101 Valve\n  #40 t3\n    100 Pump\n    103 Motor\xc3\xa9\n  #50 t3\n");
}

TEST_F(LegacyEntry, EveryReadFailingOrShort) {
  const LegacyDocument doc = Plant();
  LegacyLayout at;
  const auto bytes = Encode(doc, &at);
  FaultCounters clean;
  {
    ComPtr<IStorage> st = WrapStorage(LegacyStorage(bytes).Get(), {}, &clean);
    CNameServer probe;
    ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(st.Get());
    ASSERT_EQ(probe.LoadOldVersion(legacy.Get()), S_OK);
  }
  ASSERT_GT(clean.reads, 40);
  for (Fault fault : {Fault::kFail, Fault::kShort}) {
    std::size_t offset = 0;  // where the spoiled read begins
    for (int k = 0; k < clean.reads; ++k) {
      ComPtr<IStorage> inner = LegacyStorage(bytes);
      auto ledger = MemoryStorageLedger(inner.Get());
      StorageFaults faults;
      faults.plan.readFault = fault;
      faults.plan.readIndex = k;
      const Outcome got = FailThenEmpty(
          [&](CNameServer& s) {
            ComPtr<IStorage> st = WrapStorage(inner.Get(), faults);
            ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(st.Get());
            return s.LoadOldVersion(legacy.Get());
          },
          doc);
      ExpectSame(got, Expected(doc, at, offset), "read " + std::to_string(k));
      EXPECT_EQ(ledger->Live(), 1) << "handle left open, read " << k;
      offset += clean.readSizes[static_cast<std::size_t>(k)];
    }
    EXPECT_EQ(offset, bytes.size());
  }
}

TEST_F(LegacyEntry, HostileSizesFailFast) {
  struct Case {
    const char* what;
    std::string hex;
  };
  const std::string frame = "00 00 00 00 | 05 00 00 00 |";
  const Case cases[] = {
      {"N1", frame + "FF FF FF FF | 02 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00"},
      {"name length", frame + "01 00 00 00 | 02 00 00 00 | F0 FF FF FF 41 00"},
      {"version 1 K", frame + "01 00 00 00 | 01 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00"
                              "| 01 00 00 00 | FF FF FF FF 07 00 00 00"},
      {"version 1 B", frame + "01 00 00 00 | 01 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00"
                              "| 00 00 00 00 | FF FF FF FF 07"},
      {"N2", frame + "00 00 00 00 | FF FF FF FF"},
      {"bag members", frame + "00 00 00 00 | 01 00 00 00 | 02 00 00 00 00 00 00 00 | 01 00 00 00 | 00 00 00 00"
                              "| FF FF FF FF 09 00 00 00"},
      {"N3", frame + "00 00 00 00 | 00 00 00 00 | FF FF FF FF | 01 00 00 00"},
      {"sub-containers", frame + "00 00 00 00 | 00 00 00 00 | 01 00 00 00 | 01 00 00 00 00 00 00 00"
                                 "| 0A 00 00 00 00 00 00 00 | FF FF FF FF 01 00 00 00"},
      {"J words", frame + "00 00 00 00 | 00 00 00 00 | 01 00 00 00 | 02 00 00 00 00 00 00 00"
                          "| 0A 00 00 00 00 00 00 00 | 00 00 00 00 | 03 00 00 00 | FF FF FF FF 01"},
      {"trailing block", frame + "00 00 00 00 | 00 00 00 00 | 00 00 00 00 | FF FF FF FF 01 02"},
  };
  for (const Case& c : cases) {
    CNameServer fresh;
    ComPtr<IStorage> st = LegacyStorage(Hex(c.hex));
    ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(st.Get());
    AllocationProbe probe;
    EXPECT_EQ(fresh.LoadOldVersion(legacy.Get()), E_FAIL) << c.what;
    // Reads of untrusted sizes go in bounded pieces; nothing near the claimed size is asked for.
    if (AllocationProbe::Available()) {
      EXPECT_LT(probe.Largest(), 256u * 1024) << c.what;
    }
  }
}

std::vector<std::uint8_t> SavedStream(CNameServer& server) {
  ComPtr<IStorage> st = CreateMemoryStorage();
  EXPECT_EQ(server.Save(st.Get()), S_OK);
  ComPtr<IStream> s;
  EXPECT_EQ(st->OpenStream(u"NameServer", kOpenMode, s.Put()), S_OK);
  return MemoryStreamBytes(s.Get());
}

std::vector<std::uint8_t> Reloaded(const std::vector<std::uint8_t>& bytes, std::string* tree) {
  ComPtr<IStorage> st = CreateMemoryStorage();
  ComPtr<IStream> s;
  EXPECT_EQ(st->CreateStream(u"NameServer", kCreateMode, s.Put()), S_OK);
  EXPECT_EQ(s->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), nullptr), S_OK);
  s.Reset();  // an open stream cannot be opened a second time
  CNameServer server;
  EXPECT_EQ(server.Load(st.Get()), S_OK);
  *tree = TreeOf(server);
  return SavedStream(server);
}

TEST_F(LegacyEntry, ConvertedDocumentSavesAndLoadsBack) {
  ASSERT_EQ(LoadDoc(Plant()), S_OK);
  const auto first = SavedStream(server);
  EXPECT_FALSE(server.IsDirty());
  std::string tree;
  const auto second = Reloaded(first, &tree);
  EXPECT_EQ(tree, TreeOf(server));
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 900u);
  // Pump (100) and Motor (103) share a bucket of bag 40: each reload
  // reverses them, so the bytes come back after two round trips.
  EXPECT_NE(ToHex(second), ToHex(first));
  const auto third = Reloaded(second, &tree);
  EXPECT_EQ(tree, TreeOf(server));
  EXPECT_EQ(ToHex(third), ToHex(first));
}

}  // namespace
}  // namespace nametree::test

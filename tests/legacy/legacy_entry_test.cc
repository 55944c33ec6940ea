// Opening the legacy element, and what a load leaves behind when its stream
// is cut short, fails or lies about its sizes.
#include <algorithm>
#include <iterator>

#include "legacy_fixture.h"
#include "nametree/memory_storage.h"
#include "support/fault_stream.h"
#include "support/hex.h"

namespace nametree::test {
namespace {

using LegacyEntry = LegacyTest;

// Something of every kind, with the fields readers pass over.
const LegacyDocument kPlant{
    .lastIssuedID = 900,
    .objects = {{.version = 1, .name = u"Pump", .id = 100, .container = 10, .f = 2, .fWords = {1, 2}, .skipBytes = 2},
                Name(101, u"Valve", 10), Name(102, u"Fan", 1),
                {.version = 1, .name = u"Motor\u00e9", .id = 103, .container = 10}},
    .bags = {{.name = u"Devices", .id = 40, .parent = 10, .members = {100, 103}, .skipBytes = 1, .flag = 1},
             {.version = 1, .name = u"Drivers", .id = 41, .parent = 1, .members = {102}}},
    .containers = {{.version = 3, .name = u"Global", .id = 1, .subs = {2}, .type = 2, .jWords = 1, .skipBytes = 1},
                   {.version = 2, .name = u"Line", .id = 10, .type = 3, .jWords = 2},
                   {.name = u"Cell", .id = 50, .parent = 10, .type = 1}},
    .trailingBytes = 3,
};

std::string TreeAndCounter(const CNameServer& server) {
  return TreeOf(server) + "counter " + std::to_string(CNameContainer::GetLastIssuedNameID()) + "\n";
}

// A load from `first`, then an empty one that converts whatever the first
// left in the legacy lists; the special bags are asked for at the end.
std::string LoadThenEmpty(IStorage* first, const LegacyDocument& doc) {
  CNameContainer::SetLastIssuedNameID(1);
  CNameServer server;
  EXPECT_EQ(server.LoadOldVersion(CreateLegacyStorageAdapter(first).Get()), E_FAIL);
  EXPECT_FALSE(server.IsDirty());
  std::string out = TreeAndCounter(server) + "then\n";
  EXPECT_EQ(server.LoadOldVersion(CreateLegacyStorageAdapter(LegacyStorage(Encode({})).Get()).Get()), S_OK);
  out += TreeAndCounter(server);
  for (const BagRecord& b : doc.bags) out += "bag " + std::to_string(server.GetBagbyName(b.parent, b.name)) + "\n";
  return out;
}

std::string Converted(const LegacyDocument& doc) {
  CNameServer server;
  EXPECT_EQ(server.LoadOldVersion(CreateLegacyStorageAdapter(LegacyStorage(Encode(doc)).Get()).Get()), S_OK);
  return TreeAndCounter(server);
}

// What LoadThenEmpty gives for a load that fails at `cut`: the global and
// target containers read so far are made at once, the other records read
// so far are converted by the next load, and a special bag is recorded
// from its parent ID on.
std::string LeftByFailureAt(const LegacyDocument& doc, const LegacyLayout& at, std::size_t cut) {
  LegacyDocument read, namespaces;
  namespaces.lastIssuedID = cut >= at.counterEnd ? doc.lastIssuedID : 1;
  for (std::size_t i = 0; i < doc.objects.size(); ++i)
    if (at.objectEnds[i] <= cut) read.objects.push_back(doc.objects[i]);
  for (std::size_t i = 0; i < doc.bags.size(); ++i)
    if (at.bagEnds[i] <= cut) read.bags.push_back(doc.bags[i]);
  for (std::size_t i = 0; i < doc.containers.size(); ++i)
    if (at.containerTypeEnds[i] <= cut) read.containers.push_back(doc.containers[i]);
  std::copy_if(read.containers.begin(), read.containers.end(), std::back_inserter(namespaces.containers),
               [](const BagContainerRecord& r) { return r.type == 2 || r.type == 3; });
  std::string out = Converted(namespaces) + "then\n" + Converted(read);
  for (std::size_t i = 0; i < doc.bags.size(); ++i) {
    const bool special = doc.bags[i].name == u"Devices" || doc.bags[i].name == u"Drivers";
    out += "bag " + std::to_string(special && at.bagParentEnds[i] <= cut ? doc.bags[i].id : 0) + "\n";
  }
  return out;
}

TEST_F(LegacyEntry, ElementIsFoundUnderEitherChildNameOrTheLoadFailsChangingNothing) {
  const CString older = u"B926AE3FAF0511d28CDB00A0C9A0FF";
  const LegacyDocument ten{.containers = {Box(10, 3)}}, twenty{.containers = {Box(20, 3)}};
  ComPtr<IStorage> both = LegacyStorage(Encode(twenty));
  ASSERT_TRUE(PutLegacyStream(both.Get(), Encode(ten), older));
  const struct {
    ComPtr<IStorage> storage;
    HRESULT result;
    std::string tree;
  } cases[] = {
      {CreateMemoryStorage(), E_FAIL, ""},
      {LegacyStorage(Encode(ten), u"QXTNameServe"), E_FAIL, ""},
      {LegacyStorage(std::nullopt), E_FAIL, ""},
      {LegacyStorage(Encode(ten), older), S_OK, "#10 t3\n"},
      {both, S_OK, "#20 t3\n"},  // only the first name is read
  };
  EXPECT_EQ(server.LoadOldVersion(nullptr), E_FAIL);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tree);
    CNameContainer::SetLastIssuedNameID(77);
    CNameServer fresh;
    auto ledger = MemoryStorageLedger(c.storage.Get());
    const auto before = ledger->Live();
    EXPECT_EQ(fresh.LoadOldVersion(CreateLegacyStorageAdapter(c.storage.Get()).Get()), c.result);
    EXPECT_EQ(ledger->Live(), before);
    EXPECT_EQ(TreeOf(fresh), c.tree);
    EXPECT_EQ(fresh.IsDirty(), c.result == S_OK);
    EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), c.result == S_OK ? 0u : 77u);
  }
}

// Whatever spoils the stream, at whatever point: what was read before it
// stays, and every handle taken is given back.
TEST_F(LegacyEntry, StreamCutShortOrFailingAtEveryPoint) {
  const LegacyDocument& doc = kPlant;
  LegacyLayout at;
  const auto bytes = Encode(doc, &at);
  FaultCounters clean;
  ASSERT_EQ(LoadFrom(WrapStorage(LegacyStorage(bytes).Get(), {}, &clean).Get()), S_OK);
  // Whole, it converts: bag 41 takes Fan from the global container.
  EXPECT_EQ(TreeOf(server),
            "#1 t2\n  #2 t2\n  #41 t2\n    102 Fan\n"
            "#10 t3\n  101 Valve\n  #40 t3\n    100 Pump\n    103 Motor\xc3\xa9\n  #50 t3\n");
  struct Spoil {
    std::size_t cut;  // where the stream ends or the spoiled read begins
    Fault fault;
    int read;
  };
  std::vector<Spoil> spoils;
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) spoils.push_back({cut, Fault::kNone, -1});
  std::size_t offset = 0;
  for (int k = 0; k < clean.reads; offset += clean.readSizes[static_cast<std::size_t>(k++)])
    for (Fault fault : {Fault::kFail, Fault::kShort}) spoils.push_back({offset, fault, k});
  ASSERT_GT(clean.reads, 40);
  EXPECT_EQ(offset, bytes.size()) << "the trailing block must be read to its end";
  for (const Spoil& s : spoils) {
    SCOPED_TRACE("at " + std::to_string(s.cut) + ", read " + std::to_string(s.read));
    const std::size_t kept = s.fault == Fault::kNone ? s.cut : bytes.size();
    ComPtr<IStorage> inner = LegacyStorage(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + kept));
    auto ledger = MemoryStorageLedger(inner.Get());
    StorageFaults faults;
    faults.plan.readFault = s.fault;
    faults.plan.readIndex = s.read;
    EXPECT_EQ(LoadThenEmpty(WrapStorage(inner.Get(), faults).Get(), doc), LeftByFailureAt(doc, at, s.cut));
    EXPECT_EQ(ledger->Live(), 1) << "handle left open";
  }
}

TEST_F(LegacyEntry, HostileSizesAndUnknownVersionsFailFast) {
  const std::string frame = "00 00 00 00 | 05 00 00 00 |";
  const std::pair<const char*, std::string> cases[] = {
      // A whole record whose version is neither 1 nor 2, then empty sections.
      {"version 3", frame + "01 00 00 00 | 03 00 00 00 00 00 00 00 01 00 00 00 0A 00 00 00 00 00 00 00"
                            "| 00 00 00 00 | 00 00 00 00 | 00 00 00 00"},
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
  for (const auto& [what, hex] : cases) {
    CNameServer fresh;
    ComPtr<IStorage> st = LegacyStorage(Hex(hex));
    AllocationProbe probe;
    EXPECT_EQ(fresh.LoadOldVersion(CreateLegacyStorageAdapter(st.Get()).Get()), E_FAIL) << what;
    // Reads of untrusted sizes go in bounded pieces; nothing near the claimed size is asked for.
    EXPECT_LT(AllocationProbe::Available() ? probe.Largest() : 0, 256u * 1024) << what;
  }
}

TEST_F(LegacyEntry, ConvertedDocumentSavesAndLoadsBack) {
  ASSERT_EQ(LoadDoc(kPlant), S_OK);
  ComPtr<IStorage> storage = CreateMemoryStorage();
  ASSERT_EQ(server.Save(storage.Get()), S_OK);
  EXPECT_FALSE(server.IsDirty());
  CNameServer loaded;
  ASSERT_EQ(loaded.Load(storage.Get()), S_OK);
  EXPECT_EQ(TreeOf(loaded), TreeOf(server));
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 900u);
}

}  // namespace
}  // namespace nametree::test

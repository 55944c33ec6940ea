// Reading documents of the earlier format: opening the legacy element, the
// three sections read record by record, how the records become containers
// and names (pending containers first, then bags, last read first, then the
// names no bag claimed), and what a load leaves behind when its stream is
// cut short, fails or lies about its sizes.
#include <algorithm>
#include <iterator>
#include <tuple>

#include "legacy_fixture.h"
#include "nametree/memory_storage.h"
#include "platform/handle_ledger.h"
#include "support/fault_stream.h"
#include "support/hex.h"

namespace nametree::test {
namespace {

using Conversion = LegacyTest;

// One record of each section, worked out by hand.
const char kOneOfEach[] =
    "05 00 01 00 | 64 00 00 00"                                       // format word, last issued ID 100
    "| 01 00 00 00"                                                   // N1
    "| 02 00 00 00 | 0A 00 00 00 50 00 75 00 6D 00 70 00 00 00"       //   v2, "Pump"
    "| 65 00 00 00 | 0A 00 00 00 | EF BE AD DE"                       //   ID 101, container 10, unused
    "| 01 00 00 00"                                                   // N2
    "| 01 00 00 00 | 10 00 00 00 44 00 72 00 69 00 76 00 65 00 72 00 73 00 00 00"  // v1, "Drivers"
    "| 28 00 00 00 | 0A 00 00 00 | 01 00 00 00 65 00 00 00 | 00 00 00 00"          //   40 in 10, [101]
    "| 01 00 00 00"                                                   // N3
    "| 01 00 00 00 | 00 00 00 00 | 0A 00 00 00 | 00 00 00 00"         //   v1, "", ID 10, parent 0
    "| 00 00 00 00 | 03 00 00 00 | 02 00 00 00 A0 A1"                 //   no subs, type 3, 2 bytes
    "| 01 00 00 00 A0";                                               // trailing block

TEST_F(Conversion, HandWorkedStreamConvertsIntoItsTree) {
  LegacyDocument doc{.formatWord = 0x00010005, .lastIssuedID = 100, .trailingBytes = 1};
  doc.objects.push_back(Name(101, u"Pump", 10));
  doc.bags.push_back({.version = 1, .name = u"Drivers", .id = 40, .parent = 10, .members = {101}});
  doc.containers.push_back({.id = 10, .type = 3, .skipBytes = 2});
  ASSERT_EQ(ToHex(EncodeLegacyStream(doc)), ToHex(Hex(kOneOfEach))) << "the encoder disagrees with the hand-worked bytes";

  // Bytes behind the trailing block are never read.
  ASSERT_EQ(LoadFrom(LegacyStorage(Hex(std::string(kOneOfEach) + "FF FF")).Get()), S_OK);
  EXPECT_EQ(TreeOf(server), "#10 t3\n  #40 t3\n    101 Pump\n");
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 100u);
  EXPECT_TRUE(server.IsDirty());
  EXPECT_EQ(server.GetBagbyName(10, u"drivers"), 40u);
}

struct Case {
  const char* what;
  LegacyDocument doc;
  std::string tree;
  // What the drop observer hears, one record a line: "record/reason id>container name",
  // with kNameObject 0, kNameBag 1, kBagContainer 2 and kReplaced 0 ... kParentMissing 4.
  std::string drops;
};

TEST_F(Conversion, RecordsBecomeTheTreeAndTheDropObserverHearsOfEveryRecordLeftOut) {
  const Case cases[] = {
      {"name-object versions and repeats",
       {.objects = {{.version = 1, .name = u"Plain", .id = 1, .container = 10, .skipBytes = 3},
                    // A non-zero F brings its K words; F = 3 with K = 2 skips exactly two.
                    {.version = 1, .name = u"Tailed", .id = 2, .container = 10, .f = 3, .fWords = {9, 9}, .skipBytes = 1},
                    {.version = 2, .name = u"", .id = 3, .container = 10},
                    Name(4, u"First", 10), Name(4, u"Second", 10),  // the later record wins
                    Name(5, u"Homeless", 0), Name(6, u"Lost", 99)},
        .containers = {Box(10, 3)}},
       "#10 t3\n  1 Plain\n  2 Tailed\n  3 \n  4 Second\n",
       "0/0 4>10 First\n0/2 6>99 Lost\n0/1 5>0 Homeless\n"},  // one bucket, latest first
      {"bags become containers that keep their names",
       {.objects = {Name(100, u"Pump", 55), Name(101, u"Valve", 0), Name(102, u"Motor", 10)},
        .bags = {Bag(40, u"Line", 10, {100, 101, 999})},
        .containers = {Box(10, 3)}},
       "#10 t3\n  102 Motor\n  #40 t3\n    100 Pump\n    101 Valve\n", ""},
      {"names of unconverted bags fall back to their own container",
       {.objects = {Name(100, u"Pump", 10), Name(101, u"Fan", 0)},
        .bags = {Bag(40, u"Loose", 0, {100, 101})},
        .containers = {Box(10, 3)}},
       "#10 t3\n  100 Pump\n", "1/3 40>0 \n0/1 101>0 Fan\n"},
      {"a name listed twice goes to the bag read last",
       {.objects = {Name(100, u"Pump", 10)},
        .bags = {Bag(40, u"A", 10, {100}), Bag(41, u"B", 10, {100})},
        .containers = {Box(10, 3)}},
       "#10 t3\n  #40 t3\n  #41 t3\n    100 Pump\n", ""},
      // Objects taken by a bag do not fall back to their own container.
      {"a bag without its parent loses its names unless its ID exists elsewhere",
       {.objects = {Name(100, u"Lost", 10), Name(101, u"Found", 10)},
        .bags = {Bag(60, u"Orphan", 99, {100}), Bag(61, u"Twin", 98, {101})},
        .containers = {Box(10, 3), Box(61, 3)}},
       "#10 t3\n#61 t3\n  101 Found\n", "1/4 61>98 \n1/4 60>99 \n0/2 100>60 Lost\n"},
      // 81's parent is read after it, 86's before it; 70's parent is a bag, converted later.
      {"pending containers are made last read first under their parent's type",
       {.bags = {Bag(40, u"Bag", 10)},
        .containers = {Box(1, 2), Box(10, 3), Box(81, 5, 82), Box(82, 4, 1), Box(85, 0, 1), Box(86, 0, 85),
                       Box(70, 1, 40), Box(80, 0, 10)}},
       "#1 t2\n  #82 t2\n    #81 t2\n  #85 t2\n#10 t3\n  #40 t3\n  #80 t3\n", "2/4 70>40 \n2/4 86>85 \n"},
      {"a bag keeps the sub-container made for its ID",
       {.objects = {Name(100, u"Pump", 0)},
        .bags = {Bag(40, u"Line", 10, {100})},
        .containers = {{.id = 10, .subs = {40}, .type = 3}}},
       "#10 t3\n  #40 t3\n    100 Pump\n", ""},
      {"every reason to leave a record out",
       {.objects = {Name(100, u"Old", 10), Name(100, u"Pump", 10), Name(101, u"Lost", 10), Name(102, u"Orphan", 0),
                    Name(103, u"Astray", 55)},
        .bags = {Bag(60, u"Gone", 99, {101}), Bag(61, u"Loose", 0, {102})},
        .containers = {Box(10, 3), Box(70, 0, 77)}},
       "#10 t3\n  100 Pump\n",
       "0/0 100>10 Old\n2/4 70>77 \n1/3 61>0 \n1/4 60>99 \n0/2 101>60 Lost\n0/2 103>55 Astray\n0/1 102>0 Orphan\n"},
      // Global and target records are made at once, the parent of a type-3 one ignored; a
      // type-1 record leaves no trace, nor do its subs, and a second top-level 5 is made too.
      {"bag containers of global and target type",
       {.containers = {{.version = 3, .id = 5, .parent = 7, .subs = {20, 21}, .type = 3, .jWords = 2, .skipBytes = 1},
                       {.version = 2, .id = 1, .subs = {30}, .type = 2, .jWords = 1}, Box(2, 2),
                       {.id = 8, .subs = {40}, .type = 1}, Box(9, 0x10002), {.id = 5, .subs = {22}, .type = 3},
                       {.id = 6, .parent = 5, .subs = {41}, .type = 1}}},
       "#5 t3\n  #6 t3\n  #20 t3\n  #21 t3\n  #22 t3\n#1 t2\n  #30 t2\n#2 t2\n#5 t3\n", ""},
      // 33 lies in a later bucket than 17 whatever the insertion order, so it
      // is entered last and keeps the text key of the pair.
      {"remaining names are placed in bucket order",
       {.objects = {Name(17, u"Motor", 10), Name(33, u"MOTOR", 10)}, .containers = {Box(10, 3)}},
       "#10 t3\n  17 Motor (text names 33)\n  33 MOTOR\n", ""},
      {"remaining names are placed in bucket order, whatever the record order",
       {.objects = {Name(33, u"MOTOR", 10), Name(17, u"Motor", 10)}, .containers = {Box(10, 3)}},
       "#10 t3\n  17 Motor (text names 33)\n  33 MOTOR\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CNameContainer::SetLastIssuedNameID(0);
    CNameServer fresh;
    std::string heard;
    fresh.SetLegacyDropObserver([&](const CLegacyDrop& d) {
      heard += std::to_string(static_cast<int>(d.record)) + "/" + std::to_string(static_cast<int>(d.reason)) + " " +
               std::to_string(d.id) + ">" + std::to_string(d.containerID) + " " +
               std::string(d.name.begin(), d.name.end()) + "\n";
    });
    ComPtr<IStorage> storage = LegacyStorage(EncodeLegacyStream(c.doc));
    ASSERT_EQ(fresh.LoadOldVersion(CreateLegacyStorageAdapter(storage.Get()).Get()), S_OK);
    EXPECT_EQ(TreeOf(fresh), c.tree);
    EXPECT_EQ(heard, c.drops);
  }
}

TEST_F(Conversion, SpecialBagsAreFoundByParentAndNameAndAccumulateOverLoads) {
  EXPECT_EQ(server.GetBagbyName(0, u"Devices"), 0u);
  ASSERT_EQ(LoadDoc({.bags = {Bag(40, u"DEVICES", 10), Bag(41, u"Device", 10), Bag(42, u"Devices ", 11),
                              {.version = 1, .name = u"Drivers", .id = 43, .parent = 10},  // no flag byte
                              {.name = u"drivers", .id = 44, .parent = 10, .skipBytes = 5, .flag = 0xFF},
                              Bag(45, u"Protocols", 11), Bag(46, u"pRoToCoLs", 0)},
                     .containers = {Box(10, 3)}}),
            S_OK);
  ASSERT_EQ(LoadDoc({.bags = {Bag(50, u"Drivers", 20), Bag(51, u"Drivers", 10)}, .containers = {Box(20, 3)}}), S_OK);
  const std::tuple<std::uint32_t, CString, std::uint32_t> lookups[] = {  // parent, name, bag found
      {10, u"devices", 40}, {11, u"Devices", 0},   // a trailing blank is not special
      {10, u"Device", 0},   {10, u"DRIVERS", 43},  // the first of several is found, over loads too
      {20, u"Drivers", 50}, {11, u"Protocols", 45}, {10, u"Protocols", 0},
      {0, u"protocols", 46},  // found although no container is made of it
  };
  for (const auto& [parent, name, bag] : lookups) EXPECT_EQ(server.GetBagbyName(parent, name), bag) << parent;
  EXPECT_EQ(TreeOf(server), "#10 t3\n  #40 t3\n  #41 t3\n  #43 t3\n  #44 t3\n  #51 t3\n#20 t3\n  #50 t3\n");
}

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
  EXPECT_EQ(server.LoadOldVersion(CreateLegacyStorageAdapter(LegacyStorage(EncodeLegacyStream({})).Get()).Get()), S_OK);
  out += TreeAndCounter(server);
  for (const LegacyBag& b : doc.bags) out += "bag " + std::to_string(server.GetBagbyName(b.parent, b.name)) + "\n";
  return out;
}

std::string Converted(const LegacyDocument& doc) {
  CNameServer server;
  const ComPtr<IStorage> storage = LegacyStorage(EncodeLegacyStream(doc));
  EXPECT_EQ(server.LoadOldVersion(CreateLegacyStorageAdapter(storage.Get()).Get()), S_OK);
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
               [](const LegacyBagContainer& r) { return r.type == 2 || r.type == 3; });
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
  ComPtr<IStorage> both = LegacyStorage(EncodeLegacyStream(twenty));
  ASSERT_TRUE(PutLegacyStream(both.Get(), EncodeLegacyStream(ten), older));
  const std::tuple<ComPtr<IStorage>, HRESULT, std::string> cases[] = {  // storage, result, tree
      {CreateMemoryStorage(), E_FAIL, ""},
      {LegacyStorage(EncodeLegacyStream(ten), u"QXTNameServe"), E_FAIL, ""},
      {LegacyStorage(std::nullopt), E_FAIL, ""},
      {LegacyStorage(EncodeLegacyStream(ten), older), S_OK, "#10 t3\n"},
      {both, S_OK, "#20 t3\n"},  // only the first name is read
  };
  EXPECT_EQ(server.LoadOldVersion(nullptr), E_FAIL);
  for (const auto& [storage, result, tree] : cases) {
    SCOPED_TRACE(tree);
    CNameContainer::SetLastIssuedNameID(77);
    CNameServer fresh;
    auto ledger = MemoryStorageLedger(storage.Get());
    const auto before = ledger->Live();
    EXPECT_EQ(fresh.LoadOldVersion(CreateLegacyStorageAdapter(storage.Get()).Get()), result);
    EXPECT_EQ(ledger->Live(), before);
    EXPECT_EQ(TreeOf(fresh), tree);
    EXPECT_EQ(fresh.IsDirty(), result == S_OK);
    EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), result == S_OK ? 0u : 77u);
  }

}

// Whatever spoils the stream, at whatever point: what was read before it
// stays, and every handle taken is given back.
TEST_F(LegacyEntry, StreamCutShortOrFailingAtEveryPoint) {
  const LegacyDocument& doc = kPlant;
  LegacyLayout at;
  const auto bytes = EncodeLegacyStream(doc, &at);
  FaultCounters clean;
  ASSERT_EQ(LoadFrom(WrapStorage(LegacyStorage(bytes).Get(), {}, &clean).Get()), S_OK);
  // Whole, it converts (bag 41 takes Fan from the global container), and
  // what it converts saves and loads back.
  EXPECT_EQ(TreeOf(server),
            "#1 t2\n  #2 t2\n  #41 t2\n    102 Fan\n"
            "#10 t3\n  101 Valve\n  #40 t3\n    100 Pump\n    103 Motor\xc3\xa9\n  #50 t3\n");
  ComPtr<IStorage> saved = CreateMemoryStorage();
  ASSERT_EQ(server.Save(saved.Get()), S_OK);
  EXPECT_FALSE(server.IsDirty());
  CNameServer loaded;
  ASSERT_EQ(loaded.Load(saved.Get()), S_OK);
  EXPECT_EQ(TreeOf(loaded), TreeOf(server));
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 900u);

  // Each spoiler: where the stream ends or the spoiled read begins, and the fault.
  std::vector<std::pair<std::size_t, FaultPlan>> spoilers;
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) spoilers.push_back({cut, FaultPlan{}});
  std::size_t offset = 0;
  for (int k = 0; k < clean.reads; offset += clean.readSizes[static_cast<std::size_t>(k++)])
    for (Fault fault : {Fault::kFail, Fault::kShort})
      spoilers.push_back({offset, FaultPlan{.readFault = fault, .readIndex = k}});
  ASSERT_GT(clean.reads, 40);
  EXPECT_EQ(offset, bytes.size()) << "the trailing block must be read to its end";
  for (const auto& [cut, plan] : spoilers) {
    SCOPED_TRACE("at " + std::to_string(cut) + ", read " + std::to_string(plan.readIndex));
    const std::size_t kept = plan.readFault == Fault::kNone ? cut : bytes.size();
    ComPtr<IStorage> inner = LegacyStorage(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + kept));
    auto ledger = MemoryStorageLedger(inner.Get());
    EXPECT_EQ(LoadThenEmpty(WrapStorage(inner.Get(), {.plan = plan}).Get(), doc), LeftByFailureAt(doc, at, cut));
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

}  // namespace
}  // namespace nametree::test

// The three sections of a legacy stream, read record by record, and how the
// records become containers and names: pending containers first, then bags
// (last read first), then the names no bag claimed.
#include "legacy_fixture.h"
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
  ASSERT_EQ(ToHex(Encode(doc)), ToHex(Hex(kOneOfEach))) << "the test writer disagrees with the hand-worked bytes";

  // Bytes behind the trailing block are never read.
  ASSERT_EQ(LoadBytes(Hex(std::string(kOneOfEach) + "FF FF")), S_OK);
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
    ComPtr<IStorage> storage = LegacyStorage(Encode(c.doc));
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
  const struct {
    std::uint32_t parent;
    CString name;
    std::uint32_t bag;
  } lookups[] = {
      {10, u"devices", 40}, {11, u"Devices", 0},   // a trailing blank is not special
      {10, u"Device", 0},   {10, u"DRIVERS", 43},  // the first of several is found, over loads too
      {20, u"Drivers", 50}, {11, u"Protocols", 45}, {10, u"Protocols", 0},
      {0, u"protocols", 46},  // found although no container is made of it
  };
  for (const auto& l : lookups) EXPECT_EQ(server.GetBagbyName(l.parent, l.name), l.bag) << l.parent;
  EXPECT_EQ(TreeOf(server), "#10 t3\n  #40 t3\n  #41 t3\n  #43 t3\n  #44 t3\n  #51 t3\n#20 t3\n  #50 t3\n");
}

TEST_F(Conversion, BagContainersOfGlobalAndTargetTypeAreMadeAtOnce) {
  ASSERT_EQ(LoadDoc({.containers =
                         {
                             // The parent ID of a type-3 record plays no part.
                             {.version = 3, .id = 5, .parent = 7, .subs = {20, 21}, .type = 3, .jWords = 2, .skipBytes = 1},
                             {.version = 2, .id = 1, .subs = {30}, .type = 2, .jWords = 1},
                             Box(2, 2),
                             {.id = 8, .subs = {40}, .type = 1},  // leaves no trace, nor do its subs
                             Box(9, 0x10002),                     // neither 2 nor 3
                             {.id = 5, .subs = {22}, .type = 3},  // a second top-level 5
                             {.id = 6, .parent = 5, .subs = {41}, .type = 1},  // pending under the first 5
                         }}),
            S_OK);
  EXPECT_EQ(TreeOf(server), "#5 t3\n  #6 t3\n  #20 t3\n  #21 t3\n  #22 t3\n#1 t2\n  #30 t2\n#2 t2\n#5 t3\n");
  EXPECT_EQ(server.GetGlobalContainerID(), 1u);
  std::vector<std::uint32_t> targets;
  ASSERT_EQ(server.GetTargetsContainerIDList(targets), S_OK);
  EXPECT_EQ(targets, (std::vector<std::uint32_t>{5, 5}));
}

}  // namespace
}  // namespace nametree::test

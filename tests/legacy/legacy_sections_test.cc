// The three sections of a legacy stream, read record by record: which
// fields each version carries, and what every record leaves behind.
#include "legacy_fixture.h"
#include "support/hex.h"

namespace nametree::test {
namespace {

using LegacySections = LegacyTest;

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

TEST_F(LegacySections, HandWorkedStreamConvertsIntoItsTree) {
  LegacyDocument doc;
  doc.formatWord = 0x00010005, doc.lastIssuedID = 100, doc.trailingBytes = 1;
  doc.objects.push_back({.name = u"Pump", .id = 101, .container = 10});
  doc.bags.push_back({.version = 1, .name = u"Drivers", .id = 40, .parent = 10, .members = {101}});
  doc.containers.push_back({.id = 10, .type = 3, .skipBytes = 2});
  ASSERT_EQ(ToHex(Encode(doc)), ToHex(Hex(kOneOfEach))) << "the test writer disagrees with the hand-worked bytes";

  ASSERT_EQ(LoadBytes(Hex(kOneOfEach)), S_OK);
  EXPECT_EQ(TreeOf(server), "#10 t3\n  #40 t3\n    101 Pump\n");
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 100u);
  EXPECT_TRUE(server.IsDirty());
  EXPECT_EQ(server.GetBagbyName(10, u"drivers"), 40u);
}

TEST_F(LegacySections, FrameWithEmptySectionsOnlySetsTheCounterAndDirtiesTheServer) {
  CNameContainer::SetLastIssuedNameID(7);
  ASSERT_EQ(LoadBytes(Hex("00 00 00 00 | 39 30 00 00 | 00 00 00 00 | 00 00 00 00 | 00 00 00 00 | 00 00 00 00")),
            S_OK);
  EXPECT_EQ(TreeOf(server), "");
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 12345u);
  EXPECT_TRUE(server.IsDirty());
  // Bytes behind the trailing block are never read.
  auto longer = Hex("00 00 00 00 | 01 00 00 00 | 00 00 00 00 | 00 00 00 00 | 00 00 00 00 | 00 00 00 00 | FF FF");
  EXPECT_EQ(LoadBytes(longer), S_OK);
}

TEST_F(LegacySections, NameObjectVersionsAndRepeats) {
  LegacyDocument doc;
  doc.containers.push_back({.id = 10, .type = 3});
  doc.objects = {
      {.version = 1, .name = u"Plain", .id = 1, .container = 10, .f = 0, .skipBytes = 3},
      // A non-zero F brings its K words; F = 3 with K = 2 skips exactly two.
      {.version = 1, .name = u"Tailed", .id = 2, .container = 10, .f = 3, .fWords = {9, 9}, .skipBytes = 1},
      {.version = 2, .name = u"", .id = 3, .container = 10},
      {.name = u"First", .id = 4, .container = 10},
      {.name = u"Second", .id = 4, .container = 10},  // the later record wins
      {.name = u"Homeless", .id = 5, .container = 0},
      {.name = u"Lost", .id = 6, .container = 99},
  };
  ASSERT_EQ(LoadDoc(doc), S_OK);
  EXPECT_EQ(TreeOf(server), "#10 t3\n  1 Plain\n  2 Tailed\n  3 \n  4 Second\n");
}

TEST_F(LegacySections, BadNameObjectVersionEndsTheLoadAndKeepsEarlierObjects) {
  LegacyDocument bad;
  bad.objects = {{.name = u"Kept", .id = 1, .container = 10}, {.version = 3, .name = u"X", .id = 2}};
  bad.bags.push_back({.name = u"Devices", .id = 40, .parent = 10});
  bad.containers.push_back({.id = 10, .type = 3});
  EXPECT_EQ(LoadDoc(bad), E_FAIL);
  EXPECT_EQ(TreeOf(server), "");
  EXPECT_FALSE(server.IsDirty());
  EXPECT_EQ(server.GetBagbyName(10, u"Devices"), 0u) << "the bag section must not have been read";

  // The object read before the failure waits for the next successful load.
  LegacyDocument next;
  next.containers.push_back({.id = 10, .type = 3});
  EXPECT_EQ(LoadDoc(next), S_OK);
  EXPECT_EQ(TreeOf(server), "#10 t3\n  1 Kept\n");
}

TEST_F(LegacySections, SpecialBagsAreFoundByParentAndName) {
  EXPECT_EQ(server.GetBagbyName(0, u"Devices"), 0u);
  LegacyDocument doc;
  doc.bags = {
      {.name = u"DEVICES", .id = 40, .parent = 10},
      {.name = u"Device", .id = 41, .parent = 10},
      {.name = u"Devices ", .id = 42, .parent = 11},
      {.version = 1, .name = u"Drivers", .id = 43, .parent = 10},  // no flag byte
      {.name = u"drivers", .id = 44, .parent = 10, .skipBytes = 5, .flag = 0xFF},
      {.name = u"Protocols", .id = 45, .parent = 11},
      {.name = u"pRoToCoLs", .id = 46, .parent = 0},
  };
  ASSERT_EQ(LoadDoc(doc), S_OK);
  EXPECT_EQ(server.GetBagbyName(10, u"devices"), 40u);
  EXPECT_EQ(server.GetBagbyName(11, u"Devices"), 0u) << "a trailing blank is not special";
  EXPECT_EQ(server.GetBagbyName(10, u"Device"), 0u);
  EXPECT_EQ(server.GetBagbyName(10, u"DRIVERS"), 43u) << "the first of two is found";
  EXPECT_EQ(server.GetBagbyName(11, u"Protocols"), 45u);
  EXPECT_EQ(server.GetBagbyName(10, u"Protocols"), 0u);
  EXPECT_EQ(server.GetBagbyName(0, u"protocols"), 46u) << "found although no container is made of it";
  EXPECT_EQ(TreeOf(server), "");
}

TEST_F(LegacySections, SpecialBagsOutliveConversionAndAccumulate) {
  LegacyDocument first;
  first.containers.push_back({.id = 10, .type = 3});
  first.bags.push_back({.name = u"Drivers", .id = 40, .parent = 10});
  ASSERT_EQ(LoadDoc(first), S_OK);
  LegacyDocument second;
  second.containers.push_back({.id = 20, .type = 3});
  second.bags.push_back({.name = u"Drivers", .id = 50, .parent = 20});
  second.bags.push_back({.name = u"Drivers", .id = 51, .parent = 10});
  ASSERT_EQ(LoadDoc(second), S_OK);
  EXPECT_EQ(server.GetBagbyName(10, u"Drivers"), 40u);
  EXPECT_EQ(server.GetBagbyName(20, u"Drivers"), 50u);
  EXPECT_EQ(TreeOf(server), "#10 t3\n  #40 t3\n  #51 t3\n#20 t3\n  #50 t3\n");
}

TEST_F(LegacySections, BagContainersOfGlobalAndTargetTypeAreMadeAtOnce) {
  LegacyDocument doc;
  doc.containers = {
      // The parent ID of a type-3 record plays no part.
      {.version = 3, .name = u"Line", .id = 5, .parent = 7, .subs = {20, 21}, .type = 3, .jWords = 2, .skipBytes = 1},
      {.version = 2, .id = 1, .subs = {30}, .type = 2, .jWords = 1},
      {.id = 2, .type = 2},
      {.id = 8, .parent = 0, .subs = {40}, .type = 1},      // leaves no trace, nor do its subs
      {.id = 9, .subs = {}, .type = 0x10002},               // neither 2 nor 3
      {.id = 5, .subs = {22}, .type = 3},                   // a second top-level 5
      {.id = 6, .parent = 5, .subs = {41}, .type = 1},      // pending under the first 5
  };
  ASSERT_EQ(LoadDoc(doc), S_OK);
  EXPECT_EQ(TreeOf(server),
            "#5 t3\n  #6 t3\n  #20 t3\n  #21 t3\n  #22 t3\n"
            "#1 t2\n  #30 t2\n#2 t2\n#5 t3\n");
  EXPECT_EQ(server.GetGlobalContainerID(), 1u);
  std::vector<std::uint32_t> targets;
  ASSERT_EQ(server.GetTargetsContainerIDList(targets), S_OK);
  EXPECT_EQ(targets, (std::vector<std::uint32_t>{5, 5}));
}

}  // namespace
}  // namespace nametree::test

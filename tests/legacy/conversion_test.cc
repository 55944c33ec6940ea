// How the legacy records become containers and names: pending containers
// first, then bags (last read first), then the names no bag claimed.
#include "legacy_fixture.h"

namespace nametree::test {
namespace {

using Conversion = LegacyTest;

LegacyDocument TargetTen() {
  LegacyDocument doc;
  doc.containers.push_back({.name = u"Plant", .id = 10, .type = 3});
  return doc;
}

TEST_F(Conversion, BagsBecomeContainersThatKeepTheirNames) {
  LegacyDocument doc = TargetTen();
  doc.objects = {{.name = u"Pump", .id = 100, .container = 55},
                 {.name = u"Valve", .id = 101},
                 {.name = u"Motor", .id = 102, .container = 10}};
  doc.bags = {{.name = u"Line", .id = 40, .parent = 10, .members = {100, 101, 999}}};
  ASSERT_EQ(LoadDoc(doc), S_OK);
  EXPECT_EQ(TreeOf(server), "#10 t3\n  102 Motor\n  #40 t3\n    100 Pump\n    101 Valve\n");
  EXPECT_EQ(server.GetID(40, u"PUMP"), 100u);
  EXPECT_EQ(server.FindContainerOfName(102)->GetID(), 10u);
}

TEST_F(Conversion, NamesOfUnconvertedBagsFallBackToTheirOwnContainer) {
  LegacyDocument doc = TargetTen();
  doc.objects = {{.name = u"Pump", .id = 100, .container = 10}, {.name = u"Fan", .id = 101, .container = 0}};
  doc.bags = {{.name = u"Loose", .id = 40, .parent = 0, .members = {100, 101}}};
  ASSERT_EQ(LoadDoc(doc), S_OK);
  EXPECT_EQ(TreeOf(server), "#10 t3\n  100 Pump\n");
}

TEST_F(Conversion, ANameListedTwiceGoesToTheBagReadLast) {
  LegacyDocument doc = TargetTen();
  doc.objects = {{.name = u"Pump", .id = 100, .container = 10}};
  doc.bags = {{.name = u"A", .id = 40, .parent = 10, .members = {100}},
              {.name = u"B", .id = 41, .parent = 10, .members = {100}}};
  ASSERT_EQ(LoadDoc(doc), S_OK);
  EXPECT_EQ(TreeOf(server), "#10 t3\n  #40 t3\n  #41 t3\n    100 Pump\n");
}

TEST_F(Conversion, ABagWithoutItsParentLosesItsNamesUnlessItsIDExistsElsewhere) {
  LegacyDocument doc = TargetTen();
  doc.containers.push_back({.id = 61, .type = 3});
  doc.objects = {{.name = u"Lost", .id = 100, .container = 10}, {.name = u"Found", .id = 101, .container = 10}};
  doc.bags = {{.name = u"Orphan", .id = 60, .parent = 99, .members = {100}},
              {.name = u"Twin", .id = 61, .parent = 98, .members = {101}}};
  ASSERT_EQ(LoadDoc(doc), S_OK);
  // The objects are taken by their bags, so they do not fall back to container 10.
  EXPECT_EQ(TreeOf(server), "#10 t3\n#61 t3\n  101 Found\n");
}

TEST_F(Conversion, PendingContainersAreMadeLastReadFirstUnderTheirParentsType) {
  LegacyDocument doc;
  doc.containers = {
      {.id = 1, .type = 2},
      {.id = 10, .type = 3},
      {.id = 81, .parent = 82, .type = 5},  // its parent is read after it: made
      {.id = 82, .parent = 1, .type = 4},
      {.id = 85, .parent = 1, .type = 0},
      {.id = 86, .parent = 85, .type = 0},  // its parent was read before it: dropped
      {.id = 70, .parent = 40, .type = 1},  // its parent is a bag: bags come after pending containers
      {.id = 80, .parent = 10, .type = 0},
  };
  doc.bags = {{.name = u"Bag", .id = 40, .parent = 10}};
  ASSERT_EQ(LoadDoc(doc), S_OK);
  EXPECT_EQ(TreeOf(server), "#1 t2\n  #82 t2\n    #81 t2\n  #85 t2\n#10 t3\n  #40 t3\n  #80 t3\n");
}

TEST_F(Conversion, ABagKeepsTheSubContainerMadeForItsID) {
  LegacyDocument doc;
  doc.containers = {{.id = 10, .subs = {40}, .type = 3}};
  doc.objects = {{.name = u"Pump", .id = 100}};
  doc.bags = {{.name = u"Line", .id = 40, .parent = 10, .members = {100}}};
  ASSERT_EQ(LoadDoc(doc), S_OK);
  EXPECT_EQ(TreeOf(server), "#10 t3\n  #40 t3\n    100 Pump\n");
  EXPECT_EQ(server.GetContainer(10)->GetNumSubContainers(), 1);
}

TEST_F(Conversion, RemainingNamesArePlacedInBucketOrder) {
  // 33 lies in a later bucket than 17 whatever the insertion order, so it
  // is entered last and keeps the text key of the pair.
  for (bool reversed : {false, true}) {
    CNameServer fresh;
    LegacyDocument doc = TargetTen();
    doc.objects = {{.name = u"Motor", .id = 17, .container = 10}, {.name = u"MOTOR", .id = 33, .container = 10}};
    if (reversed) std::swap(doc.objects[0], doc.objects[1]);
    ComPtr<IStorage> storage = LegacyStorage(Encode(doc));
    ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(storage.Get());
    ASSERT_EQ(fresh.LoadOldVersion(legacy.Get()), S_OK);
    EXPECT_EQ(fresh.GetID(10, u"motor"), 33u) << reversed;
    CString text;
    EXPECT_EQ(fresh.GetName(17, text), S_OK);
    EXPECT_EQ(text, u"Motor");
  }
}

TEST_F(Conversion, LoadAddsToWhatTheServerHolds) {
  const std::uint32_t own = server.AddContainer(0, kTargetContainer);
  std::uint32_t id = 0;
  ASSERT_EQ(server.AddName(id, own, u"Existing", 0, true), S_OK);
  server.SetDirty(false);
  LegacyDocument doc = TargetTen();
  doc.lastIssuedID = 500;
  doc.objects = {{.name = u"Pump", .id = 100, .container = 10}};
  ASSERT_EQ(LoadDoc(doc), S_OK);
  EXPECT_EQ(TreeOf(server), "#" + std::to_string(own) + " t3\n  " + std::to_string(id) +
                                " Existing\n#10 t3\n  100 Pump\n");
  EXPECT_TRUE(server.IsDirty());
  // New IDs continue from the document's counter.
  std::uint32_t next = 0;
  ASSERT_EQ(server.AddName(next, 10, u"Fresh", 0, true), S_OK);
  EXPECT_EQ(next, 501u);
}

// The observer hears of every record that the conversion leaves out, and
// the tree it leaves is the one it leaves unobserved.
TEST_F(Conversion, TheDropObserverHearsOfEveryRecordLeftOut) {
  LegacyDocument doc = TargetTen();
  doc.containers.push_back({.id = 70, .parent = 77});  // pending under a parent that never comes
  doc.objects = {{.name = u"Old", .id = 100, .container = 10}, {.name = u"Pump", .id = 100, .container = 10},
                 {.name = u"Lost", .id = 101, .container = 10}, {.name = u"Orphan", .id = 102},
                 {.name = u"Astray", .id = 103, .container = 55}};
  doc.bags = {{.name = u"Gone", .id = 60, .parent = 99, .members = {101}},
              {.name = u"Loose", .id = 61, .parent = 0, .members = {102}}};
  std::string heard;
  server.SetLegacyDropObserver([&](const CLegacyDrop& d) {
    heard += std::to_string(static_cast<int>(d.record)) + "/" + std::to_string(static_cast<int>(d.reason)) +
             " " + std::to_string(d.id) + ">" + std::to_string(d.containerID) + " " +
             std::string(d.name.begin(), d.name.end()) + "\n";
  });
  ASSERT_EQ(LoadDoc(doc), S_OK);
  EXPECT_EQ(TreeOf(server), "#10 t3\n  100 Pump\n");
  // kNameObject 0, kNameBag 1, kBagContainer 2; kReplaced 0 ... kParentMissing 4.
  EXPECT_EQ(heard,
            "0/0 100>10 Old\n"
            "2/4 70>77 \n"
            "1/3 61>0 \n"
            "1/4 60>99 \n0/2 101>60 Lost\n"
            "0/2 103>55 Astray\n0/1 102>0 Orphan\n");  // one bucket, latest first
}

}  // namespace
}  // namespace nametree::test

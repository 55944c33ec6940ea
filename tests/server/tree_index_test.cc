// The server answers its lookups without walking the tree: trees indexed
// whole on load or step by step, children replaced under their keys, cycles,
// memory, and the invariant check. Random edits, straight through the
// containers too, are compared with the model of the classic API.
#include <iterator>
#include <random>
#include <tuple>

#include "container/tree_index.h"
#include "nametree/memory_storage.h"
#include "server_fixture.h"
#include "support/deep_stream.h"

namespace nametree {
namespace test {
namespace {

std::vector<std::uint8_t> SavedRecord(const CNameContainer& c) {
  ComPtr<IStream> stream = CreateMemoryStream();
  EXPECT_EQ(c.Save(stream.Get()), S_OK);
  return MemoryStreamBytes(stream.Get());
}

// The server indexes each loaded top-level tree in one step; a live
// container loading the same records indexes its names one by one and each
// sub-container as it joins. Both must end with the same tables and answer
// every lookup alike, on random trees with shared texts and repeated keys.
TEST(TreeIndex, ATreeIndexedWholeOnLoadAnswersAsOneIndexedStepByStep) {
  const CString texts[] = {u"Pump", u"PUMP", u"Valve", u"vALVE", u"Motor", u"Fan", u"Tank\u00e9", u"TANK\u00c9", u"A", u"b"};
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    CNameContainer::SetLastIssuedNameID(0);
    CNameServer source;
    std::vector<std::uint32_t> ids = {source.AddContainer(0, kGlobalContainer), source.AddContainer(0, kTargetContainer),
                                      source.AddContainer(0, 0)};
    for (int i = 0; i < 30; ++i)
      ids.push_back(source.AddContainer(ids[rng() % ids.size()], static_cast<std::int16_t>(rng() % 5)));
    // Half the names into the first few containers, so some tables hold hundreds.
    for (int i = 0; i < 800; ++i) {
      const std::uint32_t where = ids[rng() % (i % 2 ? ids.size() : 4)];
      CString text = texts[rng() % std::size(texts)] + CString(1, static_cast<char16_t>(u'a' + rng() % 20));
      source.GetContainer(where)->AddName(std::move(text));
    }
    ComPtr<IStorage> doc = CreateMemoryStorage();
    ASSERT_EQ(source.Save(doc.Get()), S_OK);
    CNameServer whole, stepwise;
    ASSERT_EQ(whole.Load(doc.Get()), S_OK);
    for (const CNameContainer* top : source.GetTopLevelContainers()) {
      CNameContainer* live = stepwise.GetContainer(stepwise.AddContainer(0, top->GetContainerType()));
      ASSERT_EQ(live->Load(CreateMemoryStream(SavedRecord(*top)).Get()), S_OK);
    }
    EXPECT_EQ(whole.CheckInvariants(), "");
    EXPECT_EQ(stepwise.CheckInvariants(), "");
    ComPtr<IStorage> a = CreateMemoryStorage(), b = CreateMemoryStorage();
    ASSERT_EQ(whole.Save(a.Get()), S_OK);
    ASSERT_EQ(stepwise.Save(b.Get()), S_OK);
    ASSERT_EQ(StreamBytes(a.Get()), StreamBytes(b.Get()));
    for (const std::uint32_t c : ids) {
      ASSERT_NE(whole.GetContainer(c), nullptr);
      EXPECT_EQ(whole.GetContainer(c)->GetParentID(), stepwise.GetContainer(c)->GetParentID());
      for (const CString& t : texts) {
        for (const bool confine : {false, true}) {
          CDuplicateHit x, y;
          const CString text = t + u"a";
          EXPECT_EQ(whole.FindDuplicate(c, text, confine, &x), stepwise.FindDuplicate(c, text, confine, &y));
          EXPECT_EQ(std::tie(x.where, x.containerID, x.nameID), std::tie(y.where, y.containerID, y.nameID));
          EXPECT_EQ(whole.FindName(c, text, confine), stepwise.FindName(c, text, confine));
        }
      }
    }
    for (std::uint32_t id = 1; id <= CNameContainer::GetLastIssuedNameID(); ++id) {
      const CNameContainer* x = whole.FindContainerOfName(id);
      const CNameContainer* y = stepwise.FindContainerOfName(id);
      EXPECT_EQ(x ? x->GetID() : 0, y ? y->GetID() : 0) << id;
    }
  }
}

// A live sub-container that Load gives a new ID stays where its parent's
// table holds it: under the old key.
TEST(TreeIndex, ALoadedSubContainerIsFoundByTheKeyItsParentHoldsItUnder) {
  CNameContainer::SetLastIssuedNameID(0);
  CNameServer server;
  const std::uint32_t top = server.AddContainer(0, kTargetContainer);    // 1
  const std::uint32_t sub = server.AddContainer(top, kTargetContainer);  // 3
  CNameContainer record(true);
  record.CreateContainerFromData(100, kTargetContainer);
  record.AddNameFromData(101, u"Pump", 0);
  CNameContainer* live = server.GetContainer(sub);
  ASSERT_EQ(live->Load(CreateMemoryStream(SavedRecord(record)).Get()), S_OK);
  EXPECT_EQ(live->GetID(), 100u);
  EXPECT_EQ(server.GetContainer(sub), live);
  EXPECT_EQ(server.GetContainer(100), nullptr);
  EXPECT_TRUE(server.IsDuplicateName(top, u"pump", false));
  std::uint32_t id = 0;
  EXPECT_EQ(server.AddName(id, 100, u"Valve", kOrdinaryName, true), E_FAIL);
  EXPECT_EQ(server.DeleteContainer(100, false), S_OK);
  EXPECT_EQ(server.GetContainer(sub), live);
  EXPECT_EQ(server.DeleteContainer(sub, false), S_OK);
  EXPECT_EQ(server.GetContainer(sub), nullptr);
  EXPECT_FALSE(server.IsDuplicateName(top, u"pump", false));
}

// Reloading a container's own record replaces each child under its key;
// the replacements keep the children's places in their chains.
TEST(TreeIndex, ChildrenReplacedUnderTheirKeysKeepTheirPlaceInTheWalk) {
  CNameContainer::SetLastIssuedNameID(0);
  CNameServer server;
  const std::uint32_t top = server.AddContainer(0, kTargetContainer);
  CNameContainer* t = server.GetContainer(top);
  for (int i = 0; i < 2; ++i) t->FindContainer(t->AddContainer(kTargetContainer))->AddName(u"Pump");
  CDuplicateHit before, after;
  ASSERT_TRUE(server.FindDuplicate(top, u"pump", false, &before));
  ASSERT_EQ(t->Load(CreateMemoryStream(SavedRecord(*t)).Get()), S_OK);
  ASSERT_TRUE(server.FindDuplicate(top, u"pump", false, &after));
  EXPECT_EQ(std::tie(after.containerID, after.nameID), std::tie(before.containerID, before.nameID));
}

TEST(TreeIndex, AParentThatWouldCloseACycleIsIgnored) {
  CNameContainer top;
  CNameContainer* child = top.FindContainer(top.AddContainer(kTargetContainer));
  CNameContainer* grandchild = child->FindContainer(child->AddContainer(kTargetContainer));
  top.SetParent(grandchild);
  child->SetParent(child);
  EXPECT_EQ(top.GetParent(), nullptr);
  EXPECT_EQ(child->GetParent(), &top);
  EXPECT_EQ(grandchild->FindRootContainer(), &top);
}

std::size_t IndexBytes(const CNameServer& s) {
  return TablesOf(*s.GetTopLevelContainers().front()).Place().index->MemoryUsage();
}

CString Numbered(int i) {
  CString s = u"N";
  for (int v = i; v; v /= 10) s.push_back(static_cast<char16_t>(u'0' + v % 10));
  return s;
}

// Growth leaves little to spare in large trees, built or loaded: about 21
// bytes per container or per name, where a map grown by half or a handle
// table grown by doubling may take half as much again. A small container
// grown name by name weighs what its loaded copy does.
TEST(TreeIndex, TreesBuiltStepByStepTakeAboutTheMemoryOfLoadedOnes) {
  CNameContainer::SetLastIssuedNameID(0);
  CNameServer wide;
  for (int t = 0; t < 3; ++t) {
    const std::uint32_t top = wide.AddContainer(0, kGlobalContainer);
    for (int i = 0; i < 13666; ++i) ASSERT_NE(wide.AddContainer(top, 0), 0u);
  }
  EXPECT_LE(IndexBytes(wide), std::size_t{41001} * 22);

  CNameServer named;
  for (int i = 0; i < 78000; ++i) {
    if (i % 26000 == 0) named.AddContainer(0, kGlobalContainer);
    ASSERT_NE(named.GetTopLevelContainers().back()->AddName(Numbered(i)), 0u);
  }
  CNameContainer* few = named.GetContainer(named.AddContainer(0, kTargetContainer));
  for (int i = 1000; i < 1020; ++i) ASSERT_NE(few->AddName(Numbered(i)), 0u);
  ComPtr<IStorage> doc = CreateMemoryStorage();
  ASSERT_EQ(named.Save(doc.Get()), S_OK);
  CNameServer loaded;
  ASSERT_EQ(loaded.Load(doc.Get()), S_OK);
  EXPECT_EQ(named.CheckInvariants(), "");
  EXPECT_LE(IndexBytes(named), std::size_t{78020} * 21);
  EXPECT_LE(IndexBytes(loaded), std::size_t{78020} * 21);
  EXPECT_EQ(few->GetMemoryFootprint(), loaded.GetContainer(few->GetID())->GetMemoryFootprint());
}

// A key table that lost a key behind the index's back, gained one, or holds
// one twice is a broken state no public call may leave; the check must say so.
TEST(TreeIndex, CheckInvariantsNoticesAKeyTableOutOfStepWithTheIndex) {
  enum Plant { kLost, kGained, kTwice };
  for (Plant plant : {kLost, kGained, kTwice}) {
    SCOPED_TRACE(plant);
    CNameServer server;
    const std::uint32_t c = server.AddContainer(0, kGlobalContainer);
    std::uint32_t id = 0;
    ASSERT_EQ(server.AddName(id, c, u"Pump", 0, true), S_OK);
    ASSERT_EQ(server.AddName(id, c, u"pump", 0, false), S_OK);
    ASSERT_EQ(server.CheckInvariants(), "");
    // The tables' own members would tell the index; the table beneath them does not.
    auto& keys = const_cast<IdByNameTable&>(TablesOf(*server.GetContainer(c)).Keys());
    if (plant == kLost) {
      ASSERT_TRUE(keys.RemoveKey(u"PUMP"));
    } else {
      keys.AddNew(plant == kGained ? u"FAN" : u"PUMP", id);
    }
    EXPECT_NE(server.CheckInvariants(), "");
  }
}

}  // namespace
}  // namespace test
}  // namespace nametree

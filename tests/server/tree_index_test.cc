// The server answers its lookups without walking the tree. Random trees with
// repeated IDs and texts are changed, mostly straight through their
// containers, and after every change each lookup must give what a plain walk
// of the tables gives.
#include <random>
#include <tuple>

#include "nametree/memory_storage.h"
#include "server_fixture.h"
#include "support/walk_model.h"

namespace nametree {
namespace test {
namespace {

TEST(TreeIndex, EveryLookupAgreesWithTheWalkWhileContainersChangeDirectly) {
  for (unsigned seed = 1; seed <= 8; ++seed) {
    std::mt19937 rng(seed);
    const Pick pick = [&](std::uint32_t n) { return n ? static_cast<std::uint32_t>(rng() % n) : 0u; };
    EXPECT_EQ(RandomRun(&CNameServerTestAccess::Tops, pick, 160), "") << "seed " << seed;
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

}  // namespace
}  // namespace test
}  // namespace nametree

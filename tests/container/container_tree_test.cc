// The container tree: adding and deleting sub-containers, searches at
// depth, and which container types a name search descends into.
#include <gtest/gtest.h>

#include <vector>

#include "nametree/name_container.h"

namespace nametree {
namespace {

class ContainerTree : public ::testing::Test {
 protected:
  void SetUp() override { CNameContainer::SetLastIssuedNameID(0); }

  static std::vector<std::uint32_t> SubIds(const CNameContainer& c) {
    std::vector<std::uint32_t> v(static_cast<std::size_t>(c.GetNumSubContainers()));
    EXPECT_EQ(c.GetSubContainerIDs(v.data()), c.GetNumSubContainers());
    return v;
  }
};

TEST_F(ContainerTree, EachSubContainerUsesTwoIds) {
  CNameContainer top;
  EXPECT_EQ(top.GetParentID(), 0u);
  EXPECT_EQ(top.FindRootContainer(), &top);
  const std::uint32_t child = top.AddContainer(3);
  EXPECT_EQ(child, 3u);
  EXPECT_EQ(top.AddName(u"Pump"), 4u);
  CNameContainer* c = top.FindContainer(child);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetContainerType(), 3);
  EXPECT_EQ(c->GetParent(), &top);
  EXPECT_EQ(c->GetParentID(), 1u);
  EXPECT_EQ(c->FindRootContainer(), &top);
  EXPECT_FALSE(c->IsGlobalContainer());
  c->SetContainerType(2);
  EXPECT_TRUE(c->IsGlobalContainer());
}

TEST_F(ContainerTree, SubContainerIdsInTableOrder) {
  // 101 buckets: 3 -> bucket 0; 20 and 21 -> bucket 1, newest first.
  CNameContainer top;
  ASSERT_EQ(top.AddContainer(0), 3u);
  CNameContainer::SetLastIssuedNameID(18);
  ASSERT_EQ(top.AddContainer(0), 20u);
  CNameContainer::SetLastIssuedNameID(19);
  ASSERT_EQ(top.AddContainer(0), 21u);
  EXPECT_EQ(SubIds(top), (std::vector<std::uint32_t>{3, 21, 20}));
  EXPECT_EQ(CNameContainer().GetSubContainerIDs(nullptr), 0);
}

TEST_F(ContainerTree, DeleteContainerReachesDirectChildrenOnly) {
  CNameContainer top;
  EXPECT_EQ(top.DeleteContainer(5), E_FAIL);  // no sub-containers at all
  const std::uint32_t child = top.AddContainer(3);
  CNameContainer* c = top.FindContainer(child);
  const std::uint32_t grandchild = c->AddContainer(0);
  const std::uint32_t name = top.FindContainer(grandchild)->AddName(u"Deep");
  EXPECT_EQ((std::vector<HRESULT>{top.DeleteContainer(0), top.DeleteContainer(999), top.DeleteContainer(grandchild)}),
            (std::vector<HRESULT>{E_FAIL, S_FALSE, S_FALSE}));
  EXPECT_NE(top.FindContainer(grandchild), nullptr);

  EXPECT_EQ(c->DeleteContainer(grandchild), S_OK);
  EXPECT_EQ(top.FindContainer(grandchild), nullptr);
  EXPECT_EQ(top.FindContainerOfName(name), nullptr);
  CString text;
  EXPECT_EQ(top.FindNameByIDForAllContainers(name, &text), S_FALSE);
  EXPECT_EQ(c->GetNumSubContainers(), 0);
  EXPECT_EQ(top.GetNumSubContainers(), 1);
}

TEST_F(ContainerTree, DeletingASubtreeFreesEveryLevel) {
  CNameContainer top;
  std::uint32_t id = top.AddContainer(2);
  const std::uint32_t first = id;
  CNameContainer* level = top.FindContainer(id);
  for (int i = 0; i < 50; ++i) {
    level->AddName(u"n");
    id = level->AddContainer(static_cast<std::int16_t>(i % 5));
    level = level->FindContainer(id);
  }
  EXPECT_EQ(top.FindContainer(id), level);
  EXPECT_EQ(top.DeleteContainer(first), S_OK);
  EXPECT_EQ(top.FindContainer(id), nullptr);
}

TEST_F(ContainerTree, FindContainerPrefersDirectChildThenDepthFirst) {
  CNameContainer top;
  // Direct child 100 and a grandchild 100 under child 16: the direct one wins.
  top.AddContainerFromData(&top, 16, 2);
  top.AddContainerFromData(&top, 100, 7);
  CNameContainer* a = top.FindContainer(16);
  a->AddContainerFromData(a, 100, 8);
  EXPECT_EQ(top.FindContainer(100)->GetContainerType(), 7);
  EXPECT_EQ(top.FindContainer(top.GetID()), nullptr);

  // Grandchildren 500 under 16 (bucket 1) and under 32 (bucket 2): bucket order decides.
  top.AddContainerFromData(&top, 32, 2);
  CNameContainer* b = top.FindContainer(32);
  b->AddContainerFromData(b, 500, 9);
  a->AddContainerFromData(a, 500, 10);
  EXPECT_EQ(top.FindContainer(500)->GetContainerType(), 10);
  EXPECT_EQ(top.FindContainer(0), nullptr);
}

TEST_F(ContainerTree, NameByIdSearchesWholeSubtreeWhateverTheType) {
  CNameContainer top;
  CNameContainer* plain = top.FindContainer(top.AddContainer(0));
  CNameContainer* deep = plain->FindContainer(plain->AddContainer(1));
  const std::uint32_t id = deep->AddName(u"Hidden");
  EXPECT_EQ(top.FindContainerOfName(id), deep);
  CString text;
  EXPECT_EQ(top.FindNameByIDForAllContainers(id, &text), S_OK);
  EXPECT_EQ(text, u"Hidden");
  EXPECT_EQ(top.FindNameByIDForAllContainers(0, &text), S_FALSE);
  EXPECT_EQ(top.FindContainerOfName(0), nullptr);
}

TEST_F(ContainerTree, FindNameDescendsOnlyThroughTypesTwoThreeFour) {
  CNameContainer top;
  CNameContainer* global = top.FindContainer(top.AddContainer(2));
  CNameContainer* ordinary = top.FindContainer(top.AddContainer(0));
  CNameContainer* typeOne = top.FindContainer(top.AddContainer(1));
  CNameContainer* local = global->FindContainer(global->AddContainer(4));
  CNameContainer* underOrdinary = ordinary->FindContainer(ordinary->AddContainer(3));

  const std::uint32_t deep = local->AddName(u"Deep");
  ordinary->AddName(u"Plain");
  typeOne->AddName(u"One");
  underOrdinary->AddName(u"Below");

  std::uint32_t found = 0;
  EXPECT_EQ(top.FindName(u"deep", true, &found), S_OK);
  EXPECT_EQ(found, deep);
  EXPECT_EQ(top.FindName(u"deep", false, &found), S_FALSE);
  EXPECT_EQ(top.FindName(u"Plain", true, nullptr), S_FALSE);
  EXPECT_EQ(top.FindName(u"One", true, nullptr), S_FALSE);
  EXPECT_EQ(top.FindName(u"Below", true, nullptr), S_FALSE);
  // The container's own names are always searched, whatever its type.
  EXPECT_EQ(ordinary->FindName(u"PLAIN", false, nullptr), S_OK);
}

TEST_F(ContainerTree, AddContainerFromDataKeepsSameTypeReplacesOther) {
  CNameContainer top;
  top.AddContainerFromData(&top, 40, 3);
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 1u);  // no ID drawn
  top.FindContainer(40)->AddName(u"Kept");
  EXPECT_EQ(top.AddContainerFromData(&top, 40, 3), S_OK);
  EXPECT_EQ(top.FindContainer(40)->GetNumNames(), 1);
  EXPECT_EQ(top.AddContainerFromData(&top, 40, 2), S_OK);
  EXPECT_EQ(top.FindContainer(40)->GetNumNames(), 0);
  EXPECT_EQ(top.FindContainer(40)->GetContainerType(), 2);
  EXPECT_EQ(top.GetNumSubContainers(), 1);
}

}  // namespace
}  // namespace nametree

// Names in one container: IDs, case-insensitive lookup, renames, and the
// walk orders of the two name tables.
#include <gtest/gtest.h>

#include <vector>

#include "nametree/name_container.h"

namespace nametree {
namespace {

class ContainerNames : public ::testing::Test {
 protected:
  void SetUp() override { CNameContainer::SetLastIssuedNameID(0); }

  static std::vector<CString> Names(const CNameContainer& c) {
    std::vector<CString> v(static_cast<std::size_t>(c.GetNumNames()));
    EXPECT_EQ(c.GetAllNamesInContainer(v.data()), S_OK);
    return v;
  }
  static std::vector<std::uint32_t> IdsByText(const CNameContainer& c) {
    std::vector<std::uint32_t> v(static_cast<std::size_t>(c.GetNumNames()));
    EXPECT_EQ(c.GetAllIDsInContainer(v.data()), S_OK);
    return v;
  }
};

TEST_F(ContainerNames, FirstContainerAndNameTakeTheFirstIds) {
  CNameContainer c;
  EXPECT_EQ(c.GetID(), 1u);
  EXPECT_EQ(c.AddName(u"Pump"), 2u);
  EXPECT_EQ(c.AddName(u"Valve"), 3u);
  EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), 3u);
}

TEST_F(ContainerNames, LookupIgnoresCaseButTextKeepsIt) {
  CNameContainer c;
  const std::uint32_t id = c.AddName(u"Pump");
  std::uint32_t found = 0;
  EXPECT_EQ(c.FindIDByName(u"PUMP", &found), S_OK);
  EXPECT_EQ(found, id);
  found = 0;
  EXPECT_EQ(c.FindIDByName(u"pump", &found), S_OK);
  EXPECT_EQ(found, id);
  EXPECT_EQ(c.GetIDOfName(u"pUmP"), id);
  CString text;
  EXPECT_EQ(c.FindNameByID(id, &text), S_OK);
  EXPECT_EQ(text, u"Pump");
}

TEST_F(ContainerNames, NonAsciiLettersCompareWithoutCase) {
  CNameContainer c;
  const std::uint32_t id = c.AddName(u"\u03b1\u03b2\u03b3");  // Greek αβγ
  EXPECT_EQ(c.GetIDOfName(u"\u0391\u0392\u0393"), id);     // ΑΒΓ
  const std::uint32_t deseret = c.AddName(u"\U00010428");  // a letter beyond the basic plane
  EXPECT_EQ(c.GetIDOfName(u"\U00010400"), deseret);
}

TEST_F(ContainerNames, UnusableArgumentsAndMissingEntries) {
  CNameContainer c;
  const std::uint32_t id = c.AddName(u"Pump");
  CString text = u"untouched";
  EXPECT_EQ(c.DeleteName(0), E_FAIL);
  EXPECT_EQ(c.DeleteName(id + 100), E_FAIL);
  EXPECT_EQ(c.FindNameByID(0, &text), E_FAIL);
  EXPECT_EQ(c.FindNameByID(id + 100, &text), S_FALSE);
  EXPECT_EQ(text, u"untouched");
  std::uint32_t out = 77;
  EXPECT_EQ(c.FindIDByName(u"", &out), E_FAIL);
  EXPECT_EQ(c.FindIDByName(u"Valve", &out), S_FALSE);
  EXPECT_EQ(out, 77u);
  EXPECT_EQ(c.FindName(u"", false, &out), S_FALSE);
  EXPECT_EQ(c.GetIDOfName(u""), 0u);
  EXPECT_EQ(c.Rename(id, u""), E_FAIL);
  EXPECT_EQ(c.Rename(0u, u"X"), E_FAIL);
  EXPECT_EQ(c.Rename(u"", u"X"), E_FAIL);
  EXPECT_EQ(c.Rename(u"Pump", u""), E_FAIL);
  EXPECT_EQ(c.Rename(id + 100, u"X"), S_FALSE);
  EXPECT_EQ(c.Rename(u"Valve", u"X"), S_FALSE);
  EXPECT_EQ(c.GetNumNames(), 1);
}

TEST_F(ContainerNames, DeleteRemovesBothDirections) {
  CNameContainer c;
  const std::uint32_t pump = c.AddName(u"Pump");
  const std::uint32_t valve = c.AddName(u"Valve");
  EXPECT_EQ(c.DeleteName(pump), S_OK);
  EXPECT_EQ(c.GetNumNames(), 1);
  EXPECT_EQ(c.GetIDOfName(u"PUMP"), 0u);
  CString text;
  EXPECT_EQ(c.FindNameByID(pump, &text), S_FALSE);
  EXPECT_EQ(c.GetIDOfName(u"valve"), valve);
  EXPECT_EQ(c.DeleteName(pump), E_FAIL);
}

TEST_F(ContainerNames, RenameByIdChangesTextAndKey) {
  CNameContainer c;
  const std::uint32_t id = c.AddName(u"pump");
  EXPECT_EQ(c.Rename(id, u"PUMP"), S_OK);
  CString text;
  c.FindNameByID(id, &text);
  EXPECT_EQ(text, u"PUMP");
  EXPECT_EQ(c.GetIDOfName(u"Pump"), id);

  EXPECT_EQ(c.Rename(id, u"Valve"), S_OK);
  EXPECT_EQ(c.GetIDOfName(u"pump"), 0u);
  EXPECT_EQ(c.GetIDOfName(u"VALVE"), id);
  EXPECT_EQ(c.GetNumNames(), 1);
}

TEST_F(ContainerNames, RenameByTextKeepsTheId) {
  CNameContainer c;
  const std::uint32_t id = c.AddName(u"Pump");
  EXPECT_EQ(c.Rename(u"PUMP", u"Motor"), S_OK);
  CString text;
  c.FindNameByID(id, &text);
  EXPECT_EQ(text, u"Motor");
  EXPECT_EQ(c.GetIDOfName(u"motor"), id);
  EXPECT_EQ(c.GetIDOfName(u"pump"), 0u);
}

TEST_F(ContainerNames, IdTableWalksBucketsThenNewestFirst) {
  // 13513 buckets: IDs 5 -> bucket 0, 20 and 21 -> bucket 1.
  CNameContainer c;
  c.AddNameFromData(5, u"five", 0);
  c.AddNameFromData(20, u"twenty", 0);
  c.AddNameFromData(21, u"twentyone", 0);
  EXPECT_EQ(Names(c), (std::vector<CString>{u"five", u"twentyone", u"twenty"}));

  std::vector<CString> texts(3);
  std::vector<std::uint32_t> ids(3);
  c.GetAllNameAndIDsInContainer(texts.data(), ids.data());
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{5, 21, 20}));
  EXPECT_EQ(texts[1], u"twentyone");
}

TEST_F(ContainerNames, TextTableWalksByTextHash) {
  // Hashes: A = 65, B = 66, AB = 65 * 33 + 66 = 2211 (of 13513 buckets).
  CNameContainer c;
  const std::uint32_t ab = c.AddName(u"AB");
  const std::uint32_t b = c.AddName(u"B");
  const std::uint32_t a = c.AddName(u"A");
  EXPECT_EQ(IdsByText(c), (std::vector<std::uint32_t>{a, b, ab}));
  // Lower case hashes as its upper-case key.
  CNameContainer d;
  const std::uint32_t ab2 = d.AddName(u"ab");
  const std::uint32_t a2 = d.AddName(u"a");
  EXPECT_EQ(IdsByText(d), (std::vector<std::uint32_t>{a2, ab2}));
}

TEST_F(ContainerNames, UninitialisedContainerUsesSeventeenBuckets) {
  // ID 16 -> bucket 1 in both sizes; ID 272 -> bucket 0 of 17, bucket 17 of 13513.
  CNameContainer small(true);
  CNameContainer big;
  CNameContainer::SetLastIssuedNameID(15);
  ASSERT_EQ(small.AddName(u"sixteen"), 16u);
  CNameContainer::SetLastIssuedNameID(271);
  ASSERT_EQ(small.AddName(u"twoseventytwo"), 272u);
  big.AddNameFromData(16, u"sixteen", 0);
  big.AddNameFromData(272, u"twoseventytwo", 0);
  EXPECT_EQ(Names(small), (std::vector<CString>{u"twoseventytwo", u"sixteen"}));
  EXPECT_EQ(Names(big), (std::vector<CString>{u"sixteen", u"twoseventytwo"}));
  EXPECT_EQ(small.GetBucketCounts(), 17u);
  EXPECT_EQ(big.GetBucketCounts(), 13513u);
}

TEST_F(ContainerNames, CaseOnlyRenameReentersKeyAtFrontOfItsBucket) {
  // In 17 buckets "A" (65) and "R" (82) share bucket 14.
  CNameContainer c(true);
  const std::uint32_t a = c.AddName(u"a");
  const std::uint32_t r = c.AddName(u"r");
  EXPECT_EQ(IdsByText(c), (std::vector<std::uint32_t>{r, a}));
  EXPECT_EQ(c.Rename(a, u"A"), S_OK);
  EXPECT_EQ(IdsByText(c), (std::vector<std::uint32_t>{a, r}));
  // The ID table keeps its order: a value change stays in place.
  EXPECT_EQ(Names(c), (std::vector<CString>{u"r", u"A"}));
}

TEST_F(ContainerNames, TwoNamesEqualAfterUpperCasing) {
  CNameContainer c;
  const std::uint32_t first = c.AddName(u"Pump");
  const std::uint32_t second = c.AddName(u"PUMP");
  EXPECT_EQ(c.GetNumNames(), 1);
  EXPECT_EQ(c.GetIDOfName(u"pump"), second);
  CString text;
  EXPECT_EQ(c.FindNameByID(first, &text), S_OK);
  // Lists never write more entries than GetNumNames reports.
  std::vector<CString> texts(1, u"sentinel");
  std::vector<std::uint32_t> ids(1);
  c.GetAllNamesInContainer(texts.data());
  c.GetAllNameAndIDsInContainer(texts.data(), ids.data());
  EXPECT_TRUE(ids[0] == first || ids[0] == second);
  // Deleting the older ID removes the shared key as well.
  EXPECT_EQ(c.DeleteName(first), S_OK);
  EXPECT_EQ(c.GetIDOfName(u"pump"), 0u);
}

TEST_F(ContainerNames, ResetEmptiesNamesOnly) {
  CNameContainer c;
  const std::uint32_t child = c.AddContainer(3);
  c.AddName(u"Pump");
  EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 1);
  c.ResetContainer();
  EXPECT_EQ(c.GetNumNames(), 0);
  EXPECT_EQ(c.GetIDOfName(u"Pump"), 0u);
  EXPECT_NE(c.FindContainer(child), nullptr);
  EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 2);
  // The table is usable again after being emptied.
  const std::uint32_t id = c.AddName(u"Again");
  EXPECT_EQ(c.GetIDOfName(u"AGAIN"), id);
}

TEST_F(ContainerNames, ShutdownKeepsIdTypeAndCounters) {
  CNameContainer parent;
  CNameContainer c;
  c.SetContainerType(2);
  c.SetParent(&parent);
  c.AddContainer(0);
  c.AddName(u"Pump");
  EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 1);
  const std::uint32_t id = c.GetID();
  c.Shutdown();
  EXPECT_EQ(c.GetID(), id);
  EXPECT_EQ(c.GetContainerType(), 2);
  EXPECT_EQ(c.GetParent(), nullptr);
  EXPECT_EQ(c.GetNumSubContainers(), 0);
  EXPECT_EQ(c.GetNumNames(), 0);
  EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 2);
}

}  // namespace
}  // namespace nametree

// Names in one container: IDs, case-insensitive lookup, renames, the walk
// orders of the two name tables, and the per-base-name counters.
#include <gtest/gtest.h>

#include <vector>

#include "nametree/name_container.h"

namespace nametree {
namespace {

using Results = std::vector<HRESULT>;

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
  static CString Text(const CNameContainer& c, std::uint32_t id) {
    CString text;
    EXPECT_EQ(c.FindNameByID(id, &text), S_OK);
    return text;
  }
};

TEST_F(ContainerNames, LookupIgnoresCaseButTextKeepsIt) {
  CNameContainer c;
  EXPECT_EQ(c.GetID(), 1u);
  // Upper-casing keeps the length: a letter without a one-unit upper case
  // stays, and so does an unpaired surrogate.
  const std::pair<CString, CString> cases[] = {
      {u"Pump", u"pUmP"},           {u"\u00e9t\u00e9", u"\u00c9T\u00c9"}, {u"\u03b1\u03b2\u03b3", u"\u0391\u0392\u0393"},
      {u"\U00010428x", u"\U00010400X"}, {u"stra\u00dfe", u"STRA\u00dfE"},   {u"a\xD800" u"b", u"A\xD800" u"B"},
  };
  std::uint32_t id = 1;
  for (const auto& [text, other] : cases) {
    SCOPED_TRACE(id);
    EXPECT_EQ(c.AddName(text), ++id);
    EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), id);
    std::uint32_t found = 0;
    EXPECT_EQ(c.FindIDByName(other, &found), S_OK);
    EXPECT_EQ(found, id);
    EXPECT_EQ(c.GetIDOfName(other), id);
    EXPECT_EQ(Text(c, id), text);
  }
  EXPECT_EQ(c.GetIDOfName(u"STRASSE"), 0u);
}

TEST_F(ContainerNames, UnusableArgumentsAndMissingEntries) {
  CNameContainer c;
  const std::uint32_t id = c.AddName(u"Pump");
  CString text = u"untouched";
  std::uint32_t out = 77;
  EXPECT_EQ((Results{c.DeleteName(0), c.DeleteName(id + 100), c.FindNameByID(0, &text), c.FindNameByID(id + 100, &text),
                     c.FindIDByName(u"", &out), c.FindIDByName(u"Valve", &out), c.FindName(u"", false, &out),
                     c.Rename(id, u""), c.Rename(0u, u"X"), c.Rename(u"", u"X"), c.Rename(u"Pump", u""),
                     c.Rename(id + 100, u"X"), c.Rename(u"Valve", u"X")}),
            (Results{E_FAIL, E_FAIL, E_FAIL, S_FALSE, E_FAIL, S_FALSE, S_FALSE, E_FAIL, E_FAIL, E_FAIL, E_FAIL, S_FALSE,
                     S_FALSE}));
  EXPECT_EQ(text, u"untouched");
  EXPECT_EQ(out, 77u);
  EXPECT_EQ(c.GetIDOfName(u""), 0u);
  EXPECT_EQ(c.GetNumNames(), 1);
}

TEST_F(ContainerNames, DeleteAndRenameUpdateBothDirections) {
  CNameContainer c;
  const std::uint32_t pump = c.AddName(u"Pump");
  const std::uint32_t valve = c.AddName(u"Valve");
  EXPECT_EQ(c.DeleteName(pump), S_OK);
  EXPECT_EQ(c.GetIDOfName(u"PUMP"), 0u);
  CString text;
  EXPECT_EQ(c.FindNameByID(pump, &text), S_FALSE);
  EXPECT_EQ(c.DeleteName(pump), E_FAIL);

  EXPECT_EQ(c.Rename(valve, u"VALVE"), S_OK);
  EXPECT_EQ(Text(c, valve), u"VALVE");
  EXPECT_EQ(c.Rename(valve, u"Motor"), S_OK);
  EXPECT_EQ(c.GetIDOfName(u"valve"), 0u);
  EXPECT_EQ(c.Rename(u"MOTOR", u"Fan"), S_OK);
  EXPECT_EQ(Text(c, valve), u"Fan");
  EXPECT_EQ(c.GetIDOfName(u"motor"), 0u);
  EXPECT_EQ(c.GetIDOfName(u"fan"), valve);
  EXPECT_EQ(c.GetNumNames(), 1);
}

TEST_F(ContainerNames, TextTableWalksByUpperCaseTextHash) {
  // Hashes: A = 65, B = 66, AB = 65 * 33 + 66 = 2211 (of 13513 buckets).
  CNameContainer c;
  const std::uint32_t ab = c.AddName(u"ab");
  const std::uint32_t b = c.AddName(u"B");
  const std::uint32_t a = c.AddName(u"a");
  EXPECT_EQ(IdsByText(c), (std::vector<std::uint32_t>{a, b, ab}));
}

TEST_F(ContainerNames, UninitialisedContainerUsesSeventeenBuckets) {
  // ID 16 -> bucket 1; ID 272 -> bucket 0 of 17 (bucket 17 of 13513).
  CNameContainer small(true);
  CNameContainer::SetLastIssuedNameID(15);
  ASSERT_EQ(small.AddName(u"sixteen"), 16u);
  CNameContainer::SetLastIssuedNameID(271);
  ASSERT_EQ(small.AddName(u"twoseventytwo"), 272u);
  EXPECT_EQ(Names(small), (std::vector<CString>{u"twoseventytwo", u"sixteen"}));
  EXPECT_EQ(small.GetBucketCounts(), 17u);
  EXPECT_EQ(CNameContainer().GetBucketCounts(), 13513u);
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
  EXPECT_EQ(Text(c, first), u"Pump");
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

TEST_F(ContainerNames, ResetAndShutdownEmptyNamesButKeepCounters) {
  CNameContainer parent;
  CNameContainer c;
  c.SetContainerType(2);
  c.SetParent(&parent);
  const std::uint32_t child = c.AddContainer(3);
  c.AddName(u"Pump");
  EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 1);
  c.ResetContainer();
  EXPECT_EQ(c.GetNumNames(), 0);
  EXPECT_EQ(c.GetIDOfName(u"Pump"), 0u);
  EXPECT_NE(c.FindContainer(child), nullptr);
  const std::uint32_t again = c.AddName(u"Again");
  EXPECT_EQ(c.GetIDOfName(u"AGAIN"), again);

  const std::uint32_t id = c.GetID();
  c.Shutdown();
  EXPECT_EQ(c.GetID(), id);
  EXPECT_EQ(c.GetContainerType(), 2);
  EXPECT_EQ(c.GetParent(), nullptr);
  EXPECT_EQ(c.GetNumSubContainers(), 0);
  EXPECT_EQ(c.GetNumNames(), 0);
  EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 2);
  EXPECT_EQ(CNameContainer().GetNextObjectCount(u"Valve"), 1);
}

TEST_F(ContainerNames, SelectedCounterAdvancesUntilReset) {
  // Behind a few or many other counters, which a container finds differently.
  for (int others : {0, 40}) {
    SCOPED_TRACE(others);
    CNameContainer c;
    for (int i = 0; i < others; ++i) {
      c.ResetObjectIndex();
      c.GetNextObjectCount(CString(u"Other") + static_cast<char16_t>(u'A' + i));
    }
    c.ResetObjectIndex();
    EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 1);
    EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 2);
    EXPECT_EQ(c.GetNextObjectCount(u"Pump"), 3);  // still selected: the base is not looked at
    c.ResetObjectIndex();
    EXPECT_EQ(c.GetNextObjectCount(u"Pump"), 1);
    c.ResetObjectIndex();
    EXPECT_EQ(c.GetNextObjectCount(u"valve"), 1);  // base names are case-sensitive
    c.ResetObjectIndex();
    EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 4);
    for (int i = 0; i < 3; ++i) {  // an empty base always starts a new counter
      c.ResetObjectIndex();
      EXPECT_EQ(c.GetNextObjectCount(u""), 1);
    }
    c.ResetObjectIndex();
    EXPECT_EQ(c.GetNextObjectCount(u"Pump"), 2);
    c.ResetObjectIndex();
    EXPECT_EQ(c.GetNextObjectCount(u"OtherA"), others ? 2 : 1);
  }
}

}  // namespace
}  // namespace nametree

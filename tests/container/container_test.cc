// One container and its subtree: IDs, case-insensitive lookup, renames,
// the walk orders of its tables, the per-base-name counters, and searches
// through sub-containers.
#include <gtest/gtest.h>

#include <vector>

#include "container/container_tables.h"
#include "nametree/name_container.h"

namespace nametree {
namespace {


class Container : public ::testing::Test {
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
  static std::vector<std::uint32_t> SubIds(const CNameContainer& c) {
    std::vector<std::uint32_t> v(static_cast<std::size_t>(c.GetNumSubContainers()));
    EXPECT_EQ(c.GetSubContainerIDs(v.data()), c.GetNumSubContainers());
    return v;
  }
  static CString Text(const CNameContainer& c, std::uint32_t id) {
    CString text;
    EXPECT_EQ(c.FindNameByID(id, &text), S_OK);
    return text;
  }
};

TEST_F(Container, LookupIgnoresCaseButTextKeepsIt) {
  CNameContainer c;  // ID 1
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

TEST_F(Container, EmptiedTablesKeepTheirBucketCounts) {
  CNameContainer full, small(true);
  struct Counts {
    std::uint32_t ids, texts, subs;
    bool operator==(const Counts&) const = default;
  };
  const auto counts = [](const CNameContainer& c) {
    Counts n{};
    n.ids = c.GetBucketCounts(&n.texts, &n.subs);
    return n;
  };
  for (CNameContainer* c : {&full, &small}) {
    ASSERT_NE(c->AddName(u"Pump"), 0u);
    ASSERT_NE(c->AddContainer(0), 0u);
    c->ResetContainer();
    EXPECT_EQ(c->GetNumNames(), 0);
  }
  EXPECT_EQ(counts(full), (Counts{13513, 13513, 101}));
  EXPECT_EQ(counts(small), (Counts{17, 17, 17}));
  for (CNameContainer* c : {&full, &small}) {
    c->Shutdown();
    EXPECT_EQ(c->GetNumSubContainers(), 0);
  }
  EXPECT_EQ(counts(full), (Counts{13513, 13513, 101}));
  EXPECT_EQ(counts(small), (Counts{17, 17, 17}));
  // Tables made again take the count back: ID 272 is bucket 17 of 13513.
  CNameContainer::SetLastIssuedNameID(15);
  ASSERT_EQ(full.AddName(u"sixteen"), 16u);
  CNameContainer::SetLastIssuedNameID(271);
  ASSERT_EQ(full.AddName(u"twoseventytwo"), 272u);
  EXPECT_EQ(Names(full), (std::vector<CString>{u"sixteen", u"twoseventytwo"}));
}

// A key equal to its text shares the text's units. Renames to another
// case, names equal ignoring case, a text replaced under a key that stays,
// deleting either of two names, and the store's rewrite after many
// deletions leave every text and key whole, each shared name held once.
TEST_F(Container, KeysShareTheirTextsUnitsThroughRenamesDeletesAndRewrites) {
  CNameContainer c;
  const auto units = [](const CNameContainer& of) { return TablesOf(of).Units().UnitCount(); };
  const auto sound = [](const CNameContainer& of) { return TablesOf(of).CheckUnits(); };
  const std::uint32_t pump = c.AddName(u"PUMP");
  EXPECT_EQ(units(c), 4u);
  EXPECT_EQ(c.Rename(pump, u"Pump"), S_OK);
  EXPECT_EQ(c.GetIDOfName(u"pump"), pump);
  EXPECT_EQ(sound(c), "");
  // The key moves to the newer ID and keeps the older text's units.
  const std::uint32_t upper = c.AddName(u"VALVE");
  const std::uint32_t lower = c.AddName(u"valve");
  EXPECT_EQ(c.DeleteName(lower), S_OK);
  EXPECT_EQ(c.AddName(u"FAN"), lower + 1);
  EXPECT_EQ(Text(c, upper), u"VALVE");
  EXPECT_EQ(c.GetIDOfName(u"valve"), 0u);
  EXPECT_EQ(sound(c), "");
  // A new text for an ID whose key stays.
  const std::uint32_t motor = c.AddName(u"MOTOR");
  EXPECT_EQ(c.AddNameFromData(motor, u"DRIVE", 0), S_OK);
  EXPECT_EQ(c.AddName(u"GEAR"), motor + 1);
  EXPECT_EQ(c.GetIDOfName(u"motor"), motor);
  EXPECT_EQ(c.GetIDOfName(u"drive"), motor);
  EXPECT_EQ(Text(c, motor), u"DRIVE");
  EXPECT_EQ(sound(c), "");

  CNameContainer many;
  std::vector<std::uint32_t> ids;
  std::size_t length = 0;
  for (int i = 0; i < 300; ++i) {
    CString text = CString(static_cast<std::size_t>(1 + i % 5), u'N');
    for (int v = i; v; v /= 26) text.push_back(static_cast<char16_t>(u'A' + v % 26));
    ids.push_back(many.AddName(text));
    length += text.size();
  }
  EXPECT_EQ(units(many), length);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (i % 3 == 0) continue;
    length -= Text(many, ids[i]).size();
    ASSERT_EQ(many.DeleteName(ids[i]), S_OK);
  }
  EXPECT_EQ(sound(many), "");
  const std::uint32_t last = many.AddName(u"LAST");
  EXPECT_EQ(units(many), length + 4);
  EXPECT_EQ(sound(many), "");
  for (std::size_t i = 0; i < ids.size(); i += 3) EXPECT_EQ(many.GetIDOfName(Text(many, ids[i])), ids[i]);
  EXPECT_EQ(many.GetIDOfName(u"last"), last);
}

// Texts of any length read back whole, whether they sit among short ones
// in a store spread over pages or in blocks of their own: at and around
// the longest run and the page size, through renames to other lengths,
// deletions, clearing, and keys that differ from their texts only in case.
TEST_F(Container, TextsOfAnyLengthStayWholeAmongShortOnes) {
  CNameContainer c;
  std::vector<std::pair<std::uint32_t, CString>> held;
  // Distinct ignoring case: the serial in four capitals, then small letters.
  const auto text = [](std::size_t length, int serial) {
    CString t(std::max<std::size_t>(length, 4), u'x');
    for (int k = 0, v = serial; k < 4; ++k, v /= 26) t[static_cast<std::size_t>(k)] = static_cast<char16_t>(u'A' + v % 26);
    return t;
  };
  int serial = 0;
  for (std::size_t length : {62u, 63u, 64u, 8191u, 8192u, 8193u, 20000u}) {
    for (int i = 0; i < 2000; ++i, ++serial) held.emplace_back(c.AddName(text(4 + i % 6, serial)), text(4 + i % 6, serial));
    held.emplace_back(c.AddName(text(length, serial)), text(length, serial));
    ++serial;
  }
  const auto agree = [&](const char* when) {
    for (const auto& [id, t] : held) {
      ASSERT_EQ(Text(c, id), t) << when << " " << t.size();
      ASSERT_EQ(c.GetIDOfName(t), id) << when << " " << t.size();
    }
    ASSERT_EQ(TablesOf(c).CheckUnits(), "") << when;
  };
  agree("added");
  for (std::size_t i = 0; i < held.size(); i += 7) {
    const CString longer = text(held[i].second.size() < 60 ? 70 + i % 9000 : 4 + i % 6, serial++);
    ASSERT_EQ(c.Rename(held[i].first, longer), S_OK);
    held[i].second = longer;
  }
  agree("renamed");
  std::vector<std::pair<std::uint32_t, CString>> kept;
  for (std::size_t i = 0; i < held.size(); ++i) {
    if (i % 5 == 3) {
      ASSERT_EQ(c.DeleteName(held[i].first), S_OK);
    } else {
      kept.push_back(held[i]);
    }
  }
  held = kept;
  agree("deleted");
  const std::uint32_t lower = c.AddName(CString(100, u'q')), upper = c.AddName(CString(100, u'Q'));
  EXPECT_EQ(c.GetIDOfName(CString(100, u'q')), upper);
  EXPECT_EQ(c.DeleteName(upper), S_OK);
  EXPECT_EQ(Text(c, lower), CString(100, u'q'));
  EXPECT_EQ(TablesOf(c).CheckUnits(), "");
  c.ResetContainer();
  EXPECT_EQ(c.GetNumNames(), 0);
  EXPECT_EQ(TablesOf(c).CheckUnits(), "");
}

TEST_F(Container, SelectedCounterAdvancesUntilReset) {
  // Behind a few or many other counters, which a container finds differently.
  for (int others : {0, 40}) {
    SCOPED_TRACE(others);
    CNameContainer c;
    const auto next = [&](const CString& base, bool reset) {
      if (reset) c.ResetObjectIndex();
      return c.GetNextObjectCount(base);
    };
    for (int i = 0; i < others; ++i) next(CString(u"Other") + static_cast<char16_t>(u'A' + i), true);
    // A selected counter goes on whatever the base; base names are
    // case-sensitive; an empty base always starts a new counter.
    EXPECT_EQ((std::vector<int>{next(u"Valve", true), next(u"Valve", false), next(u"Pump", false), next(u"Pump", true),
                                next(u"valve", true), next(u"Valve", true), next(u"", true), next(u"", true),
                                next(u"", true), next(u"Pump", true), next(u"OtherA", true)}),
              (std::vector<int>{1, 2, 3, 1, 1, 4, 1, 1, 1, 2, others ? 2 : 1}));
  }
}

TEST_F(Container, FindContainerPrefersDirectChildThenDepthFirst) {
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

}  // namespace
}  // namespace nametree

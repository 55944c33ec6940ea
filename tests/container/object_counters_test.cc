// Per-base-name counters from which fresh names are numbered.
#include <gtest/gtest.h>

#include "nametree/name_container.h"

namespace nametree {
namespace {

TEST(ObjectCounters, SelectedCounterAdvancesUntilReset) {
  CNameContainer c;
  EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 1);
  EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 2);
  // Still selected: the base name is not looked at.
  EXPECT_EQ(c.GetNextObjectCount(u"Pump"), 3);
  c.ResetObjectIndex();
  EXPECT_EQ(c.GetNextObjectCount(u"Pump"), 1);
  c.ResetObjectIndex();
  EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 4);
}

TEST(ObjectCounters, BaseNamesAreCaseSensitive) {
  CNameContainer c;
  EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 1);
  c.ResetObjectIndex();
  EXPECT_EQ(c.GetNextObjectCount(u"valve"), 1);
  c.ResetObjectIndex();
  EXPECT_EQ(c.GetNextObjectCount(u"Valve"), 2);
}

TEST(ObjectCounters, EmptyBaseNameAlwaysStartsANewCounter) {
  CNameContainer c;
  for (int i = 0; i < 3; ++i) {
    c.ResetObjectIndex();
    EXPECT_EQ(c.GetNextObjectCount(u""), 1);
  }
  // The empty counters did not disturb the named ones.
  c.ResetObjectIndex();
  EXPECT_EQ(c.GetNextObjectCount(u"Pump"), 1);
}

TEST(ObjectCounters, SurviveResetAndShutdownButNotANewContainer) {
  CNameContainer c;
  c.GetNextObjectCount(u"Pump");
  c.ResetContainer();
  c.Shutdown();
  c.ResetObjectIndex();
  EXPECT_EQ(c.GetNextObjectCount(u"Pump"), 2);
  CNameContainer fresh;
  EXPECT_EQ(fresh.GetNextObjectCount(u"Pump"), 1);
}

}  // namespace
}  // namespace nametree

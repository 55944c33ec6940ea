// The library against the naive model of the classic API, on random
// sequences that crowd names under shared keys, and the model on its own
// documented examples. NAMETREE_MODEL_COMMANDS sets how many random
// commands the short run feeds (sanitizer and valgrind runs use fewer).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "support/classic_model.h"
#include "support/model_driver.h"

namespace nametree {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr long kDefaultCommands = 5000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr long kDefaultCommands = 5000;
#else
constexpr long kDefaultCommands = 150000;
#endif
#else
constexpr long kDefaultCommands = 150000;
#endif

long CommandBudget() {
  const char* set = std::getenv("NAMETREE_MODEL_COMMANDS");
  return set ? std::max(1L, std::atol(set)) : kDefaultCommands;
}

// The model follows the documented examples of walk order, stream bytes and
// counters, so that a disagreement is the library's and not the model's.
TEST(ClassicModel, FollowsTheDocumentedExamples) {
  using namespace model;
  LastIssued() = 0;
  Container c;
  EXPECT_EQ(c.id, 1u);
  EXPECT_EQ(c.AddName(u"Pump"), 2u);
  for (std::uint32_t id : {5u, 20u, 21u}) c.AddNameFromData(id, u"N" + std::u16string(1, u'0' + id % 10));
  std::vector<std::uint32_t> order;
  for (auto& [id, text] : c.AllNamesAndIDs()) order.push_back(id);
  EXPECT_EQ(order, (std::vector<std::uint32_t>{5, 2, 21, 20}));

  Container keys;
  for (const char16_t* t : {u"AB", u"B", u"A"}) keys.AddName(t);
  auto ids = keys.AllIDs();
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{6, 5, 4}));

  LastIssued() = 0;
  Server s;
  EXPECT_EQ(s.AddContainer(0, 2), 1u);
  std::uint32_t id = 0;
  EXPECT_EQ(s.AddName(id, 1, u"AB", 0, true, false), kOk);
  EXPECT_EQ(s.Save(), (std::vector<std::uint8_t>{1, 0, 1, 0, 1, 0, 1, 0, 0, 0, 2, 0, 1, 0, 2, 0, 0, 0, 6, 0, 0, 0,
                                                 0x41, 0, 0x42, 0, 0, 0, 0, 0, 2, 0, 0, 0}));
  Server loaded;
  EXPECT_EQ(loaded.Load(s.Save()), kOk);
  EXPECT_EQ(loaded.GetID(1, u"ab"), 2u);
  EXPECT_EQ(LastIssued(), 2u);

  // The counters, and a rename that only changes case moving its key.
  Container counters;
  EXPECT_EQ(counters.GetNextObjectCount(u"Valve"), 1);
  EXPECT_EQ(counters.GetNextObjectCount(u"Pump"), 2);
  counters.ResetObjectIndex();
  EXPECT_EQ(counters.GetNextObjectCount(u"Pump"), 1);
  Text next;
  EXPECT_EQ(loaded.AddContainer(0, 0), 4u);
  loaded.AddName(id, 4, u"Pump1", 0, false, false);
  loaded.AddName(id, 4, u"PUMP2", 0, false, false);
  EXPECT_EQ(loaded.GetNextName(4, u"Pump", 0, &next), kOk);
  EXPECT_EQ(next, u"Pump3");
  EXPECT_EQ(loaded.GetNextName(4, u"Abcdefghijabcdefghijabcdefghijab", 3, &next), kOk);
  EXPECT_EQ(next, u"Abcdefghijabcdefghijabcdefghi001");
}

TEST(ClassicModel, RandomSequencesAgree) {
  std::string why;
  ASSERT_TRUE(modeldiff::LibraryFoldsLikeModel(&why)) << why;
  const long budget = CommandBudget();
  long done = 0;
  int failures = 0;
  for (std::uint64_t seed = 1; done < budget && failures < 3; ++seed) {
    std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ull);
    const int length = 60 + static_cast<int>(rng() % 300);
    const auto commands = modeldiff::Generate(rng, length);
    const modeldiff::Outcome outcome = modeldiff::Run(commands);
    done += outcome.failedStep < 0 ? length : outcome.failedStep + 1;
    if (outcome.failedStep < 0) continue;
    ++failures;
    ADD_FAILURE() << "seed " << seed << ", step " << outcome.failedStep << " disagrees:\n"
                  << modeldiff::Describe(outcome);
  }
}

}  // namespace
}  // namespace nametree

// The table against a plain reference: a fixed array of B chains, written
// straight from the bucket rules. Random operation sequences must give the
// same walk after every step, whichever storage form the table is in and
// whether or not its chains have grown long enough to be indexed.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <unordered_map>
#include <vector>

#include "container/chained_table.h"
#include "container/text_table.h"

namespace nametree {
namespace {

template <class Key, class Hash>
std::vector<std::pair<Key, int>> WalkOf(const ChainedTable<Key, int, Hash>& t) {
  std::vector<std::pair<Key, int>> out;
  t.Walk([&](auto k, int v) {
    out.emplace_back(Key(k), v);
    return true;
  });
  return out;
}

// Each step empties the whole table with `clearPerMille`, else inserts
// with `insertShare` percent and removes otherwise; for the second half of
// the steps the shares swap. A high share grows chains far past their
// bucket count and then shrinks them back.
template <class Key, class Hash, class MakeKey>
void RunModel(std::uint32_t buckets, int keySpace, int steps, unsigned seed, MakeKey makeKey,
              unsigned insertShare = 60, unsigned clearPerMille = 10) {
  std::mt19937 rng(seed);
  ChainedTable<Key, int, Hash> table(buckets);
  std::vector<std::vector<std::pair<Key, int>>> chains(buckets);  // the reference, each chain front first
  const auto randomKey = [&] { return makeKey(static_cast<int>(rng() % static_cast<unsigned>(keySpace))); };
  const auto entryOf = [&](const Key& k) {
    auto& chain = chains[Hash{}(k) % buckets];
    return std::make_pair(&chain, std::find_if(chain.begin(), chain.end(), [&](auto& e) { return e.first == k; }));
  };
  for (int step = 0; step < steps; ++step) {
    const Key k = randomKey();
    const auto [chain, at] = entryOf(k);
    const unsigned share = step < steps / 2 ? insertShare : 100 - insertShare;
    if (rng() % 1000 < clearPerMille) {
      table.RemoveAll();
      for (auto& c : chains) c.clear();
    } else if (rng() % 100 < share) {
      const int v = static_cast<int>(rng());
      table.SetAt(k, v);
      if (at != chain->end()) {
        at->second = v;
      } else {
        chain->emplace(chain->begin(), k, v);
      }
    } else {
      ASSERT_EQ(table.RemoveKey(k), at != chain->end()) << "step " << step;
      if (at != chain->end()) chain->erase(at);
    }
    std::vector<std::pair<Key, int>> expected;
    for (auto& c : chains) expected.insert(expected.end(), c.begin(), c.end());
    ASSERT_EQ(table.size(), expected.size()) << "step " << step;
    // Comparing every step is quadratic; sample densely, and always near the end.
    if (step % 7 == 0 || step > steps - 50) {
      ASSERT_EQ(WalkOf(table), expected) << "step " << step;
    }
    const Key probe = randomKey();
    const auto [probeChain, hit] = entryOf(probe);
    const int* found = table.Lookup(probe);
    ASSERT_EQ(found != nullptr, hit != probeChain->end());
    if (found) {
      ASSERT_EQ(*found, hit->second);
    }
  }
}

TEST(ChainedTableModel, IdAndTextKeysInEveryBucketCount) {
  for (std::uint32_t b : {17u, 101u, 13513u}) {
    // Small key spaces crowd chains; large ones cross the switch to a full array.
    RunModel<std::uint32_t, IdKeyHash>(b, 64, 3000, b, [](int i) { return static_cast<std::uint32_t>(i) * 16; });
    RunModel<std::uint32_t, IdKeyHash>(b, 40000, 6000, b + 1,
                                       [](int i) { return static_cast<std::uint32_t>(i) * 7 + 1; });
  }
  // Thousands of keys in 17 or 101 chains, and back down to a few.
  for (std::uint32_t b : {17u, 101u}) {
    RunModel<std::uint32_t, IdKeyHash>(b, 40000, 8000, b + 2,
                                       [](int i) { return static_cast<std::uint32_t>(i) * 2 + 1; }, 90, 0);
  }
  const auto text = [](int i) {
    CString s;
    for (int v = i + 1; v; v /= 26) s.push_back(static_cast<char16_t>(u'A' + v % 26));
    return s;
  };
  for (std::uint32_t b : {17u, 13513u}) RunModel<CString, TextKeyHash>(b, 3000, 5000, b, text);
  RunModel<CString, TextKeyHash>(17, 3000, 5000, 18, text, 85, 0);  // long chains
  // Long keys, never cleared: removed keys' units pile up until rewritten.
  RunModel<CString, TextKeyHash>(101, 2000, 4000, 19, [&](int i) { return text(i) + u"-KEPT-APART"; }, 70, 0);
}

// Texts in the table's own store: the IDs walk as in a plain table fed the
// same steps, and every text reads back after renames, removals and the
// store rewrites that they cause.
TEST(ChainedTableModel, TextValuesSurviveRenamesRemovalsAndRewrites) {
  std::mt19937 rng(7);
  IdTextTable table(17);
  ChainedTable<std::uint32_t, int, IdKeyHash> order(17);
  std::unordered_map<std::uint32_t, CString> texts;
  for (int step = 0; step < 6000; ++step) {
    const std::uint32_t id = rng() % 300 * 16 + 1;
    if (rng() % 100 < (step < 3000 ? 70u : 35u)) {
      const CString text = CString(rng() % 40, u'a' + static_cast<char16_t>(step % 26)) + CString(1, static_cast<char16_t>(step));
      table.SetAt(id, text);
      order.SetAt(id, 0);
      texts[id] = text;
    } else {
      ASSERT_EQ(table.RemoveKey(id), order.RemoveKey(id)) << "step " << step;
      texts.erase(id);
    }
    std::vector<std::uint32_t> want, got;
    order.Walk([&](std::uint32_t k, int) { return want.push_back(k), true; });
    table.Walk([&](std::uint32_t k, std::u16string_view text) { return got.push_back(k), text == texts.at(k); });
    ASSERT_EQ(got, want) << "step " << step;
  }
}

TEST(ChainedTableModel, WalkMayRemoveTheVisitedEntry) {
  ChainedTable<std::uint32_t, int, IdKeyHash> t(13513);
  for (std::uint32_t k = 1; k < 2000; k += 3) t.SetAt(k * 16, 0);
  std::vector<std::uint32_t> seen;
  t.Walk([&](std::uint32_t k, int) {
    seen.push_back(k);
    t.RemoveKey(k);
    return true;
  });
  EXPECT_EQ(seen.size(), 667u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_TRUE(t.empty());
  EXPECT_FALSE(t.HasArray());
}

TEST(ChainedTableModel, TextHashStopsAtZeroUnitAndWraps) {
  EXPECT_EQ(TextKeyHash{}(u"AB"), 65u * 33 + 66);
  EXPECT_EQ(TextKeyHash{}(CString(u"AB\0C", 4)), TextKeyHash{}(u"AB"));
  EXPECT_EQ(TextKeyHash{}(u"zzzzzzz"), 3569023894u);  // 33^6 * 122 alone passes 2^32
  EXPECT_EQ(IdKeyHash{}(272) % 17, 0u);
}

}  // namespace
}  // namespace nametree

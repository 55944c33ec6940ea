// The index's open-addressing map against a plain multiset of (key, value)
// pairs. A key holds several entries told apart by their values, as the
// index keeps texts whose tags collide; small tables wrap their runs round
// the array's end at every size, and a large one grows past the point
// where it steps by an eighth and shrinks back.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "container/flat_map.h"

namespace nametree {
namespace {

using Map = FlatMap<std::uint32_t, std::uint32_t>;
using Pairs = std::set<std::pair<std::uint32_t, std::uint32_t>>;

std::uint32_t* Lookup(Map& map, std::uint32_t key, std::uint32_t value) {
  return map.FindIf(key, [&](std::uint32_t v) { return v == value; });
}

// Enters the pair unless held; true when it was new.
bool Enter(Map& map, std::uint32_t key, std::uint32_t value) {
  bool fresh = false;
  std::uint32_t& v = map.FindOrInsert(key, [&](std::uint32_t held) { return held == value; }, fresh);
  if (fresh) v = value;
  return fresh;
}

Pairs Contents(const Map& map) {
  Pairs out;
  map.ForEach([&](std::uint32_t k, std::uint32_t v) { out.emplace(k, v); });
  return out;
}

TEST(FlatMapModel, RandomChurnKeepsOrderAndContents) {
  for (std::uint32_t keys : {3u, 17u, 200u}) {
    std::mt19937 rng(keys);
    Map map;
    Pairs model;
    for (int step = 0; step < 20000; ++step) {
      const std::uint32_t key = 1 + rng() % keys, value = 1 + rng() % 4;
      const bool held = model.count({key, value}) != 0;
      switch (rng() % 8) {
        case 0:
        case 1:
        case 2:
          ASSERT_EQ(Enter(map, key, value), !held) << step;
          model.emplace(key, value);
          ASSERT_NE(Lookup(map, key, value), nullptr);
          ASSERT_EQ(*Lookup(map, key, value), value);
          break;
        case 3:
        case 4:
          if (std::uint32_t* at = Lookup(map, key, value)) map.EraseAt(at);
          ASSERT_EQ(model.erase({key, value}), held ? 1u : 0u);
          break;
        case 5: {
          // Erase takes one of the key's entries, which one unspecified.
          const bool any = model.lower_bound({key, 0}) != model.lower_bound({key + 1, 0});
          ASSERT_EQ(map.Erase(key), any) << step;
          Pairs left = Contents(map), gone;
          std::set_difference(model.begin(), model.end(), left.begin(), left.end(), std::inserter(gone, gone.end()));
          ASSERT_EQ(gone.size(), any ? 1u : 0u) << step;
          ASSERT_TRUE(std::includes(model.begin(), model.end(), left.begin(), left.end()));
          if (any) {
            ASSERT_EQ(gone.begin()->first, key);
          }
          model = std::move(left);
          break;
        }
        case 6:
          map.Reserve(rng() % 24);
          break;
        default:
          ASSERT_EQ(Lookup(map, key, value) != nullptr, held) << step;
      }
      ASSERT_TRUE(map.Valid()) << "keys " << keys << " step " << step;
      ASSERT_EQ(map.size(), model.size());
    }
    EXPECT_EQ(Contents(map), model);
  }
}

// Keys homed in the array's last slots crowd past its end once it halves,
// and come back in order when it doubles again.
TEST(FlatMapModel, RunsCrowdedAtTheEndSurviveRehashing) {
  Map map;
  map.Reserve(56);
  const std::size_t slots = map.MemoryUsage() / 8;
  ASSERT_EQ(slots, 64u);
  std::vector<std::uint32_t> tail;
  for (std::uint32_t k = 1; tail.size() < 7; ++k)
    if (map.HomeOf(k) == slots - 1 - tail.size() / 2) tail.push_back(k);
  std::uint32_t filler = 1;
  while (map.HomeOf(filler) != 3) ++filler;
  for (std::uint32_t k : tail) ASSERT_TRUE(Enter(map, k, 1));
  ASSERT_TRUE(Enter(map, filler, 1));
  ASSERT_TRUE(map.Valid());
  ASSERT_TRUE(map.Erase(filler));  // below 1/8 full: it halves
  ASSERT_EQ(map.MemoryUsage(), 32u * 8);
  ASSERT_TRUE(map.Valid());
  for (std::uint32_t k : tail) ASSERT_NE(Lookup(map, k, 1), nullptr) << k;
  map.Reserve(100);
  ASSERT_TRUE(map.Valid());
  for (std::uint32_t k : tail) ASSERT_NE(Lookup(map, k, 1), nullptr) << k;
  EXPECT_EQ(Contents(map).size(), tail.size());
}

TEST(FlatMapModel, LargeTableGrowsAndShrinksBack) {
  Map map;
  const std::uint32_t n = 150000;
  for (std::uint32_t k = 1; k <= n; ++k) {
    ASSERT_TRUE(Enter(map, k * 2654435761u | 1u, k));
    if (k % 9973 == 0) {
      ASSERT_TRUE(map.Valid()) << k;
    }
  }
  ASSERT_TRUE(map.Valid());
  EXPECT_GE(map.MemoryUsage(), n * 8u * 8 / 7);
  EXPECT_LE(map.MemoryUsage(), n * 8u * 9 / 7 + 64);  // an eighth's step past 2^16 slots
  for (std::uint32_t k = 1; k <= n; ++k) ASSERT_EQ(Lookup(map, k * 2654435761u | 1u, k) != nullptr, true) << k;
  for (std::uint32_t k = 1; k <= n; ++k) {
    if (k % 50 == 0) continue;
    ASSERT_TRUE(map.Erase(k * 2654435761u | 1u));
    if (k % 9973 == 0) {
      ASSERT_TRUE(map.Valid()) << k;
    }
  }
  ASSERT_TRUE(map.Valid());
  EXPECT_EQ(map.size(), n / 50);
  EXPECT_LE(map.MemoryUsage(), n / 50 * 8u * 8 * 2);  // halved as it emptied
  for (std::uint32_t k = 50; k <= n; k += 50) ASSERT_NE(Lookup(map, k * 2654435761u | 1u, k), nullptr) << k;
  EXPECT_EQ(Lookup(map, 7 * 2654435761u | 1u, 7), nullptr);
}

}  // namespace
}  // namespace nametree

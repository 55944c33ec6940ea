// The index's open-addressing map against a plain multiset of (key, value)
// pairs. A key holds several entries told apart by their values, as the
// index keeps texts whose tags collide; small tables wrap their runs round
// the array's end at every size. Past 4 MiB the array grows by an eighth
// where it lies, also when the system has room for nothing more.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "container/flat_map.h"
#include "support/address_limit.h"

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

std::uint32_t Filler(std::uint32_t k) { return k * 2654435761u | 1u; }  // odd, spread

// Fills a map with fillers 1..*n until its array is a mapping of its own.
void FillPastMapping(Map& map, std::uint32_t& n) {
  while (map.MemoryUsage() < ZeroedBlock::kMappedFrom) {
    ++n;
    Enter(map, Filler(n), n);
  }
}

// Enters fillers until the next one would make the array grow.
void FillToTheBrim(Map& map, std::uint32_t& n) {
  while ((map.size() + 1) * 8 <= map.MemoryUsage() / 8 * 7) {
    ++n;
    Enter(map, Filler(n), n);
  }
}

TEST(FlatMapModel, MappedTableGrowsWhereItLiesInOrder) {
  Map map;
  std::uint32_t n = 0;
  FillPastMapping(map, n);
  std::vector<std::uint32_t> tail;  // even keys, each entered with value 7
  for (int growth = 0; growth < 3; ++growth) {
    const std::size_t slots = map.MemoryUsage() / 8;
    // Homed in the last slot: their run goes round the array's end now, and
    // round the grown array's end too, whose last two slots are their homes.
    for (std::uint32_t k = 2, added = 0; added < 6; k += 2) {
      if (map.HomeOf(k) == slots - 1 && Lookup(map, k, 7) == nullptr) {
        ASSERT_TRUE(Enter(map, k, 7));
        tail.push_back(k);
        ++added;
      }
    }
    while (map.MemoryUsage() / 8 == slots) {
      ++n;
      ASSERT_TRUE(Enter(map, Filler(n), n));
    }
    ASSERT_TRUE(map.Valid()) << growth;
    ASSERT_EQ(map.size(), n + tail.size());
    for (std::uint32_t k : tail) ASSERT_NE(Lookup(map, k, 7), nullptr) << growth << " " << k;
  }
  for (std::uint32_t k = 1; k <= n; ++k) ASSERT_NE(Lookup(map, Filler(k), k), nullptr) << k;
  EXPECT_EQ(Contents(map).size(), map.size());
}

// Out of address space a growth either happens or leaves the map as it
// was; one that needs only its added eighth happens, which a copy of the
// array beside the old one could not.
TEST(FlatMapModel, MappedTableGrowsWithRoomForItsEighthOnly) {
  if (!test::AddressLimitsWork()) GTEST_SKIP() << "address-space limits need the plain build";
  // Made before the limit, which the child inherits it under.
  Map map;
  std::uint32_t n = 0;
  FillPastMapping(map, n);
  FillToTheBrim(map, n);
  ASSERT_TRUE(map.Valid());
  const std::size_t before = map.MemoryUsage();
  for (const std::size_t roomMb : {0, 2}) {
    std::string said;
    const int code = test::RunWithinAddressSpace(
        roomMb,
        [&](std::string& out) {
          bool grew = false;
          try {
            grew = Enter(map, Filler(n + 1), n + 1) && map.MemoryUsage() > before;
          } catch (const std::bad_alloc&) {
          }
          if (!map.Valid()) return out = "not valid", 3;
          for (std::uint32_t k = 1; k <= n; ++k)
            if (Lookup(map, Filler(k), k) == nullptr) return out = "lost", 3;
          if (grew != (Lookup(map, Filler(n + 1), n + 1) != nullptr)) return out = "half grown", 3;
          return grew ? 0 : 1;
        },
        &said);
    EXPECT_EQ(code, roomMb ? 0 : 1) << roomMb << " MiB: " << said;
  }
}

TEST(ZeroedBlockTest, MappedBlockGrowsKeepingItsBytesAndReadsZeroBeyond) {
  const std::size_t mappedBefore = ZeroedBlock::MappedBytes();
  {
    ZeroedBlock small(4096);
    EXPECT_TRUE(small.Valid());
    EXPECT_FALSE(small.mapped());
    EXPECT_FALSE(small.GrowInPlace(8192));
    EXPECT_EQ(small.bytes(), 4096u);
    ZeroedBlock block(ZeroedBlock::kMappedFrom);
    ASSERT_TRUE(block.mapped());
    EXPECT_TRUE(block.Valid());
    EXPECT_EQ(ZeroedBlock::MappedBytes(), mappedBefore + block.bytes());
    auto* bytes = static_cast<unsigned char*>(block.get());
    for (std::size_t i = 0; i < block.bytes(); i += 4093) bytes[i] = static_cast<unsigned char>(i % 251 + 1);
    const std::size_t first = block.bytes();
    ASSERT_TRUE(block.GrowInPlace(first + first / 8 + 1));
    EXPECT_TRUE(block.Valid());
    EXPECT_GE(block.bytes(), first + first / 8 + 1);
    EXPECT_EQ(ZeroedBlock::MappedBytes(), mappedBefore + block.bytes());
    bytes = static_cast<unsigned char*>(block.get());
    for (std::size_t i = 0; i < first; ++i)
      ASSERT_EQ(bytes[i], i % 4093 == 0 ? i % 251 + 1 : 0u) << i;
    for (std::size_t i = first; i < block.bytes(); ++i) ASSERT_EQ(bytes[i], 0u) << i;
    ZeroedBlock moved = std::move(block);
    EXPECT_FALSE(block);
    EXPECT_TRUE(block.Valid());
    EXPECT_EQ(moved.get(), bytes);
  }
  EXPECT_EQ(ZeroedBlock::MappedBytes(), mappedBefore);
}

}  // namespace
}  // namespace nametree

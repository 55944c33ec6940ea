// The table against a plain reference: a fixed array of B chains, written
// straight from the bucket rules. Random operation sequences must give the
// same walk after every step, whichever storage form the table is in and
// whether or not its chains have grown long enough to be indexed. Text
// keys are tested as a container keeps them, in the unit store that they
// share with its texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "container/chained_table.h"
#include "container/container_tables.h"

namespace nametree {
namespace {

template <class Key, class Table>
std::vector<std::pair<Key, int>> WalkOf(const Table& t) {
  std::vector<std::pair<Key, int>> out;
  t.Walk([&](auto k, auto v) {
    out.emplace_back(Key(k), static_cast<int>(v));
    return true;
  });
  return out;
}

// The walk one entry handle at a time, as tree walks and saves read it;
// empty when a handle is not the one its key finds.
template <class Table>
std::vector<std::pair<std::uint32_t, int>> HandleWalkOf(const Table& t) {
  std::vector<std::pair<std::uint32_t, int>> out;
  for (auto e = t.FirstEntry(); e; e = t.NextEntry(e)) {
    if (t.FindEntry(Table::KeyOf(e)) != e) return {};
    out.emplace_back(Table::KeyOf(e), static_cast<int>(Table::ValueOf(e)));
  }
  return out;
}

// A container's key table, with the store compactions that its changes cause.
class TextKeys {
 public:
  explicit TextKeys(std::uint32_t buckets) { tables_.ResetNames(buckets); }
  void SetAt(const CString& key, int id) { tables_.EnterKey(key, static_cast<std::uint32_t>(id)); }
  bool RemoveKey(const CString& key) { return tables_.RemoveKey(key, nullptr); }
  bool MoveToFront(const CString& key) {
    const std::uint32_t* id = Lookup(key);
    return id && tables_.MoveKeyToFront(key, *id);
  }
  void RemoveAll() { tables_.RemoveAllNames(); }
  std::size_t size() const { return tables_.Keys().size(); }
  const std::uint32_t* Lookup(const CString& key) const { return tables_.Keys().Lookup(key); }
  template <class F>
  void Walk(F&& f) const {
    tables_.Keys().Walk(f);
  }
  std::string CheckUnits() const { return tables_.CheckUnits(); }
  bool CheckPool() const { return tables_.Keys().CheckPool(); }
  bool CheckChains() const { return tables_.Keys().CheckChains(); }

 private:
  ContainerTables tables_;
};

// Each step empties the whole table with `clearPerMille`, else moves a
// key to the front of its chain one time in ten, else inserts with
// `insertShare` percent and removes otherwise; for the second half of
// the steps the shares swap. A high share grows chains far past their
// bucket count and then shrinks them back.
template <class Key, class Hash, class Table = ChainedTable<Key, int, Hash>, class MakeKey>
void RunModel(std::uint32_t buckets, int keySpace, int steps, unsigned seed, MakeKey makeKey,
              unsigned insertShare = 60, unsigned clearPerMille = 10) {
  std::mt19937 rng(seed);
  Table table(buckets);
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
    if constexpr (requires { table.Reserve(1); }) {
      if (step % 11 == 0) table.Reserve(rng() % 24);  // now and then past the array form's limit
    }
    if (rng() % 1000 < clearPerMille) {
      table.RemoveAll();
      for (auto& c : chains) c.clear();
    } else if (rng() % 100 < 10) {
      ASSERT_EQ(table.MoveToFront(k), at != chain->end()) << "step " << step;
      if (at != chain->end()) std::rotate(chain->begin(), at, at + 1);
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
      ASSERT_EQ(WalkOf<Key>(table), expected) << "step " << step;
      ASSERT_TRUE(table.CheckPool()) << "step " << step;
      ASSERT_TRUE(table.CheckChains()) << "step " << step;
      if constexpr (std::is_same_v<Key, std::uint32_t>) {
        ASSERT_EQ(HandleWalkOf(table), expected) << "step " << step;
      }
      if constexpr (requires { table.CheckUnits(); }) {
        ASSERT_EQ(table.CheckUnits(), "") << "step " << step;
      }
    }
    const Key probe = randomKey();
    const auto [probeChain, hit] = entryOf(probe);
    const auto* found = table.Lookup(probe);
    ASSERT_EQ(found != nullptr, hit != probeChain->end());
    if (found) {
      ASSERT_EQ(static_cast<int>(*found), hit->second);
    }
  }
}

TEST(ChainedTableModel, IdAndTextKeysInEveryBucketCount) {
  for (std::uint32_t b : {17u, 101u, 13513u}) {
    // Small key spaces crowd chains; large ones cross the switch to a full array.
    RunModel<std::uint32_t, IdKeyHash>(b, 64, 3000, b, [](int i) { return static_cast<std::uint32_t>(i) * 16; });
    RunModel<std::uint32_t, IdKeyHash>(b, 40000, 6000, b + 1,
                                       [](int i) { return static_cast<std::uint32_t>(i) * 7 + 1; });
    // 8-byte values, as sub-container tables hold: their items carry the link.
    RunModel<std::uint32_t, IdKeyHash, ChainedTable<std::uint32_t, std::uint64_t, IdKeyHash>>(
        b, 40, 3000, b + 3, [](int i) { return static_cast<std::uint32_t>(i) * 16 + 5; });
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
  for (std::uint32_t b : {17u, 13513u}) RunModel<CString, TextKeyHash, TextKeys>(b, 3000, 5000, b, text);
  RunModel<CString, TextKeyHash, TextKeys>(17, 3000, 5000, 18, text, 85, 0);  // long chains
  // Long keys, never cleared: removed keys' units pile up until rewritten.
  RunModel<CString, TextKeyHash, TextKeys>(101, 2000, 4000, 19, [&](int i) { return text(i) + u"-KEPT-APART"; }, 70,
                                           0);
}

// Texts and keys in one unit store, changed as a container changes them: a
// name and its key (the key sharing the text's units when they are equal),
// a new text under an ID whose key then moves, a key taken from one ID and
// given a new text, and removals of both sides or of either alone. Both
// tables read back as two plain tables fed the same steps, through the
// store rewrites that the removals cause, and the store keeps its rules
// after every step. A small store stays in one block; a large one spreads
// over pages, with runs kept off their boundaries.
void RunSharedStore(std::uint32_t idSpace, unsigned longest, unsigned seed, bool clears, int checkEvery) {
  std::mt19937 rng(seed);
  ContainerTables tables;
  tables.ResetNames(17);
  ChainedTable<std::uint32_t, CString, IdKeyHash> names(17);
  ChainedTable<CString, std::uint32_t, TextKeyHash> keys(17);  // keys kept whole in the entries
  const auto upper = [](CString s) {
    for (char16_t& c : s) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    return s;
  };
  // Few stems, so that texts repeat and meet in other cases.
  const auto text = [&] {
    const std::size_t length = 1 + rng() % longest;  // drawn in one order whatever the compiler
    CString s = CString(length, static_cast<char16_t>(u'A' + rng() % 4));
    if (rng() % 2) s[rng() % s.size()] += 32;
    return s;
  };
  const auto enterKey = [&](const CString& key, std::uint32_t id) {
    tables.EnterKey(key, id);
    keys.SetAt(key, id);
  };
  const auto removeKey = [&](const CString& key) {
    std::uint32_t gone = 0;
    ASSERT_EQ(tables.RemoveKey(key, &gone), keys.RemoveKey(key)) << "key " << key.size();
  };
  std::size_t rewrites = 0, last = 0, maxUnits = 0;
  for (int step = 0; step < 8000; ++step) {
    const std::uint32_t id = rng() % idSpace * 16 + 1;
    const CString* held = names.Lookup(id);
    const unsigned op = rng() % 100;
    const unsigned adds = step % 4000 < 2000 ? 45 : 25;  // grow, then shrink
    if (op < adds) {
      const CString t = text();
      tables.EnterName(id, t);
      names.SetAt(id, t);
      enterKey(upper(t), id);
    } else if (op < adds + 15 && held) {
      const CString t = text(), old = *held;
      ASSERT_TRUE(tables.ReplaceText(id, t));
      names.SetAt(id, t);
      removeKey(upper(old));
      enterKey(upper(t), id);
    } else if (op < adds + 25) {
      const CString key = upper(text());
      std::uint32_t to = 0;
      if (const std::uint32_t* k = keys.Lookup(key)) to = *k;
      removeKey(key);
      if (to) {
        const CString t = text();
        tables.EnterName(to, t);
        names.SetAt(to, t);
        enterKey(upper(t), to);
      }
    } else if (op < 96) {
      ASSERT_EQ(tables.RemoveName(id), names.RemoveKey(id));
      if (held && op < 90) removeKey(upper(*held));
    } else if (op < 99 || !clears) {
      removeKey(upper(text()));
    } else {
      tables.RemoveAllNames();
      names.RemoveAll();
      keys.RemoveAll();
    }
    const std::size_t units = tables.Units().UnitCount();
    rewrites += units < last && op < adds;  // shrank while a name came in: rewritten
    last = units;
    maxUnits = std::max(maxUnits, units);
    if (step % checkEvery) continue;
    ASSERT_EQ(tables.CheckUnits(), "") << "step " << step;
    std::vector<std::pair<std::uint32_t, CString>> want, got;
    names.Walk([&](std::uint32_t k, const CString& t) { return want.emplace_back(k, t), true; });
    tables.Names().Walk([&](std::uint32_t k, std::u16string_view t) { return got.emplace_back(k, CString(t)), true; });
    ASSERT_EQ(got, want) << "step " << step;
    ASSERT_EQ(WalkOf<CString>(tables.Keys()), WalkOf<CString>(keys)) << "step " << step;
  }
  EXPECT_GE(rewrites, 3u);
  EXPECT_TRUE(clears || maxUnits > 16000) << "the store never spread over pages";
}

TEST(ChainedTableModel, TextsAndKeysShareOneUnitStore) {
  RunSharedStore(200, 6, 7, true, 1);
  RunSharedStore(1000, 32, 9, false, 8);  // over pages
  RunSharedStore(1000, 72, 13, false, 4);  // runs and long texts, over pages
}

// Every entry is visited once, in walk order, whether the callback removes
// it or not, in every storage form; what stays keeps its order.
TEST(ChainedTableModel, WalkMayRemoveTheVisitedEntry) {
  for (const std::uint32_t buckets : {17u, 13513u}) {
    for (const std::uint32_t keys : {1u, 3u, 16u, 667u}) {
      SCOPED_TRACE(testing::Message() << buckets << " buckets, " << keys << " keys");
      for (const std::uint32_t keep : {0u, 2u}) {  // none kept, or every other
        ChainedTable<std::uint32_t, int, IdKeyHash> t(buckets);
        for (std::uint32_t k = 0; k < keys; ++k) t.SetAt(k * 7 * 16 + 16, static_cast<int>(k));
        const auto before = WalkOf<std::uint32_t>(t);
        std::vector<std::pair<std::uint32_t, int>> seen, kept;
        t.Walk([&](std::uint32_t k, int v) {
          seen.emplace_back(k, v);
          if (keep && seen.size() % keep == 0) {
            kept.emplace_back(k, v);
          } else {
            t.RemoveKey(k);
          }
          return true;
        });
        EXPECT_EQ(seen, before);
        EXPECT_EQ(WalkOf<std::uint32_t>(t), kept);
        EXPECT_TRUE(t.CheckPool());
        EXPECT_EQ(t.HasArray(), !kept.empty());
      }
    }
  }
}

TEST(ChainedTableModel, TextHashStopsAtZeroUnitAndWraps) {
  EXPECT_EQ(TextKeyHash{}(u"AB"), 65u * 33 + 66);
  EXPECT_EQ(TextKeyHash{}(CString(u"AB\0C", 4)), TextKeyHash{}(u"AB"));
  EXPECT_EQ(TextKeyHash{}(u"zzzzzzz"), 3569023894u);  // 33^6 * 122 alone passes 2^32
  EXPECT_EQ(IdKeyHash{}(272) % 17, 0u);
}

// The chain check must see a key held twice in every storage form: listed,
// split into chains, and with its chains indexed.
TEST(ChainedTableModel, ChainCheckFindsAKeyHeldTwice) {
  for (const std::uint32_t keys : {4u, 40u, 400u}) {
    SCOPED_TRACE(keys);
    ChainedTable<std::uint32_t, int, IdKeyHash> t;
    for (std::uint32_t k = 1; k <= keys; ++k) t.SetAt(k * 16, 0);
    ASSERT_TRUE(t.CheckChains());
    t.AddNew(keys * 8, 1);  // a key it holds already, against AddNew's requirement
    EXPECT_FALSE(t.CheckChains());
  }
}

}  // namespace
}  // namespace nametree

// Finds an entry of a chained table in constant time however long its
// chain has grown, and the link in front of it, so that the table can
// unlink the entry without walking its chain.
//
// Entries are named by their 32-bit place in the table's entry pool. The
// index holds one open-addressing slot per entry and, per entry, its
// predecessor: the entry in front of it in its chain, or kHeadMark | bucket
// when it is its chain's head.
//
// Invariants, after every operation of the owning table:
//  - every entry has exactly one slot;
//  - Prev(e) names the link that points at e;
//  - bucket heads do not move while the index exists (the table keeps its
//    full bucket array then).
// The table keeps them by calling Insert for a new entry, SetPrev for an
// entry whose link changed, and Erase for an entry about to be unlinked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace nametree {

inline std::uint64_t ChainIndexHash(std::uint32_t key) { return key; }
inline std::uint64_t ChainIndexHash(std::u16string_view key) {
  std::uint64_t h = 0;
  for (char16_t c : key) h = h * 131 + c;
  return h;
}

class ChainIndex {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  static constexpr std::uint32_t kHeadMark = 0x80000000u;

  // The entry for which matches(entry) holds among those of `hash`, or kNone.
  template <class Matches>
  std::uint32_t Find(std::uint64_t hash, Matches&& matches) const {
    if (!slots_) return kNone;
    for (std::size_t i = Home(hash);; i = (i + 1) & mask_) {
      const std::uint32_t e = slots_[i];
      if (e == kNone || matches(e)) return e;
    }
  }

  // hashOf(entry) gives any indexed entry's hash. Out of memory it throws;
  // the table then drops the index.
  template <class HashOf>
  void Insert(std::uint32_t entry, std::uint32_t prev, HashOf&& hashOf) {
    if (entry >= prev_.size()) prev_.resize(std::size_t{entry} + 1, kNone);
    if ((used_ + 1) * 4 > (mask_ + 1) * 3) Grow(hashOf);
    Place(entry, hashOf(entry));
    prev_[entry] = prev;
    ++used_;
  }

  std::uint32_t Prev(std::uint32_t entry) const { return prev_[entry]; }
  // Entries indexed.
  std::size_t Size() const { return used_; }
  void SetPrev(std::uint32_t entry, std::uint32_t prev) { prev_[entry] = prev; }

  template <class HashOf>
  void Erase(std::uint32_t entry, HashOf&& hashOf) {
    // Backward shift: later slots of the probe run close the gap, so that
    // no lookup ever stops early at it.
    std::size_t hole = Home(hashOf(entry));
    while (slots_[hole] != entry) hole = (hole + 1) & mask_;
    for (std::size_t j = (hole + 1) & mask_; slots_[j] != kNone; j = (j + 1) & mask_) {
      const std::size_t home = Home(hashOf(slots_[j]));
      const bool between = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (!between) {
        slots_[hole] = slots_[j];
        hole = j;
      }
    }
    // mutate: chain-index-erase-leaves-slot
    slots_[hole] = kNone;
    prev_[entry] = kNone;
    // mutate: chain-index-erase-keeps-count
    --used_;
  }

  // Whether the slots hold exactly used_ entries, each with a predecessor
  // and each reached from its home without a gap, so that a lookup finds
  // it. With a lookup of every chained entry finding it, and used_ equal
  // to their count, every entry then has exactly one slot.
  // Visits every slot; for invariant checks only.
  template <class HashOf>
  bool CheckSlots(HashOf&& hashOf) const {
    if (!slots_) return used_ == 0;
    std::size_t held = 0;
    for (std::size_t i = 0; i <= mask_; ++i) {
      const std::uint32_t e = slots_[i];
      if (e == kNone) continue;
      ++held;
      if (e >= prev_.size() || prev_[e] == kNone) return false;
      for (std::size_t j = Home(hashOf(e)); j != i; j = (j + 1) & mask_)
        if (slots_[j] == kNone) return false;
    }
    return held == used_;
  }

  std::size_t MemoryUsage() const {
    return (slots_ ? (mask_ + 1) * sizeof(std::uint32_t) : 0) + prev_.capacity() * sizeof(std::uint32_t);
  }

 private:
  std::size_t Home(std::uint64_t hash) const {
    return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  void Place(std::uint32_t entry, std::uint64_t hash) {
    std::size_t i = Home(hash);
    while (slots_[i] != kNone) i = (i + 1) & mask_;
    slots_[i] = entry;
  }

  template <class HashOf>
  void Grow(HashOf& hashOf) {
    const std::size_t old = slots_ ? mask_ + 1 : 0;
    const std::size_t size = old ? old * 2 : 64;
    auto fresh = std::make_unique<std::uint32_t[]>(size);
    std::unique_ptr<std::uint32_t[]> previous = std::move(slots_);
    slots_ = std::move(fresh);
    for (std::size_t i = 0; i < size; ++i) slots_[i] = kNone;
    mask_ = size - 1;
    shift_ = 64;
    for (std::size_t s = size; s > 1; s >>= 1) --shift_;
    for (std::size_t i = 0; i < old; ++i)
      if (previous[i] != kNone) Place(previous[i], hashOf(previous[i]));
  }

  std::unique_ptr<std::uint32_t[]> slots_;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
  std::size_t used_ = 0;
  std::vector<std::uint32_t> prev_;
};

}  // namespace nametree

// Finds an entry of a chained table, and the link that points at it, in
// constant time however long its chain has grown.
//
// Holds one slot per entry of the table: the address of the link that
// points at the entry, which is either its bucket's head or the `next`
// field of the entry in front of it. Knowing that link, the table can
// unlink an entry without walking its chain.
//
// Invariants, after every operation of the owning table:
//  - every entry has exactly one slot, and *slot is that entry;
//  - bucket heads do not move while the index exists (the table keeps its
//    full bucket array then).
// The table keeps them by telling the index of each change of a link's
// target: Insert for a new entry, Move for the entry whose link changed
// (the old head when a key goes in front of it, the successor when an
// entry is unlinked), Erase for an entry about to be unlinked. Move and
// Erase are called while the old link still points at the entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "nametree/types.h"

namespace nametree {

inline std::uint64_t ChainIndexHash(std::uint32_t key) { return key; }
inline std::uint64_t ChainIndexHash(const CString& key) {
  std::uint64_t h = 0;
  for (char16_t c : key) h = h * 131 + c;
  return h;
}

template <class Node>
class ChainIndex {
 public:
  // The link that points at the entry with `key`, or null.
  template <class Key>
  Node** Find(const Key& key) const {
    if (!slots_) return nullptr;
    for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
      Node** link = slots_[i];
      if (!link) return nullptr;
      if ((*link)->key == key) return link;
    }
  }

  void Insert(Node** link) {
    if ((used_ + 1) * 4 > (mask_ + 1) * 3) Grow();
    Place(link);
    ++used_;
  }

  void Move(const Node* entry, Node** newLink) { slots_[SlotOf(entry)] = newLink; }

  void Erase(const Node* entry) {
    // Backward shift: later slots of the probe run close the gap, so that
    // no lookup ever stops early at it.
    std::size_t hole = SlotOf(entry);
    for (std::size_t j = (hole + 1) & mask_; slots_[j]; j = (j + 1) & mask_) {
      const std::size_t home = Home((*slots_[j])->key);
      const bool between = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (!between) {
        slots_[hole] = slots_[j];
        hole = j;
      }
    }
    slots_[hole] = nullptr;
    --used_;
  }

  std::size_t MemoryUsage() const { return slots_ ? (mask_ + 1) * sizeof(Node**) : 0; }

 private:
  template <class Key>
  std::size_t Home(const Key& key) const {
    return static_cast<std::size_t>((ChainIndexHash(key) * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  std::size_t SlotOf(const Node* entry) const {
    std::size_t i = Home(entry->key);
    while (*slots_[i] != entry) i = (i + 1) & mask_;
    return i;
  }

  void Place(Node** link) {
    std::size_t i = Home((*link)->key);
    while (slots_[i]) i = (i + 1) & mask_;
    slots_[i] = link;
  }

  void Grow() {
    const std::size_t old = slots_ ? mask_ + 1 : 0;
    std::unique_ptr<Node**[]> previous = std::move(slots_);
    const std::size_t size = old ? old * 2 : 64;
    slots_ = std::make_unique<Node**[]>(size);
    mask_ = size - 1;
    shift_ = 64;
    for (std::size_t s = size; s > 1; s >>= 1) --shift_;
    for (std::size_t i = 0; i < old; ++i)
      if (previous[i]) Place(previous[i]);
  }

  std::unique_ptr<Node**[]> slots_;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
  std::size_t used_ = 0;
};

}  // namespace nametree

// A chained table from IDs to texts. The texts sit end to end in a unit
// store shared with the container's key table (NameUnitStore), so an entry
// is its ID and its text's slot, 8 bytes (and a link once the table is
// split, 12), with no string object and no heap block of its own. Walk
// order, bucket rules and out-of-memory behaviour are the inner
// ChainedTable's.
//
// Invariant: the store holds every live entry's text (the store's own
// invariants, with the entries' slots as its text slots). A change makes
// the new text's units before it touches an entry and drops the old ones
// after, so out of memory the table is as it was. Texts handed out as
// views are good until either table sharing the store changes; the store's
// owner compacts it (see ForEachTextSlot).
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "container/chained_table.h"
#include "container/name_unit_store.h"

namespace nametree {

class IdTextTable {
  using Slot = NameUnitStore::Slot;
  using Inner = ChainedTable<std::uint32_t, Slot, IdKeyHash>;

 public:
  using View = std::u16string_view;
  using Entry = decltype(std::declval<const Inner&>().FirstEntry());

  explicit IdTextTable(NameUnitStore& units, std::uint32_t buckets = kDefaultBuckets)
      : table_(buckets), units_(&units) {}
  IdTextTable(const IdTextTable&) = delete;
  IdTextTable& operator=(const IdTextTable&) = delete;

  void InitHashTable(std::uint32_t buckets, bool makeArray = true) {
    table_.InitHashTable(buckets, makeArray);
    units_->Forget(NameUnitStore::kText);
  }
  void Reserve(std::size_t more) { table_.Reserve(more); }
  void Prefetch() const { table_.Prefetch(); }
  std::uint32_t BucketCount() const { return table_.BucketCount(); }
  bool HasArray() const { return table_.HasArray(); }
  std::size_t size() const { return table_.size(); }
  bool empty() const { return table_.empty(); }
  bool Contains(std::uint32_t id) const { return table_.Contains(id); }
  // Walk order of two held IDs (ChainedTable::WalksBefore).
  bool WalksBefore(std::uint32_t a, std::uint32_t b) const { return table_.WalksBefore(a, b); }

  // Where id's text lies in the shared store, or null.
  const Slot* SlotOf(std::uint32_t id) const { return table_.Lookup(id); }

  std::optional<View> Lookup(std::uint32_t id) const {
    const Slot* s = table_.Lookup(id);
    if (!s) return std::nullopt;
    return units_->ViewOf(*s);
  }

  // Sets id's text: in place when present (its walk place stays), else a
  // new entry at the front of its chain. The text is offered to the next
  // key made (NameUnitStore::MakeKey). REQUIRES: text views no unit of the
  // store. Out of memory it throws with nothing changed. Returns the new
  // text's slot.
  Slot SetAt(std::uint32_t id, View text) {
    Slot* current = table_.Lookup(id);
    if (!current) return AddNew(id, text);
    const Slot made = units_->MakeText(text);
    const Slot old = *current;
    // mutate: text-replace-keeps-old-slot
    *current = made;
    units_->Drop(NameUnitStore::kText, old);
    return made;
  }

  // SetAt for an ID known to be absent, without looking for it.
  // REQUIRES: !Contains(id).
  Slot AddNew(std::uint32_t id, View text) {
    const Slot made = units_->MakeText(text);
    try {
      table_.AddNew(id, made);
    } catch (...) {
      units_->Drop(NameUnitStore::kText, made);
      throw;
    }
    return made;
  }

  // A walk may remove the entry it was given.
  bool RemoveKey(std::uint32_t id) {
    Slot gone{};
    if (!table_.RemoveKey(id, &gone)) return false;
    units_->Drop(NameUnitStore::kText, gone);
    return true;
  }

  void RemoveAll() {
    table_.RemoveAll();
    units_->Forget(NameUnitStore::kText);
  }

  // Calls f(id, text) in walk order; f returns false to stop.
  template <class F>
  bool Walk(F&& f) const {
    return table_.Walk([&](std::uint32_t id, const Slot& s) { return f(id, units_->ViewOf(s)); });
  }

  std::pair<const void*, std::size_t> EntryPiece(std::size_t k) const { return table_.EntryPiece(k); }
  Entry FirstEntry() const { return table_.FirstEntry(); }
  Entry NextEntry(Entry e) const { return table_.NextEntry(e); }
  static std::uint32_t KeyOf(Entry e) { return Inner::KeyOf(e); }
  View TextOf(Entry e) const { return units_->ViewOf(Inner::ValueOf(e)); }

  // Calls f(slot) for every text's slot, for the store's owner, which may
  // move the slots when it compacts the store.
  template <class F>
  void ForEachTextSlot(F&& f) const {
    table_.Walk([&](std::uint32_t, Slot& s) {
      f(s);
      return true;
    });
  }

  // Bytes of the table, not of the store it shares.
  std::size_t MemoryUsage() const { return table_.MemoryUsage(); }
  bool CheckPool() const { return table_.CheckPool(); }
  bool CheckChains() const { return table_.CheckChains(); }
  // The units of all texts held.
  std::size_t TextUnits() const { return units_->HeldUnits(NameUnitStore::kText); }

 private:
  Inner table_;
  NameUnitStore* units_;
};

}  // namespace nametree

// A chained table from IDs to texts. The texts sit end to end in the
// table's own unit store (KeyStore<CString>), so an entry is its link, its
// ID and its text's {offset, length}: 16 bytes, with no string object and
// no heap block of its own. Walk order, bucket rules and out-of-memory
// behaviour are the inner ChainedTable's.
//
// Invariant: the store holds every live entry's text, each entry's units
// its alone (the store's own invariant, with the entries' text slots as
// its slots). A change makes the new text's units before it touches an
// entry and drops the old ones after, so out of memory the table is as it
// was. Texts handed out as views are good until the table changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "container/chained_table.h"
#include "container/key_store.h"

namespace nametree {

class IdTextTable {
  using Store = KeyStore<CString>;
  using Slot = Store::Slot;
  using Inner = ChainedTable<std::uint32_t, Slot, IdKeyHash>;

 public:
  using View = std::u16string_view;
  using Entry = decltype(std::declval<const Inner&>().FirstEntry());

  explicit IdTextTable(std::uint32_t buckets = kDefaultBuckets) : table_(buckets) {}
  IdTextTable(const IdTextTable&) = delete;
  IdTextTable& operator=(const IdTextTable&) = delete;

  void InitHashTable(std::uint32_t buckets, bool makeArray = true) {
    table_.InitHashTable(buckets, makeArray);
    texts_.Clear();
  }
  std::uint32_t BucketCount() const { return table_.BucketCount(); }
  bool HasArray() const { return table_.HasArray(); }
  std::size_t size() const { return table_.size(); }
  bool empty() const { return table_.empty(); }
  bool Contains(std::uint32_t id) const { return table_.Contains(id); }

  std::optional<View> Lookup(std::uint32_t id) const {
    const Slot* s = table_.Lookup(id);
    if (!s) return std::nullopt;
    return texts_.ViewOf(*s);
  }

  // Sets id's text: in place when present (its walk place stays), else a
  // new entry at the front of its chain. text must not view this table's
  // own texts (a rewrite of the store may move them). Out of memory it
  // throws with nothing changed.
  void SetAt(std::uint32_t id, View text) {
    if (table_.empty()) {
      texts_.Clear();  // no live text left to view
    } else if (texts_.WantsCompaction()) {
      Compact();
    }
    const Slot made = texts_.Make(text);
    if (Slot* current = table_.Lookup(id)) {
      const Slot old = *current;
      *current = made;
      texts_.Drop(old);
      return;
    }
    try {
      table_.SetAt(id, made);
    } catch (...) {
      texts_.Drop(made);
      throw;
    }
  }

  // The text's units count as dead; views of it stay readable until the
  // next SetAt, so a walk may remove the entry it was given.
  bool RemoveKey(std::uint32_t id) {
    Slot gone{};
    if (!table_.RemoveKey(id, &gone)) return false;
    texts_.Drop(gone);
    return true;
  }

  void RemoveAll() {
    table_.RemoveAll();
    texts_.Clear();
  }

  // Calls f(id, text) in walk order; f returns false to stop.
  template <class F>
  bool Walk(F&& f) const {
    return table_.Walk([&](std::uint32_t id, const Slot& s) { return f(id, texts_.ViewOf(s)); });
  }

  Entry FirstEntry() const { return table_.FirstEntry(); }
  Entry NextEntry(Entry e) const { return table_.NextEntry(e); }
  static std::uint32_t KeyOf(Entry e) { return Inner::KeyOf(e); }
  View TextOf(Entry e) const { return texts_.ViewOf(Inner::ValueOf(e)); }

  std::size_t MemoryUsage() const { return table_.MemoryUsage() + texts_.MemoryUsage(); }
  bool CheckPool() const { return table_.CheckPool(); }

 private:
  void Compact() {
    try {
      texts_.Compact([&](auto&& fix) {
        table_.Walk([&](std::uint32_t, Slot& s) {
          fix(s);
          return true;
        });
      });
    } catch (const std::bad_alloc&) {
      // Only the dead units stay; the texts are as they were.
    }
  }

  Inner table_;
  Store texts_;
};

}  // namespace nametree

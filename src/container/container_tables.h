// ContainerTables: a container's three tables (names by ID, IDs by
// upper-cased text, sub-containers by key) and its place in a server's tree.
//
// Invariant: the tables change only through the members of this type, and
// while the container is in a tree (place().index set) every change that
// adds or removes a key tells that index before it returns. Out of memory a
// change lands in both the table and the index or in neither: whichever of
// the two changed first is undone and the failure passed on. Removals need
// no memory. An ID or text that the index lists for no container is listed
// first and then entered without a search of the table, which cannot hold
// it. So the index agrees with the tables by construction; what it keeps of
// each container's place is in TreePlace, written by the index alone. The
// tables do not keep their container: while it is in a tree, the index
// names it by its handle, and out of a tree no change tells anyone.
//
// The texts of the name table and the keys of the key table share one unit
// store (see container/name_unit_store.h), made with them, which only this
// type compacts: before a change that makes units, once the store asks.
//
// The two name tables (one block) and the sub-container table are made at
// their first insertion, as most containers hold no sub-containers and
// many no names: a table not made reads as an empty table of its bucket
// count, shared by every container. Only the bucket counts a container
// starts with (kDefaultBuckets, and kNameBuckets or kSubContainerBuckets
// once initialised) have a shared empty table, so a table not made keeps
// its count in one bit beside the null pointer (see OwnTable); a reset to
// any other count makes the table at once, which then holds the count. A
// table once made stays until the container empties it through
// RemoveAllNames or RemoveAllChildren, so a walk never sees it go.
// CheckTables verifies this.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "container/chained_table.h"
#include "container/name_unit_store.h"
#include "container/text_table.h"
#include "nametree/name_container.h"
#include "platform/prefetch.h"

namespace nametree {

// mutate: sub-container-buckets-100
inline constexpr std::uint32_t kSubContainerBuckets = 101;
inline constexpr std::uint32_t kNameBuckets = 13513;

class NameByIdTable : public IdTextTable {
  using IdTextTable::IdTextTable;
};

class IdByNameTable : public ChainedTable<CString, std::uint32_t, TextKeyHash, NameUnitKeys> {
 public:
  explicit IdByNameTable(NameUnitStore& units, std::uint32_t buckets = kDefaultBuckets)
      : ChainedTable(buckets, NameUnitKeys(units)) {}
};

class SubContainerTable
    : public ChainedTable<std::uint32_t, std::unique_ptr<CNameContainer>, IdKeyHash> {
  using ChainedTable::ChainedTable;
};

// A container's place in a server's tree; see container/tree_index.h.
// seen shares order's word: orders are drawn one by one from 1 and never
// come near 2^63.
struct TreePlace {
  CTreeIndex* index = nullptr;
  CNameContainer* holder = nullptr;  // whose table holds it; none at the top
  std::uint64_t order : 63 = 0;      // walk position among its holder's children
  bool seen : 1 = true;
  std::uint32_t key = 0;             // the key its holder's table holds it under
  std::uint32_t handle = 0;          // the index's 32-bit name for it
  CNameContainer* top = nullptr;
};
static_assert(sizeof(TreePlace) == 40, "a place weighs five words");

// The two name tables and the units of their texts and keys, one block.
struct NameTables {
  explicit NameTables(std::uint32_t buckets);
  NameTables(const NameTables&) = delete;
  NameTables& operator=(const NameTables&) = delete;
  void InitHashTable(std::uint32_t buckets);
  NameUnitStore units;  // before the tables, which point at it
  NameByIdTable names;
  IdByNameTable keys;
};

// One word: a table of one container's own, or none and whether the shared
// empty table standing in for it is of the count its kind is initialised
// with (else of kDefaultBuckets). A table is aligned, so the bit sits where
// a pointer's lowest bit would.
template <class T>
class OwnTable {
 public:
  OwnTable() = default;
  OwnTable(const OwnTable&) = delete;
  OwnTable& operator=(const OwnTable&) = delete;
  ~OwnTable() { delete get(); }

  T* get() const { return word_ & kInitialised ? nullptr : reinterpret_cast<T*>(word_); }
  // REQUIRES: no table of its own.
  bool Initialised() const { return word_ == kInitialised; }
  // Takes `made`, freeing the table held; without one, `initialised` says
  // which shared table stands in.
  void Reset(std::unique_ptr<T> made, bool initialised) {
    delete get();
    word_ = made ? reinterpret_cast<std::uintptr_t>(made.release()) : initialised ? kInitialised : 0;
  }

 private:
  static_assert(alignof(T) > 1);
  static constexpr std::uintptr_t kInitialised = 1;
  std::uintptr_t word_ = 0;
};

class ContainerTables {
 public:
  ContainerTables() = default;
  ContainerTables(const ContainerTables&) = delete;
  ContainerTables& operator=(const ContainerTables&) = delete;

  const NameByIdTable& Names() const { return NamesOrEmpty().names; }
  const IdByNameTable& Keys() const { return NamesOrEmpty().keys; }
  const SubContainerTable& Children() const {
    const SubContainerTable* t = children_.get();
    return t ? *t : EmptyChildren(children_.Initialised());
  }
  bool NamesMade() const { return names_.get() != nullptr; }
  bool ChildrenMade() const { return children_.get() != nullptr; }
  const TreePlace& Place() const { return place_; }
  const NameUnitStore& Units() const { return NamesOrEmpty().units; }
  // The first broken invariant of the unit store, empty when all hold.
  // May throw std::bad_alloc.
  std::string CheckUnits() const;

  // --- names
  // The first half of an add (see ContainerAccess::StartAddName): asks
  // the cache for the name tables' block and the index's slot for the ID
  // the add will draw.
  void FetchForAdd() const;
  // The second half's fetch: once the block has arrived, what the add reads
  // of the entries and units it points at, all at once rather than one
  // after another as the add reaches them.
  void FetchEntriesForAdd() const {
    if (const NameTables* t = names_.get()) {
      t->units.Prefetch();
      t->names.Prefetch();
      t->keys.Prefetch();
    }
  }
  // Returns the slot of the text entered, for EnterKeyOfName.
  NameUnitStore::Slot EnterName(std::uint32_t id, std::u16string_view text);
  // hash: the index's TextHash(key) when the caller has it, else 0.
  void EnterKey(std::u16string_view key, std::uint32_t id, std::uint64_t hash = 0);
  // EnterKey for a key entered after its name's text, with other texts
  // made since: it shares id's text units when they are equal, as a key
  // entered right after its text does. `text` spares looking id up: the
  // slot EnterName returned for id. REQUIRES: every EnterName since that
  // one entered a new ID, so no text was dropped and the units did not move.
  void EnterKeyOfName(std::u16string_view key, std::uint32_t id, const NameUnitStore::Slot* text = nullptr);
  bool RemoveName(std::uint32_t id);
  bool RemoveKey(const CString& key, std::uint32_t* id);
  // Where removing key and entering it again for id would put it: at the
  // front of its chain, now naming id, with no memory needed. False if absent.
  bool MoveKeyToFront(const CString& key, std::uint32_t id);
  // A new text for an ID already held: no key of either table changes.
  bool ReplaceText(std::uint32_t id, std::u16string_view text);
  void RemoveAllNames();
  // Empties both name tables and gives them `buckets` buckets.
  void ResetNames(std::uint32_t buckets);
  // Room in both name tables for `more` further names and in the unit
  // store for `units` further units, so that entering them does not grow
  // the pools step by step.
  void ReserveNames(std::size_t more, std::size_t units = 0);

  // --- sub-containers
  // Enters child under key in parent's table.
  static void PlaceChild(CNameContainer& parent, std::uint32_t key, std::unique_ptr<CNameContainer> child);
  // Takes the child under key out of the table and frees its subtree.
  bool RemoveChild(std::uint32_t key);
  // Frees every sub-container's subtree, at any depth without recursion
  // and without allocating.
  void RemoveAllChildren();
  // Empties the sub-container table and gives it `buckets` buckets.
  void ResetChildren(std::uint32_t buckets);

  // The first broken rule of the made-on-demand tables above, or an empty text.
  std::string CheckTables() const;

 private:
  friend class CTreeIndex;  // keeps place_

  // Calls f(side, slot) for every slot of the unit store of made tables.
  template <class F>
  static void ForEachUnitSlot(const NameTables& t, F&& f) {
    // mutate: unit-store-compaction-skips-texts
    t.names.ForEachTextSlot([&](NameUnitStore::Slot& s) { f(NameUnitStore::kText, s); });
    t.keys.ForEachKeySlot([&](NameUnitStore::Slot& s) { f(NameUnitStore::kKey, s); });
  }
  void MakeRoomForUnits();
  void PlaceKey(std::u16string_view key, std::uint32_t id, std::uint64_t hash = 0);
  // The container these tables are of. REQUIRES: place_.index set.
  CNameContainer* Owner() const;

  const NameTables& NamesOrEmpty() const {
    const NameTables* t = names_.get();
    return t ? *t : EmptyNames(names_.Initialised());
  }
  static const NameTables& EmptyNames(bool initialised);
  static const SubContainerTable& EmptyChildren(bool initialised);
  // The table, made first when it is not; out of memory they throw with
  // nothing changed.
  NameTables& MadeNames();
  SubContainerTable& MadeChildren();

  OwnTable<NameTables> names_;
  OwnTable<SubContainerTable> children_;
  TreePlace place_;
};

inline ContainerTables* ContainerTablesBox::operator->() const {
  return std::launder(reinterpret_cast<ContainerTables*>(const_cast<std::byte*>(bytes_)));
}
inline ContainerTables& ContainerTablesBox::operator*() const { return *operator->(); }

// The library's modules reach a container's tables through here.
struct ContainerAccess {
  static ContainerTables& Of(CNameContainer& c) { return *c.m_Tables; }
  static const ContainerTables& Of(const CNameContainer& c) { return *c.m_Tables; }
  // Asks the cache for the container's own lines, its tables' root among
  // them; reads nothing.
  static void Prefetch(const CNameContainer& c) {
    PrefetchLine(&c);
    PrefetchLine(reinterpret_cast<const char*>(&c) + sizeof(CNameContainer) - 1);
  }
  // The record loader's (persist/record_load.h).
  static void ChangeID(CNameContainer& c, std::uint32_t id) { c.ChangeID(id); }
  // An add of a name in two halves around the caller's checks of it, so
  // that the memory the add reads arrives while they run: StartAddName
  // fetches the tables' block and the index's slot for the next ID;
  // FinishAddName fetches the entries that block points at and adds, with
  // the key and hash that the server made once for its checks and the
  // tables. What is fetched is only ever a hint: the result is the add's.
  // REQUIRES between the two: no change to the container's tables and no ID
  // drawn, or the lines fetched are not the ones the add reads.
  struct PendingName {
    CNameContainer* container;
  };
  static PendingName StartAddName(CNameContainer& c) {
    c.m_Tables->FetchForAdd();
    return {&c};
  }
  static std::uint32_t FinishAddName(const PendingName& add, std::u16string_view text, std::u16string_view key,
                                     std::uint64_t hash) {
    add.container->m_Tables->FetchEntriesForAdd();
    return add.container->AddNameWithKey(text, key, hash);
  }
  static void SetLoadedParent(CNameContainer& c, CNameContainer* parent) { c.m_pParent = parent; }
  static const ObjectCounters* CountersOf(const CNameContainer& c) { return c.m_pCounters.get(); }
  static std::int32_t SelectedCounterOf(const CNameContainer& c) { return c.m_nObjectIndex; }
};

inline ContainerTables& TablesOf(CNameContainer& c) { return ContainerAccess::Of(c); }
inline const ContainerTables& TablesOf(const CNameContainer& c) { return ContainerAccess::Of(c); }

}  // namespace nametree

// ContainerTables: a container's three tables (names by ID, IDs by
// upper-cased text, sub-containers by key) and its place in a server's tree.
//
// Invariant: the tables change only through the members of this type, and
// while the container is in a tree (place().index set) every change that
// adds or removes a key tells that index before it returns. Out of memory a
// change lands in both the table and the index or in neither: the table's
// own change is undone and the failure passed on. Removals need no memory.
// So the index agrees with the tables by construction; what it keeps of
// each container's place is in TreePlace, written by the index alone.
//
// The texts of names_ and the keys of keys_ share one unit store (see
// container/name_unit_store.h), which only this type compacts: before a
// change that makes units, once the store asks for it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "container/chained_table.h"
#include "container/name_unit_store.h"
#include "container/text_table.h"
#include "nametree/name_container.h"

namespace nametree {

inline constexpr std::uint32_t kSubContainerBuckets = 101;
inline constexpr std::uint32_t kNameBuckets = 13513;

class NameByIdTable : public IdTextTable {
  using IdTextTable::IdTextTable;
};

class IdByNameTable : public ChainedTable<CString, std::uint32_t, TextKeyHash, NameUnitKeys> {
 public:
  explicit IdByNameTable(NameUnitStore& units) : ChainedTable(kDefaultBuckets, NameUnitKeys(units)) {}
};

class SubContainerTable
    : public ChainedTable<std::uint32_t, std::unique_ptr<CNameContainer>, IdKeyHash> {
  using ChainedTable::ChainedTable;
};

// A container's place in a server's tree; see container/tree_index.h.
struct TreePlace {
  CTreeIndex* index = nullptr;
  CNameContainer* holder = nullptr;  // whose table holds it; none at the top
  std::uint64_t order = 0;           // walk position among its holder's children
  std::uint32_t key = 0;             // the key its holder's table holds it under
  std::uint32_t handle = 0;          // the index's 32-bit name for it
  CNameContainer* top = nullptr;
  bool seen = true;
};

class ContainerTables {
 public:
  explicit ContainerTables(CNameContainer* owner) : owner_(owner) {}
  ContainerTables(const ContainerTables&) = delete;
  ContainerTables& operator=(const ContainerTables&) = delete;

  const NameByIdTable& Names() const { return names_; }
  const IdByNameTable& Keys() const { return keys_; }
  const SubContainerTable& Children() const { return children_; }
  const TreePlace& Place() const { return place_; }
  const NameUnitStore& Units() const { return units_; }
  // The first broken invariant of the unit store, empty when all hold.
  // May throw std::bad_alloc.
  std::string CheckUnits() const;

  // --- names
  void EnterName(std::uint32_t id, std::u16string_view text);
  void EnterKey(std::u16string_view key, std::uint32_t id);
  // EnterKey for a key entered after its name's text, with other texts
  // made since: it shares id's text units when they are equal, as a key
  // entered right after its text does.
  void EnterKeyOfName(std::u16string_view key, std::uint32_t id);
  bool RemoveName(std::uint32_t id);
  bool RemoveKey(const CString& key, std::uint32_t* id);
  // A new text for an ID already held: no key of either table changes.
  bool ReplaceText(std::uint32_t id, std::u16string_view text);
  void RemoveAllNames();
  // Empties both name tables and gives them `buckets` buckets.
  void ResetNames(std::uint32_t buckets);
  // Room in both name tables for `more` further names, so that entering
  // them does not grow the entry pools step by step.
  void ReserveNames(std::size_t more);

  // --- sub-containers
  void PlaceChild(std::uint32_t key, std::unique_ptr<CNameContainer> child);
  // Takes the child under key out of the table and frees its subtree.
  bool RemoveChild(std::uint32_t key);
  // Frees every sub-container's subtree, at any depth without recursion
  // and without allocating.
  void RemoveAllChildren();
  // Empties the sub-container table and gives it `buckets` buckets.
  void ResetChildren(std::uint32_t buckets);

 private:
  friend class CTreeIndex;  // keeps place_

  // Calls f(side, slot) for every slot of the unit store.
  template <class F>
  void ForEachUnitSlot(F&& f) const {
    names_.ForEachTextSlot([&](NameUnitStore::Slot& s) { f(NameUnitStore::kText, s); });
    keys_.ForEachKeySlot([&](NameUnitStore::Slot& s) { f(NameUnitStore::kKey, s); });
  }
  void MakeRoomForUnits();
  void PlaceKey(std::u16string_view key, std::uint32_t id);

  CNameContainer* const owner_;
  NameUnitStore units_;
  NameByIdTable names_{units_};
  IdByNameTable keys_{units_};
  SubContainerTable children_;
  TreePlace place_;
};

// The library's modules reach a container's tables through here.
struct ContainerAccess {
  static ContainerTables& Of(CNameContainer& c) { return *c.m_pTables; }
  static const ContainerTables& Of(const CNameContainer& c) { return *c.m_pTables; }
  // The record loader's (persist/record_load.h).
  static int LoadRecordHead(CNameContainer& c, RecordReader& in) { return c.LoadRecordHead(in); }
  static void ChangeID(CNameContainer& c, std::uint32_t id) { c.ChangeID(id); }
  static void SetLoadedParent(CNameContainer& c, CNameContainer* parent) { c.m_pParent = parent; }
};

inline ContainerTables& TablesOf(CNameContainer& c) { return ContainerAccess::Of(c); }
inline const ContainerTables& TablesOf(const CNameContainer& c) { return ContainerAccess::Of(c); }

}  // namespace nametree

#include "container/container_tables.h"

#include "container/tree_index.h"

#include <new>

namespace nametree {

void ContainerTables::MakeRoomForUnits() {
  if (!units_.WantsCompaction()) return;
  try {
    units_.Compact([&](auto&& fix) { ForEachUnitSlot(fix); });
  } catch (const std::bad_alloc&) {
    // Only the dead units stay; every slot is as it was.
  }
}

std::string ContainerTables::CheckUnits() const {
  return units_.Check([&](auto&& check) { ForEachUnitSlot(check); });
}

void ContainerTables::EnterName(std::uint32_t id, std::u16string_view text) {
  MakeRoomForUnits();
  const std::size_t before = names_.size();
  names_.SetAt(id, text);
  if (!place_.index || names_.size() == before) return;
  try {
    place_.index->NameIdEntered(owner_, id);
  } catch (...) {
    names_.RemoveKey(id);
    throw;
  }
}

void ContainerTables::EnterKey(std::u16string_view key, std::uint32_t id) {
  MakeRoomForUnits();
  PlaceKey(key, id);
}

void ContainerTables::EnterKeyOfName(std::u16string_view key, std::uint32_t id) {
  MakeRoomForUnits();
  // Only a key equal to the text and not yet held may share it: a key
  // sharing a text's units is equal to it, so none does yet.
  const NameUnitStore::Slot* text = names_.SlotOf(id);
  if (text && units_.ViewOf(*text) == key && !keys_.Contains(key)) units_.OfferAgain(*text);
  PlaceKey(key, id);
}

void ContainerTables::PlaceKey(std::u16string_view key, std::uint32_t id) {
  if (!place_.index) {
    keys_.SetAt(key, id);
    return;
  }
  const std::uint64_t hash = CTreeIndex::TextHash(key);
  const std::size_t before = keys_.size();
  keys_.SetAt(key, id);
  if (keys_.size() == before) return;
  try {
    place_.index->TextEntered(owner_, hash);
  } catch (...) {
    keys_.RemoveKey(key);
    throw;
  }
}

bool ContainerTables::RemoveName(std::uint32_t id) {
  if (!names_.RemoveKey(id)) return false;
  if (place_.index) place_.index->NameIdLeft(owner_, id);
  return true;
}

bool ContainerTables::RemoveKey(const CString& key, std::uint32_t* id) {
  if (!keys_.RemoveKey(key, id)) return false;
  if (place_.index) place_.index->TextLeft(owner_, CTreeIndex::TextHash(key));
  return true;
}

bool ContainerTables::ReplaceText(std::uint32_t id, std::u16string_view text) {
  if (!names_.Contains(id)) return false;
  MakeRoomForUnits();
  names_.SetAt(id, text);
  return true;
}

void ContainerTables::RemoveAllNames() {
  if (place_.index && !place_.index->TearingDown()) {
    names_.Walk([&](std::uint32_t id, std::u16string_view) {
      place_.index->NameIdLeft(owner_, id);
      return true;
    });
    keys_.Walk([&](std::u16string_view key, std::uint32_t) {
      place_.index->TextLeft(owner_, CTreeIndex::TextHash(key));
      return true;
    });
  }
  names_.RemoveAll();
  keys_.RemoveAll();
}

void ContainerTables::ResetNames(std::uint32_t buckets) {
  RemoveAllNames();
  names_.InitHashTable(buckets);
  keys_.InitHashTable(buckets);
}

void ContainerTables::ReserveNames(std::size_t more) {
  names_.Reserve(more);
  keys_.Reserve(more);
}

void ContainerTables::PlaceChild(std::uint32_t key, std::unique_ptr<CNameContainer> child) {
  CNameContainer* raw = child.get();
  TreePlace& at = TablesOf(*raw).place_;
  at.holder = owner_;
  at.key = key;
  // A child replaced under its key leaves its place in the walk to the new one.
  std::uint64_t order = 0;
  if (const auto* old = children_.Lookup(key); old && place_.index) order = place_.index->ChildDetaching(old->get());
  children_.SetAt(key, std::move(child));
  if (!place_.index) return;
  try {
    place_.index->ChildAttached(owner_, raw, order);
  } catch (...) {
    children_.RemoveKey(key);  // out of memory: the child goes again
    throw;
  }
}

bool ContainerTables::RemoveChild(std::uint32_t key) {
  const std::unique_ptr<CNameContainer>* slot = children_.Lookup(key);
  if (!slot) return false;
  if (place_.index) place_.index->ChildDetaching(slot->get());
  std::unique_ptr<CNameContainer> gone;
  children_.RemoveKey(key, &gone);
  return true;
}

void ContainerTables::RemoveAllChildren() {
  // The subtree is taken apart on a list threaded through the places'
  // holder fields: every container is freed after its own children were
  // handed to the list, so no destructor recurses and nothing is allocated.
  CNameContainer* doomed = nullptr;
  auto handOver = [&doomed](ContainerTables& from) {
    from.children_.Walk([&](std::uint32_t, std::unique_ptr<CNameContainer>& child) {
      if (from.place_.index) from.place_.index->ChildDetaching(child.get());
      TablesOf(*child).place_.holder = doomed;
      doomed = child.release();
      return true;
    });
    from.children_.RemoveAll();
  };
  handOver(*this);
  while (doomed) {
    CNameContainer* c = doomed;
    ContainerTables& t = TablesOf(*c);
    doomed = t.place_.holder;
    t.place_.holder = nullptr;
    handOver(t);
    delete c;
  }
}

void ContainerTables::ResetChildren(std::uint32_t buckets) {
  RemoveAllChildren();
  children_.InitHashTable(buckets);
}

}  // namespace nametree

#include "container/container_tables.h"

#include <cstdlib>
#include <new>

#include "container/tree_index.h"

namespace nametree {

void ContainerTables::MakeRoomForUnits() {
  if (!names_ || !names_->units.WantsCompaction()) return;
  try {
    names_->units.Compact([&](auto&& fix) { ForEachUnitSlot(*names_, fix); });
  } catch (const std::bad_alloc&) {
    // Only the dead units stay; every slot is as it was.
  }
}

std::string ContainerTables::CheckUnits() const {
  if (!names_) return {};
  return names_->units.Check([&](auto&& check) { ForEachUnitSlot(*names_, check); });
}

namespace {

// A table of kBuckets buckets as a container starts it: uninitialised
// with kDefaultBuckets, else with its bucket array counted as made.
template <class T>
void Start(T& table, std::uint32_t buckets) {
  if (buckets != kDefaultBuckets) table.InitHashTable(buckets);
}

template <class T>
std::unique_ptr<T> Fresh(std::uint32_t buckets) {
  auto t = std::make_unique<T>(buckets);
  Start(*t, buckets);
  return t;
}

// A shared empty table, never destroyed, so that containers outliving the
// statics (a server in a global, say) can still read it.
template <class T, std::uint32_t kBuckets>
const T& Forever() {
  alignas(T) static unsigned char room[sizeof(T)];
  static const T* const made = [] {
    T* t = ::new (room) T(kBuckets);
    Start(*t, kBuckets);
    return t;
  }();
  return *made;
}

bool Shared(std::uint32_t buckets, std::uint32_t initialised) {
  return buckets == kDefaultBuckets || buckets == initialised;
}

}  // namespace

NameTables::NameTables(std::uint32_t buckets) : names(units, buckets), keys(units, buckets) {}

void NameTables::InitHashTable(std::uint32_t buckets) {
  names.InitHashTable(buckets);
  keys.InitHashTable(buckets);
}

// Only the counts a container starts with are shared.
const NameTables& ContainerTables::EmptyNames(std::uint32_t buckets) {
  return buckets == kDefaultBuckets ? Forever<NameTables, kDefaultBuckets>() : Forever<NameTables, kNameBuckets>();
}

const SubContainerTable& ContainerTables::EmptyChildren(std::uint32_t buckets) {
  return buckets == kDefaultBuckets ? Forever<SubContainerTable, kDefaultBuckets>()
                                    : Forever<SubContainerTable, kSubContainerBuckets>();
}

NameTables& ContainerTables::MadeNames() {
  if (!names_) names_ = Fresh<NameTables>(nameBuckets_);
  return *names_;
}

SubContainerTable& ContainerTables::MadeChildren() {
  if (!children_) children_ = Fresh<SubContainerTable>(childBuckets_);
  return *children_;
}

NameUnitStore::Slot ContainerTables::EnterName(std::uint32_t id, std::u16string_view text) {
  NameByIdTable& names = MadeNames().names;
  MakeRoomForUnits();
  // An ID that no container of the tree holds is not in this table either.
  if (place_.index && place_.index->NewNameIdEntering(owner_, id)) {
    try {
      return names.AddNew(id, text);
    } catch (...) {
      place_.index->NameIdLeft(owner_, id);
      throw;
    }
  }
  const std::size_t before = names.size();
  const NameUnitStore::Slot made = names.SetAt(id, text);
  if (!place_.index || names.size() == before) return made;
  try {
    place_.index->NameIdEntered(owner_, id);
  } catch (...) {
    names.RemoveKey(id);
    throw;
  }
  return made;
}

void ContainerTables::EnterKey(std::u16string_view key, std::uint32_t id, std::uint64_t hash) {
  MadeNames();
  MakeRoomForUnits();
  PlaceKey(key, id, hash);
}

void ContainerTables::EnterKeyOfName(std::u16string_view key, std::uint32_t id, const NameUnitStore::Slot* text) {
  NameTables& t = MadeNames();
  // Compacting would move a slot the caller holds.
  if (!text) {
    MakeRoomForUnits();
    text = t.names.SlotOf(id);
  } else {
#ifndef NDEBUG
    const NameUnitStore::Slot* held = t.names.SlotOf(id);
    if (!held || held->word != text->word) std::abort();
#endif
  }
  // Only a key equal to the text and not yet held may share it: a key
  // sharing a text's units is equal to it, so none does yet.
  if (text && t.units.ViewOf(*text) == key && !t.keys.Contains(key)) {
    t.units.OfferAgain(*text);
    // Known absent: no second look.
    if (!place_.index) {
      t.keys.AddNew(key, id);
      return;
    }
  }
  PlaceKey(key, id);
}

// REQUIRES: the name tables are made.
void ContainerTables::PlaceKey(std::u16string_view key, std::uint32_t id, std::uint64_t hash) {
  IdByNameTable& keys = names_->keys;
  if (!place_.index) {
    keys.SetAt(key, id);
    return;
  }
  if (!hash) hash = CTreeIndex::TextHash(key);
  // A text that no container of the tree holds is not in this table either.
  if (place_.index->NewTextEntering(owner_, hash)) {
    try {
      keys.AddNew(key, id);
    } catch (...) {
      place_.index->TextLeft(owner_, key);
      throw;
    }
    return;
  }
  const std::size_t before = keys.size();
  keys.SetAt(key, id);
  if (keys.size() == before) return;
  try {
    place_.index->TextEntered(owner_, key, hash);
  } catch (...) {
    keys.RemoveKey(key);
    throw;
  }
}

bool ContainerTables::RemoveName(std::uint32_t id) {
  if (!names_ || !names_->names.RemoveKey(id)) return false;
  if (place_.index) place_.index->NameIdLeft(owner_, id);
  return true;
}

bool ContainerTables::RemoveKey(const CString& key, std::uint32_t* id) {
  if (!names_ || !names_->keys.RemoveKey(key, id)) return false;
  if (place_.index) place_.index->TextLeft(owner_, key);
  return true;
}

bool ContainerTables::ReplaceText(std::uint32_t id, std::u16string_view text) {
  if (!names_ || !names_->names.Contains(id)) return false;
  MakeRoomForUnits();
  names_->names.SetAt(id, text);
  return true;
}

void ContainerTables::RemoveAllNames() {
  if (!names_) return;
  if (place_.index && !place_.index->TearingDown()) {
    names_->names.Walk([&](std::uint32_t id, std::u16string_view) {
      place_.index->NameIdLeft(owner_, id);
      return true;
    });
    names_->keys.Walk([&](std::u16string_view key, std::uint32_t) {
      place_.index->TextLeft(owner_, key);
      return true;
    });
  }
  if (Shared(nameBuckets_, kNameBuckets)) {
    names_.reset();
  } else {
    names_->names.RemoveAll();
    names_->keys.RemoveAll();
  }
}

void ContainerTables::ResetNames(std::uint32_t buckets) {
  // Made first, so that out of memory nothing changes.
  std::unique_ptr<NameTables> made = Shared(buckets, kNameBuckets) ? nullptr : Fresh<NameTables>(buckets);
  RemoveAllNames();
  names_ = std::move(made);
  nameBuckets_ = buckets;
}

void ContainerTables::ReserveNames(std::size_t more, std::size_t units) {
  NameTables& t = MadeNames();
  t.names.Reserve(more);
  t.keys.Reserve(more);
  t.units.Reserve(units);
}

void ContainerTables::PlaceChild(std::uint32_t key, std::unique_ptr<CNameContainer> child) {
  SubContainerTable& children = MadeChildren();
  CNameContainer* raw = child.get();
  TreePlace& at = TablesOf(*raw).place_;
  at.holder = owner_;
  at.key = key;
  // A child replaced under its key leaves its place in the walk to the new one.
  std::uint64_t order = 0;
  if (const auto* old = children.Lookup(key); old && place_.index) order = place_.index->ChildDetaching(old->get());
  children.SetAt(key, std::move(child));
  if (!place_.index) return;
  try {
    place_.index->ChildAttached(owner_, raw, order);
  } catch (...) {
    children.RemoveKey(key);  // out of memory: the child goes again
    throw;
  }
}

bool ContainerTables::RemoveChild(std::uint32_t key) {
  const std::unique_ptr<CNameContainer>* slot = children_ ? children_->Lookup(key) : nullptr;
  if (!slot) return false;
  if (place_.index) place_.index->ChildDetaching(slot->get());
  std::unique_ptr<CNameContainer> gone;
  children_->RemoveKey(key, &gone);
  return true;
}

void ContainerTables::RemoveAllChildren() {
  // The subtree is taken apart on a list threaded through the places'
  // holder fields: every container is freed after its own children were
  // handed to the list, so no destructor recurses and nothing is allocated.
  CNameContainer* doomed = nullptr;
  auto handOver = [&doomed](ContainerTables& from) {
    if (!from.children_) return;
    from.children_->Walk([&](std::uint32_t, std::unique_ptr<CNameContainer>& child) {
      if (from.place_.index) from.place_.index->ChildDetaching(child.get());
      TablesOf(*child).place_.holder = doomed;
      doomed = child.release();
      return true;
    });
    if (Shared(from.childBuckets_, kSubContainerBuckets)) {
      from.children_.reset();
    } else {
      from.children_->RemoveAll();
    }
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
  std::unique_ptr<SubContainerTable> made = Shared(buckets, kSubContainerBuckets) ? nullptr : Fresh<SubContainerTable>(buckets);
  RemoveAllChildren();
  children_ = std::move(made);
  childBuckets_ = buckets;
}

std::string ContainerTables::CheckTables() const {
  if (!names_ && !Shared(nameBuckets_, kNameBuckets)) return "tables: no name tables of an unshared bucket count";
  if (!children_ && !Shared(childBuckets_, kSubContainerBuckets))
    return "tables: no sub-container table of an unshared bucket count";
  if (Names().BucketCount() != nameBuckets_ || Keys().BucketCount() != nameBuckets_)
    return "tables: name tables of the wrong bucket count";
  if (Children().BucketCount() != childBuckets_) return "tables: a sub-container table of the wrong bucket count";
  if (!EmptyNames(nameBuckets_).names.empty() || !EmptyNames(nameBuckets_).keys.empty() ||
      !EmptyChildren(childBuckets_).empty())
    return "tables: a shared empty table holds keys";
  if (!Names().CheckPool() || !Keys().CheckPool() || !Children().CheckPool()) return "tables: an entry pool is broken";
  return {};
}

}  // namespace nametree

#include "container/container_tables.h"

#include <cstdlib>
#include <new>

#include "container/tree_index.h"

namespace nametree {

ContainerTablesBox::ContainerTablesBox() {
  // Exactly: a container keeps no room its tables do not use.
  static_assert(sizeof(ContainerTables) == sizeof(bytes_) && alignof(ContainerTables) <= alignof(ContainerTablesBox));
  new (bytes_) ContainerTables();
}

ContainerTablesBox::~ContainerTablesBox() { operator->()->~ContainerTables(); }

// mutate: tables-tell-index-of-holder
CNameContainer* ContainerTables::Owner() const { return place_.index->ContainerOf(place_); }

void ContainerTables::FetchForAdd() const {
  if (const NameTables* t = names_.get()) {
    PrefetchLine(t);
    PrefetchLine(reinterpret_cast<const char*>(t) + sizeof(NameTables) - 1);
  }
  if (place_.index) place_.index->FetchNameIdSlot(CNameContainer::GetLastIssuedNameID() + 1);
}

void ContainerTables::MakeRoomForUnits() {
  NameTables* t = names_.get();
  if (!t || !t->units.WantsCompaction()) return;
  try {
    t->units.Compact([&](auto&& fix) { ForEachUnitSlot(*t, fix); });
  } catch (const std::bad_alloc&) {
    // Only the dead units stay; every slot is as it was.
  }
}

std::string ContainerTables::CheckUnits() const {
  const NameTables* t = names_.get();
  if (!t) return {};
  return t->units.Check([&](auto&& check) { ForEachUnitSlot(*t, check); });
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
const NameTables& ContainerTables::EmptyNames(bool initialised) {
  // mutate: unmade-names-read-uninitialised
  return initialised ? Forever<NameTables, kNameBuckets>() : Forever<NameTables, kDefaultBuckets>();
}

const SubContainerTable& ContainerTables::EmptyChildren(bool initialised) {
  return initialised ? Forever<SubContainerTable, kSubContainerBuckets>() : Forever<SubContainerTable, kDefaultBuckets>();
}

NameTables& ContainerTables::MadeNames() {
  if (NameTables* t = names_.get()) return *t;
  // mutate: made-names-default-buckets
  names_.Reset(Fresh<NameTables>(names_.Initialised() ? kNameBuckets : kDefaultBuckets), false);
  return *names_.get();
}

SubContainerTable& ContainerTables::MadeChildren() {
  if (SubContainerTable* t = children_.get()) return *t;
  // mutate: made-children-default-buckets
  children_.Reset(Fresh<SubContainerTable>(children_.Initialised() ? kSubContainerBuckets : kDefaultBuckets), false);
  return *children_.get();
}

NameUnitStore::Slot ContainerTables::EnterName(std::uint32_t id, std::u16string_view text) {
  NameByIdTable& names = MadeNames().names;
  MakeRoomForUnits();
  // An ID that no container of the tree holds is not in this table either.
  if (place_.index && place_.index->NewNameIdEntering(place_, id)) {
    try {
      // mutate: fresh-id-listing-kept
      return names.AddNew(id, text);
    } catch (...) {
      place_.index->NameIdLeft(Owner(), id);
      throw;
    }
  }
  const std::size_t before = names.size();
  const NameUnitStore::Slot made = names.SetAt(id, text);
  // mutate: index-misses-new-name-id
  if (!place_.index || names.size() == before) return made;
  try {
    place_.index->NameIdEntered(Owner(), id);
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
    // mutate: loaded-keys-never-share-texts
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
  IdByNameTable& keys = names_.get()->keys;
  if (!place_.index) {
    keys.SetAt(key, id);
    return;
  }
  hash = CTreeIndex::HashOf(key, hash);
  // A text that no container of the tree holds is not in this table either.
  if (place_.index->NewTextEntering(place_, hash)) {
    try {
      // mutate: fresh-text-listing-kept
      keys.AddNew(key, id);
    } catch (...) {
      place_.index->TextLeft(Owner(), key);
      throw;
    }
    return;
  }
  const std::size_t before = keys.size();
  keys.SetAt(key, id);
  if (keys.size() == before) return;
  try {
    // mutate: index-misses-held-text-entry
    place_.index->TextEntered(Owner(), key, hash);
  } catch (...) {
    keys.RemoveKey(key);
    throw;
  }
}

bool ContainerTables::RemoveName(std::uint32_t id) {
  NameTables* t = names_.get();
  if (!t || !t->names.RemoveKey(id)) return false;
  if (place_.index) place_.index->NameIdLeft(Owner(), id);
  return true;
}

bool ContainerTables::RemoveKey(const CString& key, std::uint32_t* id) {
  NameTables* t = names_.get();
  if (!t || !t->keys.RemoveKey(key, id)) return false;
  // mutate: index-misses-text-removal
  if (place_.index) place_.index->TextLeft(Owner(), key);
  return true;
}

bool ContainerTables::MoveKeyToFront(const CString& key, std::uint32_t id) {
  NameTables* t = names_.get();
  if (!t || !t->keys.MoveToFront(key)) return false;
  // mutate: rename-kept-key-keeps-twin
  *t->keys.Lookup(key) = id;
  return true;
}

bool ContainerTables::ReplaceText(std::uint32_t id, std::u16string_view text) {
  NameTables* t = names_.get();
  if (!t || !t->names.Contains(id)) return false;
  MakeRoomForUnits();
  t->names.SetAt(id, text);
  return true;
}

void ContainerTables::RemoveAllNames() {
  NameTables* t = names_.get();
  if (!t) return;
  if (place_.index && !place_.index->TearingDown()) {
    CNameContainer* owner = Owner();
    t->names.Walk([&](std::uint32_t id, std::u16string_view) {
      place_.index->NameIdLeft(owner, id);
      return true;
    });
    t->keys.Walk([&](std::u16string_view key, std::uint32_t) {
      place_.index->TextLeft(owner, key);
      return true;
    });
  }
  const std::uint32_t buckets = t->names.BucketCount();
  if (Shared(buckets, kNameBuckets)) {
    // mutate: emptied-names-forget-initialised-count
    names_.Reset(nullptr, buckets == kNameBuckets);
  } else {
    t->names.RemoveAll();
    t->keys.RemoveAll();
  }
}

void ContainerTables::ResetNames(std::uint32_t buckets) {
  // Made first, so that out of memory nothing changes.
  std::unique_ptr<NameTables> made = Shared(buckets, kNameBuckets) ? nullptr : Fresh<NameTables>(buckets);
  RemoveAllNames();
  names_.Reset(std::move(made), buckets == kNameBuckets);
}

void ContainerTables::ReserveNames(std::size_t more, std::size_t units) {
  NameTables& t = MadeNames();
  t.names.Reserve(more);
  t.keys.Reserve(more);
  t.units.Reserve(units);
}

void ContainerTables::PlaceChild(CNameContainer& parent, std::uint32_t key, std::unique_ptr<CNameContainer> child) {
  ContainerTables& self = TablesOf(parent);
  CTreeIndex* index = self.place_.index;
  SubContainerTable& children = self.MadeChildren();
  CNameContainer* raw = child.get();
  TreePlace& at = TablesOf(*raw).place_;
  at.holder = &parent;
  at.key = key;
  // A child replaced under its key leaves its place in the walk to the new one.
  std::uint64_t order = 0;
  if (const auto* old = children.Lookup(key); old && index) order = index->ChildDetaching(old->get());
  children.SetAt(key, std::move(child));
  if (!index) return;
  try {
    index->ChildAttached(&parent, raw, order);
  } catch (...) {
    children.RemoveKey(key);  // out of memory: the child goes again
    throw;
  }
}

bool ContainerTables::RemoveChild(std::uint32_t key) {
  SubContainerTable* t = children_.get();
  const std::unique_ptr<CNameContainer>* slot = t ? t->Lookup(key) : nullptr;
  if (!slot) return false;
  // mutate: index-misses-child-removal
  if (place_.index) place_.index->ChildDetaching(slot->get());
  std::unique_ptr<CNameContainer> gone;
  t->RemoveKey(key, &gone);
  return true;
}

void ContainerTables::RemoveAllChildren() {
  // The subtree is taken apart on a list threaded through the places'
  // holder fields: every container is freed after its own children were
  // handed to the list, so no destructor recurses and nothing is allocated.
  CNameContainer* doomed = nullptr;
  auto handOver = [&doomed](ContainerTables& from) {
    SubContainerTable* t = from.children_.get();
    if (!t) return;
    t->Walk([&](std::uint32_t, std::unique_ptr<CNameContainer>& child) {
      if (from.place_.index) from.place_.index->ChildDetaching(child.get());
      TablesOf(*child).place_.holder = doomed;
      doomed = child.release();
      return true;
    });
    const std::uint32_t buckets = t->BucketCount();
    if (Shared(buckets, kSubContainerBuckets)) {
      // mutate: emptied-children-forget-initialised-count
      from.children_.Reset(nullptr, buckets == kSubContainerBuckets);
    } else {
      t->RemoveAll();
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
  children_.Reset(std::move(made), buckets == kSubContainerBuckets);
}

std::string ContainerTables::CheckTables() const {
  if (Names().BucketCount() != Keys().BucketCount()) return "tables: name tables of different bucket counts";
  if (!EmptyNames(false).names.empty() || !EmptyNames(false).keys.empty() || !EmptyNames(true).names.empty() ||
      !EmptyNames(true).keys.empty() || !EmptyChildren(false).empty() || !EmptyChildren(true).empty())
    return "tables: a shared empty table holds keys";
  if (EmptyNames(false).names.BucketCount() != kDefaultBuckets || EmptyNames(true).names.BucketCount() != kNameBuckets ||
      EmptyChildren(false).BucketCount() != kDefaultBuckets || EmptyChildren(true).BucketCount() != kSubContainerBuckets)
    return "tables: a shared empty table of the wrong bucket count";
  if (!Names().CheckPool() || !Keys().CheckPool() || !Children().CheckPool()) return "tables: an entry pool is broken";
  if (!Names().CheckChains() || !Keys().CheckChains() || !Children().CheckChains())
    return "tables: an entry outside its bucket's chain, a key held twice or a stale chain index";
  return {};
}

}  // namespace nametree

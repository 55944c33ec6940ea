#include "container/tree_index.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <unordered_map>

#include "container/container_tables.h"
#include "container/subtree_walk.h"

namespace nametree {

// Two or more holders of one key. The counts are kept for texts only.
struct CTreeIndex::Group {
  FlatMap<std::uint32_t, std::uint8_t> holders;  // handles
  FlatMap<std::uint32_t, std::uint32_t> perTop;  // top handle to count
  std::uint64_t hash = 0;                         // the text's
  std::uint32_t global = 0;
  std::uint32_t target = 0;
};

TreePlace& CTreeIndex::P(const CNameContainer* c) {
  return const_cast<ContainerTables&>(TablesOf(*c)).place_;
}

namespace {

const ContainerTables& T(const CNameContainer* c) { return TablesOf(*c); }

// Capacity for n entries, grown geometrically.
template <class V>
void Room(V& v, std::size_t n) {
  if (v.capacity() < n) v.reserve(std::max(n, 2 * v.capacity()));
}

// Keys handed on in the order they came, each a few keys after its map
// was asked to fetch the slot of its map key.
template <class Key>
class AheadOfUse {
 public:
  template <class Map, class Use>
  void Add(Key key, std::uint32_t mapKey, const Map& map, Use&& use) {
    map.Prefetch(mapKey);
    if (n_ >= kAhead) use(ring_[n_ % kAhead]);
    ring_[n_++ % kAhead] = key;
  }
  template <class Use>
  void Finish(Use&& use) {
    // mutate: prefetch-ring-drops-one
    for (std::size_t i = n_ > kAhead ? n_ - kAhead : 0; i < n_; ++i) use(ring_[i % kAhead]);
  }

 private:
  static constexpr std::size_t kAhead = 16;
  Key ring_[kAhead];
  std::size_t n_ = 0;
};

}  // namespace

CTreeIndex::CTreeIndex() = default;

CTreeIndex::~CTreeIndex() = default;

void CTreeIndex::Reset() {
  m_ByKey.Clear();
  m_KeyZero = 0;
  m_ByNameID.Clear();
  m_ByText.Clear();
  m_Handles.assign(1, 0);
  m_FirstFree = 0;
  m_Groups.clear();
  m_FreeGroups.clear();
  m_bTearingDown = false;
}

std::uint64_t CTreeIndex::TextHash(std::u16string_view key) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (char16_t c : key) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  h ^= h >> 29;
  h *= 0xbf58476d1ce4e5b9ULL;
  h ^= h >> 32;
  return h ? h : 1;  // 0 marks an empty slot
}

template <class F>
void CTreeIndex::ForEachHolder(Ref ref, F&& f) const {
  if (!ref) return;
  if (!(ref & kGroup)) {
    f(Holder(ref));
    return;
  }
  GroupOf(ref).holders.ForEach([&](std::uint32_t h, std::uint8_t) { f(Holder(h)); });
}

// --- positions

CTreeIndex::Place CTreeIndex::PlaceOf(const CNameContainer* c) { return {P(c).top, P(c).seen}; }

// Derives c's place from its holder's, which must be current.
void CTreeIndex::PlaceBelow(CNameContainer* c) {
  if (const CNameContainer* h = P(c).holder) {
    P(c).top = P(h).top;
    // mutate: place-ignores-holder
    P(c).seen = P(h).seen && SearchEntersType(c->GetContainerType());
  } else {
    P(c).top = c;
    P(c).seen = true;
  }
}

bool CTreeIndex::Reaches(const CNameContainer* from, const CNameContainer* c) {
  for (; c != from; c = P(c).holder) {
    if (!P(c).holder || !SearchEntersType(c->GetContainerType())) return false;
  }
  return true;
}

// Whether a comes before b in the walk: top-level list order, then down
// the tables. directFirst: at each level the walk by container ID looks at
// the direct children before it descends (a pre-order walk does not).
bool CTreeIndex::Before(const CNameContainer* a, const CNameContainer* b, bool directFirst) {
  std::vector<const CNameContainer*> pa, pb;
  for (const CNameContainer* c = a; c; c = P(c).holder) pa.push_back(c);
  for (const CNameContainer* c = b; c; c = P(c).holder) pb.push_back(c);
  // Paths run from the container up; compare from the top down.
  auto ia = pa.rbegin(), ib = pb.rbegin();
  if (*ia != *ib) return P(*ia).order < P(*ib).order;
  const CNameContainer* parent = *ia;
  for (++ia, ++ib; ia != pa.rend() && ib != pb.rend() && *ia == *ib; ++ia, ++ib) parent = *ia;
  if (ia == pa.rend()) return true;  // a is b or above it
  if (ib == pb.rend()) return false;
  if (directFirst) {
    const bool aDirect = *ia == a, bDirect = *ib == b;
    if (aDirect != bDirect) return aDirect;
  }
  const SubContainerTable& table = T(parent).Children();
  const std::uint32_t ba = table.BucketOf(P(*ia).key), bb = table.BucketOf(P(*ib).key);
  if (ba != bb) return ba < bb;
  // mutate: holder-order-within-bucket
  return P(*ia).order > P(*ib).order;  // newest first within a bucket
}

// --- holder sets

// Either done or, out of memory, nothing changed: a new group is made whole
// before it replaces the single holder, and the lists it may later be freed
// into are grown beforehand, so that no removal needs memory.
void CTreeIndex::AddTo(Ref& ref, CNameContainer* c, bool counted, std::uint64_t hash) {
  const std::uint32_t h = P(c).handle;
  if (!ref) {
    ref = h;
    return;
  }
  if (!(ref & kGroup)) {
    if (ref == h) return;
    auto g = std::make_unique<Group>();
    g->hash = hash;
    g->holders.Insert(ref);
    g->holders.Insert(h);
    if (counted) {
      Count(*g, Holder(ref), +1);
      Count(*g, c, +1);
    }
    std::uint32_t slot;
    if (m_FreeGroups.empty()) {
      Room(m_FreeGroups, m_Groups.size() + 1);
      slot = static_cast<std::uint32_t>(m_Groups.size());
      m_Groups.push_back(std::move(g));
    } else {
      slot = m_FreeGroups.back();
      m_FreeGroups.pop_back();
      m_Groups[slot] = std::move(g);
    }
    ref = slot | kGroup;
    return;
  }
  Group& g = GroupOf(ref);
  if (g.holders.Find(h)) return;
  g.holders.Insert(h);
  if (!counted) return;
  try {
    Count(g, c, +1);
  } catch (...) {
    g.holders.Erase(h);
    throw;
  }
}

bool CTreeIndex::RemoveFrom(Ref& ref, CNameContainer* c, bool counted) {
  const std::uint32_t h = P(c).handle;
  if (!(ref & kGroup)) {
    if (ref == h) ref = 0;
    return ref == 0;
  }
  Group& g = GroupOf(ref);
  if (!g.holders.Erase(h)) return false;
  if (counted) Count(g, c, -1);
  if (g.holders.size() == 1) {
    Ref last = 0;
    g.holders.ForEach([&](std::uint32_t k, std::uint8_t) { last = k; });
    m_Groups[ref & ~kGroup].reset();
    m_FreeGroups.push_back(ref & ~kGroup);
    ref = last;
  }
  return false;
}

void CTreeIndex::Count(Group& g, const CNameContainer* c, int sign) {
  const Place p = PlaceOf(c);
  if (!p.seen) return;
  const auto delta = static_cast<std::uint32_t>(sign);
  // Taking a count away finds its entry and so never needs memory.
  std::uint32_t* found = sign < 0 ? g.perTop.Find(P(p.top).handle) : nullptr;
  std::uint32_t& n = found ? *found : g.perTop.Insert(P(p.top).handle);
  n += delta;
  if (n == 0) g.perTop.Erase(P(p.top).handle);
  if (p.top->GetContainerType() == kGlobalContainer) g.global += delta;
  if (p.top->GetContainerType() == kTargetContainer) g.target += delta;
}

// Adds or removes the counted contributions of every shared text held in
// c's subtree.
void CTreeIndex::CountSubtree(CNameContainer* c, int sign) {
  std::vector<CNameContainer*> pending{c};
  while (!pending.empty()) {
    CNameContainer* d = pending.back();
    pending.pop_back();
    T(d).Keys().Walk([&](std::u16string_view key, std::uint32_t) {
      AnyTextEntry(TextHash(key), [&](Ref r) {
        if (r & kGroup) Count(GroupOf(r), d, sign);
        return (r & kGroup) != 0;
      });
      return true;
    });
    T(d).Children().Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& child) {
      pending.push_back(child.get());
      return true;
    });
  }
}

std::uint32_t CTreeIndex::KeyOf(const CNameContainer* c) { return P(c).holder ? P(c).key : c->GetID(); }

void CTreeIndex::EnterKey(std::uint32_t key, CNameContainer* c) { AddTo(key ? m_ByKey.Insert(key) : m_KeyZero, c, false); }

void CTreeIndex::LeaveKey(std::uint32_t key, CNameContainer* c) {
  if (!key) {
    RemoveFrom(m_KeyZero, c, false);
  } else if (Ref* r = m_ByKey.Find(key); r && RemoveFrom(*r, c, false)) {
    m_ByKey.Erase(key);
  }
}

// Lists one container (already placed) under its key, IDs and texts.
void CTreeIndex::Enter(CNameContainer* c) {
  static_assert(alignof(CNameContainer) > 1, "a container's address is even");
  const auto entry = reinterpret_cast<std::uintptr_t>(c);
  if (m_FirstFree) {
    P(c).handle = m_FirstFree;
    m_FirstFree = static_cast<std::uint32_t>(m_Handles[m_FirstFree] >> 1);
    m_Handles[P(c).handle] = entry;
  } else {
    GrowHandles(m_Handles.size() + 1);
    m_Handles.push_back(entry);
    P(c).handle = static_cast<std::uint32_t>(m_Handles.size() - 1);
  }
  P(c).index = this;
  EnterKey(KeyOf(c), c);
  // In walk order, as one by one; each slot is asked for a few keys ahead,
  // since the keys of a loaded tree land all over maps larger than the caches.
  const auto enterId = [&](std::uint32_t id) { AddTo(m_ByNameID.Insert(id), c, false); };
  AheadOfUse<std::uint32_t> ids;
  T(c).Names().Walk([&](std::uint32_t id, std::u16string_view) {
    if (id) ids.Add(id, id, m_ByNameID, enterId);
    return true;
  });
  ids.Finish(enterId);
  struct Text {
    std::u16string_view key;
    std::uint64_t hash;
  };
  const auto enterText = [&](const Text& t) { EnterText(c, t.key, t.hash); };
  AheadOfUse<Text> texts;
  T(c).Keys().Walk([&](std::u16string_view key, std::uint32_t) {
    const std::uint64_t hash = TextHash(key);
    texts.Add({key, hash}, Tag(hash), m_ByText, enterText);
    return true;
  });
  texts.Finish(enterText);
}

// By a quarter, not the vector's doubling: a handle is the only word the
// index keeps per container besides its maps' slots.
void CTreeIndex::GrowHandles(std::size_t n) {
  // mutate: index-handles-double
  if (n > m_Handles.capacity()) m_Handles.reserve(std::max(n, m_Handles.capacity() + m_Handles.capacity() / 4 + 4));
}

void CTreeIndex::Leave(CNameContainer* c) {
  LeaveKey(KeyOf(c), c);
  T(c).Names().Walk([&](std::uint32_t id, std::u16string_view) {
    NameIdLeft(c, id);
    return true;
  });
  T(c).Keys().Walk([&](std::u16string_view key, std::uint32_t) {
    TextLeft(c, key);
    return true;
  });
  if (P(c).handle) {
    // Freed into the list it runs through, so that leaving needs no memory.
    m_Handles[P(c).handle] = std::uintptr_t{m_FirstFree} << 1 | 1;
    // mutate: handle-freed-off-list
    m_FirstFree = P(c).handle;
  }
  P(c).handle = 0;
  P(c).index = nullptr;
}

// --- changes

void CTreeIndex::TopAppended(CNameContainer* top) {
  P(top).holder = nullptr;
  P(top).order = m_nNextOrder++;
  ChildAttached(nullptr, top, P(top).order);
}

void CTreeIndex::TopRemoving(CNameContainer* top) {
  if (!m_bTearingDown && P(top).index == this) ChildDetaching(top);
}

void CTreeIndex::ChildAttached(CNameContainer* parent, CNameContainer* child, std::uint64_t order) {
  if (m_bTearingDown) return;
  P(child).holder = parent;
  P(child).order = order ? order : m_nNextOrder++;
  // Pre-order, so that each container's holders are placed before it is
  // counted; a loaded subtree gets orders that keep its tables' walk order.
  const Size size = SizeOf(child);
  Reserve(size);
  std::vector<CNameContainer*> pending{child}, entered;
  entered.reserve(size.containers);
  pending.reserve(size.containers);
  while (!pending.empty()) {
    CNameContainer* c = pending.back();
    pending.pop_back();
    PlaceBelow(c);
    entered.push_back(c);
    try {
      Enter(c);
    } catch (...) {
      // Out of memory: what was listed leaves again, children first.
      for (auto it = entered.rbegin(); it != entered.rend(); ++it) Leave(*it);
      throw;
    }
    const std::uint64_t base = m_nNextOrder;
    std::uint64_t left = T(c).Children().size();
    m_nNextOrder += left;
    T(c).Children().Walk([&](std::uint32_t key, const std::unique_ptr<CNameContainer>& sub) {
      P(sub.get()).holder = c;
      P(sub.get()).key = key;
      P(sub.get()).order = base + --left;
      pending.push_back(sub.get());
      return true;
    });
  }
}

CTreeIndex::Size CTreeIndex::SizeOf(const CNameContainer* root) {
  Size size;
  for (std::vector<const CNameContainer*> count{root}; !count.empty();) {
    const CNameContainer* c = count.back();
    count.pop_back();
    ++size.containers;
    size.names += T(c).Names().size();
    T(c).Children().Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& sub) {
      count.push_back(sub.get());
      return true;
    });
  }
  return size;
}

void CTreeIndex::Reserve(Size more) {
  m_ByKey.Reserve(more.containers);
  GrowHandles(m_Handles.size() + more.containers);
  m_ByNameID.Reserve(more.names);
  m_ByText.Reserve(more.names);
}

void CTreeIndex::ReserveFor(const std::vector<const CNameContainer*>& tops) {
  Size all;
  for (const CNameContainer* top : tops) {
    const Size size = SizeOf(top);
    all.containers += size.containers;
    all.names += size.names;
  }
  Reserve(all);
}

CNameContainer* CTreeIndex::Deepest(CNameContainer* c) {
  while (const auto* first = T(c).Children().FirstEntry()) c = SubContainerTable::ValueOf(first).get();
  return c;
}

CNameContainer* CTreeIndex::After(CNameContainer* c) {
  CNameContainer* holder = P(c).holder;
  const SubContainerTable& siblings = T(holder).Children();
  const auto* next = siblings.NextEntry(siblings.FindEntry(P(c).key));
  // mutate: detach-walk-skips-siblings
  return next ? Deepest(SubContainerTable::ValueOf(next).get()) : holder;
}

std::uint64_t CTreeIndex::ChildDetaching(CNameContainer* child) {
  const std::uint64_t order = P(child).order;
  if (m_bTearingDown) return order;
  // Children leave before their parents: a shared text's count names the
  // top. The subtree is walked in post-order, down its tables and back up
  // its holder links, which Leave keeps, so a removal needs no memory.
  for (CNameContainer* c = Deepest(child);;) {
    CNameContainer* next = c == child ? nullptr : After(c);
    Leave(c);
    if (!next) break;
    c = next;
  }
  return order;
}

void CTreeIndex::NameIdEntered(CNameContainer* c, std::uint32_t id) {
  if (id && !m_bTearingDown) AddTo(m_ByNameID.Insert(id), c, false);
}

void CTreeIndex::NameIdLeft(CNameContainer* c, std::uint32_t id) {
  if (!id || m_bTearingDown) return;
  if (Ref* r = m_ByNameID.Find(id); r && RemoveFrom(*r, c, false)) m_ByNameID.EraseAt(r);
}

void CTreeIndex::TextEntered(CNameContainer* c, std::u16string_view key, std::uint64_t hash) {
  if (!m_bTearingDown) EnterText(c, key, HashOf(key, hash));
}

bool CTreeIndex::NewNameIdEntering(const TreePlace& at, std::uint32_t id) {
  return id && !m_bTearingDown && ListAlone(m_ByNameID, id, at.handle);
}

bool CTreeIndex::NewTextEntering(const TreePlace& at, std::uint64_t hash) {
  return !m_bTearingDown && ListAlone(m_ByText, Tag(hash), at.handle);
}

bool CTreeIndex::ListAlone(FlatMap<std::uint32_t, Ref>& map, std::uint32_t key, std::uint32_t handle) {
  bool fresh;
  // mutate: new-key-despite-holders
  Ref& ref = map.FindOrInsert(key, [](Ref) { return true; }, fresh);
  if (fresh) ref = handle;
  return fresh;
}

void CTreeIndex::EnterText(CNameContainer* c, std::u16string_view key, std::uint64_t hash) {
  // c's own texts are all different, so a single entry of c is another text.
  bool fresh;
  Ref& ref = m_ByText.FindOrInsert(
      Tag(hash),
      [&](Ref r) {
        if (r & kGroup) return GroupOf(r).hash == hash;
        const CNameContainer* holder = Holder(r);
        // mutate: text-tag-trusted
        return holder != c && T(holder).Keys().Contains(key);
      },
      fresh);
  if (fresh) {
    ref = P(c).handle;
  } else {
    AddTo(ref, c, true, hash);
  }
}

void CTreeIndex::TextLeft(CNameContainer* c, std::u16string_view key) {
  if (m_bTearingDown) return;
  if (Ref* r = TextRefOf(c, TextHash(key)); r && RemoveFrom(*r, c, true)) m_ByText.EraseAt(r);
}

CTreeIndex::Ref* CTreeIndex::TextRefOf(std::uint32_t h, std::uint64_t hash) const {
  Ref* single = nullptr;
  Ref* group = const_cast<FlatMap<std::uint32_t, Ref>&>(m_ByText).FindIf(Tag(hash), [&](Ref& r) {
    if (r & kGroup) return GroupOf(r).hash == hash && GroupOf(r).holders.Find(h) != nullptr;
    if (r == h && !single) single = &r;
    return false;
  });
  return group ? group : single;
}

template <class F>
bool CTreeIndex::AnyTextEntry(std::uint64_t hash, F&& f) const {
  // mutate: text-group-hash-ignored
  return m_ByText.FindIf(Tag(hash), [&](Ref r) { return (!(r & kGroup) || GroupOf(r).hash == hash) && f(r); }) != nullptr;
}

bool CTreeIndex::TypeChanging(CNameContainer* c, std::int16_t newType) {
  const std::int16_t old = c->GetContainerType();
  // Below the top a type decides whether searches enter; at the top, which
  // namespace the tree is.
  const bool matters = P(c).holder ? SearchEntersType(old) != SearchEntersType(newType)
                                   : (old == kGlobalContainer || old == kTargetContainer ||
                                      newType == kGlobalContainer || newType == kTargetContainer);
  if (m_bTearingDown || old == newType || !matters) return false;
  CountSubtree(c, -1);
  return true;
}

void CTreeIndex::TypeChanged(CNameContainer* c) {
  // Below the top the type decides what searches reach in the subtree.
  if (P(c).holder) {
    for (std::vector<CNameContainer*> pending{c}; !pending.empty();) {
      CNameContainer* d = pending.back();
      pending.pop_back();
      // mutate: retype-keeps-places
      PlaceBelow(d);
      T(d).Children().Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& sub) {
        pending.push_back(sub.get());
        return true;
      });
    }
  }
  CountSubtree(c, +1);
}

void CTreeIndex::TopIdChanging(CNameContainer* top, std::uint32_t newID) {
  if (m_bTearingDown || P(top).holder || top->GetID() == newID) return;
  EnterKey(newID, top);  // first, so that running out of memory changes nothing
  LeaveKey(top->GetID(), top);
}

// --- queries

CNameContainer* CTreeIndex::FindContainer(std::uint32_t id) const {
  if (id == 0) return nullptr;
  const Ref* ref = KeyRef(id);
  if (!ref) return nullptr;
  CNameContainer* best = nullptr;
  ForEachHolder(*ref, [&](CNameContainer* c) {
    if (!best || Before(c, best, true)) best = c;
  });
  return best;
}

const std::uint32_t* CTreeIndex::OwnID(const CNameContainer* c, std::u16string_view key, std::uint64_t hash) const {
#ifndef NDEBUG
  if (P(c).index != this) std::abort();  // a container outside the tree has no listing to go by
#endif
  return key.empty() ? nullptr : ListedOwnID(P(c).handle, key, HashOf(key, hash));
}

const std::uint32_t* CTreeIndex::OwnIDIn(std::uint32_t containerID, std::u16string_view key,
                                         std::uint64_t hash) const {
  const Ref* ref = containerID ? KeyRef(containerID) : nullptr;
  if (!ref || key.empty()) return nullptr;
  // mutate: own-lookup-by-key-group-as-handle
  if (*ref & kGroup) return OwnID(FindContainer(containerID), key, hash);
  return ListedOwnID(*ref, key, HashOf(key, hash));
}

const std::uint32_t* CTreeIndex::ListedOwnID(std::uint32_t handle, std::u16string_view key, std::uint64_t hash) const {
  // mutate: own-lookup-trusts-tag-alone
  return TextRefOf(handle, hash) ? T(Holder(handle)).Keys().Lookup(key) : nullptr;
}

bool CTreeIndex::NameSearchedFor(std::uint32_t id, const CString& key, std::uint64_t hash, bool descend) const {
  const Ref* ref = id ? KeyRef(id) : nullptr;
  if (!ref || !*ref || key.empty()) return false;
  hash = HashOf(key, hash);
  // mutate: find-name-lone-holder-ignores-descent, find-name-group-as-lone-holder
  if (!(*ref & kGroup)) return descend ? TextBelow(Holder(*ref), key, hash) : ListedOwnID(*ref, key, hash) != nullptr;
  for (const CNameContainer* c : ContainersSearchedFor(id))
    if (descend ? TextBelow(c, key, hash) : OwnID(c, key, hash) != nullptr) return true;
  return false;
}

std::vector<CNameContainer*> CTreeIndex::ContainersSearchedFor(std::uint32_t id) const {
  std::vector<std::pair<const CNameContainer*, CNameContainer*>> best;  // per top-level container
  const Ref* ref = id ? KeyRef(id) : nullptr;
  if (ref) {
    ForEachHolder(*ref, [&](CNameContainer* c) {
      const CNameContainer* top = PlaceOf(c).top;
      for (auto& [t, f] : best) {
        if (t != top) continue;
        if (Before(c, f, true)) f = c;
        return;
      }
      best.emplace_back(top, c);
    });
  }
  std::vector<CNameContainer*> found;
  for (const auto& [t, f] : best) found.push_back(f);
  return found;
}

template <class F>
void CTreeIndex::ForEachTopWithID(std::uint32_t id, F&& f) const {
  if (const Ref* ref = KeyRef(id)) {
    ForEachHolder(*ref, [&](CNameContainer* c) {
      if (!P(c).holder) f(c);
    });
  }
}

CNameContainer* CTreeIndex::FirstTopWithID(std::uint32_t id) const {
  CNameContainer* first = nullptr;
  ForEachTopWithID(id, [&](CNameContainer* top) {
    if (!first || P(top).order < P(first).order) first = top;
  });
  return first;
}

CNameContainer* CTreeIndex::FirstHolderOfName(std::uint32_t nameID, const CNameContainer* top) const {
  const Ref* ref = nameID ? m_ByNameID.Find(nameID) : nullptr;
  if (!ref) return nullptr;
  CNameContainer* best = nullptr;
  ForEachHolder(*ref, [&](CNameContainer* c) {
    if (top && PlaceOf(c).top != top) return;
    if (!best || Before(c, best, false)) best = c;
  });
  return best;
}

bool CTreeIndex::TopSet::Has(const CNameContainer* t) const {
  // A top-level container is listed under its own ID, so that ID says
  // whether it is among those named by it.
  if ((global && t->GetContainerType() == kGlobalContainer) || (target && t->GetContainerType() == kTargetContainer))
    return true;
  // mutate: tree-by-id-takes-any-top
  return t == top || (byID && t->GetID() == topID);
}

bool CTreeIndex::Counted(const Group& g, const TopSet& trees) const {
  if ((trees.global && g.global) || (trees.target && g.target)) return true;
  if (trees.top && g.perTop.Find(P(trees.top).handle)) return true;
  bool counted = false;
  if (trees.byID)
    // mutate: tree-by-id-counts-no-shared-text
    ForEachTopWithID(trees.topID, [&](CNameContainer* top) { counted = counted || g.perTop.Find(P(top).handle); });
  return counted;
}

// A single holder is checked where it is; a shared text answers from its counts.
bool CTreeIndex::TextIn(std::u16string_view key, const TopSet& trees, std::uint64_t hash) const {
  if (key.empty()) return false;
  return AnyTextEntry(HashOf(key, hash), [&](Ref ref) {
    if (ref & kGroup) return Counted(GroupOf(ref), trees);
    const CNameContainer* c = Holder(ref);
    const Place p = PlaceOf(c);
    // mutate: tree-search-trusts-tag-alone
    return p.seen && trees.Has(p.top) && T(c).Keys().Contains(key);
  });
}

bool CTreeIndex::TextBelow(const CNameContainer* from, const CString& key, std::uint64_t hash) const {
  if (key.empty()) return false;
  hash = HashOf(key, hash);
  if (!P(from).holder) return TextIn(key, TopSet{.top = from}, hash);
  return AnyTextEntry(hash, [&](Ref ref) { return EntryBelow(from, key, ref); });
}

bool CTreeIndex::EntryBelow(const CNameContainer* from, const CString& key, Ref ref) const {
  if (!(ref & kGroup)) {
    const CNameContainer* c = Holder(ref);
    return Reaches(from, c) && T(c).Keys().Contains(key);
  }
  // Whichever ends first: a search of the subtree allowed to visit as many
  // containers as the text has holders, or a check of every holder.
  const Group& g = GroupOf(ref);
  std::size_t budget = g.holders.size();
  bool hit = false, exhausted = false;
  SubtreeWalk::Run(*from, [&](const CNameContainer& c, std::size_t depth) {
    if (depth > 0 && !SearchEntersType(c.GetContainerType())) return WalkStep::kSkip;
    if (budget-- == 0) {
      exhausted = true;
      return WalkStep::kStop;
    }
    hit = T(&c).Keys().Contains(key);
    return hit ? WalkStep::kStop : WalkStep::kDescend;
  });
  if (!exhausted) return hit;
  ForEachHolder(ref, [&](CNameContainer* c) { hit = hit || (Reaches(from, c) && T(c).Keys().Contains(key)); });
  return hit;
}

CNameContainer* CTreeIndex::FirstTextHolder(std::u16string_view key, const TopSet& trees, std::uint64_t hash) const {
  if (key.empty()) return nullptr;
  CNameContainer* best = nullptr;
  AnyTextEntry(HashOf(key, hash), [&](Ref ref) {
    if ((ref & kGroup) && !Counted(GroupOf(ref), trees)) return false;
    ForEachHolder(ref, [&](CNameContainer* c) {
      const Place p = PlaceOf(c);
      if (!p.seen || !trees.Has(p.top) || !T(c).Keys().Contains(key)) return;
      if (!best || Before(c, best, false)) best = c;
    });
    return false;
  });
  return best;
}

std::uint64_t CTreeIndex::ListOrder(const CNameContainer* top) { return P(top).order; }

std::size_t CTreeIndex::MemoryUsage() const {
  std::size_t bytes = sizeof(*this) + m_ByKey.MemoryUsage() + m_ByNameID.MemoryUsage() + m_ByText.MemoryUsage() +
                      m_Handles.capacity() * sizeof(std::uintptr_t) +
                      m_Groups.capacity() * sizeof(std::unique_ptr<Group>) +
                      m_FreeGroups.capacity() * sizeof(std::uint32_t);
  for (const auto& g : m_Groups)
    if (g) bytes += sizeof(Group) + g->holders.MemoryUsage() + g->perTop.MemoryUsage();
  return bytes;
}

// --- self-check

std::string CTreeIndex::CheckInvariants(const std::vector<CNameContainer*>& tops) const {
  struct Expect {
    CNameContainer* c;
    CNameContainer* holder;
    std::uint32_t key;
  };
  std::vector<Expect> pending;
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) pending.push_back({*it, nullptr, (*it)->GetID()});
  for (std::size_t i = 1; i < tops.size(); ++i)
    if (P(tops[i - 1]).order >= P(tops[i]).order) return "4: top-level orders do not rise along the list";
  // How often each key should be listed, to find entries of containers gone.
  std::unordered_map<std::uint32_t, std::size_t> keys, ids;
  std::unordered_map<std::uint64_t, std::size_t> texts;
  std::unordered_map<std::uint64_t, std::uint32_t> lastHolder;
  std::unordered_map<std::uint64_t, Group> counts;
  std::size_t containers = 0;
  auto listed = [&](const Ref* ref, const CNameContainer* c) {
    bool in = false;
    if (ref) ForEachHolder(*ref, [&](CNameContainer* h) { in = in || h == c; });
    return in;
  };
  auto size = [&](const Ref* ref) -> std::size_t { return !ref ? 0 : (*ref & kGroup) ? GroupOf(*ref).holders.size() : 1; };
  while (!pending.empty()) {
    const Expect e = pending.back();
    pending.pop_back();
    CNameContainer* c = e.c;
    ++containers;
    const std::string at = " (container " + std::to_string(c->GetID()) + ")";
    if (P(c).index != this || P(c).handle == 0 || P(c).handle >= m_Handles.size() || Holder(P(c).handle) != c)
      return "1: not in the index" + at;
    if (P(c).holder != e.holder || (e.holder && P(c).key != e.key)) return "1: wrong holder or key" + at;
    if (!listed(KeyRef(e.key), c)) return "1: not listed under its key" + at;
    ++keys[e.key];
    const CNameContainer* top = e.holder ? P(e.holder).top : c;
    const bool seen = !e.holder || (P(e.holder).seen && SearchEntersType(c->GetContainerType()));
    if (P(c).top != top || P(c).seen != seen) return "3: wrong place" + at;
    std::string fault;
    T(c).Names().Walk([&](std::uint32_t id, std::u16string_view) {
      if (id && !listed(m_ByNameID.Find(id), c)) fault = "1: name ID " + std::to_string(id) + " not listed" + at;
      if (id) ++ids[id];
      return fault.empty();
    });
    T(c).Keys().Walk([&](std::u16string_view key, std::uint32_t) {
      const std::uint64_t h = TextHash(key);
      if (!TextRefOf(c, h)) fault = "1: a text not listed" + at;
      ++texts[h];
      lastHolder[h] = P(c).handle;
      Count(counts[h], c, +1);
      return fault.empty();
    });
    if (!fault.empty()) return fault;
    std::vector<Expect> kids;
    const SubContainerTable& table = T(c).Children();
    table.Walk([&](std::uint32_t key, const std::unique_ptr<CNameContainer>& sub) {
      const CNameContainer* prev = kids.empty() ? nullptr : kids.back().c;
      if (prev && table.BucketOf(P(prev).key) == table.BucketOf(key) && P(prev).order <= P(sub.get()).order)
        fault = "4: orders do not fall along a chain" + at;
      kids.push_back({sub.get(), c, key});
      return true;
    });
    if (!fault.empty()) return fault;
    pending.insert(pending.end(), kids.rbegin(), kids.rend());
  }
  std::size_t live = 0, free = 0;
  for (const std::uintptr_t h : m_Handles) live += h != 0 && !(h & 1);
  if (live != containers) return "1: the index lists containers outside the tree";
  for (std::uint32_t h = m_FirstFree; h; h = static_cast<std::uint32_t>(m_Handles[h] >> 1))
    if (h >= m_Handles.size() || !(m_Handles[h] & 1) || ++free > m_Handles.size()) return "1: a broken list of free handles";
  if (1 + live + free != m_Handles.size()) return "1: a handle neither used nor free";
  for (const auto& [k, n] : keys)
    if (size(KeyRef(k)) != n) return "1: key " + std::to_string(k) + " listed for a container not holding it";
  for (const auto& [k, n] : ids)
    if (size(m_ByNameID.Find(k)) != n) return "1: name ID " + std::to_string(k) + " listed for a container not holding it";
  if (m_ByNameID.size() != ids.size() || m_ByText.size() != texts.size()) return "1: entries for keys no container holds";
  if (!m_ByKey.Valid() || !m_ByNameID.Valid() || !m_ByText.Valid()) return "5: a map out of order";
  // Single entries, by tag and holder, must be those of the texts held once.
  std::unordered_map<std::uint64_t, std::size_t> singles;
  for (const auto& [h, n] : texts)
    if (n == 1) ++singles[std::uint64_t{Tag(h)} << 32 | lastHolder[h]];
  bool singlesMatch = true;
  m_ByText.ForEach([&](std::uint32_t tag, Ref r) {
    if (!(r & kGroup)) singlesMatch = singlesMatch && singles[std::uint64_t{tag} << 32 | r]-- > 0;
  });
  if (!singlesMatch) return "1: a text listed for a container not holding it";
  for (const auto& [h, n] : texts) {
    if (n == 1) continue;
    Ref group = 0;
    AnyTextEntry(h, [&](Ref r) {
      if (r & kGroup) group = r;
      return group != 0;
    });
    if (size(group ? &group : nullptr) != n) return "1: a text listed for a container not holding it";
    const Group& g = GroupOf(group);
    const Group& want = counts[h];
    bool same = g.global == want.global && g.target == want.target && g.perTop.size() == want.perTop.size();
    want.perTop.ForEach([&](std::uint32_t top, std::uint32_t n2) {
      const std::uint32_t* have = g.perTop.Find(top);
      same = same && have && *have == n2;
    });
    if (!same) return "2: a shared text's counts differ from a search";
  }
  return {};
}

}  // namespace nametree

#include "container/tree_index.h"

#include "container/container_tables.h"

namespace nametree {

// Two or more holders of one key. The counts are kept for texts only.
struct CTreeIndex::Group {
  FlatMap<std::uintptr_t, std::uint8_t> holders;
  FlatMap<std::uintptr_t, std::uint32_t> perTop;
  std::uint32_t global = 0;
  std::uint32_t target = 0;
};

namespace {

bool Descends(std::int16_t type) { return type == 2 || type == 3 || type == 4; }

std::uintptr_t AsRef(const CNameContainer* c) { return reinterpret_cast<std::uintptr_t>(c); }

}  // namespace

CTreeIndex::~CTreeIndex() { Reset(); }

void CTreeIndex::Reset() {
  m_ByKey.ForEach([](std::uint64_t, Ref r) { FreeRef(r); });
  m_ByNameID.ForEach([](std::uint32_t, Ref r) { FreeRef(r); });
  m_ByText.ForEach([](std::uint64_t, Ref r) { FreeRef(r); });
  m_ByKey = {};
  m_ByNameID = {};
  m_ByText = {};
  m_bTearingDown = false;
}

void CTreeIndex::FreeRef(Ref ref) {
  if (ref & 1) delete reinterpret_cast<Group*>(ref & ~Ref{1});
}

std::uint64_t CTreeIndex::TextHash(const CString& key) {
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
void CTreeIndex::ForEachHolder(Ref ref, F&& f) {
  if (!ref) return;
  if (!(ref & 1)) {
    f(reinterpret_cast<CNameContainer*>(ref));
    return;
  }
  reinterpret_cast<Group*>(ref & ~Ref{1})->holders.ForEach(
      [&](std::uintptr_t c, std::uint8_t) { f(reinterpret_cast<CNameContainer*>(c)); });
}

// --- positions

CTreeIndex::Place CTreeIndex::PlaceOf(const CNameContainer* c) {
  bool seen = true;
  while (c->m_pHolder) {
    if (!Descends(c->m_Type)) seen = false;
    c = c->m_pHolder;
  }
  return {const_cast<CNameContainer*>(c), seen};
}

bool CTreeIndex::Reaches(const CNameContainer* from, const CNameContainer* c) {
  for (; c != from; c = c->m_pHolder) {
    if (!c->m_pHolder || !Descends(c->m_Type)) return false;
  }
  return true;
}

// Whether a comes before b in the walk: top-level list order, then down
// the tables. directFirst: at each level the walk by container ID looks at
// the direct children before it descends (a pre-order walk does not).
bool CTreeIndex::Before(const CNameContainer* a, const CNameContainer* b, bool directFirst) {
  std::vector<const CNameContainer*> pa, pb;
  for (const CNameContainer* c = a; c; c = c->m_pHolder) pa.push_back(c);
  for (const CNameContainer* c = b; c; c = c->m_pHolder) pb.push_back(c);
  // Paths run from the container up; compare from the top down.
  auto ia = pa.rbegin(), ib = pb.rbegin();
  if (*ia != *ib) return (*ia)->m_nSlotOrder < (*ib)->m_nSlotOrder;
  const CNameContainer* parent = *ia;
  for (++ia, ++ib; ia != pa.rend() && ib != pb.rend() && *ia == *ib; ++ia, ++ib) parent = *ia;
  if (ia == pa.rend()) return true;  // a is b or above it
  if (ib == pb.rend()) return false;
  if (directFirst) {
    const bool aDirect = *ia == a, bDirect = *ib == b;
    if (aDirect != bDirect) return aDirect;
  }
  const SubContainerTable& table = *parent->m_SubContainers;
  const std::uint32_t ba = table.BucketOf((*ia)->m_nSlotKey), bb = table.BucketOf((*ib)->m_nSlotKey);
  if (ba != bb) return ba < bb;
  return (*ia)->m_nSlotOrder > (*ib)->m_nSlotOrder;  // newest first within a bucket
}

// --- holder sets

template <class K>
void CTreeIndex::AddHolder(FlatMap<K, Ref>& map, K key, CNameContainer* c, bool counted) {
  Ref& ref = map.Insert(key);
  if (!ref) {
    ref = AsRef(c);
    return;
  }
  if (!(ref & 1)) {
    if (ref == AsRef(c)) return;
    auto g = std::make_unique<Group>();
    g->holders.Insert(ref);
    if (counted) Count(*g, reinterpret_cast<CNameContainer*>(ref), +1);
    ref = reinterpret_cast<Ref>(g.release()) | 1;
  }
  Group& g = *reinterpret_cast<Group*>(ref & ~Ref{1});
  if (g.holders.Find(AsRef(c))) return;
  g.holders.Insert(AsRef(c));
  if (counted) Count(g, c, +1);
}

template <class K>
void CTreeIndex::RemoveHolder(FlatMap<K, Ref>& map, K key, CNameContainer* c, bool counted) {
  Ref* ref = map.Find(key);
  if (!ref) return;
  if (!(*ref & 1)) {
    if (*ref == AsRef(c)) map.Erase(key);
    return;
  }
  Group* g = reinterpret_cast<Group*>(*ref & ~Ref{1});
  if (!g->holders.Erase(AsRef(c))) return;
  if (counted) Count(*g, c, -1);
  if (g->holders.size() == 1) {
    Ref last = 0;
    g->holders.ForEach([&](std::uintptr_t h, std::uint8_t) { last = h; });
    delete g;
    *ref = last;
  }
}

void CTreeIndex::Count(Group& g, const CNameContainer* c, int sign) {
  const Place p = PlaceOf(c);
  if (!p.seen) return;
  const auto delta = static_cast<std::uint32_t>(sign);
  std::uint32_t& n = g.perTop.Insert(AsRef(p.top));
  n += delta;
  if (n == 0) g.perTop.Erase(AsRef(p.top));
  if (p.top->m_Type == kGlobalContainer) g.global += delta;
  if (p.top->m_Type == kTargetContainer) g.target += delta;
}

// Adds or removes the counted contributions of every shared text held in
// c's subtree.
void CTreeIndex::CountSubtree(CNameContainer* c, int sign) {
  std::vector<CNameContainer*> pending{c};
  while (!pending.empty()) {
    CNameContainer* d = pending.back();
    pending.pop_back();
    d->m_IDsByName->Walk([&](const CString& key, std::uint32_t) {
      if (const Ref* r = m_ByText.Find(TextHash(key)); r && (*r & 1))
        Count(*reinterpret_cast<Group*>(*r & ~Ref{1}), d, sign);
      return true;
    });
    d->m_SubContainers->Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& child) {
      pending.push_back(child.get());
      return true;
    });
  }
}

std::uint64_t CTreeIndex::KeyOf(const CNameContainer* c) {
  return std::uint64_t{c->m_pHolder ? c->m_nSlotKey : c->m_ID} + 1;
}

// Lists one container (already placed) under its key, IDs and texts.
void CTreeIndex::Enter(CNameContainer* c) {
  c->m_pIndex = this;
  AddHolder(m_ByKey, KeyOf(c), c, false);
  c->m_NamesByID->Walk([&](std::uint32_t id, const CString&) {
    if (id) AddHolder(m_ByNameID, id, c, false);
    return true;
  });
  c->m_IDsByName->Walk([&](const CString& key, std::uint32_t) {
    AddHolder(m_ByText, TextHash(key), c, true);
    return true;
  });
}

void CTreeIndex::Leave(CNameContainer* c) {
  RemoveHolder(m_ByKey, KeyOf(c), c, false);
  c->m_NamesByID->Walk([&](std::uint32_t id, const CString&) {
    if (id) RemoveHolder(m_ByNameID, id, c, false);
    return true;
  });
  c->m_IDsByName->Walk([&](const CString& key, std::uint32_t) {
    RemoveHolder(m_ByText, TextHash(key), c, true);
    return true;
  });
  c->m_pIndex = nullptr;
}

// --- changes

void CTreeIndex::TopAppended(CNameContainer* top) {
  top->m_pHolder = nullptr;
  top->m_nSlotOrder = m_nNextOrder++;
  ChildAttached(nullptr, top, top->m_nSlotOrder);
}

void CTreeIndex::TopRemoving(CNameContainer* top) {
  if (!m_bTearingDown && top->m_pIndex == this) ChildDetaching(top);
}

void CTreeIndex::ChildAttached(CNameContainer* parent, CNameContainer* child, std::uint64_t order) {
  if (m_bTearingDown) return;
  child->m_pHolder = parent;
  child->m_nSlotOrder = order ? order : m_nNextOrder++;
  // Pre-order, so that each container's holders are placed before it is
  // counted; a loaded subtree gets orders that keep its tables' walk order.
  std::vector<CNameContainer*> order_;
  std::vector<CNameContainer*> pending{child};
  while (!pending.empty()) {
    CNameContainer* c = pending.back();
    pending.pop_back();
    order_.push_back(c);
    Enter(c);
    const std::uint64_t base = m_nNextOrder;
    std::uint64_t left = c->m_SubContainers->size();
    m_nNextOrder += left;
    c->m_SubContainers->Walk([&](std::uint32_t key, const std::unique_ptr<CNameContainer>& sub) {
      sub->m_pHolder = c;
      sub->m_nSlotKey = key;
      sub->m_nSlotOrder = base + --left;
      pending.push_back(sub.get());
      return true;
    });
  }
  for (auto it = order_.rbegin(); it != order_.rend(); ++it) {
    CNameContainer* c = *it;
    std::uint32_t size = 1;
    c->m_SubContainers->Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& sub) {
      size += sub->m_nSubtreeSize;
      return true;
    });
    c->m_nSubtreeSize = size;
  }
  for (CNameContainer* up = parent; up; up = up->m_pHolder) up->m_nSubtreeSize += child->m_nSubtreeSize;
}

std::uint64_t CTreeIndex::ChildDetaching(CNameContainer* child) {
  const std::uint64_t order = child->m_nSlotOrder;
  if (m_bTearingDown) return order;
  for (CNameContainer* up = child->m_pHolder; up; up = up->m_pHolder) up->m_nSubtreeSize -= child->m_nSubtreeSize;
  std::vector<CNameContainer*> pending{child};
  while (!pending.empty()) {
    CNameContainer* c = pending.back();
    pending.pop_back();
    c->m_SubContainers->Walk([&](std::uint32_t, const std::unique_ptr<CNameContainer>& sub) {
      pending.push_back(sub.get());
      return true;
    });
    Leave(c);
  }
  return order;
}

void CTreeIndex::NameIdEntered(CNameContainer* c, std::uint32_t id) {
  if (id && !m_bTearingDown) AddHolder(m_ByNameID, id, c, false);
}

void CTreeIndex::NameIdLeft(CNameContainer* c, std::uint32_t id) {
  if (id && !m_bTearingDown) RemoveHolder(m_ByNameID, id, c, false);
}

void CTreeIndex::TextEntered(CNameContainer* c, std::uint64_t hash) {
  if (!m_bTearingDown) AddHolder(m_ByText, hash, c, true);
}

void CTreeIndex::TextLeft(CNameContainer* c, std::uint64_t hash) {
  if (!m_bTearingDown) RemoveHolder(m_ByText, hash, c, true);
}

void CTreeIndex::TypeChanging(CNameContainer* c, std::int16_t newType) {
  const std::int16_t old = c->m_Type;
  // Below the top a type decides whether searches enter; at the top, which
  // namespace the tree is.
  const bool matters = c->m_pHolder ? Descends(old) != Descends(newType)
                                    : (old == kGlobalContainer || old == kTargetContainer ||
                                       newType == kGlobalContainer || newType == kTargetContainer);
  if (m_bTearingDown || old == newType || !matters) {
    c->m_Type = newType;
    return;
  }
  CountSubtree(c, -1);
  c->m_Type = newType;
  CountSubtree(c, +1);
}

void CTreeIndex::TopIdChanging(CNameContainer* top, std::uint32_t newID) {
  if (m_bTearingDown || top->m_pHolder) return;
  RemoveHolder(m_ByKey, KeyOf(top), top, false);
  AddHolder(m_ByKey, std::uint64_t{newID} + 1, top, false);
}

// --- queries

CNameContainer* CTreeIndex::FindContainer(std::uint32_t id) const {
  if (id == 0) return nullptr;
  const Ref* ref = m_ByKey.Find(std::uint64_t{id} + 1);
  if (!ref) return nullptr;
  CNameContainer* best = nullptr;
  ForEachHolder(*ref, [&](CNameContainer* c) {
    if (!best || Before(c, best, true)) best = c;
  });
  return best;
}

std::vector<CNameContainer*> CTreeIndex::ContainersSearchedFor(std::uint32_t id) const {
  std::vector<CNameContainer*> found;  // at most one per top-level container
  const Ref* ref = id ? m_ByKey.Find(std::uint64_t{id} + 1) : nullptr;
  if (!ref) return found;
  ForEachHolder(*ref, [&](CNameContainer* c) {
    const CNameContainer* top = PlaceOf(c).top;
    for (CNameContainer*& f : found) {
      if (PlaceOf(f).top != top) continue;
      if (Before(c, f, true)) f = c;
      return;
    }
    found.push_back(c);
  });
  return found;
}

std::vector<CNameContainer*> CTreeIndex::TopsWithID(std::uint32_t id) const {
  std::vector<CNameContainer*> tops;
  if (const Ref* ref = m_ByKey.Find(std::uint64_t{id} + 1)) {
    ForEachHolder(*ref, [&](CNameContainer* c) {
      if (!c->m_pHolder) tops.push_back(c);
    });
  }
  return tops;
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

// A single holder is checked where it is; a shared text answers from its counts.
template <class Single, class Shared>
bool CTreeIndex::TextExists(const CString& key, Single single, Shared shared) const {
  if (key.empty()) return false;
  const Ref* ref = m_ByText.Find(TextHash(key));
  if (!ref) return false;
  if (*ref & 1) return shared(*reinterpret_cast<const Group*>(*ref & ~Ref{1}));
  const auto* c = reinterpret_cast<const CNameContainer*>(*ref);
  const Place p = PlaceOf(c);
  return p.seen && single(p.top) && c->m_IDsByName->Contains(key);
}

bool CTreeIndex::TextInGlobalTrees(const CString& key) const {
  return TextExists(
      key, [](const CNameContainer* top) { return top->m_Type == kGlobalContainer; },
      [](const Group& g) { return g.global > 0; });
}

bool CTreeIndex::TextInTargetTrees(const CString& key) const {
  return TextExists(
      key, [](const CNameContainer* top) { return top->m_Type == kTargetContainer; },
      [](const Group& g) { return g.target > 0; });
}

bool CTreeIndex::TextInTree(const CNameContainer* top, const CString& key) const {
  return TextExists(
      key, [top](const CNameContainer* t) { return t == top; },
      [top](const Group& g) { return g.perTop.Find(AsRef(top)) != nullptr; });
}

bool CTreeIndex::TextBelow(const CNameContainer* from, const CString& key) const {
  if (key.empty()) return false;
  if (!from->m_pHolder) return TextInTree(from, key);
  const Ref* ref = m_ByText.Find(TextHash(key));
  if (!ref) return false;
  if (!(*ref & 1)) {
    const auto* c = reinterpret_cast<const CNameContainer*>(*ref);
    return Reaches(from, c) && c->m_IDsByName->Contains(key);
  }
  // Whichever is smaller: the holders, or the subtree to search.
  const Group& g = *reinterpret_cast<const Group*>(*ref & ~Ref{1});
  if (g.holders.size() > from->m_nSubtreeSize) return from->FindNameByKey(key, true, nullptr) == S_OK;
  bool hit = false;
  ForEachHolder(*ref, [&](CNameContainer* c) { hit = hit || (Reaches(from, c) && c->m_IDsByName->Contains(key)); });
  return hit;
}

CNameContainer* CTreeIndex::FirstTextHolder(const CString& key,
                                            const std::function<bool(const CNameContainer*)>& wantTop) const {
  if (key.empty()) return nullptr;
  const Ref* ref = m_ByText.Find(TextHash(key));
  if (!ref) return nullptr;
  CNameContainer* best = nullptr;
  ForEachHolder(*ref, [&](CNameContainer* c) {
    const Place p = PlaceOf(c);
    if (!p.seen || !wantTop(p.top) || !c->m_IDsByName->Contains(key)) return;
    if (!best || Before(c, best, false)) best = c;
  });
  return best;
}

std::size_t CTreeIndex::MemoryUsage() const {
  std::size_t bytes = sizeof(*this) + m_ByKey.MemoryUsage() + m_ByNameID.MemoryUsage() + m_ByText.MemoryUsage();
  auto groups = [&](auto, Ref r) {
    if (r & 1) {
      const Group& g = *reinterpret_cast<const Group*>(r & ~Ref{1});
      bytes += sizeof(Group) + g.holders.MemoryUsage() + g.perTop.MemoryUsage();
    }
  };
  m_ByKey.ForEach(groups);
  m_ByNameID.ForEach(groups);
  m_ByText.ForEach(groups);
  return bytes;
}

}  // namespace nametree

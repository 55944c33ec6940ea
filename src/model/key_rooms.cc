#include "model/key_rooms.h"

#include <algorithm>

#include "model/container_reader.h"
#include "server/namespace_policy.h"

namespace nametree {

namespace {

using Where = CDuplicateHit::Where;

std::uint64_t Spread(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdull;
  return x ^ (x >> 33);
}
std::uint32_t Tag(std::uint64_t h) {
  const auto t = static_cast<std::uint32_t>(h ^ (h >> 32));
  return t ? t : 1;  // 0 is no key
}
std::uint32_t ContainerTag(const CNameContainer* c) { return Tag(Spread(reinterpret_cast<std::uintptr_t>(c))); }
std::uint32_t TreeTag(std::uint64_t key, std::uint32_t topId) { return Tag(key ^ Spread(topId + 0x9E3779B97F4A7C15ull)); }

const KeyRooms::List kNoRooms;

// A slot of `pool` given back earlier, else a new one at its end.
template <class Pool>
KeyRooms::Index TakeSlot(Pool& pool, std::vector<KeyRooms::Index>& free) {
  if (free.empty()) {
    pool.emplace_back();
    return static_cast<KeyRooms::Index>(pool.size() - 1);
  }
  const KeyRooms::Index i = free.back();
  free.pop_back();
  return i;
}

}  // namespace

Reach ReachOf(const CNameContainer& c) {
  const CNameContainer* top = ContainerReader::Top(c);
  if (!top) top = &c;
  Reach r;
  r.topId = top->GetID();
  r.topType = top->GetContainerType();
  const bool globalTree = r.topType == kGlobalContainer;
  if (ContainerReader::Searched(c)) {
    r.inGlobal = globalTree;
    // mutate: edit-check-target-as-global
    r.inTargets = r.topType == kTargetContainer;
    r.inTree = !globalTree;
  }
  r.apart = NamespacesApart(c.GetContainerType(), false, globalTree);
  for (Where w : r.apart) {
    r.searchesTargets = r.searchesTargets || w == Where::kTarget;
    r.searchesTree = r.searchesTree || (w == Where::kOwnTree && !globalTree);
  }
  return r;
}

KeyRooms::Index KeyRooms::LocalIndex(const CNameContainer* c, bool make) const {
  if (lastLocal_ != kNone && locals_[lastLocal_].container == c) return lastLocal_;
  const auto same = [&](Index l) { return locals_[l].container == c; };
  if (!make) {
    const Index* l = localOf_.FindIf(ContainerTag(c), same);
    if (l) lastLocal_ = *l;
    return l ? *l : kNone;
  }
  bool fresh = false;
  Index& slot = localOf_.FindOrInsert(ContainerTag(c), same, fresh);
  if (fresh) {
    slot = TakeSlot(locals_, freeLocals_);
    locals_[slot].container = c;
  }
  lastLocal_ = slot;
  return slot;
}

void KeyRooms::Reserve(const CNameContainer* c, std::size_t names) {
  if (names) locals_[LocalIndex(c, true)].byKey.Reserve(names);
}

KeyRooms::Index KeyRooms::FindGroup(std::uint64_t key) const {
  if (lastGroup_ != kNone && groups_[lastGroup_].key == key) return lastGroup_;
  const Index* g = groupOf_.FindIf(Tag(key), [&](Index x) { return groups_[x].key == key; });
  lastGroup_ = g ? *g : kNone;
  return lastGroup_;
}

KeyRooms::Index KeyRooms::MakeGroup(std::uint64_t key) {
  if (lastGroup_ != kNone && groups_[lastGroup_].key == key) return lastGroup_;
  bool fresh = false;
  Index& slot = groupOf_.FindOrInsert(Tag(key), [&](Index x) { return groups_[x].key == key; }, fresh);
  if (fresh) {
    slot = TakeSlot(groups_, freeGroups_);
    groups_[slot].key = key;
  }
  lastGroup_ = slot;
  return slot;
}

KeyRooms::Index KeyRooms::FindTree(std::uint64_t key, std::uint32_t topId) const {
  const Index* t =
      treeOf_.FindIf(TreeTag(key, topId), [&](Index x) { return trees_[x].key == key && trees_[x].topId == topId; });
  return t ? *t : kNone;
}

KeyRooms::Index KeyRooms::MakeTree(std::uint64_t key, std::uint32_t topId) {
  bool fresh = false;
  Index& slot = treeOf_.FindOrInsert(
      TreeTag(key, topId), [&](Index x) { return trees_[x].key == key && trees_[x].topId == topId; }, fresh);
  if (fresh) {
    slot = TakeSlot(trees_, freeTrees_);
    trees_[slot].key = key;
    trees_[slot].topId = topId;
  }
  return slot;
}

KeyRooms::List* KeyRooms::ListOf(const Room& r, Slot s) {
  if (s == kTree || (s == kSearch && r.searchesTree)) {
    Tree& t = trees_[MakeTree(r.key, r.topId)];
    return s == kTree ? &t.members : &t.searchers;
  }
  Group& g = groups_[MakeGroup(r.key)];
  switch (s) {
    case kAll: return &g.all;
    case kWide: return r.wideIsGlobal ? &g.global : &g.targets;
    default: return &g.targetSearchers;
  }
}

void KeyRooms::Link(Index room, Slot s) {
  List& list = *ListOf(rooms_[room], s);
  rooms_[room].at[s] = static_cast<std::uint32_t>(list.size());
  list.push_back(room);
}

void KeyRooms::Unlink(Index room, Slot s) {
  List& list = *ListOf(rooms_[room], s);
  const std::uint32_t at = rooms_[room].at[s];
  const Index moved = list.back();
  list[at] = moved;
  // mutate: edit-check-moved-room-keeps-place
  rooms_[moved].at[s] = at;
  list.pop_back();
}

void KeyRooms::Insert(std::uint64_t key, const CNameContainer* c, const Reach& reach, std::uint32_t id) {
  bool fresh = false;
  Index& slot = locals_[LocalIndex(c, true)].byKey.FindOrInsert(
      Tag(key), [&](Index i) { return rooms_[i].key == key; }, fresh);
  if (!fresh) {
    more_[slot].push_back(id);
    rooms_[slot].hasMore = true;
    return;
  }
  const Index i = TakeSlot(rooms_, free_);
  slot = i;
  last_ = i;
  Room& r = rooms_[i];
  r = Room{};
  r.key = key;
  r.container = c;
  r.topId = reach.topId;
  r.id = id;
  r.inWide = reach.inGlobal || reach.inTargets;
  r.wideIsGlobal = reach.inGlobal;
  r.inTree = reach.inTree;
  r.searches = reach.searchesTargets || reach.searchesTree;
  r.searchesTree = reach.searchesTree;
  Link(i, kAll);
  if (r.inWide) Link(i, kWide);
  if (r.inTree) Link(i, kTree);
  if (r.searches) Link(i, kSearch);
}

bool KeyRooms::Remove(std::uint64_t key, const CNameContainer* c, std::uint32_t id) {
  const Index l = LocalIndex(c, false);
  if (l == kNone) return false;
  FlatMap<std::uint32_t, Index>& byKey = locals_[l].byKey;
  Index* slot = byKey.FindIf(Tag(key), [&](Index i) { return rooms_[i].key == key; });
  if (!slot) return false;
  const Index i = *slot;
  last_ = lastGroup_ = lastLocal_ = kNone;
  Room& r = rooms_[i];
  if (r.hasMore) {
    std::vector<std::uint32_t>& more = more_.at(i);
    const auto at = r.id == id ? more.end() - 1 : std::find(more.begin(), more.end(), id);
    if (at == more.end()) return false;
    // mutate: edit-check-first-id-stays
    (r.id == id ? r.id : *at) = more.back();
    more.pop_back();
    if (more.empty()) {
      more_.erase(i);
      r.hasMore = false;
    }
    return true;
  }
  if (r.id != id) return false;
  Unlink(i, kAll);
  if (r.inWide) Unlink(i, kWide);
  if (r.inTree) Unlink(i, kTree);
  if (r.searches) Unlink(i, kSearch);
  byKey.EraseAt(slot);
  // mutate: edit-check-empty-container-table-kept
  if (byKey.empty()) {
    localOf_.EraseAt(localOf_.FindIf(ContainerTag(c), [&](Index x) { return x == l; }));
    locals_[l] = Local{};
    freeLocals_.push_back(l);
  }
  Release(key, r.topId, r.inTree || r.searchesTree);
  rooms_[i] = Room{};
  free_.push_back(i);
  return true;
}

void KeyRooms::Release(std::uint64_t key, std::uint32_t topId, bool tree) {
  if (tree) {
    const Index t = FindTree(key, topId);
    // mutate: edit-check-tree-freed-early
    if (t != kNone && trees_[t].members.empty() && trees_[t].searchers.empty()) {
      treeOf_.EraseAt(treeOf_.FindIf(TreeTag(key, topId), [&](Index x) { return x == t; }));
      trees_[t] = Tree{};
      freeTrees_.push_back(t);
    }
  }
  const Index g = FindGroup(key);
  if (g != kNone && groups_[g].all.empty()) {
    groupOf_.EraseAt(groupOf_.FindIf(Tag(key), [&](Index x) { return x == g; }));
    groups_[g] = Group{};
    freeGroups_.push_back(g);
  }
  lastGroup_ = kNone;
}

void KeyRooms::Clear() { *this = KeyRooms(); }

KeyRooms::Index KeyRooms::Find(std::uint64_t key, const CNameContainer* c) const {
  if (last_ != kNone && rooms_[last_].key == key && rooms_[last_].container == c) return last_;
  const Index l = LocalIndex(c, false);
  if (l == kNone) return kNone;
  const Index* i = locals_[l].byKey.FindIf(Tag(key), [&](Index x) { return rooms_[x].key == key; });
  if (i) last_ = *i;
  return i ? *i : kNone;
}

const KeyRooms::List& KeyRooms::All(std::uint64_t key) const {
  const Index g = FindGroup(key);
  return g == kNone ? kNoRooms : groups_[g].all;
}
const KeyRooms::List& KeyRooms::Global(std::uint64_t key) const {
  const Index g = FindGroup(key);
  return g == kNone ? kNoRooms : groups_[g].global;
}
const KeyRooms::List& KeyRooms::Targets(std::uint64_t key) const {
  const Index g = FindGroup(key);
  return g == kNone ? kNoRooms : groups_[g].targets;
}
const KeyRooms::List& KeyRooms::TargetSearchers(std::uint64_t key) const {
  const Index g = FindGroup(key);
  return g == kNone ? kNoRooms : groups_[g].targetSearchers;
}
const KeyRooms::List& KeyRooms::TreeMembers(std::uint64_t key, std::uint32_t topId) const {
  const Index t = FindTree(key, topId);
  return t == kNone ? kNoRooms : trees_[t].members;
}
const KeyRooms::List& KeyRooms::TreeSearchers(std::uint64_t key, std::uint32_t topId) const {
  const Index t = FindTree(key, topId);
  return t == kNone ? kNoRooms : trees_[t].searchers;
}

std::string KeyRooms::Check() const {
  std::vector<bool> dead(rooms_.size());
  for (Index i : free_) dead[i] = true;
  std::size_t listed = 0;
  for (Index i = 0; i < rooms_.size(); ++i) {
    if (dead[i]) continue;
    const Room& r = rooms_[i];
    if (Find(r.key, r.container) != i) return "1: a room not found under its key and container";
    KeyRooms& self = const_cast<KeyRooms&>(*this);
    const bool in[4] = {true, r.inWide, r.inTree, r.searches};
    for (int s = kAll; s <= kSearch; ++s) {
      if (!in[s]) continue;
      ++listed;
      const List& list = *self.ListOf(r, static_cast<Slot>(s));
      if (r.at[s] >= list.size() || list[r.at[s]] != i) return "2: a room not where its place says";
    }
  }
  std::size_t entries = 0;
  for (Index g = 0; g < groups_.size(); ++g) {
    if (std::find(freeGroups_.begin(), freeGroups_.end(), g) != freeGroups_.end()) continue;
    if (groups_[g].all.empty()) return "3: a key without rooms";
    entries += groups_[g].all.size() + groups_[g].global.size() + groups_[g].targets.size() +
               groups_[g].targetSearchers.size();
  }
  for (Index t = 0; t < trees_.size(); ++t) {
    if (std::find(freeTrees_.begin(), freeTrees_.end(), t) != freeTrees_.end()) continue;
    if (trees_[t].members.empty() && trees_[t].searchers.empty()) return "3: a tree without rooms";
    entries += trees_[t].members.size() + trees_[t].searchers.size();
  }
  if (entries != listed) return "2: a list holds a room that is not in it";
  for (const auto& [i, more] : more_)
    if (i >= rooms_.size() || dead[i] || !rooms_[i].hasMore || more.empty()) return "1: IDs kept aside for no room";
  for (Index i = 0; i < rooms_.size(); ++i)
    if (!dead[i] && rooms_[i].hasMore && !more_.count(i)) return "1: a room's further IDs lost";
  std::size_t found = 0;
  for (Index l = 0; l < locals_.size(); ++l) {
    if (std::find(freeLocals_.begin(), freeLocals_.end(), l) != freeLocals_.end()) continue;
    if (locals_[l].byKey.empty()) return "3: a container's table without rooms";
    found += locals_[l].byKey.size();
  }
  if (found != size()) return "1: a container's table holds a room that is not there";
  return {};
}

}  // namespace nametree

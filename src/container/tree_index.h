// CTreeIndex: what a server's tree holds, by container key, by name ID and
// by name text, so that the server answers lookups without walking trees.
//
// Holds, for the containers reachable from the server's top-level list
// through the sub-container tables (the "tree"):
//  - by container key: every container under the key its parent's table
//    holds it by; a top-level container under its own ID;
//  - by name ID: every container whose ID-keyed name table has the ID;
//  - by text: every container whose name-keyed table has the upper-cased
//    text, under a 32-bit tag of a 64-bit hash of that text, one entry per
//    text: its single holder, or a group of its holders that carries the
//    whole hash. Texts may share a tag: a single holder is told apart by its
//    own table, a group by its hash. A group also carries counts of the
//    holders that a tree search sees (each container on the way down, the
//    holder included, of type 2, 3 or 4): per top-level container, in all
//    global trees, in all target trees.
//  Each container of the tree carries, in its TreePlace (see
//  container/container_tables.h): index (this index), holder (the
//  container whose table holds it, none at the top), key, order (its walk
//  position: later insertion into the same bucket, higher order; at the
//  top, list order), top and seen (its place, below) and handle, the
//  32-bit number by which the maps below name it (half the size of a
//  pointer) and by which its tables, which do not keep it, find it.
//
// Invariants, true between any two public calls of a container or server:
//  1. a container has index set exactly when it is in the tree, and it is
//     then listed under its key, each of its name IDs and each text key,
//     under its own handle; nothing else is listed; every other handle is
//     on the one list of free handles;
//  2. the counts of a shared text equal those a tree search would find;
//  3. top is the top-level container above it through the tables (itself
//     at the top), and seen tells whether a tree search from top reaches
//     it (every container below the top on the way is of type 2, 3 or 4);
//     so no answer climbs the tree, and adding a container or a name costs
//     the same at any depth;
//  4. orders follow the walk: they rise along the top-level list, and
//     within one bucket of a sub-container table they fall along the chain;
//  5. each map keeps its own invariants (container/flat_map.h).
// The answers are chosen among the holders of one key by their walk
// positions, so each is exactly what the walk over the tables finds first.
//
// Kept current by ContainerTables, the only way to change a table, and by
// the containers' type and ID setters, each change in time proportional to
// what it changes:
//  - name tables: AddName, DeleteName, both Rename, ResetContainer, Load,
//    AddNameFromData, Shutdown, Initialize;
//  - sub-container tables: AddContainer, DeleteContainer, Load,
//    AddContainerFromData, CreateContainerFromData, Initialize, Shutdown;
//  - types: SetContainerType and Load (a re-typed container's subtree is
//    recounted);
//  - IDs of top-level containers: Load, Initialize, CreateContainerFromData;
//  - the server, when it appends or removes a top-level container.
// SetParent changes nothing here: the tree is what the tables hold.
//
// One thread, like the rest of the library. A text hash collision between
// two different upper-cased texts (about n*n / 2^65 for n texts) could make
// a shared text's counts answer for both; answers naming an ID are always
// checked against the containers' own tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "container/container_tables.h"
#include "container/flat_map.h"
#include "nametree/name_container.h"

namespace nametree {

class CTreeIndex {
 public:
  // 0: none; a container's handle; or kGroup plus the index of a Group.
  using Ref = std::uint32_t;

  CTreeIndex();
  ~CTreeIndex();
  CTreeIndex(const CTreeIndex&) = delete;
  CTreeIndex& operator=(const CTreeIndex&) = delete;

  static std::uint64_t TextHash(std::u16string_view upperText);
  // `hash` when the caller made it already (nonzero), else TextHash(key).
  static std::uint64_t HashOf(std::u16string_view key, std::uint64_t hash) { return hash ? hash : TextHash(key); }

  // --- the server's top-level list
  // REQUIRES: top was just appended to the end of the list.
  void TopAppended(CNameContainer* top);
  // REQUIRES: top is still in the list, about to leave it.
  void TopRemoving(CNameContainer* top);
  // Room for the trees under `tops`, about to be appended one by one, so
  // that a loaded document fills each map once instead of regrowing it
  // per tree. Throws std::bad_alloc, having changed nothing listed.
  void ReserveFor(const std::vector<const CNameContainer*>& tops);
  // The whole server goes: later notices are ignored.
  void BeginTeardown() { m_bTearingDown = true; }
  // Forgets everything; the index is empty and in use again.
  void Reset();

  // --- notices from containers (c is in the tree)
  void NameIdEntered(CNameContainer* c, std::uint32_t id);
  void NameIdLeft(CNameContainer* c, std::uint32_t id);
  // key: the upper-cased text, already in c's table (TextEntered) or
  // still or no longer there (TextLeft). hash: TextHash(key), or 0 for
  // the index to make it.
  void TextEntered(CNameContainer* c, std::u16string_view key, std::uint64_t hash = 0);
  void TextLeft(CNameContainer* c, std::u16string_view key);
  // Before the table of the container placed at `at` takes a key: when no
  // container of the tree holds it (so neither does that one), lists the
  // container under it and returns true; the caller then enters it without
  // searching the table, or takes the listing back (NameIdLeft, TextLeft)
  // if it cannot. False, with nothing changed, when the key may be held:
  // the usual way applies. A text key goes by its hash, TextHash(key), and
  // counts as held when any text shares its tag. The place names its
  // container by handle, so the hot path of an add needs nothing more.
  bool NewNameIdEntering(const TreePlace& at, std::uint32_t id);
  bool NewTextEntering(const TreePlace& at, std::uint64_t hash);
  // child is in parent's table under key; order 0 draws a fresh one.
  void ChildAttached(CNameContainer* parent, CNameContainer* child, std::uint64_t order);
  // REQUIRES: child still in its parent's table. Returns its order.
  std::uint64_t ChildDetaching(CNameContainer* child);
  // Around a change of c's type: TypeChanging before (true when the subtree
  // must be recounted), TypeChanged after, when it said so.
  bool TypeChanging(CNameContainer* c, std::int16_t newType);
  void TypeChanged(CNameContainer* c);
  void TopIdChanging(CNameContainer* top, std::uint32_t newID);
  bool TearingDown() const { return m_bTearingDown; }

  // Checks the numbered invariants above against the tables of the tree
  // reachable from `tops`; returns the first one broken, or an empty text.
  std::string CheckInvariants(const std::vector<CNameContainer*>& tops) const;

  // --- queries
  // The container whose place p is. REQUIRES: p.index is this index.
  CNameContainer* ContainerOf(const TreePlace& p) const { return Holder(p.handle); }
  // The top-level container above c, through the tables.
  static CNameContainer* TopOf(const CNameContainer* c) { return PlaceOf(c).top; }
  // The container that the walk by ID finds first, or null.
  CNameContainer* FindContainer(std::uint32_t id) const;
  // The server's FindName: whether a container it searches for this ID
  // (each top-level container with the ID, else the first in each top's
  // subtree) holds the upper-cased key, or with descend has it below. An ID
  // that one container holds, as nearly every ID is, is answered through
  // its handle without building that list.
  bool NameSearchedFor(std::uint32_t id, const CString& key, std::uint64_t hash, bool descend) const;
  // The first top-level container whose ID is id, in list order, or null.
  CNameContainer* FirstTopWithID(std::uint32_t id) const;
  // Whether container a comes before b in the walk of the whole tree (an
  // ancestor before its sub-tree). REQUIRES: both in one index's tree.
  static bool WalksBefore(const CNameContainer* a, const CNameContainer* b) { return Before(a, b, false); }
  // Position in the top-level list: later entries have larger values.
  static std::uint64_t ListOrder(const CNameContainer* top);
  // The first container in pre-order that holds the name ID (within top,
  // when given), or null.
  CNameContainer* FirstHolderOfName(std::uint32_t nameID, const CNameContainer* top = nullptr) const;

  // A choice of top-level trees: the global ones, the target ones, one
  // named one, and, when byID, every one whose ID is topID. Named by ID, a
  // namespace is asked of each top on the way rather than listed first.
  struct TopSet {
    bool global = false;
    bool target = false;
    const CNameContainer* top = nullptr;
    bool byID = false;
    std::uint32_t topID = 0;
    bool Has(const CNameContainer* top) const;
  };
  // Whether a tree search from a top in `trees` finds the upper-cased text.
  // hash, here and below: TextHash(key), or 0 for the index to make it.
  bool TextIn(std::u16string_view key, const TopSet& trees, std::uint64_t hash = 0) const;
  // CNameContainer::FindName with descent, from any container of the tree.
  bool TextBelow(const CNameContainer* from, const CString& key, std::uint64_t hash = 0) const;
  // The container that the first of those searches (in top-level order)
  // finds holding the text, or null.
  CNameContainer* FirstTextHolder(std::u16string_view key, const TopSet& trees, std::uint64_t hash = 0) const;

  // The ID under which c's own name table holds the upper-cased key, as
  // CNameContainer::FindNameByKey finds it without descent, or null.
  // REQUIRES: c is in this index's tree. A key c does not hold is told
  // apart by the map of texts, without a visit to c's tables; most keys
  // asked are not there. OwnIDIn asks the same of FindContainer(containerID)
  // and, when one container has that key, names it by its handle, not
  // visiting it either.
  const std::uint32_t* OwnID(const CNameContainer* c, std::u16string_view key, std::uint64_t hash = 0) const;
  const std::uint32_t* OwnIDIn(std::uint32_t containerID, std::u16string_view key, std::uint64_t hash = 0) const;

  // False when no container of the tree holds a text of this hash's tag,
  // so that every text search above would say no: one probe answers for a
  // text that no namespace has, as a new name's nearly always is.
  // mutate: text-held-asks-wrong-tag
  bool TextMayBeHeld(std::uint64_t hash) const { return m_ByText.Find(Tag(hash)) != nullptr; }

  // Finding a container in two halves, so that the caller's own work runs
  // while the container's memory arrives. StartFindContainer looks the ID
  // up and asks the cache for where the container is kept;
  // FinishFindContainer gives FindContainer's answer and asks for the
  // container's own lines, which its caller reads next.
  // REQUIRES between the two: no container enters or leaves the tree and no
  // top-level ID changes, as the search holds the handle it found.
  struct ContainerSearch {
    std::uint32_t id = 0;
    Ref ref = 0;
  };
  ContainerSearch StartFindContainer(std::uint32_t id) const {
    const Ref* ref = id ? KeyRef(id) : nullptr;
    if (!ref || !*ref) return {id, 0};
    if (!(*ref & kGroup)) PrefetchLine(&m_Handles[*ref]);
    return {id, *ref};
  }
  CNameContainer* FinishFindContainer(const ContainerSearch& search) const {
    if (!search.ref) return nullptr;
    // mutate: finish-find-group-as-handle
    CNameContainer* c = search.ref & kGroup ? FindContainer(search.id) : Holder(search.ref);
    if (c) ContainerAccess::Prefetch(*c);
    return c;
  }
  // TextHash(key), with the slot that a lookup of the text reads asked of
  // the cache, for a caller about to look the text up or add it.
  std::uint64_t TextHashAhead(std::u16string_view key) const {
    const std::uint64_t hash = TextHash(key);
    m_ByText.Prefetch(Tag(hash));
    return hash;
  }
  // Bytes held by the index.
  std::size_t MemoryUsage() const;

 private:
  friend class ContainerTables;  // fetches ahead of an add (StartAddName)
  // Asks the cache for the slot where a name of this ID would be listed.
  void FetchNameIdSlot(std::uint32_t id) const { m_ByNameID.Prefetch(id); }

  struct Group;
  static constexpr Ref kGroup = 0x80000000u;
  struct Place {
    CNameContainer* top;
    bool seen;  // a tree search from top reaches it
  };

  static TreePlace& P(const CNameContainer* c);
  static Place PlaceOf(const CNameContainer* c);
  static bool Reaches(const CNameContainer* from, const CNameContainer* c);
  static bool Before(const CNameContainer* a, const CNameContainer* b, bool directFirst);
  template <class F>
  void ForEachHolder(Ref ref, F&& f) const;
  // Calls f(top) for each top-level container listed under id.
  template <class F>
  void ForEachTopWithID(std::uint32_t id, F&& f) const;
  Group& GroupOf(Ref ref) const { return *m_Groups[ref & ~kGroup]; }
  std::vector<CNameContainer*> ContainersSearchedFor(std::uint32_t id) const;
  // REQUIRES: handle in use.
  CNameContainer* Holder(std::uint32_t handle) const { return reinterpret_cast<CNameContainer*>(m_Handles[handle]); }
  const Ref* KeyRef(std::uint32_t key) const { return key ? m_ByKey.Find(key) : (m_KeyZero ? &m_KeyZero : nullptr); }

  // counted: ref lists a text, whose hash a new group carries.
  void AddTo(Ref& ref, CNameContainer* c, bool counted, std::uint64_t hash = 0);
  // True when ref is left empty.
  bool RemoveFrom(Ref& ref, CNameContainer* c, bool counted);
  static void Count(Group& g, const CNameContainer* c, int sign);
  static std::uint32_t Tag(std::uint64_t hash) {
    const auto tag = static_cast<std::uint32_t>(hash);
    return tag ? tag : 1;  // 0 is no key
  }
  void EnterText(CNameContainer* c, std::u16string_view key, std::uint64_t hash);
  // The entry that lists c for the text: its group, else one of c's single
  // entries under the tag (alike, should c hold several texts of one tag).
  Ref* TextRefOf(const CNameContainer* c, std::uint64_t hash) const { return TextRefOf(P(c).handle, hash); }
  Ref* TextRefOf(std::uint32_t handle, std::uint64_t hash) const;
  // OwnID's table lookup, once the map of texts lists handle for the key.
  const std::uint32_t* ListedOwnID(std::uint32_t handle, std::u16string_view key, std::uint64_t hash) const;
  // Calls f(ref) for the entries under the text's tag that may list it (a
  // single holder is still to be checked) until f returns true; returns
  // whether it did.
  template <class F>
  bool AnyTextEntry(std::uint64_t hash, F&& f) const;
  // TextBelow for one such entry.
  bool EntryBelow(const CNameContainer* from, const CString& key, Ref ref) const;
  void CountSubtree(CNameContainer* c, int sign);
  static void PlaceBelow(CNameContainer* c);
  // ChildDetaching's walk: the first container of c's subtree in post-order,
  // and the one after c (REQUIRES: c below the subtree's root).
  static CNameContainer* Deepest(CNameContainer* c);
  static CNameContainer* After(CNameContainer* c);
  struct Size {
    std::size_t containers = 0;
    std::size_t names = 0;
  };
  static Size SizeOf(const CNameContainer* root);
  void Reserve(Size more);
  // Lists handle under key when nothing is listed there; true when it did.
  static bool ListAlone(FlatMap<std::uint32_t, Ref>& map, std::uint32_t key, std::uint32_t handle);
  // Room for n handles in all.
  void GrowHandles(std::size_t n);
  void Enter(CNameContainer* c);
  void Leave(CNameContainer* c);
  void EnterKey(std::uint32_t key, CNameContainer* c);
  void LeaveKey(std::uint32_t key, CNameContainer* c);
  static std::uint32_t KeyOf(const CNameContainer* c);
  // Whether a shared text's counts allow a holder in `trees`.
  bool Counted(const Group& g, const TopSet& trees) const;

  FlatMap<std::uint32_t, Ref> m_ByKey;  // containers under key 0 are in m_KeyZero
  Ref m_KeyZero = 0;
  FlatMap<std::uint32_t, Ref> m_ByNameID;
  FlatMap<std::uint32_t, Ref> m_ByText;  // by tag, one entry per text
  // By handle: a container's address, or, for a free handle, the next free
  // one times two plus one. Handle 0 is none.
  std::vector<std::uintptr_t> m_Handles{0};
  std::uint32_t m_FirstFree = 0;
  std::vector<std::unique_ptr<Group>> m_Groups;
  std::vector<std::uint32_t> m_FreeGroups;
  std::uint64_t m_nNextOrder = 1;
  bool m_bTearingDown = false;
};

}  // namespace nametree

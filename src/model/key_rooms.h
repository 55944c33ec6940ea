// KeyRooms: a server's names by look-alike key, grouped by where they can
// meet, so that the edit check judges a key's names only where an edit
// reaches them.
//
// A room is the holders of one key in one container. Every room is listed
//  - in its key's list of all rooms;
//  - by the namespaces it belongs to (Reach): the key's global list, or the
//    key's target list and its tree's member list, or its tree's member
//    list alone (a tree: the key and a top-level container's ID);
//  - by the namespace its names are judged against besides the global one:
//    the key's list of target searchers, or its tree's searcher list.
// An edit in a container then affects the key's room there and the
// searchers of the namespaces that container belongs to (every room of the
// key, for the global namespace); a namespace's names are its member list.
// Nothing walks the key's rooms elsewhere: the locals of two programs,
// which belong to no namespace and search only the global one, never meet.
//
// A container's rooms are found by key in a table of that container's own,
// so that its names, walked or edited one after another, are looked up in
// one small table rather than all over one of every room.
//
// Invariants, true between any two calls (Check walks them):
//  1. a room holds one ID or more and is found under its key in its
//     container's table;
//  2. a room is in exactly the lists its Reach named when it was made, at
//     the places its `at` gives;
//  3. a key's group, a tree and a container's table exist while one of
//     their lists, or the table, is not empty.
// Insert and Remove keep them. Remove reads nothing of the container, which
// may be gone: a room keeps what it needs to leave its lists.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "container/flat_map.h"
#include "nametree/name_server.h"

namespace nametree {

// Where the names of a container meet others, from its place in the tree.
struct Reach {
  std::uint32_t topId = 0;
  std::int16_t topType = 0;
  bool inGlobal = false, inTargets = false, inTree = false;
  bool searchesTargets = false, searchesTree = false;
  // The namespaces its names stay apart from, in search order.
  std::span<const CDuplicateHit::Where> apart;
  // Whether its rooms are listed anywhere but under their key's all rooms.
  bool Listed() const { return inGlobal || inTargets || inTree || searchesTargets || searchesTree; }
};
Reach ReachOf(const CNameContainer& c);

class KeyRooms {
 public:
  using Index = std::uint32_t;
  using List = std::vector<Index>;
  struct Room {
    std::uint64_t key = 0;
    const CNameContainer* container = nullptr;
    std::uint32_t topId = 0;
    std::uint32_t id = 0;      // the first ID it holds; any further ones, rare, are kept aside
    std::uint32_t at[4] = {};  // its place in each of its lists
    std::uint32_t mark = 0;    // free for the caller's passes
    bool inWide : 1 = false, wideIsGlobal : 1 = false, inTree : 1 = false, searches : 1 = false,
                  searchesTree : 1 = false, hasMore : 1 = false;
  };
  template <class F>
  void ForEachId(Index i, F&& f) const {
    f(rooms_[i].id);
    if (rooms_[i].hasMore)
      for (std::uint32_t x : more_.at(i)) f(x);
  }

  void Insert(std::uint64_t key, const CNameContainer* c, const Reach& reach, std::uint32_t id);
  // False when no room of the key and container holds the ID.
  bool Remove(std::uint64_t key, const CNameContainer* c, std::uint32_t id);
  void Clear();
  // Room for `names` further rooms of c without growing its table on the way.
  void Reserve(const CNameContainer* c, std::size_t names);
  std::size_t size() const { return rooms_.size() - free_.size(); }

  static constexpr Index kNone = 0xFFFFFFFF;
  // The room of the key in the container, or kNone.
  Index Find(std::uint64_t key, const CNameContainer* c) const;
  Room& At(Index i) { return rooms_[i]; }
  const Room& At(Index i) const { return rooms_[i]; }
  // Empty when the key or tree has none.
  const List& All(std::uint64_t key) const;
  const List& Global(std::uint64_t key) const;
  const List& Targets(std::uint64_t key) const;
  const List& TargetSearchers(std::uint64_t key) const;
  const List& TreeMembers(std::uint64_t key, std::uint32_t topId) const;
  const List& TreeSearchers(std::uint64_t key, std::uint32_t topId) const;

  // The first broken invariant, or an empty text.
  std::string Check() const;

 private:
  enum Slot { kAll, kWide, kTree, kSearch };
  struct Group {
    std::uint64_t key = 0;
    List all, global, targets, targetSearchers;
  };
  struct Tree {
    std::uint64_t key = 0;
    std::uint32_t topId = 0;
    List members, searchers;
  };
  // A container's rooms by key.
  struct Local {
    const CNameContainer* container = nullptr;
    FlatMap<std::uint32_t, Index> byKey;
  };
  Index LocalIndex(const CNameContainer* c, bool make) const;
  // kNone when the key has no group (no tree under that top).
  Index FindGroup(std::uint64_t key) const;
  Index MakeGroup(std::uint64_t key);
  Index FindTree(std::uint64_t key, std::uint32_t topId) const;
  Index MakeTree(std::uint64_t key, std::uint32_t topId);
  List* ListOf(const Room& r, Slot s);
  void Link(Index room, Slot s);
  void Unlink(Index room, Slot s);
  void Release(std::uint64_t key, std::uint32_t topId, bool tree);

  // Rooms in blocks that never move, so that growing costs no copy of
  // the rooms made so far.
  class Rooms {
   public:
    Room& operator[](Index i) { return blocks_[i >> kShift][i & (kBlock - 1)]; }
    const Room& operator[](Index i) const { return blocks_[i >> kShift][i & (kBlock - 1)]; }
    std::size_t size() const { return size_; }
    void emplace_back() {
      if (size_ == blocks_.size() * kBlock) blocks_.push_back(std::make_unique<Room[]>(kBlock));
      ++size_;
    }

   private:
    static constexpr unsigned kShift = 12;
    static constexpr std::size_t kBlock = std::size_t{1} << kShift;
    std::vector<std::unique_ptr<Room[]>> blocks_;
    std::size_t size_ = 0;
  };
  Rooms rooms_;
  std::vector<Group> groups_;
  std::vector<Tree> trees_;
  mutable std::vector<Local> locals_;
  std::unordered_map<Index, std::vector<std::uint32_t>> more_;  // a room's IDs after its first
  std::vector<Index> free_, freeGroups_, freeTrees_;
  mutable std::vector<Index> freeLocals_;
  FlatMap<std::uint32_t, Index> groupOf_, treeOf_;
  mutable FlatMap<std::uint32_t, Index> localOf_;
  // The room, the group and the container's table asked last: an edit asks
  // for the same few again and again. Forgotten by any removal.
  mutable Index last_ = kNone, lastLocal_ = kNone;
  mutable Index lastGroup_ = kNone;
};

}  // namespace nametree

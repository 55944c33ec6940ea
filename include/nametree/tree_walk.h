// A read-only walk of a server's container tree, straight over the
// library's own tables: nothing is copied, nothing recurses, and a tree of
// any depth is walked in constant extra space.
//
// The order is the one the document stream and the trace dump follow: the
// top-level containers in list order, each container before its
// sub-containers, sub-containers and names in their tables' walk order.
// Every ref, range and iterator goes stale with the next change to the tree;
// iterators also refer to their TreeWalk, which must outlive them.
//
//   for (nametree::ContainerRef c : nametree::TreeWalk(server))
//     for (nametree::NameRef n : c.Names()) Print(c.Id(), n.Id(), n.Text());
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "nametree/export.h"
#include "nametree/name_server.h"
#include "nametree/types.h"

namespace nametree {

class ContainerRef;

// What every iterator of the walk shares: it yields refs by value and steps
// forward; Derived gives operator*, prefix ++ and ==.
template <class Derived, class Ref>
class WalkIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = Ref;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = Ref;

  Derived operator++(int) {
    Derived old = static_cast<Derived&>(*this);
    ++static_cast<Derived&>(*this);
    return old;
  }
};

// Steps through one of a container's tables in its walk order: its names
// (yielding NameRef) or its sub-containers (yielding ContainerRef).
template <class Ref>
class TableIterator : public WalkIterator<TableIterator<Ref>, Ref> {
 public:
  TableIterator() = default;
  Ref operator*() const { return Ref::OfEntry(holder_, entry_, depth_); }
  TableIterator& operator++() {
    entry_ = Ref::NextEntry(*holder_, entry_);
    return *this;
  }
  using WalkIterator<TableIterator<Ref>, Ref>::operator++;
  bool operator==(const TableIterator& o) const { return entry_ == o.entry_; }

 private:
  friend class ContainerRef;
  TableIterator(const CNameContainer* holder, const void* entry, int depth)
      : holder_(holder), entry_(entry), depth_(depth) {}
  const CNameContainer* holder_ = nullptr;
  const void* entry_ = nullptr;
  int depth_ = 0;  // of the sub-containers it yields
};

// One entry of a container's ID-keyed name table: a second ID under a text
// that differs only in letter case is an entry of its own.
class NAMETREE_API NameRef {
 public:
  std::uint32_t Id() const;
  // A view of the text where the container keeps it: good until the
  // container changes, like the ref itself. Copy it to keep it longer.
  std::u16string_view Text() const;
  // The text as UTF-8; a lone surrogate of a damaged name shows as U+FFFD.
  std::string TextUtf8() const;

 private:
  friend class TableIterator<NameRef>;
  NameRef(const CNameContainer* holder, const void* entry) : holder_(holder), entry_(entry) {}
  static NameRef OfEntry(const CNameContainer* holder, const void* entry, int) { return NameRef(holder, entry); }
  static const void* NextEntry(const CNameContainer& holder, const void* entry);
  const CNameContainer* holder_;
  const void* entry_;
};

// The text as names compare: two texts name the same entry exactly when
// their keys are equal (upper-cased unit by unit, so the length stays).
NAMETREE_API CString NameCompareKey(const CString& text);

using NameIterator = TableIterator<NameRef>;
// The sub-containers of one container, in their table's walk order.
using ChildIterator = TableIterator<ContainerRef>;

template <class It>
struct WalkRange {
  It first, last;
  It begin() const { return first; }
  It end() const { return last; }
};

class NAMETREE_API ContainerRef {
 public:
  ContainerRef(const CNameContainer& c, int depth) : c_(&c), depth_(depth) {}

  std::uint32_t Id() const;
  // The key its parent's table holds it under; its own ID at the top level.
  std::uint32_t Key() const;
  // 0 at the top level.
  std::uint32_t ParentId() const;
  // 0 at the top level.
  int Depth() const { return depth_; }
  ContainerType Type() const;
  WalkRange<NameIterator> Names() const;
  std::size_t NameCount() const;
  WalkRange<ChildIterator> Children() const;
  std::size_t ChildCount() const;
  // The IDs from its top-level container down to itself.
  std::vector<std::uint32_t> Path() const;
  // Path() as findings keep it: of a container deeper than kShortPathLevels,
  // the first and the last kShortPathEnds IDs around a 0 that stands for the
  // levels left out (no container has ID 0), so that the findings of a deep
  // document grow with it linearly, not with the square of its depth.
  static constexpr std::size_t kShortPathEnds = 4;
  static constexpr std::size_t kShortPathLevels = 2 * kShortPathEnds + 1;
  std::vector<std::uint32_t> ShortPath() const;
  const CNameContainer& Container() const { return *c_; }

 private:
  friend class TableIterator<ContainerRef>;
  static ContainerRef OfEntry(const CNameContainer*, const void* entry, int depth);
  static const void* NextEntry(const CNameContainer& holder, const void* entry);
  const CNameContainer* c_;
  int depth_;
};

class NAMETREE_API TreeWalk {
 public:
  class NAMETREE_API iterator : public WalkIterator<iterator, ContainerRef> {
   public:
    iterator() = default;
    ContainerRef operator*() const { return ContainerRef(*at_, depth_); }
    iterator& operator++();
    using WalkIterator::operator++;
    bool operator==(const iterator& o) const { return at_ == o.at_; }

   private:
    friend class TreeWalk;
    const TreeWalk* walk_ = nullptr;
    const CNameContainer* at_ = nullptr;
    std::size_t top_ = 0;  // place of the current top-level container in the list
    int depth_ = 0;
  };

  // The whole tree.
  explicit TreeWalk(const CNameServer& server);
  // The container that GetContainer(containerID) gives and its sub-tree, at
  // most maxDepth levels below it (a negative maxDepth: all of them). Empty
  // when no container has the ID.
  TreeWalk(const CNameServer& server, std::uint32_t containerID, int maxDepth = -1);
  // The whole tree down to maxDepth (0: the top-level containers alone).
  static TreeWalk Levels(const CNameServer& server, int maxDepth);

  iterator begin() const;
  iterator end() const { return iterator(); }

 private:
  const CNameServer* server_;
  const CNameContainer* root_ = nullptr;  // the sub-tree's container; none for the whole tree
  bool missing_ = false;                  // a sub-tree of a container that does not exist
  int rootDepth_ = 0;
  int maxDepth_ = -1;
};

// What a container's sub-tree holds, the container itself included; zeros
// when no container has the ID.
struct SubtreeCounts {
  std::size_t containers = 0;
  std::size_t names = 0;
};
NAMETREE_API SubtreeCounts CountSubtree(const CNameServer& server, std::uint32_t containerID);

}  // namespace nametree

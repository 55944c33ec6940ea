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
#include <vector>

#include "nametree/export.h"
#include "nametree/name_server.h"

namespace nametree {

// One entry of a container's ID-keyed name table: a second ID under a text
// that differs only in letter case is an entry of its own.
class NAMETREE_API NameRef {
 public:
  std::uint32_t Id() const;
  const CString& Text() const;

 private:
  friend class NameIterator;
  explicit NameRef(const void* entry) : entry_(entry) {}
  const void* entry_;
};

// The text as names compare: two texts name the same entry exactly when
// their keys are equal (upper-cased unit by unit, so the length stays).
NAMETREE_API CString NameCompareKey(const CString& text);

class NAMETREE_API NameIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = NameRef;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = NameRef;

  NameIterator() = default;
  NameRef operator*() const { return NameRef(entry_); }
  NameIterator& operator++();
  NameIterator operator++(int) {
    NameIterator old = *this;
    ++*this;
    return old;
  }
  bool operator==(const NameIterator& o) const { return entry_ == o.entry_; }

 private:
  friend class ContainerRef;
  NameIterator(const CNameContainer* c, const void* entry) : container_(c), entry_(entry) {}
  const CNameContainer* container_ = nullptr;
  const void* entry_ = nullptr;
};

class ContainerRef;

// The sub-containers of one container, in their table's walk order.
class NAMETREE_API ChildIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = ContainerRef;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = ContainerRef;

  ChildIterator() = default;
  ContainerRef operator*() const;
  ChildIterator& operator++();
  ChildIterator operator++(int) {
    ChildIterator old = *this;
    ++*this;
    return old;
  }
  bool operator==(const ChildIterator& o) const { return entry_ == o.entry_; }

 private:
  friend class ContainerRef;
  ChildIterator(const CNameContainer* parent, const void* entry, int depth)
      : parent_(parent), entry_(entry), depth_(depth) {}
  const CNameContainer* parent_ = nullptr;
  const void* entry_ = nullptr;
  int depth_ = 0;
};

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
  std::int16_t Type() const;
  WalkRange<NameIterator> Names() const;
  std::size_t NameCount() const;
  WalkRange<ChildIterator> Children() const;
  std::size_t ChildCount() const;
  // The IDs from its top-level container down to itself.
  std::vector<std::uint32_t> Path() const;
  const CNameContainer& Container() const { return *c_; }

 private:
  const CNameContainer* c_;
  int depth_;
};

class NAMETREE_API TreeWalk {
 public:
  class NAMETREE_API iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ContainerRef;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = ContainerRef;

    iterator() = default;
    ContainerRef operator*() const { return ContainerRef(*at_, depth_); }
    iterator& operator++();
    iterator operator++(int) {
      iterator old = *this;
      ++*this;
      return old;
    }
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

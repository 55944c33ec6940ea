// The walk keeps no stack: the next container in pre-order is the first
// sub-container, or else the next entry after the current one in its
// holder's table, climbing one holder at a time. Each step finds the
// current entry by its key, so the walk costs time linear in the tree.
#include "nametree/tree_walk.h"

#include <algorithm>
#include <utility>

#include "model/container_reader.h"
#include "nametree/utf8.h"
#include "platform/text.h"

namespace nametree {

namespace {

using NameEntry = decltype(std::declval<const NameByIdTable&>().FirstEntry());
using ChildEntry = decltype(std::declval<const SubContainerTable&>().FirstEntry());

NameEntry AsName(const void* e) { return static_cast<NameEntry>(e); }
ChildEntry AsChild(const void* e) { return static_cast<ChildEntry>(e); }

const CNameContainer* ChildOf(ChildEntry e) { return e ? SubContainerTable::ValueOf(e).get() : nullptr; }

// The sub-container after c in its holder's table, or null.
const CNameContainer* NextSibling(const CNameContainer& holder, const CNameContainer& c) {
  const SubContainerTable& table = ContainerReader::Children(holder);
  ChildEntry self = table.FindEntry(ContainerReader::Key(c));
  return self ? ChildOf(table.NextEntry(self)) : nullptr;
}

}  // namespace

CString NameCompareKey(const CString& text) { return ToUpper(text); }

std::uint32_t NameRef::Id() const { return NameByIdTable::KeyOf(AsName(entry_)); }
std::u16string_view NameRef::Text() const { return ContainerReader::Names(*holder_).TextOf(AsName(entry_)); }

// mutate: name-text-utf8-lossy
std::string NameRef::TextUtf8() const { return ToUtf8(Text()); }

const void* NameRef::NextEntry(const CNameContainer& holder, const void* entry) {
  return ContainerReader::Names(holder).NextEntry(AsName(entry));
}

ContainerRef ContainerRef::OfEntry(const CNameContainer*, const void* entry, int depth) {
  return ContainerRef(*ChildOf(AsChild(entry)), depth);
}

const void* ContainerRef::NextEntry(const CNameContainer& holder, const void* entry) {
  return ContainerReader::Children(holder).NextEntry(AsChild(entry));
}

std::uint32_t ContainerRef::Id() const { return c_->GetID(); }
std::uint32_t ContainerRef::Key() const { return ContainerReader::Key(*c_); }
std::uint32_t ContainerRef::ParentId() const {
  const CNameContainer* holder = ContainerReader::Holder(*c_);
  return holder ? holder->GetID() : 0;
}
ContainerType ContainerRef::Type() const { return ContainerTypeOfNumber(c_->GetContainerType()); }

WalkRange<NameIterator> ContainerRef::Names() const {
  return {NameIterator(c_, ContainerReader::Names(*c_).FirstEntry(), depth_), NameIterator(c_, nullptr, depth_)};
}
std::size_t ContainerRef::NameCount() const { return ContainerReader::Names(*c_).size(); }

WalkRange<ChildIterator> ContainerRef::Children() const {
  return {ChildIterator(c_, ContainerReader::Children(*c_).FirstEntry(), depth_ + 1),
          ChildIterator(c_, nullptr, depth_ + 1)};
}
std::size_t ContainerRef::ChildCount() const { return ContainerReader::Children(*c_).size(); }

std::vector<std::uint32_t> ContainerRef::Path() const {
  std::vector<std::uint32_t> path;
  for (const CNameContainer* c = c_; c; c = ContainerReader::Holder(*c)) path.push_back(c->GetID());
  std::reverse(path.begin(), path.end());
  return path;
}

std::vector<std::uint32_t> ContainerRef::ShortPath() const {
  std::vector<std::uint32_t> path = Path();
  if (path.size() <= kShortPathLevels) return path;
  path.erase(path.begin() + kShortPathEnds, path.end() - kShortPathEnds);
  path.insert(path.begin() + kShortPathEnds, 0);
  return path;
}

TreeWalk::TreeWalk(const CNameServer& server) : server_(&server) {}

TreeWalk::TreeWalk(const CNameServer& server, std::uint32_t containerID, int maxDepth)
    : server_(&server), root_(server.GetContainer(containerID)), maxDepth_(maxDepth) {
  missing_ = !root_;
  if (missing_) return;
  for (const CNameContainer* c = ContainerReader::Holder(*root_); c; c = ContainerReader::Holder(*c)) ++rootDepth_;
}

TreeWalk TreeWalk::Levels(const CNameServer& server, int maxDepth) {
  TreeWalk walk(server);
  walk.maxDepth_ = maxDepth;
  return walk;
}

TreeWalk::iterator TreeWalk::begin() const {
  iterator it;
  it.walk_ = this;
  if (missing_) return it;
  if (root_) {
    it.at_ = root_;
    it.depth_ = rootDepth_;
  } else {
    const auto& tops = ContainerReader::Tops(*server_);
    it.at_ = tops.empty() ? nullptr : tops.front().get();
  }
  return it;
}

TreeWalk::iterator& TreeWalk::iterator::operator++() {
  const TreeWalk& w = *walk_;
  // mutate: walk-depth-limit-off-by-one
  if (w.maxDepth_ < 0 || depth_ - w.rootDepth_ < w.maxDepth_) {
    if (const CNameContainer* first = ChildOf(ContainerReader::Children(*at_).FirstEntry())) {
      at_ = first;
      ++depth_;
      return *this;
    }
  }
  while (at_ != w.root_) {
    const CNameContainer* holder = ContainerReader::Holder(*at_);
    if (!holder) {
      const auto& tops = ContainerReader::Tops(*w.server_);
      at_ = ++top_ < tops.size() ? tops[top_].get() : nullptr;
      return *this;
    }
    if (const CNameContainer* next = NextSibling(*holder, *at_)) {
      at_ = next;
      return *this;
    }
    // mutate: walk-climb-stops-at-holder
    at_ = holder;
    --depth_;
  }
  at_ = nullptr;  // the sub-tree is done
  return *this;
}

SubtreeCounts CountSubtree(const CNameServer& server, std::uint32_t containerID) {
  SubtreeCounts counts;
  // mutate: subtree-counts-own-only
  for (ContainerRef c : TreeWalk(server, containerID)) {
    ++counts.containers;
    counts.names += c.NameCount();
  }
  return counts;
}

}  // namespace nametree

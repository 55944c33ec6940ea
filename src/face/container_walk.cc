// The walk behind Document::Containers(): the library's tree walk, kept
// alive on the heap so that the face's iterators can share it.
#include "nametree/document.h"
#include "nametree/tree_walk.h"
#include "nametree/utf8.h"

namespace nametree {

class ContainerRange::Cursor {
 public:
  explicit Cursor(const CNameServer* server) : walk_(*server), at_(walk_.begin()) {}
  bool AtEnd() const { return at_ == walk_.end(); }
  ContainerView Current() const {
    const ContainerRef ref = *at_;
    return ContainerView(&ref.Container(), ref.Depth());
  }
  void Advance() { ++at_; }

 private:
  TreeWalk walk_;
  TreeWalk::iterator at_;
};

ContainerView ContainerRange::iterator::operator*() const { return cursor_->Current(); }

ContainerRange::iterator& ContainerRange::iterator::operator++() {
  cursor_->Advance();
  return *this;
}

bool ContainerRange::iterator::AtEnd() const { return !cursor_ || cursor_->AtEnd(); }

ContainerRange::iterator ContainerRange::begin() const { return iterator(std::make_shared<Cursor>(server_)); }

std::string NameView::Text() const { return ToUtf8(text_); }

std::uint32_t ContainerView::Id() const { return container_->GetID(); }
ContainerType ContainerView::Type() const { return static_cast<ContainerType>(container_->GetContainerType()); }
std::uint32_t ContainerView::Parent() const { return container_->GetParentID(); }

std::vector<NameView> ContainerView::Names() const {
  const ContainerRef ref(*container_, depth_);
  std::vector<NameView> names;
  names.reserve(ref.NameCount());
  for (const NameRef n : ref.Names()) names.emplace_back(n.Id(), CString(n.Text()));
  return names;
}

}  // namespace nametree
